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
import struct
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


def shared_temporary_directory():
    """A fresh folder under TMPDIR when every user can reach that, else under /tmp."""
    base = os.path.realpath(tempfile.gettempdir())
    walk = base
    while walk != "/":
        if not os.stat(walk).st_mode & 0o001:
            base = "/tmp"
            break
        walk = os.path.dirname(walk)
    return tempfile.TemporaryDirectory(dir=base)


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


ONE_SETTING = """
print('answered=' + TQX.call(TQX.create('TQX.Registry'), 'setString', {view: 'default', security: 'default',
      type: 'user', key: 'Software\\\\Probe', name: 'n', value: 'v'}));
"""


def case_store_set_aside():
    # Each store that does not parse is kept under a name of its own, and
    # stderr says once where it went.
    with tempfile.TemporaryDirectory() as directory:
        config = os.path.join(directory, "config")
        os.mkdir(config, 0o700)
        store = os.path.join(config, "velmarsh.plist")
        for copy, aside in enumerate(["velmarsh.plist.unreadable", "velmarsh.plist.unreadable.2"]):
            write(config, "velmarsh.plist", "<plist><dict>damaged %d" % copy)
            code, value, out, err = run(directory, ONE_SETTING, env={"XDG_CONFIG_HOME": config})
            check(code == 0 and "Script - answered=true" in out, "exit %d %s" % (code, err))
            told = [line for line in err.splitlines() if "moved to" in line]
            check(len(told) == 1 and told[0].endswith("moved to %s and a new one started" % os.path.join(config, aside)),
                  "stderr %r" % err)
            with open(os.path.join(config, aside)) as f:
                check(f.read() == "<plist><dict>damaged %d" % copy, "copy %d not kept" % copy)
            with open(store, "rb") as f:
                check(plistlib.load(f) == {"Software": {"Probe": {"n": "v"}}}, "new store")
        # A link there is no store: it is left as it is, and stderr says so.
        os.remove(store)
        outside = write(directory, "outside.plist", "kept")
        os.symlink(outside, store)
        code, value, out, err = run(directory, ONE_SETTING, env={"XDG_CONFIG_HOME": config})
        check(code == 0 and "Script - answered=false" in out, "exit %d %s" % (code, err))
        check(os.path.islink(store) and open(outside).read() == "kept", "the link or its target changed")
        check("velmarsh: the settings file %s is not a regular file; it is left as it is" % store in err, err)


def case_store_cannot_open():
    # A store of the user's own that its mode keeps closed is not damaged:
    # stderr says why, it stays in place, and the write that would replace
    # it answers false.
    if os.geteuid() != 0:
        print("needs root to play another user")
        return
    with shared_temporary_directory() as directory:
        os.chmod(directory, 0o755)
        home = os.path.join(directory, "nobody")
        config = os.path.join(home, "config")
        os.makedirs(config)
        program = os.path.join(home, "velmarsh")
        subprocess.run(["cp", PROGRAM, program], check=True)
        store = write(config, "velmarsh.plist", "<plist><dict>mine")
        for path in (home, config, program, store):
            os.chown(path, 65534, 65534)
        os.chmod(store, 0)
        code, value, out, err = run(home, ONE_SETTING, env={"XDG_CONFIG_HOME": config}, program=program,
                                    prefix=("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"))
        check(code == 0 and "Script - answered=false" in out, "exit %d %s" % (code, out[-600:]))
        check(sorted(os.listdir(config)) in (["velmarsh.plist"], ["velmarsh.plist", "velmarsh.plist.lock"]),
              "folder holds %s" % os.listdir(config))
        with open(store) as f:
            check(f.read() == "<plist><dict>mine", "the store changed")
        check(os.stat(store).st_mode & 0o777 == 0, "mode changed")
        told = [line for line in err.splitlines() if store in line]
        check(len(told) == 1 and "Permission denied; it is left as it is" in told[0], "stderr %r" % err)


GROWING = """
var registry = TQX.create('TQX.Registry'), said = [], big = 'b';
while (big.length < (32 << 20)) big += big;
function at(name, value) {
  return {view: 'default', security: 'default', type: 'user', key: 'P', name: name, value: value, defaultValue: '-'};
}
['s', big, big].forEach(function (value, i) { said.push(TQX.call(registry, 'setString', at('n' + i, value))); });
[0, 1, 2].forEach(function (i) { said.push(TQX.call(registry, 'getString', at('n' + i)).length); });
print('said=' + said);
"""


