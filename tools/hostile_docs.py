#!/usr/bin/python3
"""Runs hostile workflow documents through a built program and reports any
run that does not end cleanly: no summary line, an exit code that does not
match the summary, a sanitizer report, a timeout, or memory past a bound.

Usage: hostile_docs.py <program> <workdir> [count] [seed]
"""
import json
import os
import random
import resource
import subprocess
import sys

PROGRAM, WORK = sys.argv[1], sys.argv[2]
COUNT = int(sys.argv[3]) if len(sys.argv) > 3 else 400
SEED = int(sys.argv[4]) if len(sys.argv) > 4 else 1
HWM_LIMIT_KB = 3 * 1024 * 1024

TYPES = ("InteropLoad InteropUnload CertStoreLoad Queue Aggregate End Error Shutdown Implode Sleep Log "
         "Notification Status StringContains StringCompare NumberCompare VersionCompare Singleton Environment "
         "EnvironmentGet EnvironmentSet Macro PlistWrite PlistRead FileCopy FileMove FileDelete FileExists "
         "FileTruncate FileHash FileAuthenticate DirectoryCreate DirectoryCopy DirectoryMove DirectoryDelete "
         "DirectoryExists DirectoryList DirectoryIsEmpty DirectoryIsWritable DiskSpaceCheck RepositoryCheck "
         "RepositoryFileCheck RepositorySync RepositoryErase Open ProgramOpen ProcessOpen ProgramIsOpen "
         "ProcessIsOpen ProgramClose ProcessClose ProcessList Launch RegistryKeyWrite RegistryKeyRead "
         "RegistryKeyCreate RegistryKeyDelete RegistryKeyExists DMGMount DMGUnmount PKG ShortcutCreate "
         "ShortcutDelete URLRedirect URLRedirectMacro Unzip Download IniRead IniWrite XMLRead XMLWrite JSONRead "
         "JSONWrite Analytics Progress WorkflowRun").split()
ARGS = ("action actions allowGzip allowProxy allowResume arguments authenticate cache concurrentActions "
        "concurrentTasks content delay elevated event exitCode global ignoreCase ignoreError isRemote key "
        "keyValuePairs limitBodySize maxChainDepth maxPercentage message name path seconds selfUpdate source "
        "target timeout title url value verbose workflow pattern replacement store numberOne numberTwo "
        "stringOne stringTwo versionOne versionTwo equalTo notEqualTo lessThan greaterThan success failure "
        "complete missing exists taskChainParameter taskChainEnd errors warnings status macros destination "
        "file files directory keys section xpath data").split()


def hostile_value(rng, doc_path):
    choice = rng.randrange(26)
    if choice == 0: return None
    if choice == 1: return rng.choice([True, False])
    if choice == 2: return []
    if choice == 3: return {}
    if choice == 4: return "x" * (1 << 20)
    if choice == 5: return ["a"] * 100000
    if choice == 6: return {"k%d" % i: i for i in range(100000)}
    if choice == 7: return "a\u0000b"
    if choice == 8: return rng.choice([0, -1, 1e308, -1e308, 2 ** 63, -2 ** 63, 2 ** 64, 4294967296, 0.5, 1e-308,
                                       2147483648, -2147483649])
    if choice == 9: return rng.choice(["nan", "inf", "-inf", "1e999", "0x10", "1e2", "-0", "", " 1", "1.2.3",
                                       "99999999999999999999999"])
    if choice == 10: return "{self}{self}"
    if choice == 11: return "{grow}"
    if choice == 12: return "start"
    if choice == 13: return ["start", "start"]
    if choice == 14: return "file://" + doc_path
    if choice == 15: return nested(rng.randrange(1, 900))
    if choice == 16: return "{this}{this}{this}" * 100
    if choice == 17: return "/" * 5000
    if choice == 18: return "../" * 200 + "etc/passwd"
    if choice == 19: return {"a": {"b": [None, 1, "x"]}}
    if choice == 20: return "%s" % ("{" * 1000 + "}" * 1000)
    if choice == 21: return "{" + "a." * 5000 + "}"
    if choice == 22: return rng.choice(["http://127.0.0.1:1/x", "file:///dev/zero", "file:///proc/self/mem",
                                        "data:,x", "ftp://x/", "http://[::1", "file:///dev/stdin"])
    if choice == 23: return "\ud7ff\ue000\uffff"
    if choice == 24: return rng.choice(["/dev/zero", "/dev/stdin", "/proc/self/fd/0", WORK, "/"])
    return "{workflowDirectory}/" + "z" * 400


