#!/usr/bin/python3
"""The notification end point end to end through the built program.

Usage: host_worker_check.py <program> <case>
elevated: an unprivileged parent (setpriv, user 65534) runs a document whose
"start" is a WorkflowRun with "elevated": true. The parent launches the
worker through the elevator stand-in (a script that marks the worker
elevated for the platform layer and runs it), the worker subscribes back,
runs the nested document and reports.
hostile_peer: another local process finds a running host's end point and
asks it, with a wrong token, to subscribe to the process's own port.
signed_config: security on, signed documents and --config: the worker trusts
what the parent trusts, and the reason a worker refuses a document, or a
configuration that changed under it, reaches the parent's summary.
signal_at_handover: one SIGINT or SIGTERM right after the worker has taken
the run, or while the elevator still asks for the password, ends the parent
within 2 s with exit code 130, and the worker ends (or never starts).
not_elevated: an elevator that does not elevate: the run fails with a clear
error and is never handed on.
parent_killed: a parent killed before or after the hand-over: the worker
ends at once, unsuccessful, and runs nothing, also when only its dropped
connection tells it so.
worker_switches: a worker without its parent, or whose configuration is not
the one its parent read, refuses to start.
handover_deadline: a worker that never takes the run: the run fails once
the hand-over's time is up, says why, and the worker is ended.
handover_place: the hand-over folder goes only where no other user can
move it; a place that cannot be used fails the run with its reason; folders
of parents gone are removed.
endpoint_files: a worker given a file that is not a hand-over file reads,
logs and removes nothing.
Exit status 0 when the case holds.
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

PROGRAM, CASE = os.path.abspath(sys.argv[1]), sys.argv[2]
SIGNED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "signed_demo")
NOTE = 'two  words "quoted" x'


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def write(directory, name, text, mode=0o644):
    path = os.path.join(directory, name)
    with open(path, "w") as handle:
        handle.write(text)
    os.chmod(path, mode)
    return path


def processes_of(directory):
    """Processes whose command line names the folder (elevators, workers)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            line = open("/proc/%s/cmdline" % pid, "rb").read()
            state = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if directory.encode() in line and state != "Z" and int(pid) != os.getpid():
            found.append(int(pid))
    return found


def end_all(directory):
    """Ends what still runs for the folder and waits until it has, so that
    nothing writes into the folder once it is removed."""
    while processes_of(directory):
        for pid in processes_of(directory):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.02)


