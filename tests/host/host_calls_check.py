#!/usr/bin/python3
"""What a page's calls into the host do through the built program: settings
two hosts write at once, the settings store it cannot read, files it names
that are not regular files, what a launched process may write, the memory
of released objects and the registry views it may name.

Usage: host_calls_check.py <program> <case>
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import json
import os
import plistlib
import subprocess
import sys
import tempfile

PROGRAM, CASE = sys.argv[1], sys.argv[2]
LOG = "start:\n  type: Log\n  message: hi\n"


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def start(directory, page, env=None, document=LOG, prefix=(), program=PROGRAM, name="p.js"):
    """Starts the host on a page; the caller collects it with finish()."""
    workflow = write(directory, "w.yaml", document)
    return subprocess.Popen(list(prefix) + [program, "--workflow=" + workflow,
                                            "--script=" + write(directory, name, page), "--disablesecurity",
                                            "--window"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=directory,
                            env=dict(os.environ, **(env or {})))


def finish(host, timeout=120):
    try:
        out, err = host.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        host.kill()
        host.communicate()
        fail("the host did not end within %d s" % timeout)
    lines = [line for line in out.splitlines() if line.strip()]
    value = None
    if lines:
        try:
            value = json.loads(lines[-1])
        except ValueError:
            value = None
    return host.returncode, value, out, err


def run(directory, page, **options):
    return finish(start(directory, page, **options))


SETTER = """
var registry = TQX.create('TQX.Registry'), answered = 0;
for (var i = 0; i < 100; i++)
  if (TQX.call(registry, 'setString', {view: 'default', security: 'default', type: 'user', key: 'Software\\\\Probe',
                                       name: '%s' + i, value: 'v' + i}) === true) answered++;
print('answered=' + answered);
"""


def case_registry_two_hosts():
    # Two hosts write disjoint names under one key at once: every value a
    # call answered true for is in the store afterwards.
    with tempfile.TemporaryDirectory() as directory:
        env = {"XDG_CONFIG_HOME": os.path.join(directory, "config")}
        for round in range(3):
            hosts = []
            for prefix in ("a", "b"):
                folder = os.path.join(directory, "%s%d" % (prefix, round))
                os.mkdir(folder)
                hosts.append(start(folder, SETTER % prefix, env=env))
            for host in hosts:
                code, value, out, _ = finish(host)
                check(code == 0 and value["successful"] is True, "exit %d %s" % (code, out[-400:]))
                check("Script - answered=100" in out, [l for l in out.splitlines() if "Script" in l or "ERROR" in l or "Unable" in l])
            with open(os.path.join(directory, "config", "velmarsh.plist"), "rb") as f:
                stored = plistlib.load(f)["Software"]["Probe"]
            missing = ["%s%d" % (p, i) for p in "ab" for i in range(100) if "%s%d" % (p, i) not in stored]
            check(not missing, "round %d lost %d values, first %s" % (round, len(missing), missing[:3]))
            os.remove(os.path.join(directory, "config", "velmarsh.plist"))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