def nested(depth):
    value = "x"
    for _ in range(depth):
        value = [value]
    return value


def random_document(rng, doc_path):
    tasks = {}
    names = ["start"] + ["t%d" % i for i in range(rng.randrange(1, 4))]
    for name in names:
        task = {"type": rng.choice(TYPES)}
        for arg in rng.sample(ARGS, rng.randrange(1, 6)):
            task[arg] = hostile_value(rng, doc_path)
        for link in ("success", "failure", "complete"):
            if rng.random() < 0.3:
                task[link] = rng.choice(names)
        tasks[name] = task
    if rng.random() < 0.3:
        tasks["load"] = {"type": "Macro", "keyValuePairs": {"self": "{self}", "grow": "{grow}{grow}"}}
    return tasks


def fixed_documents(doc_dir):
    """Named hostile documents that are no random draw: text forms."""
    laughs = "a: &a [lol,lol,lol,lol,lol,lol,lol,lol,lol]\n"
    previous = "a"
    for index in range(1, 12):
        name = "l%d" % index
        laughs += "%s: &%s [%s]\n" % (name, name, ",".join(["*" + previous] * 9))
        previous = name
    laughs += "start: {type: Log, message: ok}\n"
    docs = {
        "laughs.yaml": laughs,
        "alias_args.yaml": "x: &x [" + ",".join(["big"] * 1000) + "]\ny: &y [" + ",".join(["*x"] * 1000) +
                           "]\nstart:\n  type: Queue\n  actions: *y\nbig: {type: Log, message: a}\n",
        "alias_self.yaml": "start: &s\n  type: Log\n  message: *s\n",
        "alias_unknown.yaml": "start: {type: Log, message: *nope}\n",
        "deep.yaml": "start: {type: Log, message: " + "[" * 100000 + "]" * 100000 + "}\n",
        "deep_map.yaml": "start: {type: Log, message: " + "{a: " * 50000 + "1" + "}" * 50000 + "}\n",
        "deep_block.yaml": "start:\n" + "".join(" " * (i + 1) + "a%d:\n" % i for i in range(5000)),
        "deep.json": '{"start": {"type": "Log", "message": ' + "[" * 100000 + "]" * 100000 + "}}",
        "deep_obj.json": '{"start": {"type": "Log", "message": ' + '{"a":' * 100000 + "1" + "}" * 100000 + "}}",
        "dup.json": '{"start": {"type": "Log", "message": "a"}, "start": {"type": "Error", "message": "b"}}',
        "dup_inner.json": '{"start": {"type": "Log", "type": "Error", "message": "a", "message": "b"}}',
        "dup.yaml": "start: {type: Log, message: a}\nstart: {type: Error, message: b}\n",
        "nul.json": '{"start": {"type": "Log\\u0000x", "message": "a"}}',
        "nul_link.json": '{"start": {"type": "Log", "message": "a", "complete": "b\\u0000x"}, '
                         '"b": {"type": "Error", "message": "wrong task ran"}}',
        "nul_fail.json": '{"start": {"type": "Error", "message": "a", "failure": "b\\u0000x"}, '
                         '"b": {"type": "Log", "message": "wrong task ran"}}',
        "nul_template.json": '{"start": {"type": "Log", "template": "t\\u0000x"}, '
                             '"t": {"message": "wrong template"}}',
        "nul_macro.json": '{"load": {"type": "Macro", "keyValuePairs": {"a\\u0000b": "x"}}, '
                          '"start": {"type": "Log", "message": "{a}"}}',
        "nul_key.json": '{"start": {"type": "Log", "mess\\u0000age": "a"}}',
        "nul_taskname.json": '{"start\\u0000x": {"type": "Log", "message": "a"}}',
        "nul_progress.json": '{"start": {"type": "Progress", "actions": ["b\\u0000x"]}, '
                             '"b": {"type": "Log", "message": "wrong task ran"}}',
        "nul_agg.json": '{"start": {"type": "Aggregate", "actions": ["b\\u0000x"], "content": {}}, '
                        '"b": {"type": "Log", "message": "wrong task ran"}}',
        "link_list.json": '{"start": {"type": "Log", "message": "a", "complete": ["b"]}, '
                          '"b": {"type": "Error", "message": "b"}}',
        "link_long.json": '{"start": {"type": "Log", "message": "a", "complete": "%s"}}' % ("b" * 5000),
        "rawnul.yaml": "start: {type: Log, message: a\x00b}\n",
        "merge.yaml": "base: &b {type: Log, message: m}\nstart:\n  <<: *b\n  <<: *b\n",
        "tags.yaml": "start: !!map {type: !!str Log, message: !!binary aGVsbG8=}\n",
        "docs2.yaml": "start: {type: Log, message: a}\n---\nstart: {type: Error}\n",
        "bom.json": "\ufeff{\"start\": {\"type\": \"Log\", \"message\": \"a\"}}",
        "empty.json": "",
        "empty.yaml": "",
        "scalar.yaml": "just text\n",
        "list.json": "[1,2,3]",
        "null.json": "null",
        "numbers.json": '{"start": {"type": "Shutdown", "exitCode": 1e400}}',
        "numbers2.json": '{"start": {"type": "Sleep", "seconds": -1e400}}',
        "numbers3.json": '{"start": {"type": "Sleep", "seconds": 1e-400}}',
        "bignum.json": '{"start": {"type": "Log", "message": ' + "9" * 100000 + "}}",
        "longkey.yaml": "start: {type: Log, " + "k" * 100000 + ": 1}\n",
        "selfrun.yaml": "start: {type: WorkflowRun, url: 'file://%s/selfrun.yaml'}\n" % doc_dir,
        "selfrun2.yaml": "start: {type: WorkflowRun, workflow: 'file://%s/selfrun2.yaml'}\n" % doc_dir,
        "selfqueue.yaml": "start: {type: Queue, actions: [start]}\n",
        "selfagg.yaml": "start: {type: Aggregate, actions: [start]}\n",
        "selfprogress.yaml": "start: {type: Progress, actions: [start]}\n",
        "loop.yaml": "start: {type: Log, message: a, complete: b}\nb: {type: Log, message: b, success: start}\n",
        "loopfail.yaml": "start: {type: Error, message: a, failure: start}\n",
        "loopchain.yaml": "start: {type: Progress, actions: [a], maxChainDepth: 100000000}\n"
                          "a: {type: Log, message: a, complete: a}\n",
        "macroself.yaml": "load: {type: Macro, keyValuePairs: {a: '{a}'}}\nstart: {type: Log, message: '{a}'}\n",
        "macrogrow.yaml": "load: {type: Macro, keyValuePairs: {a: '{a}{a}{a}{a}{a}{a}{a}{a}'}}\n"
                          "start: {type: Log, message: '{a}'}\n",
        "macrochain.yaml": "load: {type: Macro, keyValuePairs: {" + ", ".join(
            "m%d: '{m%d}{m%d}'" % (i, i + 1, i + 1) for i in range(60)) + ", m60: x}}\n"
            "start: {type: Log, message: '{m0}'}\n",
        "macromutual.yaml": "load: {type: Macro, keyValuePairs: {a: '{b}', b: '{a}'}}\n"
                            "start: {type: Log, message: '{a}'}\n",
        "xmlbomb.yaml": "start: {type: XMLRead, path: '%s/bomb.xml', xpath: /a, key: r}\n" % doc_dir,
        "xmlbomb2.yaml": "start: {type: XMLRead, source: '%s/bomb.xml', path: /a, key: r}\n" % doc_dir,
        "xmlwrite.yaml": "start: {type: XMLWrite, path: '%s/bomb.xml', xpath: /a, value: x}\n" % doc_dir,
        "jsonread.yaml": "start: {type: JSONRead, path: '%s/deep.json', key: r, value: start}\n" % doc_dir,
        "iniread.yaml": "start: {type: IniRead, path: '%s/laughs.yaml', section: a, key: a}\n" % doc_dir,
        "plistread.yaml": "start: {type: PlistRead, path: '%s/bomb.xml', key: a}\n" % doc_dir,
        "queueself.yaml": "start: {type: Queue, actions: [q]}\nq: {type: Queue, actions: [start, q]}\n",
        "notify.yaml": "start: {type: Notification, event: WorkflowApp.Shutdown, content: {exitCode: [1]}}\n",
        "deepmacro.yaml": "start: {type: Log, message: '" + "{" * 20000 + "a" + "}" * 20000 + "'}\n",
    }
    xml = '<?xml version="1.0"?>\n<!DOCTYPE a [\n<!ENTITY l0 "lol">\n'
    for index in range(1, 12):
        xml += '<!ENTITY l%d "%s">\n' % (index, ("&l%d;" % (index - 1)) * 10)
    xml += ']>\n<a>&l11;</a>\n'
    with open(os.path.join(doc_dir, "bomb.xml"), "w") as handle:
        handle.write(xml)
    return docs