def case_elevated():
    directory = tempfile.mkdtemp(prefix="host_worker_")
    try:
        os.chmod(directory, 0o777)
        marks = os.path.join(directory, "marks")
        # The worker records its own end, after which the parent's must lie.
        elevator = write(directory, "elevator",
                         "#!/bin/sh\nVELMARSH_ELEVATED=1 \"$@\"\necho worker-ended $(date +%%s.%%N) >> %s\n" % marks,
                         0o755)
        write(directory, "child.yaml",
              "start:\n  type: Error\n  message: 'worker note=[{CommandLine:note}] elevated'\n")
        quoted = NOTE.replace('"', '""')
        write(directory, "parent.yaml",
              "start:\n  type: WorkflowRun\n  url: 'file://{workflowDirectory}/child.yaml'\n  elevated: true\n"
              "  arguments: '--note=\"%s\" --disablesecurity --debug --debugdir=%s/worker-logs'\n" % (quoted, directory))
        environment = dict(os.environ, VELMARSH_ELEVATOR=elevator)
        environment.pop("VELMARSH_ELEVATED", None)
        command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", PROGRAM,
                   "--workflow=" + os.path.join(directory, "parent.yaml"), "--disablesecurity", "--debug",
                   "--debugdir=" + os.path.join(directory, "parent-logs")]
        # The worker inherits no pipe of ours: its end is seen through the mark.
        with open(os.path.join(directory, "out"), "w") as out, open(os.path.join(directory, "err"), "w") as err:
            code = subprocess.run(command, cwd=directory, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                  timeout=90, env=environment).returncode
        done = subprocess.CompletedProcess(command, code, open(os.path.join(directory, "out")).read(),
                                           open(os.path.join(directory, "err")).read())
        parent_end = time.time()
        lines = [line for line in done.stdout.splitlines() if line.strip()]
        check(lines, "no output; stderr %r" % done.stderr[-2000:])
        try:
            result = json.loads(lines[-1])
        except ValueError:
            fail("last line is no JSON: %r" % lines[-1])
        # The parent completes with the worker's error, note intact.
        check(done.returncode == 1 and result["successful"] is False, "parent result %r" % result)
        wanted = "worker note=[%s] elevated" % NOTE
        check(any(wanted in error for error in result["errors"]), "errors %r lack %r" % (result["errors"], wanted))
        log = "\n".join(open(os.path.join(root, name), errors="replace").read()
                        for root, _, names in os.walk(os.path.join(directory, "parent-logs")) for name in names)
        # Statuses of the worker's tasks reached the parent as remote notifications.
        check("Launching as elevated" in log, "parent log lacks the launch")
        check("Incoming - Connected" in log and "Outgoing - Connected" in log, "parent log lacks the streams")
        check("Worker runs workflow - " in log and "Worker run completed" in log, "worker statuses did not arrive")
        # The worker ends after the parent.
        for _ in range(200):  # the line is whole once its newline is there
            if os.path.exists(marks) and open(marks).read().endswith("\n"):
                break
            time.sleep(0.1)
        check(os.path.exists(marks) and open(marks).read().endswith("\n"), "the worker did not end")
        ended = float(open(marks).read().split()[1])
        check(ended >= parent_end - 0.5, "worker ended %.2f s before the parent" % (parent_end - ended))
        worker_log = "\n".join(open(os.path.join(root, name), errors="replace").read()
                               for root, _, names in os.walk(os.path.join(directory, "worker-logs")) for name in names)
        check("Workflow worker started" in worker_log, "no worker log")
        check("Trigger workflow with parameters" in worker_log, "the worker ran no start request")
    finally:
        end_all(directory)
        shutil.rmtree(directory, ignore_errors=True)


def listening_port(pid):
    """The loopback port the process listens on, found as any local user can."""
    inodes = set()
    try:
        names = os.listdir("/proc/%d/fd" % pid)
    except FileNotFoundError:  # the process has ended
        return 0
    for name in names:
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, name))
        except FileNotFoundError:  # closed since the listing
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    for line in open("/proc/%d/net/tcp" % pid).readlines()[1:]:
        fields = line.split()
        if fields[3] == "0A" and fields[9] in inodes and fields[1].startswith("0100007F:"):
            return int(fields[1].split(":")[1], 16)
    return 0


