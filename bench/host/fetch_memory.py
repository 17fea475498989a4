#!/usr/bin/python3
"""Peak RSS of the host while many documents are fetched, one after another
and at once: a Queue of Macro tasks each fetching a different document of
about 60 MB made of 8,000-byte text values (and the same names, so that the
macros overwrite each other), and Macro fetches at once across 5 hosts and
6 connections each answered with 60 MB (plain and gzip), each answer's last
byte held until all are in, and parallel 260 MB answers under a
limitBodySize of 268435456; and a fetched document whose Macro has its
pairs written in it. Goal: each runs, or is refused with the memory
budget in the words, below 512 MiB of peak RSS.
    bench/host/fetch_memory.py [path of the built velmarsh]
The documents are made on disk and served from there a MiB at a time, and
the program is started from this small process, so that no large buffer
of the bench counts in the program's peak.
"""
import gzip
import json
import os
import socket
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release/host/velmarsh")
MB = 1000 * 1000
MIB = 1024 * 1024


def write_values(path, prefix, size):
    """{"<prefix>0": "vvv...", ...}: 8,000-byte values up to size bytes."""
    value = "v" * 8000
    with open(path, "w") as handle:
        handle.write("{")
        for index in range(size // 8020):
            handle.write('%s"%s%d":"%s"' % ("," if index else "", prefix, index, value))
        handle.write("}")


def write_padded(path, size, packed):
    """A document padded with spaces to size bytes (its parse costs almost
    nothing), gzip-encoded when packed."""
    opener = gzip.open if packed else open
    with opener(path, "wb") as handle:
        handle.write(b'{"k":"v"')
        block = b" " * MIB
        left = size - 9
        while left > 0:
            handle.write(block[:min(left, MIB)])
            left -= MIB
        handle.write(b"}")


class Peers:
    """Hosts that answer GET /<file> with the file; each answer's last byte
    waits until `hold` answers have all but theirs sent (or failed)."""

    def __init__(self, folder, hosts, hold, packed):
        self.folder, self.hold, self.packed = folder, hold, packed
        self.ready = threading.Condition()
        self.arrived = 0
        self.listeners = []
        for _ in range(hosts):
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen(64)
            self.listeners.append(listener)
            threading.Thread(target=self.serve, args=(listener,), daemon=True).start()

    def url(self, index, name):
        return "http://127.0.0.1:%d/%s" % (self.listeners[index % len(self.listeners)].getsockname()[1], name)

    def serve(self, listener):
        while True:
            try:
                connection, _ = listener.accept()
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
            path = os.path.join(self.folder, head.split(b" ")[1].decode().lstrip("/"))
            size = os.path.getsize(path)
            connection.sendall(("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n%s"
                                "Connection: close\r\n\r\n" % (size, "Content-Encoding: gzip\r\n" if self.packed else
                                                                 "")).encode())
            with open(path, "rb") as source:
                try:
                    left = size - 1
                    while left > 0:
                        block = source.read(min(left, MIB))
                        connection.sendall(block)
                        left -= len(block)
                finally:
                    with self.ready:
                        self.arrived += 1
                        self.ready.notify_all()
                with self.ready:
                    self.ready.wait_for(lambda: self.arrived >= self.hold, timeout=120)
                connection.sendall(source.read())
            connection.shutdown(socket.SHUT_WR)
            connection.settimeout(30)
            while connection.recv(65536):
                pass
        except OSError:
            pass
        finally:
            connection.close()

    def close(self):
        for listener in self.listeners:
            listener.close()


def peak_run(folder, document):
    path = os.path.join(folder, "main.json")
    with open(path, "w") as handle:
        json.dump(document, handle)
    output = os.path.join(folder, "out.txt")
    began = time.monotonic()
    # posix_spawn: the program starts in this process's memory, which counts
    # in its peak, so this process holds nothing large.
    pid = os.posix_spawn(PROGRAM, [PROGRAM, "--workflow=" + path, "--disablesecurity"], os.environ,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, output, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600),
                                       (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    with open(output) as handle:
        lines = [line for line in handle.read().splitlines() if line.strip()]
    summary = json.loads(lines[-1]) if lines else {}
    code = os.waitstatus_to_exitcode(status)
    refused = any("memory budget" in error for error in summary.get("errors", []))
    outcome = "runs" if code == 0 else "refused (budget)" if refused else "fails (exit %d)" % code
    return outcome, usage.ru_maxrss // 1024, time.monotonic() - began


def queue_row(folder, label, count, size, same):
    names = []
    for index in range(count):
        name = "v%d-%d-%s.json" % (size, index, "same" if same else "own")
        if not os.path.exists(os.path.join(folder, name)):
            write_values(os.path.join(folder, name), "k" if same else "k%d_" % index, size)
        names.append(name)
    peers = Peers(folder, 1, 0, False)
    try:
        document = {"start": {"type": "Queue", "actions": ["m%d" % index for index in range(count)]}}
        for index, name in enumerate(names):
            document["m%d" % index] = {"type": "Macro", "url": peers.url(0, name)}
        return (label,) + peak_run(folder, document)
    finally:
        peers.close()


def parallel_row(folder, label, count, size, packed, limit=None):
    name = "p%d%s.json" % (size, ".gz" if packed else "")
    if not os.path.exists(os.path.join(folder, name)):
        write_padded(os.path.join(folder, name), size, packed)
    hosts = min(5, count)
    peers = Peers(folder, hosts, count, packed)
    try:
        document = {"start": {"type": "Queue", "concurrentTasks": count,
                              "actions": ["m%d" % index for index in range(count)]}}
        for index in range(count):
            document["m%d" % index] = {"type": "Macro", "url": peers.url(index, name)}
            if limit is not None:
                document["m%d" % index]["limitBodySize"] = limit
        return (label,) + peak_run(folder, document)
    finally:
        peers.close()


def written_row(folder, label, size, inherited=False):
    """A WorkflowRun of a document whose Macro has size bytes of
    8,000-byte pairs written in it (read, checked and copied in the host);
    or, inherited, a WorkflowRun with as many macros written in its own
    arguments, which its child inherits."""
    name = os.path.join(folder, "w%d.yaml" % size)
    if not inherited and not os.path.exists(name):
        with open(name, "w") as handle:
            handle.write("start:\n  type: Macro\n  keyValuePairs:\n")
            for index in range(size // 8020):
                handle.write("    w%d: %s\n" % (index, "v" * 8000))
    run = {"type": "WorkflowRun", "url": "file://" + name}
    if inherited:
        run = {"type": "WorkflowRun", "url": "file://" + os.path.join(folder, "w1.yaml"),
               "macros": {"m%d" % index: "v" * 8000 for index in range(size // 8020)}}
        if not os.path.exists(run["url"][7:]):
            with open(run["url"][7:], "w") as handle:
                handle.write("start: {type: Macro, keyValuePairs: {a: b}}\n")
    return (label,) + peak_run(folder, {"start": run})


def main():
    rows = [
        lambda folder: queue_row(folder, "Queue of 1 Macro, 60 MB of 8,000-byte values", 1, 60 * MB, False),
        lambda folder: queue_row(folder, "Queue of 4 Macro, 60 MB each, own names", 4, 60 * MB, False),
        lambda folder: queue_row(folder, "Queue of 8 Macro, 60 MB each, own names", 8, 60 * MB, False),
        lambda folder: queue_row(folder, "Queue of 8 Macro, 60 MB each, the same names", 8, 60 * MB, True),
        lambda folder: queue_row(folder, "Queue of 16 Macro, 4 MB each, own names", 16, 4 * MB, False),
        lambda folder: parallel_row(folder, "30 Macro at once (5 hosts x 6), 60 MB each", 30, 60 * MB, False),
        lambda folder: parallel_row(folder, "30 Macro at once, 60 MB each gzip-encoded", 30, 60 * MB, True),
        lambda folder: parallel_row(folder, "12 Macro at once, 60 MB each", 12, 60 * MB, False),
        lambda folder: parallel_row(folder, "1 Macro, 260 MB, limitBodySize 268435456", 1, 260 * MB, False,
                                    268435456),
        lambda folder: parallel_row(folder, "3 Macro at once, 260 MB each, limitBodySize 268435456", 3, 260 * MB,
                                    False, 268435456),
        lambda folder: written_row(folder, "WorkflowRun of a Macro with 36 MB of pairs written in it", 36 * MB),
        lambda folder: written_row(folder, "WorkflowRun of a Macro with 44 MB of pairs written in it", 44 * MB),
        lambda folder: written_row(folder, "WorkflowRun with 30 MB of macros written in it, inherited", 30 * MB, True),
    ]
    print("| fetches | outcome | peak RSS | time |\n|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        for row in rows:
            label, outcome, peak, seconds = row(folder)
            print("| %s | %s | %d MiB | %.1f s |" % (label, outcome, peak, seconds), flush=True)


main()
