#!/usr/bin/python3
"""What another local user can reach of a run of the built program: the
files it removes at names a user or a document gives.

Usage: host_reach_check.py <program> <case>
The victim is user 65534, the attacker user 65533; the program is a copy
every user may run.
log_expiry: per-day logs that expire (--perday --maxdays) go only from a log
folder the log itself may use: a name in a shared folder that the attacker
made a link to the victim's own log folder, or the attacker's own folder,
loses no file.
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
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
    # The victim's own folder named as it is: the old log there expires.
    code, _, err = run(directory, VICTIM, ["--debug", "--perday", "--maxdays=0", "--debugdir=" + own])
    check(code == 0 and not os.path.exists(kept[own]), "the own folder's old log did not expire: %d %s" % (code, err))


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