def case_hostile_peer():
    directory = tempfile.mkdtemp(prefix="host_hostile_")
    try:
        path = write(directory, "sleep.yaml", "start:\n  type: Sleep\n  seconds: 3\n")
        logs = os.path.join(directory, "logs")
        # The hostile peer counts the connections that reach it.
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        arrived = []

        def serve():
            while True:
                try:
                    arrived.append(listener.accept()[0])
                except OSError:
                    return

        threading.Thread(target=serve, daemon=True).start()
        process = subprocess.Popen([PROGRAM, "--workflow=" + path, "--disablesecurity", "--debug",
                                    "--debugdir=" + logs], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        port = 0
        for _ in range(500):
            port = listening_port(process.pid)
            if port or process.poll() is not None:
                break
            time.sleep(0.01)
        check(port, "the host's end point never listened")
        hostile = socket.create_connection(("127.0.0.1", port))
        hostile.sendall(b"GET /wrongToken1 HTTP/1.1\r\nEndPoint-ID: 0123456789abcdef0123456789abcdef\r\n"
                        b"EndPoint-URL: http://127.0.0.1:%d/Evil1\r\n\r\n" % listener.getsockname()[1])
        hostile.settimeout(20)
        answer = hostile.recv(4096)
        hostile.close()
        check(answer.startswith(b"HTTP/1.1 403"), "answer %r" % answer[:60])
        out, err = process.communicate(timeout=60)
        listener.close()
        result = json.loads([line for line in out.splitlines() if line.strip()][-1])
        check(process.returncode == 0 and result["successful"] and result["errors"] == [],
              "exit %d %s %s" % (process.returncode, result, err[-500:]))
        check(not arrived, "the host connected to the hostile peer")
        log = open(os.path.join(logs, "host.developer.log"), errors="replace").read()
        # The path would be a token: the refusal is logged without it.
        check(log.count("Refused subscription - 0123456789abcdef0123456789abcdef - no token of ours") == 1 and
              "wrongToken1" not in log, "the refusal is not logged once, or with its path")
        check("Added endpoint" not in log and log.count("Trigger workflow with parameters") == 1,
              "the host acted on the refused request")
    finally:
        shutil.rmtree(directory, ignore_errors=True)


class Handover:
    """A temporary folder any user may use, an elevator stand-in that records
    each worker's start and exit status, and an unprivileged parent."""

    def __init__(self, elevate=True, delay=0, prelude="", replaced=False):
        """prelude: shell lines run before the worker ({dir} is the folder);
        replaced: the elevator becomes the worker, as pkexec does, so the
        parent sees the worker's exit code (and no end is recorded)."""
        self.directory = tempfile.mkdtemp(prefix="host_worker_")
        os.chmod(self.directory, 0o777)
        self.marks = os.path.join(self.directory, "marks")
        ending = 'exec "$@"\n' if replaced else '"$@"\necho ended $? >> %s\n' % self.marks
        self.elevator = write(self.directory, "elevator",
                              # A broken pipe does not stop it: the parent that
                              # reads the worker's id may be gone by then.
                              "#!/bin/sh\ntrap '' PIPE\necho started >> %s\nsleep %s\n%s\n%s%s" %
                              (self.marks, delay, prelude.replace("{dir}", self.directory),
                               "export VELMARSH_ELEVATED=1\n" if elevate else "", ending), 0o755)

    def path(self, name):
        return os.path.join(self.directory, name)

    def parent_yaml(self, child, extra=""):
        return write(self.directory, "parent.yaml",
                     "start:\n  type: WorkflowRun\n  url: 'file://{workflowDirectory}/%s'\n  elevated: true\n"
                     "  arguments: '--debug --debugdir=%s %s'\n" % (child, self.path("worker-logs"), extra))

    def start(self, arguments, changes=None):
        """changes: variables of the parent's environment (None removes one)."""
        environment = dict(os.environ, VELMARSH_ELEVATOR=self.elevator)
        environment.pop("VELMARSH_ELEVATED", None)
        for name, value in (changes or {}).items():
            environment.pop(name, None)
            if value is not None:
                environment[name] = value
        self.out = open(self.path("out"), "w+")
        return subprocess.Popen(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", PROGRAM,
                                 "--window"] + arguments, cwd=self.directory, stdout=self.out,
                                stderr=open(self.path("err"), "w"), stdin=subprocess.DEVNULL, env=environment)

    def output(self):
        return open(self.path("out"), errors="replace").read()

    def wait_for(self, text, seconds=30):
        deadline = time.time() + seconds
        while text not in self.output():
            check(time.time() < deadline, "%r never came; output %r" % (text, self.output()[-1500:]))
            time.sleep(0.005)

    def summary(self):
        lines = [line for line in self.output().splitlines() if line.startswith("{")]
        check(lines, "no summary: %r" % self.output()[-1500:])
        return json.loads(lines[-1])

    def workers(self):
        """Worker processes of this folder still running."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                line = open("/proc/%s/cmdline" % pid, "rb").read().split(b"\0")
                state = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[0]
            except OSError:
                continue
            if b"--wfworker" in line and self.directory.encode() in b" ".join(line) and state != "Z":
                found.append(int(pid))
        return found

    def worker_ends(self, seconds):
        """The elevator's records once the worker has ended: ["started", "ended N"]."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            text = open(self.marks).read() if os.path.exists(self.marks) else ""
            if "ended" in text and text.endswith("\n") and not self.workers():
                return open(self.marks).read().split("\n")[:-1]
            time.sleep(0.02)
        fail("the worker still runs after %d s: %s" % (seconds, self.workers()))

    def worker_log(self):
        root = self.path("worker-logs")
        return "".join(open(os.path.join(root, name), errors="replace").read()
                       for name in (os.listdir(root) if os.path.isdir(root) else []))

    def close(self):
        end_all(self.directory)  # workers and the elevators that record their ends
        shutil.rmtree(self.directory, ignore_errors=True)