def hwm_of(pid_status_text):
    return 0


def run_one(path, label):
    """Runs one document: returns a fault text or None."""
    command = ["timeout", "-s", "KILL", "60", PROGRAM, "--workflow=" + path, "--disablesecurity"]
    # Memory measure: the child's peak resident set through wait4's rusage.
    with open(path + ".out", "wb") as out_file, open(path + ".err", "wb") as err_file:
        proc = subprocess.Popen(command, stdout=out_file, stderr=err_file, cwd=WORK)
        _, status, usage = os.wait4(proc.pid, 0)
    code = os.waitstatus_to_exitcode(status)
    with open(path + ".out", "rb") as handle:
        out = handle.read()
    with open(path + ".err", "rb") as handle:
        err = handle.read()
    os.unlink(path + ".out")
    os.unlink(path + ".err")
    out = out.decode("utf-8", "replace")
    err = err.decode("utf-8", "replace")
    faults = []
    if usage.ru_maxrss > HWM_LIMIT_KB:
        faults.append("peak memory %d KiB" % usage.ru_maxrss)
    if code == 137 or code == -9:
        faults.append("timeout/killed")
    lines = [line for line in out.splitlines() if line.strip()]
    summary = None
    try:
        summary = json.loads(lines[-1]) if lines else None
    except ValueError:
        pass
    if not isinstance(summary, dict):
        faults.append("no summary (exit %d)" % code)
    else:
        ok = summary.get("successful")
        expected_code = summary.get("exitCode")
        if ok and code != 0:
            faults.append("successful but exit %d" % code)
        if not ok and code == 0:
            faults.append("failed but exit 0")
        if expected_code is not None and expected_code != code:
            faults.append("summary exitCode %r but exit %d" % (expected_code, code))
    if "Sanitizer" in err or "runtime error:" in err or "ABORT" in err or "LeakSanitizer" in err:
        index = max(err.find("Sanitizer"), err.find("runtime error:"), err.find("ABORT"))
        faults.append("sanitizer: " + err[max(0, index - 200):index + 600])
    return faults, usage.ru_maxrss, code, (summary or {}).get("errors")


