#!/usr/bin/python3
"""Fetches by a workflow's tasks against a peer that answers as told, through
the built program.

Usage: host_fetch_check.py <program> <case>
body_cap: a gzip answer of 2 GiB of zeros (2 MB on the wire) stops at the
hard cap of 256 MiB decoded bytes whatever limitBodySize says, at once and
without a retry, under an address-space limit that 2 GiB would pass.
out_of_memory: the same answer under a limit that the cap does not fit in
ends the run with the reason and the summary.
signal_in_body: one SIGTERM ends a fetch that is reading an endless body,
with the summary.
framing: an answer that frames itself twice (two different Content-Length
headers, Transfer-Encoding beside Content-Length), or that cannot be read at
all (a chunk size that is none, a header with a NUL or folded, a version
other than 1.0 and 1.1, a status that is none, a gzip body that does not
inflate, a 204 with a body) fails at once, with why; a gzip body of two
members is read whole.
headers: a header a document gives takes the place of the client's own of
that name; a Content-Length of the document's is refused and never sent.
slow_hosts: five hosts that do not answer leave a sixth host's fetch its
slot: it is answered while they still hold theirs; five that trickle hold
theirs, and the sixth fetch's wait for one ends within its own timeout.
urls: a task URL whose host is no name fails at once; FILE:/// is a file
URL; a FIFO is refused unopened; a body that arrived and does not parse fails at once with why.
cuts: an answer cut at each stage by a close or a reset fails in words.
ignored: under ignoreError a failed fetch, or a document that is no workflow, still says why.
Exit status 0 when the case holds, 77 when it cannot be tried here.
"""
import json
import os
import resource
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

PROGRAM, CASE = sys.argv[1], sys.argv[2]
MIB = 1024 * 1024
CAP = 256 * MIB


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def gzip_pieces():
    """A gzip stream of zeros a MiB at a time: the head, then the piece that
    every further MiB repeats (a full flush drops all history, so each MiB
    compresses to the same bytes)."""
    zeros = bytes(MIB)
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)
    first = packer.compress(zeros) + packer.flush(zlib.Z_FULL_FLUSH)
    piece = packer.compress(zeros) + packer.flush(zlib.Z_FULL_FLUSH)
    return first, piece


def gzip_with_header_crc(data, crc16):
    """A gzip member whose header carries a header CRC (FHCRC) of crc16."""
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return (b"\x1f\x8b\x08\x02" + bytes(4) + b"\x00\xff" + struct.pack("<H", crc16) +
            packer.compress(data) + packer.flush() + struct.pack("<II", zlib.crc32(data), len(data)))