def finish(process, seconds):
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        fail("the parent still ran after %.1f s" % seconds)


def case_signed_config():
    # The worker gets no --disablesecurity: it must trust the signer through
    # the parent's configuration. The parent fetches only the child; a
    # grandchild signed by a stranger is refused in the worker, and the
    # parent says why; so is a configuration that changed between the
    # parent's read and the worker's (the worker refuses to start).
    log = {"start": {"type": "Log", "message": "worker ran"}}
    nested = {"start": {"type": "WorkflowRun", "url": "file://{workflowDirectory}/grandchild.jws"}}
    changed = "cp {dir}/app.json {dir}/new.json && echo >> {dir}/new.json && mv -f {dir}/new.json {dir}/app.json"
    cases = [(log, 0, None, ""), (nested, 1, 'Document signer is not trusted by the store "app"', ""),
             (log, 1, "the elevated worker refused its command line or its configuration", changed)]
    for child, code, error, prelude in cases:
        run = Handover(prelude=prelude, replaced=bool(prelude))
        try:
            for suffix in ("pem", "der"):
                shutil.copy(os.path.join(SIGNED, "demo-signer." + suffix), run.path("demo-signer." + suffix))
            subprocess.run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out stranger.pem && "
                           "openssl req -x509 -new -key stranger.pem -subj /CN=stranger -days 2 -outform DER "
                           "-out stranger.der", shell=True, cwd=run.directory, check=True, capture_output=True)

            def sign(name, document, signer):
                source = write(run.directory, name + ".src", json.dumps(document))
                text = subprocess.run(["node", os.path.join(SIGNED, "sign_workflow.js"), run.path(signer + ".pem"),
                                       run.path(signer + ".der"), source, "-", "-"],
                                      capture_output=True, text=True, check=True).stdout
                write(run.directory, name, text)

            sign("grandchild.jws", log, "stranger")
            sign("child.jws", child, "demo-signer")
            sign("parent.jws", {"start": {"type": "WorkflowRun", "url": "file://{workflowDirectory}/child.jws",
                                          "elevated": True,
                                          "arguments": "--debug --debugdir=" + run.path("worker-logs")}},
                 "demo-signer")
            shutil.copy(os.path.join(SIGNED, "..", "..", "..", "examples", "demo-app.json"), run.path("app.json"))
            os.chmod(run.path("app.json"), 0o644)
            process = run.start(["--workflow=" + run.path("parent.jws"), "--config=" + run.path("app.json")])
            check(finish(process, 30) == code, "exit %s, %r" % (process.returncode, run.summary()))
            result = run.summary()
            check(result["successful"] is (code == 0), "%r" % result)
            check(error is None or error in result["errors"], "errors %r lack %r" % (result["errors"], error))
            check("Task_Error_Cancelled" not in result["errors"], "the parent cancelled the run: %r" % result)
            check(("worker ran" in run.worker_log()) is (code == 0), "the worker's run")
        finally:
            run.close()


