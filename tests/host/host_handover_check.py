#!/usr/bin/python3
"""The elevated hand-over against another local user, end to end.

Usage: host_handover_check.py <program> <case>
The parent runs as user 65534 a document whose "start" is an elevated
WorkflowRun; the elevator stand-in is this script ("elevator" mode), which
does the case's part before it runs the worker marked elevated. The
attacker runs as user 65533.
secret: an attacker polls every process's command line and environment
during the hand-over and must find no end-point URL, nor the run's
arguments, which still reach the worker.
port_taken: the parent dies while the elevation is pending and the attacker,
given the URL, listens on its port: the worker must not subscribe to it.
stolen_token: the attacker, given the URL, subscribes first: it is refused
and the token withdrawn, so the real worker is refused too: the run fails
with one hand-over reason.
v6only: the attacker listens on [::] with IPV6_V6ONLY on the parent's port
and, while the parent is stopped, on the worker's: neither listener can take
an IPv4 connection, and the run succeeds.
planted_link: once the worker has removed the hand-over folder, the attacker
puts a link at its name to a folder of the parent's user: the parent's
clean-up removes nothing there.
planted_names: 30,000 names like the hand-over folder's of the attacker's:
the parent (under strace) reads /proc for none, touches at most 4,096.
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
URL = re.compile(rb"127\.0\.0\.1:\d+/[A-Za-z0-9]+|hunter2-S3cret")


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


def write_whole(path, text):
    """Writes a file others poll for: it appears with all its text at once."""
    with open(path + ".part", "w") as handle:
        handle.write(text)
    os.rename(path + ".part", path)


def handed_path(argv):
    for field in argv:
        if field.startswith("--wfendpoint="):
            return field.split("=", 1)[1].strip('"')
    return ""


def handed_url(argv):
    """The URL the parent hands over: the switch's value, or the file it names."""
    value = handed_path(argv)
    return open(value).read().strip() if value.startswith("/") else value


