#!/usr/bin/python3
"""A hostile peer's answers and a hostile document's fetches, through the
built program.

Usage: host_peer_check.py <program> <case>
standard_allocation: a Macro whose answer is one value of 200 MiB (2 MB of
gzip on the wire), under address-space limits at which the memory runs out
at one step or another of taking it on; wherever that is, the run ends with
the reason and the summary, never by a signal.
codings: an answer that names its content codings on several header lines
is read by all of them: one not read here fails at once with why, as one
line listing them would.
signal_in_parse: one SIGTERM while a large document is being read (YAML,
JSON; from a file and from a peer) ends the run with the summary: the
reading given up leaves its reader whole.
memory_in_parse: memory refused while a large YAML or JSON document is read
fails that fetch with the reason; the program goes on to its summary.
Exit status 0 when the case holds, 77 when it cannot be tried here.
"""
import json
import os
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zlib

PROGRAM, CASE = sys.argv[1], sys.argv[2]
MIB = 1024 * 1024
SKIP = 77


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def gzip_value(mebibytes):
    """{"a": "000...0"} of that many MiB, as gzip."""
    packer = zlib.compressobj(6, zlib.DEFLATED, 31)
    zeros = b"0" * MIB
    pieces = [packer.compress(b'{"a":"')]
    pieces += [packer.compress(zeros) for _ in range(mebibytes)]
    pieces.append(packer.compress(b'"}') + packer.flush())
    return b"".join(pieces)


class Peer:
    """HTTP/1.1 on 127.0.0.1, one thread per connection; `answers` maps a
    path to a function that answers on the connection."""

    def __init__(self, answers):
        self.answers = answers
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.asked = []
        self.lock = threading.Lock()
        threading.Thread(target=self.serve, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.answer, args=(connection,), daemon=True).start()

    def answer(self, connection):
        try:
            head = b""
            while b"\r\n\r\n" not in head:
                more = connection.recv(65536)
                if not more:
                    return
                head += more
            path = head.split(b" ")[1].decode()
            with self.lock:
                self.asked.append(path)
            self.answers.get(path, lambda c: c.sendall(b"HTTP/1.1 404 No\r\nContent-Length: 0\r\n\r\n"))(connection)
        except OSError:
            pass
        finally:
            connection.close()

    def close(self):
        self.listener.close()


# AddressSanitizer reserves terabytes of address space for its shadow, so a
# sanitized program cannot start under an address-space limit at all.
with open(PROGRAM, "rb") as program_file:
    SANITIZED = b"libasan.so" in program_file.read(1 << 20)


def run(directory, document, memory=None, timeout=120, arguments=()):
    path = os.path.join(directory, "main.yaml")
    with open(path, "w") as handle:
        handle.write(document)

    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (memory * MIB, memory * MIB))
    try:
        done = subprocess.run([PROGRAM, "--workflow=" + path, "--disablesecurity"] + list(arguments),
                              capture_output=True, text=True, timeout=timeout,
                              preexec_fn=limit if memory else None)
    except subprocess.TimeoutExpired:
        fail("%r did not end" % document)
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    try:
        summary = json.loads(lines[-1]) if lines else {}
    except ValueError:
        summary = {}
    return done.returncode, summary, done.stderr


def case_standard_allocation():
    if SANITIZED:
        print("SKIPPED: a sanitized program cannot run under an address-space limit")
        sys.exit(SKIP)
    body = gzip_value(200)

    def value(connection):
        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\n"
                           b"Content-Length: %d\r\n\r\n" % len(body) + body)
    peer = Peer({"/value": value})
    try:
        with tempfile.TemporaryDirectory() as directory:
            document = "start:\n  type: Macro\n  limitBodySize: -1\n  url: %s\n" % peer.url("/value")
            # From too little for the body to enough for all of it: the
            # body runs out, or its growth passes the memory budget, or its
            # value, far past what a macro may hold, is refused with its own
            # length before any copy of it.
            for memory in range(950, 1301, 50):
                code, summary, stderr = run(directory, document, memory=memory)
                ran_out = any("out of memory" in error or error == "Host_Error_OutOfMemory" or
                              "is 209715200 bytes, past the 8139" in error or
                              error.startswith("the answer's body is refused: ") and "memory budget" in error
                              for error in summary.get("errors", []))
                check(code == 1 and ran_out,
                      "%d MiB: exit %d, %s, stderr %r" % (memory, code, summary, stderr[-2000:]))
    finally:
        peer.close()


