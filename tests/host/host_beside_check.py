#!/usr/bin/python3
"""What counts as "beside" a signed workflow, through the built program.

Usage: host_beside_check.py <program> <source dir> <case>
A signed parent served from http://127.0.0.1:P/signed/ runs a nested
document unsigned only when the server serves that document from the
parent's own folder:
place: another case of the folder, a segment holding ";", an overlong "." or "%u002e",
  and the data store under another spelling are not beside it; a child that is runs. Served
  as /get?file=signed/<name>, a workflow has nothing beside it.
loaded_data: a "contentUrl" that the workflow's "load" reads from data
  (for the workflow, or with "global" for the application's macros) does
  not widen what is beside it.
encoded_name: a signed workflow named through an encoded or overlong "/" or
  "." (served as /signed/main.jws) has nothing beside it to run or load macros from.
claim_times: a signed document's "exp" or "nbf" past any date is refused
  with a time out of range, one within the years 0 to 9999 with its date.
Exit status 0 when the case holds.
"""
import json
import os
import subprocess
import sys
import tempfile

PROGRAM, SOURCE, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
SIGNED = os.path.join(SOURCE, "tests", "host", "signed_demo")
CONFIG = os.path.join(SOURCE, "examples", "demo-app.json")
PEER = os.path.join(SOURCE, "tests", "peers", "workflowpeer.py")
CHILD = json.dumps({"start": {"type": "Log", "message": "child ran"}})


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def write(directory, name, text):
    path = os.path.join(directory, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def sign(directory, name, document, exp="-", nbf="-"):
    write(directory, name + ".src", json.dumps(document))
    args = ["node", os.path.join(SIGNED, "sign_workflow.js"), os.path.join(SIGNED, "demo-signer.pem"),
            os.path.join(SIGNED, "demo-signer.der"), os.path.join(directory, name + ".src"), exp, nbf]
    write(directory, name, subprocess.run(args, capture_output=True, text=True, check=True).stdout)


class Peer:
    def __init__(self, root):
        self.process = subprocess.Popen([sys.executable, "-u", PEER, root], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.root = "http://127.0.0.1:%d/" % int(self.process.stdout.readline().split()[1])

    def close(self):
        self.process.stdin.close()
        self.process.wait(10)


def run_all(directory, peer, parents, served="signed/"):
    """Runs each signed parent (name -> (document, child runs)) at once and
    checks that its child ran, or was refused as unsigned."""
    runs = {}
    for name, (document, allowed) in parents.items():
        sign(directory, "signed/" + name, document)
        runs[name] = subprocess.Popen([PROGRAM, "--workflow=" + peer.root + served + name, "--config=" + CONFIG,
                                       "--window"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    outputs = {}
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
        if not allowed and (process.returncode != 1 or "Document is not signed" not in value.get("errors", [])):
            fail("%s %s: ran unsigned: %s" % (name, json.dumps(document), value))
        outputs[name] = out
    return outputs


def case_place():
    with tempfile.TemporaryDirectory() as directory:
        for name in ("signed/child.json", "SIGNED/child.json", "signed/..;/other/child.json", "other/child.json",
                     "signed/datastore;x", "signed/datastore ", "signed/datastore/x.json", "signed/a;b/child.json"):
            write(directory, name, CHILD)
        peer = Peer(directory)
        try:
            urls = {"{contentUrl}child.json": True, peer.root + "signed/./child.json": True,
                    peer.root + "SIGNED/child.json": False, "{contentUrl}..;/other/child.json": False,
                    "{contentUrl}../other/child.json": False, "{contentUrl}%C0%AE%C0%AE/other/child.json": False,
                    "{contentUrl}%u002e%u002e/other/child.json": False,
                    "{contentUrl}a;b/child.json": False, "{contentUrl}datastore;x": False,
                    "{contentUrl}datastore%20": False, "{contentUrl}datastore/x.json": False}
            run_all(directory, peer, {"p%d.jws" % index: ({"start": {"type": "WorkflowRun", "url": url}}, allowed)
                                      for index, (url, allowed) in enumerate(urls.items())})
            urls = [url for url in urls if "contentUrl" in url] + [peer.root + "get?file=other/child.json"]
            run_all(directory, peer, {"q%d.jws" % index: ({"start": {"type": "WorkflowRun", "url": url}}, False)
                                      for index, url in enumerate(urls)}, "get?file=signed/")
        finally:
            peer.close()


def case_loaded_data():
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "other/child.json", CHILD)
        peer = Peer(directory)
        try:
            write(directory, "signed/data.json", json.dumps({"contentUrl": peer.root}))
            parents = {}
            for scope in (False, True):
                load = {"type": "Macro", "url": "{contentUrl}data.json", "global": scope}
                start = {"type": "Queue", "actions": ["say", "run"]}
                parents["global-%s.jws" % scope] = ({
                    "load": load, "start": start, "say": {"type": "Log", "message": "loaded {contentUrl}"},
                    "run": {"type": "WorkflowRun", "url": peer.root + "other/child.json"}}, False)
            for name, out in run_all(directory, peer, parents).items():
                if "loaded " + peer.root not in out:
                    fail("%s: the data set no contentUrl" % name)
        finally:
            peer.close()


def case_encoded_name():
    with tempfile.TemporaryDirectory() as directory:
        for folder in ("", "other/", "signed/"):
            write(directory, folder + "child.json", CHILD)
        peer = Peer(directory)
        try:
            for index, served in enumerate(("other/%2E%2E%2Fsigned%2F", "signed%2F", "other/%2e%2e/signed/",
                                            "other/%C0%AE%C0%AE%C0%AFsigned%C0%AF")):
                run_all(directory, peer, {
                    "r%d.jws" % index: ({"start": {"type": "WorkflowRun", "url": "{contentUrl}child.json"}}, False),
                    "m%d.jws" % index: ({"start": {"type": "Macro", "url": "{contentUrl}child.json"}}, False)}, served)
        finally:
            peer.close()


def case_claim_times():
    # An "exp" or "nbf" past any date is told as out of range, not as a
    # bare number; one within the years 0 to 9999 as its date.
    out_of_range = "a time out of range (before the year 0 or after 9999)"
    rows = [("-9223372036854775808", "-", 'Document expired at %s ("exp")' % out_of_range),
            ("-", "9e18", 'Document is not valid before %s ("nbf")' % out_of_range),
            ("-62167219201", "-", 'Document expired at %s ("exp")' % out_of_range),
            ("-62167219200", "-", 'Document expired at 0000-01-01 00:00:00 UTC ("exp")'),
            ("-", "253402300799", 'Document is not valid before 9999-12-31 23:59:59 UTC ("nbf")'),
            ("-", "253402300800", 'Document is not valid before %s ("nbf")' % out_of_range)]
    with tempfile.TemporaryDirectory() as directory:
        peer = Peer(directory)
        try:
            for index, (exp, nbf, words) in enumerate(rows):
                sign(directory, "t%d.jws" % index, {"start": {"type": "Log", "message": "ran"}}, exp, nbf)
                done = subprocess.run([PROGRAM, "--workflow=" + peer.root + "t%d.jws" % index, "--config=" + CONFIG],
                                      capture_output=True, text=True, timeout=90)
                if done.returncode != 1 or words not in done.stderr:
                    fail("exp %s nbf %s: exit %d, %r" % (exp, nbf, done.returncode, done.stderr))
        finally:
            peer.close()


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
