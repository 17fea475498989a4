#!/usr/bin/python3
"""Peak RSS of the host reading a document of small list items ("z": [0,0,...])
of 1, 16 and 64 MiB on every path a document is fetched by: the command
line's file:// and http://, a WorkflowRun's http:// and file:// child, the
child of an http:// parent, and a Macro's url. Goal: each runs, or is refused
with the memory budget in the words, below 512 MiB of peak RSS.
    bench/host/document_memory.py [path of the built velmarsh]
"""
import functools
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/plain/host/velmarsh")
MIB = 1024 * 1024


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *_):
        pass


def peak_run(arguments):
    began = time.monotonic()
    child = subprocess.Popen([PROGRAM] + arguments + ["--disablesecurity"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    output = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    lines = [line for line in output.splitlines() if line.strip()]
    summary = json.loads(lines[-1]) if lines else {}
    return os.waitstatus_to_exitcode(status), summary, usage.ru_maxrss // 1024, time.monotonic() - began


def main():
    with tempfile.TemporaryDirectory() as folder:
        def save(name, text):
            with open(os.path.join(folder, name), "w") as handle:
                handle.write(text)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=folder))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        web = "http://127.0.0.1:%d/" % server.server_address[1]
        print("| size | path | outcome | peak RSS | time |\n|---|---|---|---|---|")
        try:
            for mib in (1, 16, 64):
                # Within the default limitBodySize of 64 MiB.
                count = (mib * MIB - 1024) // 2
                items = ",".join(["0"] * count)
                save("d.json", '{"start": {"type": "Log", "message": "ran"}, "z": [%s]}' % items)
                save("m.json", '{"answer": "42", "z": [%s]}' % items)
                save("run.yaml", "start:\n  type: WorkflowRun\n  url: %sd.json\n" % web)
                save("runfile.yaml", "start:\n  type: WorkflowRun\n  url: file://%s/d.json\n" % folder)
                save("macro.yaml", "start:\n  type: Macro\n  url: %sm.json\n" % web)
                paths = [("command line file://", os.path.join(folder, "d.json")),
                         ("command line http://", web + "d.json"),
                         ("WorkflowRun http://", os.path.join(folder, "run.yaml")),
                         ("WorkflowRun file://", os.path.join(folder, "runfile.yaml")),
                         ("child of an http:// parent", web + "run.yaml"),
                         ("Macro url", os.path.join(folder, "macro.yaml"))]
                for name, where in paths:
                    code, summary, peak, seconds = peak_run(["--workflow=" + where])
                    refused = any("memory budget" in error for error in summary.get("errors", []))
                    outcome = "runs" if code == 0 else "refused (budget)" if refused else "fails (exit %d)" % code
                    print("| %d MiB | %s | %s | %d MiB | %.2f s |" % (mib, name, outcome, peak, seconds))
        finally:
            server.shutdown()
            server.server_close()


main()