def case_codings():
    document = b'{"answer": "42"}'
    packer = zlib.compressobj(6, zlib.DEFLATED, 31)
    once = packer.compress(document) + packer.flush()
    packer = zlib.compressobj(6, zlib.DEFLATED, 31)
    twice = packer.compress(once) + packer.flush()
    rows = {"/gzip-gzip": (b"Content-Encoding: gzip\r\nContent-Encoding: gzip\r\n", twice, "gzip, gzip"),
            "/identity-gzip": (b"Content-Encoding: identity\r\nContent-Encoding: gzip\r\n", once, "identity, gzip")}

    def answer(path):
        lines, body, _ = rows[path]
        return lambda connection: connection.sendall(
            b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + lines +
            b"Content-Length: %d\r\n\r\n" % len(body) + body)
    peer = Peer({path: answer(path) for path in rows})
    try:
        with tempfile.TemporaryDirectory() as directory:
            for path, (_, _, codings) in rows.items():
                said = "the answer's Content-Encoding \"%s\" is not gzip, the only one read" % codings
                code, summary, stderr = run(directory, "start:\n  type: Macro\n  url: %s\n" % peer.url(path))
                check(code == 1 and said in summary.get("errors", []) and "retry" not in stderr and
                      peer.asked.count(path) == 1, "%s: exit %d, %s, %r" % (path, code, summary, stderr[-2000:]))
    finally:
        peer.close()


def resident(pid):
    """The process's resident MiB, 0 once it is gone."""
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) // 1024
    except OSError:
        pass
    return 0


def case_signal_in_parse():
    documents = {"list.yaml": b"a:\n" + b"- 1\n" * (8 * MIB),
                 "text.yaml": b'a: "' + b"0" * (64 * MIB) + b'"\n',
                 "list.json": b'{"a": [' + b"1," * (8 * MIB) + b'1]}',
                 "text.json": b'{"a": "' + b"0" * (64 * MIB) + b'"}'}

    def answer(body):
        return lambda connection: connection.sendall(
            b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
    peer = Peer({"/" + name: answer(body) for name, body in documents.items()})
    try:
        with tempfile.TemporaryDirectory() as directory:
            for name, body in documents.items():
                with open(os.path.join(directory, name), "wb") as handle:
                    handle.write(body)
            path = os.path.join(directory, "main.yaml")
            for url in ["file://%s/%s" % (directory, name) for name in documents] + \
                       [peer.url("/" + name) for name in documents]:
                with open(path, "w") as handle:
                    handle.write("start:\n  type: WorkflowRun\n  limitBodySize: -1\n  url: %s\n" % url)
                process = subprocess.Popen([PROGRAM, "--workflow=" + path, "--disablesecurity"],
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                # The body alone is 16 to 64 MiB; its items are several
                # times that: the reading is under way.
                while process.poll() is None and resident(process.pid) < 160:
                    time.sleep(0.01)
                process.send_signal(signal.SIGTERM)
                try:
                    out, err = process.communicate(timeout=60)
                except subprocess.TimeoutExpired:
                    process.kill()
                    fail("%s: one SIGTERM did not end the run" % url)
                lines = [line for line in out.splitlines() if line.strip()]
                # A reading that ended before the signal came ends the run
                # as it would have.
                check(lines and json.loads(lines[-1])["exitCode"] == process.returncode and
                      process.returncode in (1, 130), "%s: exit %d, %r, %r" % (url, process.returncode, out, err[-2000:]))
    finally:
        peer.close()


def case_memory_in_parse():
    if SANITIZED:
        print("SKIPPED: a sanitized program cannot run under an address-space limit")
        sys.exit(SKIP)
    with tempfile.TemporaryDirectory() as directory:
        for name, body in [("list.yaml", b"a:\n" + b"- 1\n" * (8 * MIB)), ("list.json", b'{"a": [' + b"1," * (8 * MIB) + b'1]}')]:
            with open(os.path.join(directory, name), "wb") as handle:
                handle.write(body)
            document = "start:\n  type: WorkflowRun\n  url: file://%s/%s\n" % (directory, name)
            # Room for the program and the file; not for its 8 million items.
            for memory in [400, 600, 800]:
                code, summary, stderr = run(directory, document, memory=memory)
                check(code == 1 and any(error == "out of memory: the document cannot be read" or
                                        "memory budget of 256 MiB" in error for error in summary.get("errors", [])),
                      "%s at %d MiB: exit %d, %s, %r" % (name, memory, code, summary, stderr[-2000:]))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