def main():
    rng = random.Random(SEED)
    os.makedirs(WORK, exist_ok=True)
    doc_dir = os.path.join(WORK, "docs")
    os.makedirs(doc_dir, exist_ok=True)
    tried = held = 0
    report = []
    only = os.environ.get("ONLY")
    fixed = fixed_documents(doc_dir)
    jobs = []
    for name, text in fixed.items():
        path = os.path.join(doc_dir, name)
        with open(path, "w", encoding="utf-8", errors="surrogatepass") as handle:
            handle.write(text)
        jobs.append((name, path))
    if os.environ.get("FIXED_ONLY") is None:
        for index in range(COUNT):
            name = "r%04d.%s" % (index, "json" if index % 2 == 0 else "yaml")
            path = os.path.join(doc_dir, name)
            document = random_document(rng, path)
            with open(path, "w") as handle:
                if name.endswith(".json"):
                    json.dump(document, handle)
                else:
                    # JSON is YAML too; flow style keeps it simple.
                    json.dump(document, handle)
            jobs.append((name, path))
    for name, path in jobs:
        if only and only not in name:
            continue
        tried += 1
        faults, hwm, code, errors = run_one(path, name)
        if faults:
            report.append((name, faults))
            print("FAULT %s: %s" % (name, "; ".join(faults)[:1500]), flush=True)
        else:
            held += 1
            print("ok %s exit %d %dKiB %s" % (name, code, hwm, str(errors)[:160]), flush=True)
    print("tried %d held %d" % (tried, held))


main()
