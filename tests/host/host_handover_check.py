#!/usr/bin/python3
"""The elevated hand-over against another local user, end to end.

Usage: host_handover_check.py <program> <case>
The parent runs as user 65534 a document whose "start" is an elevated
WorkflowRun; the elevator stand-in is this script ("elevator" mode), which
does the case's part before it runs the worker marked elevated. The
attacker runs as user 65533.
secret: an attacker polls every process's command line and environment
during the hand-over and must find no end-point URL.
port_taken: the parent dies while the elevation is pending and the attacker,
given the URL, listens on its port: the worker must not subscribe to it.
stolen_token: the attacker, given the URL, subscribes first: it is refused,
and the real worker's run still succeeds.
Exit status 0 when the case holds.
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PARENT = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
ATTACKER = ["setpriv", "--reuid=65533", "--regid=65533", "--clear-groups", "--", "/usr/bin/python3"]
SELF = os.path.abspath(__file__)
URL = re.compile(rb"127\.0\.0\.1:\d+/[A-Za-z0-9]+")


def fail(reason):
    sys.stderr.write("%s\n" % reason)
    sys.exit(1)


def wait_for(predicate, seconds=30):
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def handed_url(argv):
    """The URL the parent hands over: the switch's value, or the file it names."""
    for field in argv:
        if field.startswith("--wfendpoint="):
            value = field.split("=", 1)[1].strip('"')
            return open(value).read().strip() if value.startswith("/") else value
    return ""


def elevator():
    directory, case, argv = os.environ["HANDOVER_DIR"], os.environ["HANDOVER_CASE"], sys.argv[2:]
    mark = lambda name: open(os.path.join(directory, name), "w").close()
    # The parent waits for the id of what it launched: it gets this one's at
    # once, so its loop runs on while this "prompt" lasts.
    os.write(1, b"%d\n" % os.getpid())
    if case == "secret":
        mark("launched")
        wait_for(lambda: os.path.exists(os.path.join(directory, "go")))
    else:  # the URL goes to the test, which hands it to the attacker
        with open(os.path.join(directory, "url"), "w") as handle:
            handle.write(handed_url(argv))
        wait_for(lambda: os.path.exists(os.path.join(directory, "go")), 60)
    if case == "port_taken":
        # The worker would end with its dead parent before reaching the port:
        # this elevator, which lives on, stands in as the parent, so only the
        # listener's owner keeps the worker from the attacker.
        stat = open("/proc/self/stat").read()
        start = stat[stat.rindex(")") + 2:].split()[19]
        argv = [("--wfparent=%d.%s" % (os.getpid(), start)) if field.startswith("--wfparent=") else field
                for field in argv]
    pid = os.fork()
    if pid == 0:
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        os.execve(argv[0], argv, dict(os.environ, VELMARSH_ELEVATED="1"))
    os.waitpid(pid, 0)
    mark("worker-ended")


def attacker(mode, *rest):
    if mode == "scan":  # every command line and environment it may read
        directory, found, passes = rest[0], set(), 0
        while not os.path.exists(os.path.join(directory, "stop")):
            for pid in filter(str.isdigit, os.listdir("/proc")):
                text = b""
                for name in ("cmdline", "environ"):
                    try:
                        text += open("/proc/%s/%s" % (pid, name), "rb").read()
                    except OSError:
                        pass
                if directory.encode() in text:  # a process of this run, not of another test
                    found.update(match.decode() for match in URL.findall(text))
            passes += 1
            if passes == 20 and os.path.exists(os.path.join(directory, "launched")):
                open(os.path.join(directory, "go"), "w").close()
        print(json.dumps(sorted(found)))
    elif mode == "subscribe":  # with a token it was handed
        url, directory = rest
        host, port, token = re.match(r"http://(127\.0\.0\.1):(\d+)/(\w+)", url).groups()
        peer = socket.create_connection((host, int(port)))
        peer.sendall(b"GET /%s HTTP/1.1\r\nEndPoint-ID: 0123456789abcdef0123456789abcdef\r\n\r\n" % token.encode())
        peer.settimeout(20)
        with open(os.path.join(directory, "attacker"), "w") as handle:
            handle.write(peer.recv(12).decode(errors="replace"))
    elif mode == "listen":  # on the port of a parent gone
        port, directory = int(rest[0]), rest[1]
        deadline = time.monotonic() + 10
        while True:  # another connection's ephemeral end may hold it a moment
            listener = socket.socket()
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                listener.bind(("127.0.0.1", port))
                break
            except OSError:
                listener.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        listener.listen(1)
        listener.settimeout(60)
        open(os.path.join(directory, "listening"), "w").close()
        peer = listener.accept()[0]
        peer.settimeout(60)
        request = peer.recv(4096)
        with open(os.path.join(directory, "attacker"), "w") as handle:
            handle.write(repr(request[:40]))


