#!/usr/bin/python3
"""HTTP peer for the HTTP client's tests (standard library only).

Listens on 127.0.0.1, port 0, prints "PORT <n>" and serves until stdin
closes. Paths:
  /json, /xml, /yaml         a document with its content type
  /plain.yaml, /plain.xml    a document typed application/octet-stream
  /echo                      the request's headers and cookies as JSON
  /gzip                      a gzip JSON body (also chunked with ?chunked)
  /chunked                   a chunked JSON body, one chunk per item
  /http10                    HTTP/1.0 body delimited by close
  /badxml, /badyaml          an empty XML body, broken YAML
  /status/<n>                that status with a small body
  /bytes/<n>                 a JSON string of n bytes (Content-Length)
  /bigchunk                  a chunk that announces 1 TiB
  /bomb                      gzip of 64 MiB of zeros
  /hang                      headers, then nothing
  /silent                    accepts and never answers
                             (both print "WAITING <path>" once they wait)
  /big/<n>                   a JSON array of about n bytes
  /failonce/<k>              503 the first time, a document after
  /aggregate                 an Aggregate list under 'list'
  /count                     how many connections were accepted
  /endless/<kind>?pause=<ms> a response that never ends, one piece per
                             pause: "continue" (interim responses),
                             "trailer" (trailer lines), "deflate" (gzip of
                             empty deflate blocks), "drip" (one header line,
                             a byte at a time)
  /gzipcut                   a gzip body without its CRC and length
                             (Content-Length; close-delimited with ?close)
"""
import gzip
import http.server
import json
import socketserver
import sys
import threading
import time

CONNECTIONS = 0
FAILED = set()
LOCK = threading.Lock()


def report_waiting(path):
    """Tells the test that the request arrived and nothing more will come."""
    with LOCK:
        try:
            print("WAITING %s" % path, flush=True)
        except OSError:
            pass


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        global CONNECTIONS
        with LOCK:
            CONNECTIONS += 1
        super().setup()

    def send_body(self, body, ctype="application/json", status=200, extra=None):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def send_chunked(self, pieces, ctype="application/json", extra=None):
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        self.send_header("Transfer-Encoding", "chunked")
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        self.end_headers()
        for p in pieces:
            self.wfile.write(b"%x;ext=1\r\n%s\r\n" % (len(p), p))
        self.wfile.write(b"0\r\nX-Trailer: 1\r\n\r\n")

    def endless(self, kind, pause):
        # Bounded all the same: the client must give up long before.
        heads = {"continue": b"",
                 "trailer": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n",
                 "deflate": b"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nConnection: close\r\n\r\n"
                            b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff",
                 "drip": b"HTTP/1.1 200 OK\r\nX-Drip: "}
        pieces = {"continue": b"HTTP/1.1 100 Continue\r\n\r\n", "trailer": b"X-More: trailer\r\n",
                  "deflate": b"\x00\x00\x00\xff\xff" * 200, "drip": b"a"}
        try:
            self.wfile.write(heads[kind])
            for _ in range(1000000):
                self.wfile.write(pieces[kind])
                self.wfile.flush()
                if pause:
                    time.sleep(pause)
        except OSError:
            pass
        self.close_connection = True

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        data = self.rfile.read(length)
        self.send_body(json.dumps({"posted": data.decode("latin-1")}).encode())

    def do_GET(self):
        path = self.path.split("?")[0]
        query = self.path.partition("?")[2]
        if path == "/json":
            self.send_body(b'{"name":"value","number":7}')
        elif path == "/xml":
            self.send_body(b"<root><name>value</name></root>", "text/xml; charset=utf-8")
        elif path == "/yaml":
            self.send_body(b"name: value\nlist:\n  - a\n  - b\n", "application/x-yaml")
        elif path == "/badxml":
            self.send_body(b"", "text/xml")
        elif path == "/badyaml":
            self.send_body(b"key: [unclosed\n", "application/x-yaml")
        elif path == "/plain.yaml":
            self.send_body(b"name: value\n", "application/octet-stream")
        elif path == "/plain.xml":
            self.send_body(b"<root><name>value</name></root>", "application/octet-stream")
        elif path == "/echo":
            cookies = {}
            for part in self.headers.get("Cookie", "").split(";"):
                if "=" in part:
                    k, _, v = part.strip().partition("=")
                    cookies[k] = v
            headers = {k.lower(): v for k, v in self.headers.items()}
            self.send_body(json.dumps({"headers": headers, "cookies": cookies}).encode())
        elif path == "/gzip":
            body = gzip.compress(json.dumps({"zipped": "yes" * 100}).encode())
            if "chunked" in query:
                self.send_chunked([body[:10], body[10:]], extra={"Content-Encoding": "gzip"})
            else:
                self.send_body(body, extra={"Content-Encoding": "gzip"})
        elif path == "/chunked":
            self.send_chunked([b'{"a":', b'"chunk', b'ed"}'])
        elif path == "/http10":
            self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n")
            self.wfile.write(b'{"old":"style"}')
            self.wfile.flush()
            self.close_connection = True
        elif path.startswith("/status/"):
            self.send_body(b'{"status":true}', status=int(path[8:]))
        elif path.startswith("/bytes/"):
            n = int(path[7:])
            self.send_body(b'"' + b"x" * max(n - 2, 0) + b'"')
        elif path == "/bigchunk":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self.wfile.write(b"10000000000\r\n" + b"x" * 1000)
            self.wfile.flush()
            self.close_connection = True
        elif path == "/bomb":
            body = gzip.compress(b"0" * (64 << 20))
            self.send_body(body, extra={"Content-Encoding": "gzip"})
        elif path == "/hang":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.flush()
            report_waiting(path)
            threading.Event().wait(30)
            self.close_connection = True
        elif path == "/silent":
            report_waiting(path)
            threading.Event().wait(30)
            self.close_connection = True
        elif path.startswith("/big/"):
            n = int(path[5:])
            item = b'{"key":"value","number":12345.5,"list":[1,2,3]}'
            count = max(n // (len(item) + 1), 1)
            self.send_body(b"[" + b",".join([item] * count) + b"]")
        elif path.startswith("/failonce/"):
            with LOCK:
                seen = path in FAILED
                FAILED.add(path)
            if seen:
                self.send_body(b'{"second":"try"}')
            else:
                self.send_body(b"{}", status=503)
        elif path == "/aggregate":
            self.send_body(json.dumps({"list": {"job": [{"label": "u1"}, {"label": "u2"}]},
                                       "flat": "text"}).encode())
        elif path.startswith("/endless/"):
            self.endless(path[9:], float(query.partition("pause=")[2] or 0) / 1000.0)
        elif path == "/gzipcut":
            body = gzip.compress(json.dumps({"cut": "yes" * 100}).encode())[:-8]
            if "close" in query:
                self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nConnection: close\r\n\r\n" + body)
                self.wfile.flush()
                self.close_connection = True
            else:
                self.send_body(body, extra={"Content-Encoding": "gzip"})
        elif path == "/count":
            self.send_body(json.dumps({"connections": CONNECTIONS}).encode())
        else:
            self.send_body(b"{}", status=404)


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
