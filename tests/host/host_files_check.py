#!/usr/bin/python3
"""Where the built program writes files that a user or a document names: logs,
temporary folders and pipes, as one local user against another.

Usage: host_files_check.py <program> <case>
The victim is user 65534 (root where the case says so), the attacker user
65533; the program is a copy every user may run.
log_places: a log folder or file another user could reach is not written,
and stderr says why, once; one of the user's own is.
log_elevated: a root worker whose arguments name another user's log folder
writes nothing there, and says why; it logs into a folder of root's.
no_token: an elevated hand-over of the victim's, logged at the most verbose
level, once when it succeeds and once when the worker's token is refused,
writes no end point's token into either log.
temp_above: a TMPDIR that another user can move (a folder above it open to
them, or named through a link and ".") is not used: no pipe lands there.
stale_pipe: a pipe replaces only a stale FIFO of the user's own; another
file at its name stays, and the pipe does not open.
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import json
import os
import re
import shutil
import stat
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


def read(path):
    with open(path, errors="replace") as handle:
        return handle.read()


def run(directory, uid, switches, document="start:\n  type: Log\n  message: ran\n", env=None, timeout=90):
    workflow = write(os.path.join(directory, "w%d.yaml" % len(os.listdir(directory))), document)
    environment = dict(os.environ, **(env or {}))
    environment.pop("VELMARSH_ELEVATED", None)
    done = subprocess.run(as_user(uid) + [PROGRAM, "--workflow=" + workflow, "--disablesecurity"] + switches,
                          capture_output=True, text=True, timeout=timeout, cwd=directory, env=environment,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr


def case_log_places(directory):
    victim = folder(os.path.join(directory, "victim"), 0o755, VICTIM)
    planted = "the attacker's own bytes\n"
    # name: (the folder's owner and mode, the file's owner and mode, why there is no log)
    cases = {"attacker": (ATTACKER, 0o777, ATTACKER, 0o666, "its folder belongs to another user"),
             "open": (VICTIM, 0o777, ATTACKER, 0o666, "other users may write in its folder"),
             "linked": (VICTIM, 0o700, VICTIM, 0o600, "its folder is a symbolic link"),
             "theirs": (VICTIM, 0o755, ATTACKER, 0o666, "the file belongs to another user"),
             "twice": (VICTIM, 0o755, VICTIM, 0o600, "the file has other links"),
             "own": (VICTIM, 0o700, VICTIM, 0o600, None)}
    for name, (owner, mode, file_owner, file_mode, reason) in cases.items():
        place = os.path.join(victim, name)
        # "linked": the victim's own folder, reached through another user's link.
        real = folder(place + ("-real" if name == "linked" else ""), mode, owner)
        kept = write(os.path.join(real, "host.developer.log"), planted, file_mode, file_owner)
        if name == "linked":
            os.symlink(real, place)
            os.lchown(place, ATTACKER, ATTACKER)
        elif name == "twice":  # a second name of the victim's file elsewhere
            os.link(kept, os.path.join(victim, "second-name"))
        code, _, err = run(directory, VICTIM, ["--debug", "--debugdir=" + place])
        check(code == 0, "%s: the run failed: %d %s" % (name, code, err))
        told = [line for line in err.splitlines() if line.startswith("Unable to open log file")]
        if reason is None:
            check(not told, "%s: %s" % (name, told))
            log = read(kept)
            check(planted not in log and "ran" in log, "%s: the own log was not written anew: %r" % (name, log[:200]))
        else:
            check(told == ["Unable to open log file (%s/host.developer.log): %s" % (place, reason)],
                  "%s: %s" % (name, err))
            check(read(kept) == planted, "%s: the log went into the planted file" % name)


def elevator(directory, handed="", refuse=False):
    """A stand-in of the elevator that runs the worker as its own user. It
    keeps the URL the parent hands over in the file handed; with refuse it
    first takes the parent's token with a subscription of its own (which the
    worker inherits), so that the parent refuses the worker's."""
    return write(os.path.join(directory, "elevator"), """#!/usr/bin/python3
import os, re, socket, sys
argv = sys.argv[1:]
path = [each.split("=", 1)[1].strip('"') for each in argv if each.startswith("--wfendpoint=")][0]
url = open(path).read().strip()
if %r:
    open(%r, "w").write(url)
if %r:
    port, token = re.match(r"http://127\\.0\\.0\\.1:(\\d+)/(\\w+)", url).groups()
    peer = socket.create_connection(("127.0.0.1", int(port)))
    peer.sendall(b"GET /%%s HTTP/1.1\\r\\nEndPoint-ID: 0123456789abcdef0123456789abcdef\\r\\n\\r\\n" %% token.encode())
    peer.settimeout(30)
    peer.recv(12)
    os.set_inheritable(peer.fileno(), True)
os.execve(argv[0], argv, dict(os.environ, VELMARSH_ELEVATED="1"))
""" % (handed, handed, refuse), 0o755)