def run_parent(program, case, directory):
    write = lambda name, text: open(os.path.join(directory, name), "w").write(text)
    write("child.yaml", "start:\n  type: Log\n  message: worker ran\n")
    write("parent.yaml", "start:\n  type: WorkflowRun\n  url: 'file://{workflowDirectory}/child.yaml'\n"
          "  elevated: true\n  arguments: '--disablesecurity --debug --debugdir=%s/worker-logs'\n" % directory)
    write("elevator", "#!/bin/sh\nexec /usr/bin/python3 %s elevator \"$@\"\n" % SELF)
    os.chmod(os.path.join(directory, "elevator"), 0o755)
    environment = dict(os.environ, VELMARSH_ELEVATOR=os.path.join(directory, "elevator"), HANDOVER_DIR=directory,
                       HANDOVER_CASE=case)
    environment.pop("VELMARSH_ELEVATED", None)
    out = open(os.path.join(directory, "out"), "w")
    return subprocess.Popen(PARENT + [program, "--workflow=" + os.path.join(directory, "parent.yaml"), "--disablesecurity",
                             "--debug", "--debugdir=" + os.path.join(directory, "parent-logs")],
                            cwd=directory, stdout=out, stderr=open(os.path.join(directory, "err"), "w"), stdin=subprocess.DEVNULL,
                            env=environment)


def read_logs(directory, name):
    return "\n".join(open(os.path.join(root, each), errors="replace").read()
                     for root, _, names in os.walk(os.path.join(directory, name)) for each in names)


def summary(directory):
    lines = [line for line in open(os.path.join(directory, "out")).read().splitlines() if line.strip()]
    return json.loads(lines[-1]) if lines else {}


def finish(parent):
    try:
        return parent.wait(timeout=90)
    except subprocess.TimeoutExpired:
        parent.kill()
        fail("the parent did not end")


def main(program, case):
    global SELF
    directory = tempfile.mkdtemp(prefix="host_handover_")
    os.chmod(directory, 0o777)
    # A copy every user may run (the attacker runs it as 65534).
    SELF = shutil.copy(SELF, os.path.join(directory, "check.py"))
    os.chmod(SELF, 0o755)
    exists = lambda name: os.path.exists(os.path.join(directory, name))
    try:
        if case == "secret":
            scan = subprocess.Popen(ATTACKER + [SELF, "-", "scan", directory], stdout=subprocess.PIPE, text=True)
            parent = run_parent(program, case, directory)
            code = finish(parent)
            open(os.path.join(directory, "stop"), "w").close()
            found = json.loads(scan.communicate(timeout=30)[0])
            if found:
                fail("another user read the hand-over URL: %s" % found)
            if code != 0 or not summary(directory).get("successful"):
                fail("the elevated run failed: %d %s" % (code, summary(directory)))
        elif case == "port_taken":
            parent = run_parent(program, case, directory)
            if not wait_for(lambda: exists("url")):
                fail("the worker was never launched")
            port = re.search(r":(\d+)/", open(os.path.join(directory, "url")).read()).group(1)
            parent.send_signal(signal.SIGKILL)
            parent.wait()
            listener = subprocess.Popen(ATTACKER + [SELF, "-", "listen", port, directory])
            if not wait_for(lambda: exists("listening")):
                fail("the attacker could not take the port")
            open(os.path.join(directory, "go"), "w").close()
            if not wait_for(lambda: exists("worker-ended") or exists("attacker"), 60):
                fail("the worker neither ended nor reached the attacker")
            wait_for(lambda: exists("worker-ended"), 60)
            listener.kill()
            listener.wait()
            got = open(os.path.join(directory, "attacker")).read() if exists("attacker") else "b''"
            log = read_logs(directory, "worker-logs")
            if got != "b''":
                fail("the worker sent the attacker %s" % got)
            if log.count("its listener is not of user") != 1 or "Trigger workflow" in log:
                fail("the worker's refusal is not logged once, or it ran something")
        elif case == "stolen_token":
            parent = run_parent(program, case, directory)
            if not wait_for(lambda: exists("url")):
                fail("the worker was never launched")
            subprocess.run(ATTACKER + [SELF, "-", "subscribe", open(os.path.join(directory, "url")).read(), directory])
            open(os.path.join(directory, "go"), "w").close()
            code = finish(parent)
            got = open(os.path.join(directory, "attacker")).read() if exists("attacker") else ""
            if got != "HTTP/1.1 403":
                fail("the attacker's subscription got %r" % got)
            if code != 0 or not summary(directory).get("successful"):
                fail("the real worker's run failed: %d %s" % (code, summary(directory)))
            if read_logs(directory, "parent-logs").count("its socket is not of user") != 1:
                fail("the refusal is not logged once")
    finally:
        shutil.rmtree(directory, ignore_errors=True)


if sys.argv[1] == "elevator":
    elevator()
elif sys.argv[1] == "-":
    attacker(*sys.argv[2:])
else:
    main(os.path.abspath(sys.argv[1]), sys.argv[2])