def case_signal_at_handover():
    # prompt: the elevator "asks for the password" that long before it prints
    # the id line and starts the worker; the parent's end must end it. The
    # worker's task lasts far longer than any bound below, so an end that came
    # at once is told from one that waited it out however loaded the machine
    # is; an elevator left asking would start a worker the last wait sees.
    for attempt, (number, delay, prompt) in enumerate([(signal.SIGINT, 0, 0), (signal.SIGTERM, 0.01, 0),
                                                       (signal.SIGINT, 0.025, 0), (signal.SIGTERM, 0.05, 0),
                                                       (signal.SIGINT, 0.5, 20), (signal.SIGTERM, 0.5, 20)]):
        run = Handover(delay=prompt)
        try:
            write(run.directory, "child.yaml", "start:\n  type: Sleep\n  seconds: 600\n")
            process = run.start(["--workflow=" + run.parent_yaml("child.yaml"), "--disablesecurity"])
            run.wait_for("Launching process" if prompt else "Worker runs workflow")
            time.sleep(delay)
            process.send_signal(number)
            code = finish(process, 60)
            check(code == 130, "try %d: exit %d" % (attempt, code))
            check(run.summary()["exitCode"] == 130, "try %d: %r" % (attempt, run.summary()))
            if not prompt:
                run.worker_ends(60)
                continue
            # The elevator (whose command line names the worker) is gone, so
            # no worker can start any more.
            deadline = time.time() + 60
            while run.workers() and time.time() < deadline:
                time.sleep(0.02)
            check(not run.workers(), "try %d: the elevator still asks: %s" % (attempt, run.workers()))
            check(open(run.marks).read() == "started\n", "try %d: a worker started" % attempt)
        finally:
            run.close()


def case_not_elevated():
    run = Handover(elevate=False)
    try:
        write(run.directory, "child.yaml", "start:\n  type: Log\n  message: worker ran\n")
        process = run.start(["--workflow=" + run.parent_yaml("child.yaml"), "--disablesecurity"])
        check(finish(process, 30) == 1, "exit %s" % process.returncode)
        errors = run.summary()["errors"]
        check("Launch_Error_RunElevated" in errors and any("worker is not elevated" in each for each in errors),
              "errors %r" % errors)
        check(run.worker_ends(5).count("started") == 1, "the run was handed on")
        check("worker ran" not in run.worker_log(), "the worker ran the document")
    finally:
        run.close()


def take_port(port):
    """Binds the port a killed process held. Under a busy test run another
    connection's ephemeral end can hold it for a moment: wait for it."""
    deadline = time.monotonic() + 10
    while True:
        taken = socket.socket()
        taken.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            taken.bind(("127.0.0.1", port))
            taken.listen(4)
            return taken
        except OSError:
            taken.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def case_parent_killed():
    # Before the hand-over the elevator is still "asking" when the parent
    # dies, and another process takes the parent's port; after it the worker
    # runs a long task. A killed parent may look alive for a moment (it is
    # still exiting): with the worker's view of the processes frozen at its
    # start, it learns of the parent's end from the dropped connection alone.
    frozen = ('mkdir -p {dir}/proc/$PPID && cat /proc/$PPID/stat > {dir}/proc/$PPID/stat\n'
              'export VELMARSH_PROC_ROOT={dir}/proc\n')
    for before, delay, prelude in [(True, 2, ""), (False, 0, ""), (False, 0, frozen)]:
        run = Handover(delay=delay, prelude=prelude)
        try:
            write(run.directory, "child.yaml", "start:\n  type: Sleep\n  seconds: 20\n")
            process = run.start(["--workflow=" + run.parent_yaml("child.yaml"), "--disablesecurity"])
            run.wait_for("Launching process" if before else "Worker runs workflow")
            # The parent logs the launch before it starts the elevator.
            deadline = time.time() + 30
            while before and not (os.path.exists(run.marks) and "started" in open(run.marks).read()):
                check(time.time() < deadline, "the elevator never started")
                time.sleep(0.005)
            port = listening_port(process.pid)
            process.kill()
            process.wait()
            taken = take_port(port)
            taken.settimeout(0)
            # Well before its 20 s task could end, also under the sanitizers
            # on a loaded machine.
            marks = run.worker_ends(15)
            try:
                taken.accept()
                fail("before=%s: the worker subscribed to whoever took the port" % before)
            except BlockingIOError:
                pass
            taken.close()
            check(marks[-1] == "ended 1", "before=%s frozen=%s: the worker %s, not as an orphan; its log ends %r" %
                  (before, bool(prelude), marks[-1], run.worker_log()[-1500:]))
            check(not before or "Trigger workflow" not in run.worker_log(), "the orphaned worker ran the run")
            after = run.worker_log().partition("- Disconnected\n")[2]
            check("Created - " not in after, "the orphaned worker went on with its run: %r" % after[-1500:])
        finally:
            run.close()


