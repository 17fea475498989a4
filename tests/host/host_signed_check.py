#!/usr/bin/python3
"""What a signed workflow lets through unsigned, through the built program.

Usage: host_signed_check.py <program> <source dir> <case>
Signed parents are served from http://127.0.0.1:P/signed/ by a peer of this
script's own; documents elsewhere ("/other/") are not signed.
fetched_url: the decision is made on the URL the request fetches: a macro
  that a task sets between the run's start and its fetch (to the content's
  place, or to https) lets nothing else through.
encoded_dots: an encoded dot segment is beside nothing: a server that keys
  documents by the path as written (an object store) serves
  "/other/%2e%2e/signed/child.json" from the other folder.
redirects: what is fetched is judged after the configuration's redirect
  rules: a rule that takes a beside URL to another folder or port makes its
  document need a signature; an HTTP redirect (3xx) is not followed.
claims_twice: a payload that names "exp" or "nbf" twice is refused, whichever
  of the two would let it through (readers disagree on which one counts).
Exit status 0 when the case holds.
"""
import http.server
import json
import os
import socketserver
import subprocess
import sys
import tempfile
import threading

PROGRAM, SOURCE, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
SIGNED = os.path.join(SOURCE, "tests", "host", "signed_demo")
CONFIG = os.path.join(SOURCE, "examples", "demo-app.json")
CHILD = json.dumps({"start": {"type": "Log", "message": "child ran"}})


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def sign(document):
    with tempfile.NamedTemporaryFile("w", suffix=".json") as source:
        source.write(json.dumps(document))
        source.flush()
        args = ["node", os.path.join(SIGNED, "sign_workflow.js"), os.path.join(SIGNED, "demo-signer.pem"),
                os.path.join(SIGNED, "demo-signer.der"), source.name]
        return subprocess.run(args, capture_output=True, text=True, check=True).stdout


# Signs a payload's JSON text as written (the demo signer's ES256, with its
# certificate in "x5c"), so that it may name a member twice.
SIGN_TEXT = """
const crypto = require('crypto'), fs = require('fs');
const [key, cert, payload] = process.argv.slice(1);
const b64u = (b) => Buffer.from(b).toString('base64url');
const header = {alg: 'ES256', x5c: [fs.readFileSync(cert).toString('base64')]};
const input = b64u(JSON.stringify(header)) + '.' + b64u(payload);
const signature = crypto.sign('sha256', Buffer.from(input), {key: fs.readFileSync(key), dsaEncoding: 'ieee-p1363'});
process.stdout.write(input + '.' + b64u(signature) + '\\n');
"""


def sign_text(payload):
    args = ["node", "-e", SIGN_TEXT, os.path.join(SIGNED, "demo-signer.pem"), os.path.join(SIGNED, "demo-signer.der"),
            payload]
    return subprocess.run(args, capture_output=True, text=True, check=True).stdout


