#!/usr/bin/python3
"""HTTP peer for the host's workflow tests (standard library only).

Serves the files of a directory (argv[1]) on 127.0.0.1, port 0, prints
"PORT <n>" and serves until stdin closes. YAML files go out as
application/x-yaml. Paths:
  /<file>                  the file; 404 when missing
  /delay/<ms>/<file>       the file after that many milliseconds
  /endless/<file>          interim "100 Continue" answers, one each 200 ms,
                           and never the file
  /analytics               POST sink: records the headers and the body
  /posted                  what the sink received, as a JSON list
A path is percent-decoded (the overlong UTF-8 and "%u" forms of "." and "/" as some servers read
them) and its dot segments resolved before it names a file (never one outside the directory). Every GET is recorded too; /requests lists their paths, and /timeline the
delayed ones as {"host", "path", "start", "end"} (monotonic seconds).
"""
import http.server
import json
import os
import re
import socketserver
import sys
import threading
import time
import urllib.parse

ROOT = sys.argv[1]
POSTED = []
REQUESTS = []
TIMELINE = []
LOCK = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, body, ctype="application/json", status=200):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        data = self.rfile.read(length)
        with LOCK:
            POSTED.append({"path": self.path, "apiKey": self.headers.get("X-Api-Key"),
                           "contentType": self.headers.get("Content-Type"),
                           "body": data.decode("utf-8", "replace")})
        self.send_body(b"{}")

    def do_GET(self):
        target = re.sub("(?i)%C0%AE|%u002e", ".", re.sub("(?i)%C0%AF|%u002f", "/", self.path))
        path = target.split("?")[0]
        with LOCK:
            REQUESTS.append(path)
        if path == "/posted":
            with LOCK:
                self.send_body(json.dumps(POSTED).encode())
            return
        if path == "/requests":
            with LOCK:
                self.send_body(json.dumps(REQUESTS).encode())
            return
        if path.startswith("/endless/"):
            try:
                for _ in range(3000):
                    self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
                    self.wfile.flush()
                    time.sleep(0.2)
            except OSError:
                pass
            self.close_connection = True
            return
        if path == "/timeline":
            with LOCK:
                self.send_body(json.dumps(TIMELINE).encode())
            return
        if path.startswith("/delay/"):
            _, _, ms, rest = path.split("/", 3)
            start = time.monotonic()
            time.sleep(int(ms) / 1000.0)
            with LOCK:
                TIMELINE.append({"host": self.headers.get("Host", ""), "path": path, "start": start,
                                 "end": time.monotonic()})
            path = "/" + rest
        if path == "/get":  # a script that serves the file its query names
            path = "/" + urllib.parse.parse_qs(urllib.parse.urlsplit(target).query).get("file", [""])[0]
        # As a file server would: percent-decoded, then dot segments resolved.
        name = os.path.normpath(os.path.join(ROOT, urllib.parse.unquote(path).lstrip("/")))
        if not name.startswith(os.path.abspath(ROOT)) or not os.path.isfile(name):
            self.send_body(b"{}", status=404)
            return
        with open(name, "rb") as f:
            body = f.read()
        ctype = "application/x-yaml" if name.endswith((".yaml", ".yml")) else "application/json"
        self.send_body(body, ctype)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