def case_worker_switches():
    directory = tempfile.mkdtemp(prefix="host_switches_")
    try:
        config = write(directory, "app.json", "{}")
        start = open("/proc/self/stat").read().rsplit(")", 1)[1].split()[19]
        worker = [PROGRAM, "--wfworker", "--wfendpoint=http://127.0.0.1:1/AAAAAAAAAAA"]
        parent = "--wfparent=%d.%s" % (os.getpid(), start)
        cases = [([], "--wfparent=<the parent's process id>"),
                 ([parent, "--config=" + config, "--configdigest=" + "0" * 64],
                  "it changed after the parent process read it")]
        for extra, wanted in cases:
            done = subprocess.run(worker + extra, capture_output=True, text=True, timeout=30)
            check(done.returncode == 2 and wanted in done.stderr, "%s: exit %d %r" % (extra, done.returncode,
                                                                                    done.stderr))
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def case_handover_deadline():
    # The elevator's "worker" prints its id and never connects, or ends at
    # once. A "failure" step that outlasts the worker's end, or the deadline,
    # adds no second reason: the failed hand-over is no longer watched.
    late = "the elevated worker did not take the run within 10 s"
    gone = "the elevated worker ended before its run completed (its log tells why)"
    rows = [("exec sleep 120", "", late, "ended 137"),
            ("exec sleep 120", "  failure: rest\nrest:\n  type: Sleep\n  seconds: 8\n", late, "ended 137"),
            ("exit 3", "  failure: rest\nrest:\n  type: Sleep\n  seconds: 11\n", gone, "ended 3")]
    for worker, failure, reason, end in rows:
        run = Handover(prelude="set -- /bin/sh -c 'echo $$; %s'" % worker)
        try:
            write(run.directory, "child.yaml", "start:\n  type: Log\n  message: worker ran\n")
            parent = run.parent_yaml("child.yaml")
            with open(parent, "a") as handle:
                handle.write(failure)
            process = run.start(["--workflow=" + parent, "--disablesecurity"])
            check(finish(process, 60) == 1, "exit %s" % process.returncode)
            errors = run.summary()["errors"]
            check([each for each in errors if each.startswith("the elevated worker")] == [reason],
                  "%s %r: errors %r" % (worker, failure, errors))
            check(open(run.path("err")).read().count("velmarsh: the elevated worker") == 1,
                  "%s %r: stderr %r" % (worker, failure, open(run.path("err")).read()))
            check(run.worker_ends(5)[-1] == end, "the worker did not end as %s" % end)
        finally:
            run.close()