def ends_of(directory):
    """Processes of this run (their command lines name its folder), but this one."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if directory.encode() in open("/proc/%s/cmdline" % pid, "rb").read() and int(pid) != os.getpid():
                found.append(int(pid))
        except OSError:
            pass
    return found


def end_all(directory):
    """Ends every process of the run and waits until none is left, so that
    nothing writes into the folder once it is removed."""
    while True:
        left = ends_of(directory)
        if not left:
            return
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.02)


def listening_port(pid):
    """The IPv4 loopback port the process listens on."""
    inodes = set()
    try:
        names = os.listdir("/proc/%d/fd" % pid)
    except OSError:  # it has ended
        return 0
    for name in names:
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, name))
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    for line in open("/proc/net/tcp").readlines()[1:]:
        fields = line.split()
        if fields[3] == "0A" and fields[9] in inodes and fields[1].startswith("0100007F:"):
            return int(fields[1].split(":")[1], 16)
    return 0


def elevator():
    directory, case, argv = os.environ["HANDOVER_DIR"], os.environ["HANDOVER_CASE"], sys.argv[2:]
    mark = lambda name: open(os.path.join(directory, name), "w").close()
    if case == "secret":
        mark("launched")
        wait_for(lambda: os.path.exists(os.path.join(directory, "go")))
    else:  # the URL goes to the test, which hands it to the attacker
        write_whole(os.path.join(directory, "path"), handed_path(argv))
        write_whole(os.path.join(directory, "url"), handed_url(argv))
        wait_for(lambda: os.path.exists(os.path.join(directory, "go")), 60)
    if case == "port_taken":
        # The worker would end with its dead parent before reaching the port:
        # this elevator, which lives on, stands in as the parent, so only the
        # listener's owner keeps the worker from the attacker.
        stat = open("/proc/self/stat").read()
        start = stat[stat.rindex(")") + 2:].split()[19]
        argv = [("--wfparent=%d.%s" % (os.getpid(), start)) if field.startswith("--wfparent=") else field
                for field in argv]
    # Like a real elevator, the id line comes once the "prompt" is answered;
    # the parent's hand-over is bounded from then on.
    try:
        os.write(1, b"%d\n" % os.getpid())
    except BrokenPipeError:  # the parent is gone (port_taken)
        pass
    pid = os.fork()
    if pid == 0:
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        os.execve(argv[0], argv, dict(os.environ, VELMARSH_ELEVATED="1"))
    write_whole(os.path.join(directory, "worker"), str(pid))
    os.waitpid(pid, 0)
    mark("worker-ended")


def attacker(mode, *rest):
    if mode == "scan":  # every command line and environment it may read
        directory, found, passes = rest[0], set(), 0
        while not os.path.exists(os.path.join(directory, "stop")):
            # Only whole passes made while the elevator waits count.
            launched = os.path.exists(os.path.join(directory, "launched"))
            for pid in filter(str.isdigit, os.listdir("/proc")):
                text = b""
                for name in ("cmdline", "environ"):
                    try:
                        text += open("/proc/%s/%s" % (pid, name), "rb").read()
                    except OSError:
                        pass
                if directory.encode() in text:  # a process of this run, not of another test
                    found.update(match.decode() for match in URL.findall(text))
            passes += launched
            if passes == 20:
                open(os.path.join(directory, "go"), "w").close()
        print(json.dumps(sorted(found)))
    elif mode == "subscribe":  # with a token it was handed
        url, directory = rest
        host, port, token = re.match(r"http://(127\.0\.0\.1):(\d+)/(\w+)", url).groups()
        peer = socket.create_connection((host, int(port)))
        peer.sendall(b"GET /%s HTTP/1.1\r\nEndPoint-ID: 0123456789abcdef0123456789abcdef\r\n\r\n" % token.encode())
        peer.settimeout(20)
        write_whole(os.path.join(directory, "attacker"), peer.recv(12).decode(errors="replace"))
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
        write_whole(os.path.join(directory, "attacker"), repr(request[:40]))
    elif mode == "v6only":  # listeners that can never take an IPv4 connection
        directory, ports = rest[0], rest[1:]
        held = []
        for port in ports:
            listener = socket.socket(socket.AF_INET6)
            listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
            listener.bind(("::", int(port)))
            listener.listen(1)
            held.append(listener)
        write_whole(os.path.join(directory, "listening-%s" % ports[-1]), "")
        wait_for(lambda: os.path.exists(os.path.join(directory, "stop")), 90)
    elif mode == "link":  # at a name the parent made, once it is free
        name, target = rest
        os.symlink(target, name)
    elif mode == "plant":  # names a dead parent of any user's could have left
        for index in range(30000):
            open(os.path.join(rest[0], "velmarsh-handover-%d.1-%06d" % (2000000000 + index, index)), "w").close()


def run_parent(program, case, directory):
    write = lambda name, text: open(os.path.join(directory, name), "w").write(text)
    write("child.yaml", "start:\n  type: Sleep\n  seconds: 2\n" if case == "planted_link" else
          "start:\n  type: Log\n  message: 'worker ran [{CommandLine:note}]'\n")
    write("parent.yaml", "start:\n  type: WorkflowRun\n  url: 'file://{workflowDirectory}/child.yaml'\n"
          "  elevated: true\n  arguments: '--note=hunter2-S3cret --disablesecurity --debug --debugdir=%s/worker-logs'\n"
          % directory)
    write("elevator", "#!/bin/sh\nexec /usr/bin/python3 %s elevator \"$@\"\n" % SELF)
    os.chmod(os.path.join(directory, "elevator"), 0o755)
    # A place of the run's own for the hand-over folder: a parent here that
    # is killed leaves a folder that another run's parent would remove.
    place = os.path.join(directory, "place")
    os.makedirs(place, exist_ok=True)
    os.chmod(place, 0o1777)
    environment = dict(os.environ, VELMARSH_ELEVATOR=os.path.join(directory, "elevator"), HANDOVER_DIR=directory,
                       HANDOVER_CASE=case, TMPDIR=place)
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
    global SELF, PARENT
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
            if "worker ran [hunter2-S3cret]" not in read_logs(directory, "worker-logs"):
                fail("the worker did not get the run's arguments")
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
            reasons = [each for each in summary(directory).get("errors", []) if each.startswith("the elevated worker")]
            if code != 1 or len(reasons) != 1:
                fail("the run with a withdrawn token: %d %s" % (code, summary(directory)))
            log = read_logs(directory, "parent-logs")
            if log.count("its socket is not of user 65534 or root - the token it presented is withdrawn") != 1:
                fail("the refusal is not logged once")
            if re.search(r"Refused subscription - /", log):
                fail("a refusal logs the token")
        elif case == "v6only":
            parent = run_parent(program, case, directory)
            if not wait_for(lambda: exists("url")):
                fail("the worker was never launched")
            port = re.search(r":(\d+)/", open(os.path.join(directory, "url")).read()).group(1)
            subprocess.Popen(ATTACKER + [SELF, "-", "v6only", directory, port])
            if not wait_for(lambda: exists("listening-" + port)):
                fail("the attacker could not listen beside the parent")
            # Stopped, the parent cannot subscribe back before the attacker
            # listens beside the worker too.
            parent.send_signal(signal.SIGSTOP)
            open(os.path.join(directory, "go"), "w").close()
            worker, mine = 0, 0
            if wait_for(lambda: exists("worker")):
                worker = int(open(os.path.join(directory, "worker")).read())
                wait_for(lambda: os.path.exists("/proc/%d" % worker) and listening_port(worker) or exists("worker-ended"))
                mine = str(listening_port(worker)) if os.path.exists("/proc/%d" % worker) else 0
            if mine:
                subprocess.Popen(ATTACKER + [SELF, "-", "v6only", directory, mine])
                wait_for(lambda: exists("listening-" + mine))
            parent.send_signal(signal.SIGCONT)
            code = finish(parent)
            if not mine or not exists("listening-" + mine):
                fail("the attacker could not listen beside the worker")
            if code != 0 or not summary(directory).get("successful"):
                fail("the run failed: %d %s" % (code, summary(directory)))
        elif case == "planted_link":
            # The worker runs long enough for the link to be planted while
            # the parent still waits.
            victim = os.path.join(directory, "victim")
            os.mkdir(victim, 0o700)
            write_whole(os.path.join(victim, "endpoint"), "the parent user's own file\n")
            shutil.chown(victim, 65534, 65534)
            shutil.chown(os.path.join(victim, "endpoint"), 65534, 65534)
            parent = run_parent(program, case, directory)
            if not wait_for(lambda: exists("path")):
                fail("the worker was never launched")
            folder = os.path.dirname(open(os.path.join(directory, "path")).read())
            open(os.path.join(directory, "go"), "w").close()
            if not wait_for(lambda: not os.path.lexists(folder)):
                fail("the worker did not remove the hand-over folder")
            subprocess.run(ATTACKER + [SELF, "-", "link", folder, victim], check=True)
            code = finish(parent)
            planted = os.path.islink(folder)
            if planted:
                os.unlink(folder)
            if not planted or not os.path.exists(os.path.join(victim, "endpoint")):
                fail("the parent's clean-up went through the link: the file is %s" %
                     ("there" if os.path.exists(os.path.join(victim, "endpoint")) else "gone"))
            if code != 0 or not summary(directory).get("successful"):
                fail("the run failed: %d %s" % (code, summary(directory)))
        elif case == "planted_names":
            os.mkdir(os.path.join(directory, "place"))
            os.chmod(os.path.join(directory, "place"), 0o1777)
            subprocess.run(ATTACKER + [SELF, "-", "plant", os.path.join(directory, "place")], check=True)
            open(os.path.join(directory, "go"), "w").close()
            PARENT = ["strace", "-fqqe", "trace=%file", "-o", SELF + ".s"] + PARENT
            os.environ["LSAN_OPTIONS"] = "detect_leaks=0"  # LeakSanitizer cannot work traced
            code = finish(run_parent(program, case, directory))
            text = open(SELF + ".s").read()
            read, touched = re.findall(r'/proc/2\d{9}/', text), set(re.findall(r'handover-2\d{9}\.1-\d{6}', text))
            if code != 0 or read or not 0 < len(touched) <= 4096:
                fail("exit %d; /proc read for %d planted names, %d touched" % (code, len(read), len(touched)))
    finally:
        open(os.path.join(directory, "stop"), "w").close()
        wait_for(lambda: not exists("go") or exists("worker-ended"), 10)
        end_all(directory)
        shutil.rmtree(directory, ignore_errors=True)


if sys.argv[1] == "elevator":
    elevator()
elif sys.argv[1] == "-":
    attacker(*sys.argv[2:])
else:
    main(os.path.abspath(sys.argv[1]), sys.argv[2])