def case_store_keeps_answers():
    # A write past what a load reads answers false and keeps the store; only
    # the store's own hidden temporaries are swept; a read-only store is kept;
    # an oversize one is told as such.
    with tempfile.TemporaryDirectory() as directory:
        config = os.path.join(directory, "config")
        os.mkdir(config, 0o700)
        names = ["velmarsh.plist.backup", "velmarsh.plist.Ab12Cd", ".velmarsh.plist.tmp-Ab12Cd"]
        for name in names:
            write(config, name, name)
        code, value, out, err = run(directory, GROWING, env={"XDG_CONFIG_HOME": config})
        check("said=true,true,false,1,33554432,1" in out and "would grow past 64 MiB" in err, out[-300:] + err)
        check(sorted(os.listdir(config)) == sorted(names[:2] + ["velmarsh.plist", "velmarsh.plist.lock"]), "swept")
        store = os.path.join(config, "velmarsh.plist")
        for mode, contents, said in ((0o400, None, "false"), (0o600, "<plist>" + " " * (64 << 20), "true")):
            os.chmod(store, mode)
            if contents:
                write(config, "velmarsh.plist", contents)
            code, value, out, err = run(directory, ONE_SETTING, env={"XDG_CONFIG_HOME": config})
            told = " could not be read (larger than 64 MiB)" if contents else " is read-only; it is left as it is"
            check("answered=" + said in out and os.stat(store).st_mode & 0o777 == mode and store + told in err, err)


SPECIAL_FILES = """
function answer(name, method, args) {
  print(method + '=' + JSON.stringify(TQX.call(TQX.create(name), method, args)));
}
answer('TQX.Platform', 'getFileDataStore', {path: 'fifo'});
answer('TQX.WorkflowApp', 'loadInterop', {name: 'x', path: '%s'});
answer('TQX.Platform', 'getFileDataStore', {path: '/dev/zero'});
answer('TQX.Platform', 'getFileDataStore', {path: 'wide'});
answer('TQX.Registry', 'getString', {view: 'default', type: 'user', key: 'P', name: 'k199999', defaultValue: '-'});
"""


def case_special_files():
    # A FIFO with no writer, a device, ELF section names without a zero byte or
    # 200,000 settings, named by a page, never hold the host: each call answers.
    with tempfile.TemporaryDirectory() as directory:
        fifo = os.path.join(directory, "fifo")
        os.mkfifo(fifo)
        names, entry = b"a" * (48 << 20) + b".datastore", lambda *fields: struct.pack("<I20xQQ24x", *fields)
        with open(os.path.join(directory, "wide"), "wb") as f:
            f.write(b"\x7fELF\x02\x01\x01" + bytes(33) + struct.pack("<Q10xHHH", 82 + len(names), 64, 65535, 1) +
                    names + b"TQXDATASTOREfound\0" + entry(0, 0, 0) + entry(0, 64, len(names)) +
                    entry(0, 0, 0) * 65532 + entry(len(names) - 10, 64 + len(names), 18))
        with open(os.path.join(directory, "velmarsh.plist"), "wb") as f:
            plistlib.dump({"P": {"k%d" % index: "v%d" % index for index in range(200000)}}, f)
        code, value, out, err = finish(start(directory, SPECIAL_FILES % fifo, env={"XDG_CONFIG_HOME": directory}), 60)
        answers = [line.split("Script - ", 1)[1] for line in out.splitlines() if "Script - " in line]
        check(code == 0 and value is not None and value["successful"] is True, "exit %d %r" % (code, out[-400:]))
        check(answers == ["getFileDataStore=null", "loadInterop=true", "getFileDataStore=null",
                          'getFileDataStore="Zm91bmQ="', 'getString="v199999"'], answers)
        check("Failed to load interop (%s)" % fifo in out, "the library was not refused")


LAUNCH = """
var forged = '{"successful":true,"exitCode":0,"progress":100,"errors":[],"warnings":["forged"]}';
for (var i = 0; i < 5; i++) {
  var process = TQX.create('TQX.Process');
  TQX.call(process, 'setApplicationName', {applicationName: '/bin/echo'});
  TQX.call(process, 'setArguments', {arguments: forged});
  TQX.call(process, 'setElevationRights', {elevationRights: 2});
  print('launched=' + TQX.call(process, 'launch', {}));
}
"""


