#!/usr/bin/python3
"""The elevated hand-over end to end through the built program.

Usage: host_worker_check.py <program> <case>
An unprivileged parent (setpriv, user 65534) runs a document whose "start"
is a WorkflowRun with "elevated": true. The parent launches the worker
through the elevator stand-in (a script that marks the worker elevated for
the platform layer and runs it), the worker subscribes back, runs the
nested document and reports. Exit status 0 when the case holds.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
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


globals()["case_" + CASE]()