def elevated_parent(directory, worker_switches):
    return write(os.path.join(directory, "parent.yaml"),
                 "start:\n  type: WorkflowRun\n  url: 'file://{workflowDirectory}/child.yaml'\n  elevated: true\n"
                 "  arguments: '--disablesecurity %s'\n" % worker_switches)


def start_elevated(directory, parent_switches):
    """The victim's parent of an elevated run, through the elevator in directory."""
    environment = dict(os.environ, VELMARSH_ELEVATOR=os.path.join(directory, "elevator"))
    environment.pop("VELMARSH_ELEVATED", None)
    return subprocess.Popen(as_user(VICTIM) + [PROGRAM, "--workflow=" + os.path.join(directory, "parent.yaml"),
                                               "--disablesecurity"] + parent_switches,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=directory,
                            env=environment, stdin=subprocess.DEVNULL)


def case_log_elevated(directory):
    # The elevator hands the worker's command line to this script, which
    # runs it as root (a setuid elevator would) and hands back its end.
    hand = folder(os.path.join(directory, "hand"), 0o700, VICTIM)
    # Its command is "/bin/sh -c 'echo $$; exec "$@"' '' <worker...>": the
    # first line the elevator prints is the worker's id.
    write(os.path.join(directory, "elevator"), """#!/usr/bin/python3
import json, os, sys, time
hand = lambda name: os.path.join(%r, name)
with open(hand("part"), "w") as handle:
    json.dump(sys.argv[5:], handle)
os.rename(hand("part"), hand("argv"))
while not os.path.exists(hand("ended")):
    if os.path.exists(hand("pid")) and not os.path.exists(hand("told")):
        print(open(hand("pid")).read(), flush=True)
        open(hand("told"), "w").close()
    time.sleep(0.02)
sys.exit(int(open(hand("ended")).read()))
""" % hand, 0o755)
    write(os.path.join(directory, "child.yaml"), "start:\n  type: Log\n  message: worker ran\n")
    planted = "the attacker's own bytes\n"
    wlogs = folder(os.path.join(directory, "wlogs"), 0o777, ATTACKER)
    kept = write(os.path.join(wlogs, "host.developer.elevated.log"), planted, 0o666, ATTACKER)
    own = os.path.join(directory, "root-logs")
    logs = folder(os.path.join(directory, "parent-logs"), 0o700, VICTIM)
    for place in (own, wlogs):
        for name in ("argv", "pid", "told", "ended"):
            if os.path.exists(os.path.join(hand, name)):
                os.unlink(os.path.join(hand, name))
        elevated_parent(directory, "--debug --debugdir=%s" % place)
        parent = start_elevated(directory, ["--debug", "--debugdir=" + logs])
        try:
            for _ in range(1200):
                if os.path.exists(os.path.join(hand, "argv")) or parent.poll() is not None:
                    break
                time.sleep(0.05)
            if not os.path.exists(os.path.join(hand, "argv")):
                fail("the elevator was never asked: %s" % (parent.communicate(),))
            # As pkexec would: root, with the launching user named.
            worker = subprocess.Popen(json.load(open(os.path.join(hand, "argv"))), cwd=directory,
                                      env=dict(os.environ, VELMARSH_ELEVATED="1", PKEXEC_UID=str(VICTIM)),
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                      text=True)
            write(os.path.join(hand, "pid"), str(worker.pid))
            worker_err = worker.communicate(timeout=120)[1]
            write(os.path.join(hand, "ended"), str(worker.returncode))
            out, err = parent.communicate(timeout=120)
        finally:
            if parent.poll() is None:
                parent.kill()
        check(parent.returncode == 0,
              "the elevated run failed: %d %s %s %s" % (parent.returncode, out[-500:], err, worker_err))
        made = os.path.join(place, "host.developer.elevated.log")
        if place == wlogs:
            check(read(kept) == planted, "the root worker wrote its log into the attacker's file")
            check(worker_err.count("Unable to open log file (%s): its folder belongs to another user" % made) == 1,
                  "the worker did not say why it writes no log: %s" % worker_err)
        else:
            check("worker ran" in read(made) and os.stat(made).st_uid == 0, "the root worker's own log is not there")