def hostile_answers(body):
    """Answers no attempt can read, as sent whole, by name; and what the
    program says of each (None: it reads it)."""
    def gzip(data):
        packer = zlib.compressobj(9, zlib.DEFLATED, 31)
        return packer.compress(data) + packer.flush()
    packed, members = gzip(body), gzip(body[:len(body) // 2]) + gzip(body[len(body) // 2:])

    def length(head, data):
        return b"HTTP/1.1 200 OK\r\n" + head + b"Content-Length: %d\r\n\r\n" % len(data) + data

    gzipped = lambda data: length(b"Content-Encoding: gzip\r\n", data)

    def chunked(size_line):
        return b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + size_line + b"\r\n" + body + b"\r\n0\r\n\r\n"
    flip = lambda data, at: data[:at] + bytes([data[at] ^ 1]) + data[at + 1:]
    return {
        "chunk-negative": (chunked(b"-10"), 'chunk size "-10" is not a size (1 to 15 hexadecimal digits)'),
        "chunk-0x": (chunked(b"0x10"), 'chunk size "0x10" is not a size (1 to 15 hexadecimal digits)'),
        "chunk-16-digits": (chunked(b"0" * 14 + b"10"), 'chunk size "%s" is not a size' % ("0" * 14 + "10")),
        "header-nul": (length(b"X-Probe: a\x00b\r\n", body), 'its header line "X-Probe: a?b" holds a NUL'),
        "header-folded": (length(b"X-Probe: a\r\n b\r\n", body), 'its header line " b" is folded onto the one before'),
        "http-0.9": (body, 'is not one of HTTP/1.0 or HTTP/1.1'),
        "http-2-preface": (b"\x00\x00\x12\x04\x00\x00\x00\x00\x00" + bytes(18), 'is not one of HTTP/1.0 or HTTP/1.1'),
        "http-1.9": (b"HTTP/1.9 200 OK\r\n\r\n" + body, 'its status line "HTTP/1.9 200 OK" is not one of'),
        "http-2": (b"HTTP/2 200\r\n\r\n" + body, 'its status line "HTTP/2 200" is not one of'),
        **{"status-" + code: (b"HTTP/1.1 %s X\r\n\r\n" % code.encode(), "status %s is not a status" % code)
           for code in ("000", "099", "600", "999")},
        "no-content-body": (b"HTTP/1.1 204 No Content\r\nContent-Length: %d\r\n\r\n" % len(body) + body,
                            "a 204 (no content) answer frames a body"),
        "gzip-crc": (gzipped(flip(packed, len(packed) - 8)), "its gzip body cannot be read (incorrect data check)"),
        "gzip-length": (gzipped(flip(packed, len(packed) - 4)), "its gzip body cannot be read (incorrect length check)"),
        "gzip-truncated": (gzipped(packed[:-4]), "its gzip body ends before the gzip data does"),
        "gzip-plain": (gzipped(body), "its gzip body cannot be read (incorrect header check)"),
        "gzip-header-crc": (gzipped(gzip_with_header_crc(body, 0x1234)), "its gzip body cannot be read (header crc mismatch)"),
        "gzip-two-members": (gzipped(members), None),
        # Every line of the head is read alike: status, trailer, chunk size.
        **{name: (data, "its %s line \"%s\" %s" % said) for name, data, said in [
            ("reason-nul", b"HTTP/1.1 200 O\x00K\r\n\r\n", ("status", "HTTP/1.1 200 O?K", "holds a NUL")),
            ("status-cr", b"HTTP/1.1 200 OK\rX: b\r\n\r\n", ("status", "HTTP/1.1 200 OK?X: b", "holds a CR")),
            ("header-cr", length(b"X: a\rb\r\n", body), ("header", "X: a?b", "holds a CR")),
            ("interim-nul", b"HTTP/1.1 100 Go\r\nX: a\x00b\r\n\r\n" + length(b"", body), ("header", "X: a?b", "holds a NUL")),
            ("chunk-ext-nul", chunked(b"1;a=\x00"), ("chunk size", "1;a=?", "holds a NUL")),
            ("trailer-nul", chunked(b"%x" % len(body))[:-2] + b"T: a\x00\r\n\r\n", ("trailer", "T: a?", "holds a NUL")),
            ("name-blank", length(b"Content-Length : 5\r\n", body), ("header", "Content-Length : 5", "has white space or")),
            ("name-none", chunked(b"%x" % len(body))[:-2] + b": a\r\n\r\n", ("trailer", ": a", "has no name before")),
            ("trailer-folded", chunked(b"%x" % len(body))[:-2] + b"T: a\r\n b\r\n\r\n", ("trailer", " b", "is folded"))]},
    }


HEALTHY_ANSWERED = threading.Event()
DECLARED = threading.Event()


class Peer:
    """HTTP/1.1 on 127.0.0.1, one thread per connection. Each request's head
    is kept in `heads`; `sending` is set once an endless body is under way."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.heads = []
        self.lock = threading.Lock()
        self.sending = threading.Event()
        self.sent = threading.Event()
        self.stopping = False
        self.declared = 0
        threading.Thread(target=self.serve, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def requests(self, path):
        with self.lock:
            return [head for head in self.heads if head.split(b" ")[1] == path.encode()]

    def serve(self):
        while not self.stopping:
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
            head = head.split(b"\r\n\r\n")[0]
            with self.lock:
                self.heads.append(head)
            path = head.split(b" ")[1].decode()
            self.respond(connection, path)
        except OSError:
            pass
        finally:
            connection.close()

    def respond(self, connection, path):
        child = b"start:\n  type: Log\n  message: child ran\n"
        macro = b'{"answer": "42"}'
        if path == "/bomb":
            first, piece = gzip_pieces()
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\n"
                               b"Connection: close\r\n\r\n" + first)
            for _ in range(2047):
                connection.sendall(piece)
        elif path == "/items":
            # 40 MB of JSON: far below the body's cap, but its 20 million
            # items need more memory than the program is given.
            block, blocks = b"0," * 32768, 610
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n["
                               % (len(block) * blocks + 3))
            for _ in range(blocks):
                connection.sendall(block)
            connection.sendall(b"0]")
            self.sent.set()
        elif path == "/endless":
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n")
            block = b" " * 65536
            while not self.stopping:
                connection.sendall(block)
                self.sending.set()
        elif path == "/child.yaml":
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/yaml\r\nContent-Length: %d\r\n\r\n%s"
                               % (len(child), child))
        elif path == "/yaml-as-json":
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(child), child))
        elif path in ("/held", "/healthy"):
            # A held answer comes only once the healthy host was answered.
            if path == "/held":
                HEALTHY_ANSWERED.wait(40)
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(macro), macro))
            if path == "/healthy":
                HEALTHY_ANSWERED.set()
        elif path == "/trickle":
            connection.sendall(b"HTTP/1.1 200 OK\r\nX-Slow: ")
            while not self.stopping:
                connection.sendall(b"a")
                time.sleep(0.3)
        elif path.startswith("/cut/"):
            connection.sendall(CUT[path.split("/")[3]][:int(path.split("/")[4])])
            if "/reset/" in path:
                connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif path == "/declared":
            # 100 MB declared; the rest follows the first byte once three
            # such answers are under way.
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000000\r\n\r\n{")
            with self.lock:
                self.declared += 1
                if self.declared == 3:
                    DECLARED.set()
            DECLARED.wait(30)
            connection.sendall(b" " * 99999998 + b"}")
        elif path.startswith("/pairs/"):
            # 50 MB of 8,000-byte values under names of their own.
            value, count = "v" * 8000, 50 * 1000 * 1000 // 8020
            body = ("{" + ",".join('"k%s_%d":"%s"' % (path[7:], index, value) for index in range(count)) + "}").encode()
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n"
                               % len(body) + body)
        elif path.startswith("/hostile/"):
            connection.sendall(hostile_answers(macro)[path[len("/hostile/"):]][0])
        elif path.startswith("/frame/"):
            framing = {"two-lengths": b"Content-Length: 5\r\nContent-Length: %d\r\n" % len(macro),
                       "list-of-two": b"Content-Length: %d, 5\r\n" % len(macro),
                       "chunked-and-length": b"Transfer-Encoding: chunked\r\nContent-Length: %d\r\n" % len(macro),
                       "same-twice": b"Content-Length: %d\r\nContent-Length: %d\r\n" % (len(macro), len(macro))}
            body = macro
            if "chunked" in path:
                body = b"%x\r\n%s\r\n0\r\n\r\n" % (len(macro), macro)
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" +
                               framing[path[len("/frame/"):]] + b"Connection: close\r\n\r\n" + body)
        else:
            connection.sendall(b"HTTP/1.1 %s No\r\nContent-Length: 0\r\n\r\n" % (b"500" if path == "/500" else b"404"))

    def close(self):
        self.stopping = True
        self.listener.close()


# AddressSanitizer reserves terabytes of address space for its shadow, so a
# sanitized program cannot start under an address-space limit at all; its
# library is named near the start of the program file.
with open(PROGRAM, "rb") as program_file:
    SANITIZED = b"libasan.so" in program_file.read(1 << 20)
SKIP = 77


def limit_memory(megabytes):
    if SANITIZED:
        return None

    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes * MIB, megabytes * MIB))
    return apply


def run(directory, document, memory=None, timeout=120):
    """Runs the document; a run that ends does so well before a first retry
    (15 s) would come, and the bound only keeps a hang from holding the test."""
    path = os.path.join(directory, "main.yaml")
    with open(path, "w") as handle:
        handle.write(document)
    try:
        done = subprocess.run([PROGRAM, "--workflow=" + path, "--disablesecurity"], capture_output=True, text=True,
                              timeout=timeout, preexec_fn=limit_memory(memory) if memory else None)
    except subprocess.TimeoutExpired:
        fail("%r did not end" % document)
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    try:
        summary = json.loads(lines[-1]) if lines else {}
    except ValueError:
        summary = {}
    return done.returncode, summary, done.stderr


def case_body_cap():
    peer = Peer()
    try:
        with tempfile.TemporaryDirectory() as directory:
            # A limit that is no finite number is refused: nothing is fetched.
            for limit in [".inf", "-.inf", ".nan"]:
                document = "start:\n  type: Macro\n  url: %s\n  limitBodySize: %s\n" % (peer.url("/bomb"), limit)
                code, summary, stderr = run(directory, document)
                check(code == 1 and summary.get("errors", [""])[0].startswith("Task_Error_InvalidArg: ") and
                      not peer.requests("/bomb"), "limit %s: exit %d, %s" % (limit, code, summary))
            # A limit that is no size, or passes the cap, reads as the cap.
            for limit in ["-1", "0", "1e30", str(CAP + 1)]:
                document = ("start:\n  type: Macro\n  url: %s\n  limitBodySize: %s\n  timeout: 600\n"
                            % (peer.url("/bomb"), limit))
                # Far below the 2 GiB the answer decodes to.
                code, summary, stderr = run(directory, document, memory=1536)
                # (A limit that is not read as a number leaves the default.)
                # At the cap, the room the body grows into passes the memory
                # budget first.
                said = [error for error in summary.get("errors", [])
                        if error.startswith("the answer's body is larger than its limit of ") or
                        error.startswith("the answer's body is refused: ") and "memory budget of 256 MiB" in error]
                check(code == 1 and said and (said[0].endswith(")") or int(said[0].split()[-2]) <= CAP),
                      "limit %s: exit %d, %s, stderr %r" % (limit, code, summary, stderr[-2000:]))
                check("retry" not in stderr, "limit %s: retried: %r" % (limit, stderr[-2000:]))
                check(len(peer.requests("/bomb")) == 1, "limit %s: asked %d times" %
                      (limit, len(peer.requests("/bomb"))))
                del peer.heads[:]
    finally:
        peer.close()


def case_out_of_memory():
    if SANITIZED:
        print("SKIPPED: a sanitized program cannot run under an address-space limit")
        sys.exit(SKIP)
    peer = Peer()
    try:
        with tempfile.TemporaryDirectory() as directory:
            # Room for the program and a body of 128 MiB, not for the items
            # of a document of 40 MB; the body's growth to 256 MiB is refused
            # by the memory budget before the memory runs out.
            for path, said in [("/bomb", "the answer's body is refused: the room it takes as it arrives"),
                               ("/items", "out of memory: the document cannot be read")]:
                document = "start:\n  type: Macro\n  url: %s\n  limitBodySize: -1\n" % peer.url(path)
                code, summary, stderr = run(directory, document, memory=300)
                check(code == 1 and any(said in error for error in summary.get("errors", [])),
                      "%s: exit %d, %s, stderr %r" % (path, code, summary, stderr[-2000:]))
                check("retry" not in stderr, "%s: retried: %r" % (path, stderr[-2000:]))
            # With the memory to read them, the document's 20 million items
            # pass the process's memory budget: the fetch fails, not the run.
            document = "start:\n  type: Macro\n  url: %s\n" % peer.url("/items")
            code, summary, stderr = run(directory, document, memory=3072)
            check(code == 1 and "Host_Error_OutOfMemory" not in summary.get("errors", []) and
                  any("memory budget of 256 MiB" in error for error in summary.get("errors", [])),
                  "items taken: exit %d, %s, stderr %r" % (code, summary, stderr[-2000:]))
    finally:
        peer.close()


def case_signal_in_body():
    # While the body comes, and once it is whole (its 20 million items being
    # read): the parse is given up, not waited for.
    peer = Peer()
    try:
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "main.yaml")
            for url, event in [(peer.url("/endless"), peer.sending), (peer.url("/items"), peer.sent)]:
                with open(path, "w") as handle:
                    handle.write("start:\n  type: Macro\n  url: %s\n  limitBodySize: -1\n" % url)
                process = subprocess.Popen([PROGRAM, "--workflow=" + path, "--disablesecurity"],
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                           preexec_fn=limit_memory(3072))
                check(event.wait(60), "%s: the body never started" % url)
                process.send_signal(signal.SIGTERM)
                try:
                    out, err = process.communicate(timeout=60)
                except subprocess.TimeoutExpired:
                    process.kill()
                    fail("%s: one SIGTERM did not end the fetch" % url)
                lines = [line for line in out.splitlines() if line.strip()]
                check(process.returncode == 130 and lines and json.loads(lines[-1])["exitCode"] == 130,
                      "%s: exit %d, %r, %r" % (url, process.returncode, out, err[-2000:]))
    finally:
        peer.close()


def case_framing():
    peer = Peer()
    try:
        with tempfile.TemporaryDirectory() as directory:
            rows = [("two-lengths", "malformed answer: two different Content-Length headers (5 and 16)"),
                    ("list-of-two", "malformed answer: two different Content-Length headers (16 and 5)"),
                    ("chunked-and-length", "malformed answer: both Transfer-Encoding and Content-Length frame its body"),
                    ("same-twice", None)]
            rows = [("/frame/" + name, said) for name, said in rows]
            rows += [("/hostile/" + name, said) for name, (_, said) in hostile_answers(b"").items()]
            for path, said in rows:
                document = ("start:\n  type: Macro\n  url: %s\nafter:\n  type: Log\n  message: '{answer}'\n"
                            % peer.url(path))
                code, summary, stderr = run(directory, document)
                if said is None:
                    check(code == 0, "%s: exit %d, %s, %r" % (path, code, summary, stderr[-2000:]))
                    continue
                check(code == 1 and any("malformed answer: " in error and said in error for error in summary.get("errors", [])) and "retry" not in stderr,
                      "%s: exit %d, %s, %r" % (path, code, summary, stderr[-2000:]))
    finally:
        peer.close()


def case_headers():
    peer = Peer()
    try:
        with tempfile.TemporaryDirectory() as directory:
            document = ("start:\n  type: WorkflowRun\n  url: %s\n  headers:\n    host: other.example\n"
                        "    Accept-Encoding: identity\n    User-Agent: probe\n    Content-Length: '5'\n"
                        "    X-Probe: 'yes'\n    X-Split: \"a\\r\\nX-Smuggled: b\"\n" % peer.url("/child.yaml"))
            code, summary, stderr = run(directory, document)
            check(code == 0, "exit %d, %s, %r" % (code, summary, stderr[-2000:]))
            heads = peer.requests("/child.yaml")
            check(len(heads) == 1, "asked %d times" % len(heads))
            lines = [line.lower() for line in heads[0].split(b"\r\n")[1:]]
            names = [line.split(b":")[0] for line in lines]
            for name, value in [(b"host", b"other.example"), (b"accept-encoding", b"identity"),
                                (b"user-agent", b"probe"), (b"x-probe", b"yes")]:
                check(names.count(name) == 1 and (name + b": " + value) in lines, "%s in %r" % (name, heads[0]))
            check(b"content-length" not in names and b"x-split" not in names and b"x-smuggled" not in names,
                  "a refused header went out: %r" % heads[0])
            check('header "X-Split" refused: not a header name or value' in summary.get("warnings", []),
                  "not said: %s" % summary)
            check('header "Content-Length" refused: the client frames the body it sends itself' in
                  summary.get("warnings", []), "not said: %s" % summary)
    finally:
        peer.close()


def case_slow_hosts():
    held = [Peer() for _ in range(5)]
    healthy = Peer()
    try:
        with tempfile.TemporaryDirectory() as directory:
            # A host that says nothing: the time-out is told in words.
            told = first_retry(directory, "start: {type: Macro, url: '%s', timeout: 1}" % held[0].url("/held"))[0]
            check("(WebGet_Error_Timeout, no byte came for 1 s (timeout))" in told, told)
            # The healthy host is asked once the others hold their slots.
            names = ["held%d" % index for index in range(len(held))] + ["healthy"]
            document = ("start:\n  type: Queue\n  concurrentTasks: 6\n  actions: [%s, later]\n"
                        "later:\n  type: Queue\n  actions: [nap, healthy]\nnap:\n  type: Sleep\n  seconds: 0.5\n"
                        % ", ".join(names[:-1]))
            for name, url in zip(names, [peer.url("/held") for peer in held] + [healthy.url("/healthy")]):
                document += "%s:\n  type: Macro\n  url: %s\n  timeout: %d\n" % (name, url, 3 if name == "healthy" else 20)
            code, summary, stderr = run(directory, document)
            check(code == 0 and HEALTHY_ANSWERED.is_set() and "retry" not in stderr,
                  "exit %d, %s, %r" % (code, summary, stderr[-2000:]))
            # The first attempt's end is told on stderr; the run is not waited for.
            with open(os.path.join(directory, "main.yaml"), "w") as handle:
                handle.write(document.replace("/held", "/trickle"))
            program = subprocess.Popen([PROGRAM, "--workflow=" + handle.name, "--disablesecurity"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            bound = threading.Timer(30, program.kill)
            bound.start()
            told = program.stderr.readline()
            bound.cancel()
            program.kill()
            program.wait()
            check("cannot fetch %s (WebGet_Error_Timeout, no connection within 3 s: the pool's 5 hosts were all busy)"
                  % healthy.url("/healthy") in told, "stderr %r" % told)
    finally:
        for peer in held + [healthy]:
            peer.close()


def case_urls():
    peer = Peer()
    try:
        with tempfile.TemporaryDirectory() as directory:
            for url in ["http://a..b/x", "http://-a/x", "http://256.0.0.1:1/x", "http://0/x", "http://a-/x"]:
                for kind in ["WorkflowRun", "Macro"]:
                    code, summary, stderr = run(directory, "start:\n  type: %s\n  url: '%s'\n" % (kind, url))
                    check(code == 1 and "malformed URL (no usable host, port or path)" in summary.get("errors", [])
                          and "retry" not in stderr, "%s %s: exit %d, %s, %r" % (kind, url, code, summary, stderr))
            with open(os.path.join(directory, "child.yaml"), "w") as handle:
                handle.write("start:\n  type: Log\n  message: child ran\n")
            code, summary, stderr = run(directory, "start:\n  type: WorkflowRun\n  url: 'FILE://%s/child.yaml'\n"
                                        % directory)
            check(code == 0, "FILE:///: exit %d, %s, %r" % (code, summary, stderr))
            # A file the system says is empty is read to its end, within the limit.
            for limit, said in [("1e6", ""), ("100", "is larger than the body limit of 100 bytes")]:
                code, summary, stderr = run(directory, "start:\n  type: WorkflowRun\n  url: file:///proc/self/maps\n"
                                            "  limitBodySize: '%s'\n" % limit)
                check(code == 1 and any(said in error for error in summary["errors"]) and "the document is empty" not in
                      summary["errors"], "%s: %s" % (limit, summary))
            # A FIFO is refused unopened: a writer waiting on it is never woken.
            fifo, woken = os.path.join(directory, "fifo.json"), []
            os.mkfifo(fifo)
            threading.Thread(target=lambda: woken.append(os.open(fifo, os.O_WRONLY)), daemon=True).start()
            code, summary, stderr = run(directory, "start: {type: WorkflowRun, url: 'file://%s'}\n" % fifo)
            check(code == 1 and "Not a regular file (%s)" % fifo in summary["errors"] and not woken, "FIFO: %s" % woken)
            # YAML where JSON is read: the body arrived whole; a retry would
            # read the same.
            code, summary, stderr = run(directory, "start:\n  type: Macro\n  url: %s\n" % peer.url("/yaml-as-json"))
            check(code == 1 and any(error.startswith("read as JSON") for error in summary.get("errors", []))
                  and "retry" not in stderr and len(peer.requests("/yaml-as-json")) == 1,
                  "unparsed body: exit %d, %s, %r" % (code, summary, stderr))
    finally:
        peer.close()


MACRO_BODY = b'{"answer": "42"}'
CUT = {"length": b"HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\n" + MACRO_BODY,
       "chunked": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\n%s\r\na\r\n%s\r\n0\r\nX: 1\r\n\r\n"
       % (MACRO_BODY[:6], MACRO_BODY[6:])}
# (answer, bytes sent, where the words say it was cut): every stage of each.
CUT_STAGES = [("length", 0, "before answering"), ("length", 39, "after 0 of the body's 16 bytes"),
              ("length", 48, "after 9 of the body's 16 bytes"), ("chunked", 48, "after 0 bytes of the chunked body,"),
              ("chunked", 54, "after 4 of a chunk's 6 bytes (4 bytes"), ("chunked", 63, "after 2 of a chunk's 10 bytes (8"),
              ("chunked", 59, "after 6 bytes of the chunked body, before its last chunk"), ("chunked", 73, "after 16 bytes"),
              ("chunked", 78, "within the trailer of its chunked body, after 16 bytes of the body")]
CUT_STAGES += [(answer, at, "within the answer's head, after %d bytes of it" % at)
               for answer in CUT for at in (5, 20, CUT[answer].index(b"\r\n\r\n") + 3)]


def first_retry(directory, document):
    """The first stderr line (a retry's) and the summary after one SIGTERM: no 15 s waited for a retry."""
    path = document[len("--workflow="):] if document.startswith("--") else os.path.join(directory, "main.yaml")
    if path.endswith(".yaml"):
        open(path, "w").write(document)
    program = subprocess.Popen([PROGRAM, "--disablesecurity", "--workflow=" + path], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    told = program.stderr.readline()
    program.send_signal(signal.SIGTERM)
    out = program.communicate(timeout=60)[0].splitlines()
    return told, json.loads(out[-1]) if out else {}


def case_cuts():
    peer = Peer()
    with tempfile.TemporaryDirectory() as directory:
        for (answer, at, where), how in [(row, how) for row in CUT_STAGES for how in ("close", "reset")]:
            url = peer.url("/cut/%s/%s/%d" % (how, answer, at))
            # A reset may drop bytes the program had not read yet.
            words = "the peer closed the connection " + where if how == "close" else "connection reset by the peer "
            told, summary = first_retry(directory, "start:\n  type: Macro\n  url: %s\n" % url)
            check("cannot fetch %s (WebGet_Error_Connect, %s" % (url, words) in told and
                  any(error.startswith(words) for error in summary.get("errors", [])), "%s: %r, %s" % (url, told, summary))
        told = first_retry(directory, "--workflow=" + peer.url("/cut/close/length/0"))[0]
        check("(WebGet_Error_Connect, the peer closed the connection before answering)" in told, told)


def case_ignored():
    peer = Peer()
    with tempfile.TemporaryDirectory() as directory:
        url = peer.url("/hostile/interim-nul")
        code, summary, stderr = run(directory, "start:\n  type: Macro\n  url: %s\n  ignoreError: true\n" % url)
        said = 'cannot load %s: WebGet_Error_Custom, malformed answer: its header line "X: a?b" holds a NUL' % url
        check(code == 0 and said in summary.get("warnings", []) and said in stderr, "%s, %r" % (summary, stderr))
        told = first_retry(directory, "start:\n  type: Macro\n  url: %s\n  ignoreError: true\n" % peer.url("/500"))[0]
        check("(Http_Error_500, WebGet_Error_Custom); retry 1" in told, told)
        open(os.path.join(directory, "child.yaml"), "w").write("start: [unclosed\n")
        code, summary, stderr = run(directory, "start: {type: WorkflowRun, url: 'file://%s/child.yaml', ignoreError: true}" % directory)
        said = "cannot load file://%s/child.yaml: Yaml_Error_EndOfStream, WebGet_Error_YAML, read as" % directory
        check(code == 0 and said in (summary.get("warnings") or [""])[0] and said in stderr, "%s, %r" % (summary, stderr))
        open(os.path.join(directory, "child.yaml"), "w").write("[1, 2]\n")  # parses, but is no workflow
        code, summary, stderr = run(directory, "start: {type: WorkflowRun, url: 'file://%s/child.yaml', ignoreError: true}" % directory)
        said = "cannot load file://%s/child.yaml: the workflow document is not an object: it is a list" % directory
        check(code == 0 and summary.get("warnings") == [said] and said in stderr, "%s, %r" % (summary, stderr))


def case_budget():
    """Past the memory budget in words, before the bytes are held: one of
    three bodies that declare 100 MB each at once, refused at its first byte;
    and a Macro whose 50 MB of pairs, as macros and as its status, would pass
    it beside the first Macro's; and 40 MB of pairs in the document itself,
    whose checked copy counts as well."""
    peer = Peer()
    fetch = lambda name, path: "%s:\n  type: Macro\n  url: %s\n" % (name, peer.url(path))
    try:
        with tempfile.TemporaryDirectory() as directory:
            for document, count, said in [
                    ("start:\n  type: Queue\n  concurrentTasks: 3\n  actions: [a, b, c]\n" +
                     "".join(fetch(name, "/declared") + "  limitBodySize: 268435456\n" for name in "abc"), 3,
                     "the answer's body is refused: the room it takes as it arrives (100000000 bytes) passes the "
                     "memory budget of 256 MiB"),
                    ("start:\n  type: Queue\n  actions: [a, b]\n" + fetch("a", "/pairs/a") + fetch("b", "/pairs/b"),
                     2, 'task "b" sets no macros: its pairs (')]:
                code, summary, stderr = run(directory, document)
                check(code == 1 and any(said in error and "memory budget of 256 MiB" in error
                                        for error in summary.get("errors", [])) and "retry" not in stderr,
                      "%d fetches: exit %d, %s, stderr %r" % (count, code, summary, stderr[-2000:]))
                check(len(peer.heads) == count, "asked %d times, not %d" % (len(peer.heads), count))
                del peer.heads[:]
            # 40 MB of pairs written in the document: the checked copy of
            # them is charged too, so the macros and status do not fit.
            pairs = "".join("    k%d: %s\n" % (index, "v" * 8000) for index in range(40 * 1000 * 1000 // 8020))
            code, summary, _ = run(directory, "start:\n  type: Macro\n  keyValuePairs:\n" + pairs)
            check(code == 1 and any('task "start" sets no macros' in error and "memory budget of 256 MiB" in error
                                    for error in summary.get("errors", [])), "pairs in the document: %s" % summary)
    finally:
        DECLARED.set()
        peer.close()


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