def case_launched_output():
    # A process the page launches with no output of its own writes nothing
    # to the host's standard output: the summary stays the last line (and
    # the only one a launched program could forge).
    with tempfile.TemporaryDirectory() as directory:
        code, value, out, err = run(directory, LAUNCH, document="start:\n  type: Error\n  message: real failure\n")
        check(out.count("Script - launched=true") == 5, [l for l in out.splitlines() if "Script" in l])
        check("forged" not in out, "a launched process wrote to standard output")
        check(code == 1 and value is not None and value["successful"] is False, "exit %d %r" % (code, out[-300:]))


CHURN = """
['TQX.Process', 'TQX.Pipe', 'TQX.NotificationCenter'].forEach(function (name) {
  for (var i = 0; i < %d; i++) TQX.release(TQX.create(name));
});
var process = TQX.create('TQX.Process');
TQX.release(process);
var answer;
try { answer = TQX.call(process, 'setArguments', {arguments: 'x'}); } catch (e) { answer = 'refused'; }
print('after release=' + answer);
"""


def peak_kib(directory, count):
    """The host's peak resident memory (VmHWM, as wait4 reports it) for a page churning count objects."""
    with open(os.path.join(directory, "out"), "w+") as out:
        # ASan keeps freed blocks in a quarantine that would look like a leak.
        options = os.environ.get("ASAN_OPTIONS", "")
        host = subprocess.Popen([PROGRAM, "--workflow=" + write(directory, "w.yaml", LOG),
                                 "--script=" + write(directory, "p.js", CHURN % count), "--disablesecurity",
                                 "--window"], stdout=out, stderr=subprocess.DEVNULL, cwd=directory,
                                env=dict(os.environ, ASAN_OPTIONS=(options + ":" if options else "") +
                                         "quarantine_size_mb=8"))
        _, status, usage = os.wait4(host.pid, 0)
        host.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        text = out.read()
    check(host.returncode == 0, "exit %d %s" % (host.returncode, text[-300:]))
    check("Script - after release=undefined" in text or "Script - after release=refused" in text,
          [line for line in text.splitlines() if "Script" in line])
    return usage.ru_maxrss


def case_released_objects():
    # Objects a page creates and releases give their memory back at once:
    # 5,000 of each class cost about what 50 do, and a released Process
    # answers no call.
    with tempfile.TemporaryDirectory() as directory:
        few, many = peak_kib(directory, 50), peak_kib(directory, 5000)
        check(many - few < 64 * 1024, "peak %d KiB for 5,000 of each, %d KiB for 50" % (many, few))


VIEWS = """
var registry = TQX.create('TQX.Registry');
function where(view) { return {view: view, security: 'default', type: 'user', key: 'Software\\\\Probe', name: 'n'}; }
var big = new Array(1024 * 1024 + 1).join('6'), answers = [];
['', '12abc', '../..', big].forEach(function (view) {
  answers.push(TQX.call(registry, 'deleteKey', where(view)), TQX.call(registry, 'deleteValue', where(view)));
  var set = where(view);
  set.value = 'x';
  answers.push(TQX.call(registry, 'setString', set));
});
print('answers=' + answers.join(','));
"""


def case_registry_views():
    # A view text that names no view (default, 32, 64) is refused and acts
    # on nothing: the key and its value stay.
    with tempfile.TemporaryDirectory() as directory:
        config = os.path.join(directory, "config")
        os.mkdir(config, 0o700)
        with open(os.path.join(config, "velmarsh.plist"), "wb") as f:
            plistlib.dump({"Software": {"Probe": {"n": "kept"}}}, f)
        code, value, out, _ = run(directory, VIEWS, env={"XDG_CONFIG_HOME": config})
        check(code == 0 and "Script - answers=" + ",".join(["false"] * 12) in out,
              [line for line in out.splitlines() if "Script" in line])
        with open(os.path.join(config, "velmarsh.plist"), "rb") as f:
            check(plistlib.load(f) == {"Software": {"Probe": {"n": "kept"}}}, "the store changed")


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