# A loopback URL whose last segment is anything but the "..." shown in its place.
TOKEN_URL = re.compile(r"127\.0\.0\.1:\d+/(?!\.\.\.)[A-Za-z0-9]+")


def case_no_token(directory):
    write(os.path.join(directory, "child.yaml"), "start:\n  type: Log\n  message: worker ran\n")
    loud = "--debug=DEBUG --verbose=9*"
    for name in ("taken", "refused"):
        place = folder(os.path.join(directory, name), 0o700, VICTIM)
        logs = [folder(os.path.join(place, "parent-logs"), 0o700, VICTIM), os.path.join(place, "worker-logs")]
        handed = os.path.join(place, "handed")
        elevator(directory, handed, name == "refused")
        elevated_parent(directory, "%s --debugdir=%s" % (loud, logs[1]))
        parent = start_elevated(directory, loud.split() + ["--debugdir=" + logs[0]])
        try:
            out, err = parent.communicate(timeout=120)
        finally:
            if parent.poll() is None:
                parent.kill()
        code = parent.returncode
        check((code == 0) == (name == "taken"), "%s: the run ended %d: %s %s" % (name, code, out[-500:], err))
        token = re.match(r"http://127\.0\.0\.1:\d+/(\w+)", read(handed)).group(1)
        texts = {}
        for each in logs:
            for root, _, names in os.walk(each):
                for file in names:
                    texts[os.path.join(root, file)] = read(os.path.join(root, file))
        both = "\n".join(texts.values())
        check("Added endpoint" in both and len(texts) == 2, "%s: the logs are not both there: %s" % (name, list(texts)))
        if name == "refused":
            check("Response status 403 (http://127.0.0.1:" in both, "%s: the worker's refusal is not logged" % name)
        for path, text in texts.items():
            check(token not in text, "%s: the parent's token is in %s" % (name, path))
            check(not TOKEN_URL.search(text), "%s: %s shows a token: %s" % (name, path, TOKEN_URL.findall(text)))


# A page that starts the pipes its argument names and prints each answer.
PIPES = """
%s.forEach(function (name) {
  var pipe = TQX.create('TQX.Pipe');
  TQX.call(pipe, 'setName', {name: name});
  print('pipe ' + name + ' ' + TQX.call(pipe, 'start', {}));
});
"""


def run_pipes(directory, uid, names, env):
    page = write(os.path.join(directory, "p%d.js" % len(os.listdir(directory))), PIPES % repr(names))
    return run(directory, uid, ["--script=" + page, "--window", "--debug"], env=env)


