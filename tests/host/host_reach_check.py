#!/usr/bin/python3
"""What another local user can reach of a run of the built program: the
files it removes at names a user or a document gives.

Usage: host_reach_check.py <program> <case>
The victim is user 65534, the attacker user 65533; the program is a copy
every user may run.
log_expiry: per-day logs that expire (--perday --maxdays) go only from a log
folder the log itself may use: a name in a shared folder that the attacker
made a link to the victim's own log folder, or the attacker's own folder,
loses no file; a --maxdays that is no whole number of days removes nothing.
erase_swap: a root page erases a tree in which the attacker may write; while
it does, the attacker moves a folder of the tree away and puts a link to a
root-only folder at its name: nothing there goes.
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

PROGRAM, CASE = sys.argv[1], sys.argv[2]
VICTIM, ATTACKER = 65534, 65533


def as_user(uid):
    return ["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups", "--"] if uid else []


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def write(path, text, mode=0o644, owner=0):
    with open(path, "w") as handle:
        handle.write(text)
    os.chmod(path, mode)
    os.chown(path, owner, owner)
    return path


def folder(path, mode=0o700, owner=0):
    os.mkdir(path)
    os.chmod(path, mode)
    os.chown(path, owner, owner)
    return path


def run(directory, uid, switches, document="start:\n  type: Log\n  message: ran\n", env=None, timeout=90):
    workflow = write(os.path.join(directory, "w%d.yaml" % len(os.listdir(directory))), document)
    environment = dict(os.environ, **(env or {}))
    environment.pop("VELMARSH_ELEVATED", None)
    done = subprocess.run(as_user(uid) + [PROGRAM, "--workflow=" + workflow, "--disablesecurity"] + switches,
                          capture_output=True, text=True, timeout=timeout, cwd=directory, env=environment,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr


def case_log_expiry(directory):
    shared = folder(os.path.join(directory, "shared"), 0o1777)
    own = folder(os.path.join(directory, "own"), 0o700, VICTIM)
    theirs = folder(os.path.join(shared, "theirs"), 0o777, ATTACKER)
    old = "host.developer.01.01.2020.log"
    kept = {place: write(os.path.join(place, old), "an old log\n", 0o666, owner)
            for place, owner in ((own, VICTIM), (theirs, ATTACKER))}
    linked = os.path.join(shared, "linked")
    subprocess.run(as_user(ATTACKER) + ["/bin/ln", "-s", own, linked], check=True)
    # "--maxdays=0" expires a log made at least a whole second before the
    # run's end: the planted ones are made that old.
    made = time.time()
    while time.time() < made + 2.1:
        time.sleep(0.1)
    # name: (the folder named by --debugdir, the file it must keep)
    for name, (place, file) in {"linked": (linked, kept[own]), "theirs": (theirs, kept[theirs])}.items():
        code, _, err = run(directory, VICTIM, ["--debug", "--perday", "--maxdays=0", "--debugdir=" + place])
        check(code == 0, "%s: the run failed: %d %s" % (name, code, err))
        check(os.path.exists(file), "%s: expiry removed %s through a folder the log refused" % (name, file))
    # A number of days that is none removes nothing, and says so.
    for days in ("-1", "x", "1.5"):
        code, _, err = run(directory, VICTIM, ["--debug", "--perday", "--maxdays=" + days, "--debugdir=" + own])
        check(code == 0 and os.path.exists(kept[own]), "--maxdays=%s removed a log: %d %s" % (days, code, err))
        told = "--maxdays=%s is not a whole number of days: no log is removed" % days
        check(err.count(told) == 1 and len([name for name in os.listdir(own) if name != old]) >= 1,
              "--maxdays=%s: %s %s" % (days, err, os.listdir(own)))
    # The victim's own folder named as it is: the old log there expires.
    code, _, err = run(directory, VICTIM, ["--debug", "--perday", "--maxdays=0", "--debugdir=" + own])
    check(code == 0 and not os.path.exists(kept[own]), "the own folder's old log did not expire: %d %s" % (code, err))


# The attacker's part of erase_swap: once the erase has removed the first
# entry it lists in the folder (the walk lists in the same order), the folder
# is moved away and a link to the target put at its name.
SWAP = """
import os, sys
folder, target, ready = sys.argv[1:]
first = os.path.join(folder, os.listdir(folder)[0])
open(ready, "w").close()
while os.path.lexists(first):
    pass
os.rename(folder, folder + "-moved")
os.symlink(target, folder)
"""


def erase_round(directory, attempt, precious, count):
    """One erase by a root page of a tree the attacker swaps a folder of;
    false when the erase was through before the attacker could swap."""
    shared = folder(os.path.join(directory, "shared%d" % attempt), 0o1777)
    tree = folder(os.path.join(shared, "tree"), 0o777, ATTACKER)
    sub = folder(os.path.join(tree, "sub"), 0o777, ATTACKER)
    for index in range(count):
        write(os.path.join(sub, "f%d" % index), "", 0o666, ATTACKER)
    ready = os.path.join(shared, "ready")
    attacker = subprocess.Popen(as_user(ATTACKER) + ["/usr/bin/python3", "-c", SWAP, sub, precious, ready],
                                stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while not os.path.exists(ready) and attacker.poll() is None and time.monotonic() < deadline:
            time.sleep(0.01)
        check(os.path.exists(ready), "the attacker did not start")
        page = write(os.path.join(directory, "erase.js"),
                     "print('erased ' + TQX.call(TQX.create('TQX.FileSystem'), 'directoryErase', {path: %s}));\n"
                     % json.dumps(tree))
        code, out, err = run(directory, 0, ["--script=" + page, "--window"])
        check(code == 0 and "erased " in out, "the run failed: %d %s" % (code, err))
        attacker.wait(timeout=60)
    finally:
        if attacker.poll() is None:
            attacker.kill()
            attacker.wait()
    return os.path.islink(sub)


def case_erase_swap(directory):
    count = 5000
    precious = folder(os.path.join(directory, "precious"), 0o700)
    for index in range(count):
        write(os.path.join(precious, "f%d" % index), "root's own\n", 0o600)
    # The swap races the erase: a round it came too late for proves nothing.
    swapped = any(erase_round(directory, attempt, precious, count) for attempt in range(5))
    check(swapped, "the attacker never swapped the folder while the erase ran")
    left = len(os.listdir(precious))
    check(left == count, "the erase removed %d files of a root-only folder through the link" % (count - left))


def main():
    if os.geteuid() != 0:
        fail("playing other users needs root")
    directory = tempfile.mkdtemp(prefix="host_reach_")
    os.chmod(directory, 0o755)
    try:
        globals()["case_" + CASE](directory)
    finally:
        if not os.environ.get("HOST_REACH_KEEP"):
            shutil.rmtree(directory, ignore_errors=True)


main()
