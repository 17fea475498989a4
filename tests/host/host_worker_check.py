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
Exit status 0 when the case holds.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

PROGRAM, CASE = sys.argv[1], sys.argv[2]
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
        for _ in range(200):
            if os.path.exists(marks):
                break
            time.sleep(0.1)
        check(os.path.exists(marks), "the worker did not end")
        ended = float(open(marks).read().split()[1])
        check(ended >= parent_end - 0.5, "worker ended %.2f s before the parent" % (parent_end - ended))
        worker_log = "\n".join(open(os.path.join(root, name), errors="replace").read()
                               for root, _, names in os.walk(os.path.join(directory, "worker-logs")) for name in names)
        check("Workflow worker started" in worker_log, "no worker log")
        check("Trigger workflow with parameters" in worker_log, "the worker ran no start request")
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def listening_port(pid):
    """The loopback port the process listens on, found as any local user can."""
    inodes = set()
    for name in os.listdir("/proc/%d/fd" % pid):
        target = os.readlink("/proc/%d/fd/%s" % (pid, name))
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
        check(log.count("Refused subscription - /wrongToken1") == 1, "the refusal is not logged once")
        check("Added endpoint" not in log and log.count("Trigger workflow with parameters") == 1,
              "the host acted on the refused request")
    finally:
        shutil.rmtree(directory, ignore_errors=True)


globals()["case_" + CASE]()