def case_temp_above(directory):
    att = folder(os.path.join(directory, "att"), 0o777, ATTACKER)
    moved = folder(os.path.join(att, "own"), 0o700, VICTIM)
    victim = folder(os.path.join(directory, "victim"), 0o755, VICTIM)
    safe = folder(os.path.join(victim, "safe"), 0o700, VICTIM)
    runtime = folder(os.path.join(victim, "run"), 0o700, VICTIM)
    opened = folder(os.path.join(victim, "open"), 0o777, VICTIM)
    below = folder(os.path.join(opened, "own"), 0o700, VICTIM)
    os.symlink(moved, os.path.join(victim, "link"))
    os.lchown(os.path.join(victim, "link"), VICTIM, VICTIM)
    cases = [(moved, "the folder above it %s belongs to another user" % att),
             (below, "other users may write in the folder above it " + opened),
             (os.path.join(victim, "link") + "/.", 'it names "." or ".."'),
             (safe, None)]
    for index, (tmpdir, reason) in enumerate(cases):
        names = ["p%d-%d" % (index, each) for each in range(5)]
        code, out, err = run_pipes(directory, VICTIM, names, {"TMPDIR": tmpdir, "XDG_RUNTIME_DIR": runtime,
                                                               "HOME": victim})
        check(code == 0, "%s: the run failed: %d %s" % (tmpdir, code, err))
        check(all(("Script - pipe %s true" % name) in out for name in names), "%s: %s" % (tmpdir, out[-1500:]))
        told = [line for line in err.splitlines() if "is not used for temporary files" in line]
        if reason is None:
            check(not told, "%s: %s" % (tmpdir, told))
        else:
            check(len(told) == 1 and told[0].endswith("TMPDIR=%s is not used for temporary files: %s" %
                                                      (tmpdir, reason)), "%s: %s" % (tmpdir, err))
        for each in (moved, below):
            check(not os.listdir(each), "pipes landed in a folder another user can move: %s" % os.listdir(each))


def case_stale_pipe(directory):
    temp = folder(os.path.join(directory, "temp"))
    write(os.path.join(temp, "plain"), "root's own file\n", 0o600)
    os.mkfifo(os.path.join(temp, "theirs"), 0o600)
    os.chown(os.path.join(temp, "theirs"), VICTIM, VICTIM)
    os.mkfifo(os.path.join(temp, "stale"), 0o600)
    logs = folder(os.path.join(directory, "logs"))
    code, out, err = run(directory, 0, ["--script=" + write(os.path.join(directory, "p.js"),
                                                            PIPES % "['plain', 'theirs', 'stale']"),
                                        "--window", "--debug", "--debugdir=" + logs],
                         env={"TMPDIR": temp})
    check(code == 0, "the run failed: %d %s" % (code, err))
    for name, answer in (("plain", "false"), ("theirs", "false"), ("stale", "true")):
        check(("Script - pipe %s %s" % (name, answer)) in out, "%s: %s" % (name, out[-1500:]))
    check(read(os.path.join(temp, "plain")) == "root's own file\n", "the file at a pipe's name was replaced")
    status = os.lstat(os.path.join(temp, "theirs"))
    check(stat.S_ISFIFO(status.st_mode) and status.st_uid == VICTIM, "another user's FIFO was replaced")
    log = read(os.path.join(logs, "host.developer.log"))
    for name, why in (("plain", "a file that is not a FIFO"), ("theirs", "another user's FIFO")):
        check("Unable to open pipe (%s/%s): %s is in the way" % (temp, name, why) in log,
              "%s: %s" % (name, log[-2000:]))


def main():
    if os.geteuid() != 0:
        fail("playing other users needs root")
    directory = tempfile.mkdtemp(prefix="host_files_")
    os.chmod(directory, 0o755)
    try:
        globals()["case_" + CASE](directory)
    finally:
        if not os.environ.get("HOST_FILES_KEEP"):
            shutil.rmtree(directory, ignore_errors=True)


main()