class Peer:
    """Answers each path as sent (query cut) from a table of (status,
    headers, body); 404 for any other. Records the paths asked for."""

    def __init__(self):
        self.routes, self.asked = {}, []
        peer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                peer.asked.append(self.path)
                status, headers, body = peer.routes.get(self.path.split("?")[0], (404, {}, "{}"))
                body = body.encode()
                self.send_response(status)
                for key, value in headers.items():
                    self.send_header(key, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True

        self.server = Server(("127.0.0.1", 0), Handler)
        self.root = "http://127.0.0.1:%d/" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def serve(self, path, body, status=200, headers=None):
        self.routes[path] = (status, headers or {"Content-Type": "application/json"}, body)


def run_all(peer, parents, config=CONFIG):
    """Serves and runs each signed parent (name -> (document, child runs)) at
    once; checks that its child ran, or that it was refused unsigned."""
    runs = {}
    for name, (document, _) in parents.items():
        peer.serve("/signed/" + name, sign(document))
        runs[name] = subprocess.Popen([PROGRAM, "--workflow=" + peer.root + "signed/" + name, "--config=" + config,
                                       "--window"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for name, process in runs.items():
        try:
            out, err = process.communicate(timeout=90)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            fail("%s: still running after 90 s" % name)
        lines = [line for line in out.splitlines() if line.strip()]
        value = json.loads(lines[-1]) if lines else {}
        document, allowed = parents[name]
        if allowed and (process.returncode != 0 or "child ran" not in out):
            fail("%s %s: refused: %s %r" % (name, json.dumps(document), value, err))
        if not allowed and (process.returncode != 1 or "child ran" in out):
            fail("%s %s: ran unsigned: %s" % (name, json.dumps(document), value))


def case_fetched_url():
    peer = Peer()
    peer.serve("/other/child.json", CHILD)
    peer.serve("/signed/child.json", CHILD)
    parents = {}
    for index, value in enumerate(["{contentUrl}", "https://127.0.0.1/signed/"]):
        # The run expands "{x}" at its start; the Macro beside it in the queue
        # changes "x" before the request goes out.
        parents["p%d.jws" % index] = ({
            "load": {"type": "Macro", "key": "x", "value": peer.root + "other/"},
            "start": {"type": "Queue", "concurrentTasks": 2, "actions": ["run", "set"]},
            "run": {"type": "WorkflowRun", "url": "{x}child.json"},
            "set": {"type": "Macro", "key": "x", "value": value}}, False)
    parents["beside.jws"] = ({"load": {"type": "Macro", "key": "x", "value": "{contentUrl}"},
                              "start": {"type": "WorkflowRun", "url": "{x}child.json"}}, True)
    run_all(peer, parents)


def case_encoded_dots():
    peer = Peer()
    peer.serve("/signed/child.json", CHILD)
    tails = ["other/%2e%2e/signed/child.json", "other/x/%2E%2E/.%2e/signed/child.json", "signed/%2e/child.json",
             "other/%2e%2e/signed/%2e/child.json"]
    parents = {"p%d.jws" % index: ({"start": {"type": "WorkflowRun", "url": peer.root + tail}}, False)
               for index, tail in enumerate(tails)}
    for tail in tails:
        peer.serve("/" + tail, CHILD)
    parents["beside.jws"] = ({"start": {"type": "WorkflowRun", "url": peer.root + "signed/child.json"}}, True)
    run_all(peer, parents)


def case_redirects():
    peer, away = Peer(), Peer()
    for each in (peer, away):
        each.serve("/other/child.json", CHILD)
        each.serve("/signed/child.json", CHILD)
    with open(CONFIG) as source:
        settings = json.load(source)
    port = peer.root.split(":")[2].rstrip("/")
    settings["webGet"] = {"redirect": {
        "mirror": {"pattern": "/signed/mirror/", "replacement": "/other/"},
        "port": {"pattern": ":%s/signed/elsewhere/" % port,
                 "replacement": away.root[len("http://127.0.0.1"):] + "signed/"},
        "back": {"pattern": "/other/back/", "replacement": "/signed/"}}}
    with tempfile.NamedTemporaryFile("w", suffix=".json") as config:
        json.dump(settings, config)
        config.flush()
        urls = {"{contentUrl}mirror/child.json": False, "{contentUrl}elsewhere/child.json": False,
                peer.root + "other/back/child.json": True, "{contentUrl}child.json": True}
        run_all(peer, {"p%d.jws" % index: ({"start": {"type": "WorkflowRun", "url": url}}, allowed)
                       for index, (url, allowed) in enumerate(urls.items())}, config.name)
    # A 3xx answer is a failed attempt: its Location is never asked for.
    del peer.asked[:], away.asked[:]
    targets = ["/other/child.json", "../other/child.json", peer.root + "other/child.json",
               away.root + "signed/child.json", "file:///dev/null"]
    runs = []
    for code in (301, 302, 307, 308):
        for index, target in enumerate(targets):
            name = "r%d-%d" % (code, index)
            peer.serve("/signed/%s.json" % name, "{}", code, {"Location": target})
            peer.serve("/signed/%s.jws" % name, sign({"start": {"type": "WorkflowRun", "url": "{contentUrl}" + name + ".json"}}))
            runs.append(subprocess.Popen([PROGRAM, "--workflow=" + peer.root + "signed/%s.jws" % name,
                                          "--config=" + CONFIG, "--window"], stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, text=True))
    for process in runs:
        out = ""
        for line in process.stdout:
            out += line
            if "Waiting for retry" in line:
                break
        process.kill()
        process.communicate()
        if "child ran" in out or "Waiting for retry" not in out:
            fail("a redirect was followed: %s" % out[-2000:])
    if away.asked or [path for path in peer.asked if not path.startswith(("/signed/r", "/signed/p"))]:
        fail("a redirect was followed: %s %s" % (peer.asked, away.asked))

def case_claims_twice():
    start = '"start":{"type":"Log","message":"child ran"}'
    rows = [('{"exp":99999999999,%s,"exp":1}' % start, 'Document claim "exp" is named twice'),
            ('{"exp":1,%s,"exp":99999999999}' % start, 'Document claim "exp" is named twice'),
            ('{"nbf":0,"nbf":99999999999,%s}' % start, 'Document claim "nbf" is named twice'),
            ('{"exp":99999999999,"nbf":0,%s}' % start, None)]
    with tempfile.TemporaryDirectory() as directory:
        for index, (payload, words) in enumerate(rows):
            path = os.path.join(directory, "c%d.jws" % index)
            with open(path, "w") as f:
                f.write(sign_text(payload))
            done = subprocess.run([PROGRAM, "--workflow=" + path, "--config=" + CONFIG, "--window"], capture_output=True,
                                  text=True, timeout=90)
            if words is None and (done.returncode != 0 or "child ran" not in done.stdout):
                fail("%s: refused: %r" % (payload, done.stderr))
            if words is not None and (done.returncode != 1 or words not in done.stderr):
                fail("%s: exit %d, %r" % (payload, done.returncode, done.stderr))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