def case_handover_place():
    # Each row: the parent's TMPDIR, what it holds, the exit code, where the
    # folder went or the reason the run failed.
    others = tempfile.mkdtemp(prefix="host_place_")
    os.chmod(others, 0o777)  # not sticky: anyone may swap names in it
    own = tempfile.mkdtemp(prefix="host_place_")
    os.chown(own, 65534, 65534)
    dead = subprocess.Popen(["true"])
    dead.wait()
    start = open("/proc/self/stat").read().rsplit(")", 1)[1].split()[19]
    stale = {"velmarsh-handover-%d.1-AAAAAA" % dead.pid: ["endpoint"],  # its parent is gone: removed
             "velmarsh-handover-%d.1-BBBBBB" % dead.pid: ["endpoint", "more"],  # not only a hand-over file
             "velmarsh-handover-%d.%s-CCCCCC" % (os.getpid(), start): ["endpoint"]}  # its parent runs
    for name, files in stale.items():
        os.mkdir(os.path.join(own, name), 0o700)
        os.chown(os.path.join(own, name), 65534, 65534)
        for each in files:
            os.chown(write(os.path.join(own, name), each, "x", 0o600), 65534, 65534)
    fallback = "/tmp/velmarsh-handover-"
    rows = [(others, 0o777, 0, fallback), ("/nonexistent", None, 0, fallback), ("relative", None, 0, fallback),
            (own, 0o700, 0, own + "/velmarsh-handover-"),
            (own, 0o500, 1, "cannot make the hand-over folder in %s: " % own)]
    try:
        for place, mode, code, wanted in rows:
            run = Handover(prelude="printf '%s\\n' \"$@\" > {dir}/argv.part && mv {dir}/argv.part {dir}/argv")
            try:
                if mode is not None:
                    os.chmod(place, mode)
                write(run.directory, "child.yaml", "start:\n  type: Log\n  message: worker ran\n")
                process = run.start(["--workflow=" + run.parent_yaml("child.yaml"), "--disablesecurity"],
                                    {"TMPDIR": place, "XDG_RUNTIME_DIR": None})
                check(finish(process, 30) == code, "%s: exit %s %r" % (place, process.returncode, run.summary()))
                if code == 0:
                    path = [line for line in open(run.path("argv")) if line.startswith("--wfendpoint=")]
                    check(path and path[0].split("=", 1)[1].startswith(wanted), "%s: handed %r" % (place, path))
                    continue
                check(any(error.startswith(wanted) for error in run.summary()["errors"]), "%s: %r" %
                      (place, run.summary()))
                check(wanted in open(run.path("err")).read(), "%s: stderr %r" % (place, open(run.path("err")).read()))
            finally:
                run.close()
        kept = sorted(name for name in stale if not name.endswith("AAAAAA"))
        check(sorted(os.listdir(own)) == kept, "left in the place: %s" % sorted(os.listdir(own)))
    finally:
        shutil.rmtree(others, ignore_errors=True)
        shutil.rmtree(own, ignore_errors=True)


def case_endpoint_files():
    # The worker runs as root as an elevator would start it; each file is
    # root's own, owner-only, in an owner-only folder.
    directory = tempfile.mkdtemp(prefix="host_endpoint_")
    try:
        start = open("/proc/self/stat").read().rsplit(")", 1)[1].split()[19]
        rows = [("private", ["notes"], True), ("velmarsh-handover-1.1-AAAAAA", ["endpoint", "more"], True),
                ("velmarsh-handover-1.1-BBBBBB", ["endpoint"], False)]  # a hand-over file: read and removed
        for folder, files, stays in rows:
            os.mkdir(os.path.join(directory, folder), 0o700)
            for each in files:
                write(os.path.join(directory, folder), each, "SECRET-%s\n" % folder, 0o600)
            logs = os.path.join(directory, "logs-" + folder)
            environment = {name: value for name, value in os.environ.items() if name not in ("PKEXEC_UID", "SUDO_UID")}
            subprocess.run([PROGRAM, "--wfworker", "--wfendpoint=" + os.path.join(directory, folder, files[0]),
                            "--wfparent=%d.%s" % (os.getpid(), start), "--debug", "--debugdir=" + logs],
                           capture_output=True, timeout=30, env=dict(environment, VELMARSH_ELEVATED="1"))
            log = "".join(open(os.path.join(logs, name), errors="replace").read() for name in os.listdir(logs))
            check("SECRET" not in log, "%s: the worker logged the file's text" % folder)
            left = sorted(os.listdir(os.path.join(directory, folder))) if os.path.isdir(os.path.join(directory, folder)) else []
            check(left == (sorted(files) if stays else []), "%s: left %s" % (folder, left))
    finally:
        shutil.rmtree(directory, ignore_errors=True)


globals()["case_" + CASE]()
