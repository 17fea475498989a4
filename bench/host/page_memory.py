#!/usr/bin/python3
"""Peak RSS of the host while a page's ordinary calls make it hold memory:
one fire of a large info to the page's own observer (a text, and a list of
small items), addMacro with 8,000-byte values, distinct addObserver calls,
task notifications fired under distinct senders, references to ids of the
page's making, environment variables and WorkflowManager adds in one loop.
Each row also runs the page without its
calls (what the page's own heap takes), so the host's part shows. Goal: the
host's part within the memory budget (256 MiB), what passes it answered
false and said once.
    bench/host/page_memory.py [path of the built velmarsh]
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release/host/velmarsh")

TEXT = """var s = 'x'; while (s.length < (%d << 20)) s += s; var info = JSON.stringify({big: s.substring(0, %d << 20)});
s = null;"""
LIST = """var s = '0'; while (s.length < (%d << 20)) s += ',' + s; var info = '{"z":[' + s + ']}'; s = null;"""
FIRE = """var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Big', notification: 'Info', callbackId: 'b'});
print('answer=' + TQX.call(center, 'fire', {type: 'Big', notification: 'Info', sender: '', info: info}));
function onBatch(items) { print('heard'); }"""
MACROS = """var app = TQX.create('TQX.WorkflowApp'), v = 'x', taken = 0;
while (v.length < 8000) v += v; v = v.substring(0, 8000);
for (var i = 0; i < %d; i++) taken += TQX.call(app, 'addMacro', {key: 'm' + i, value: v}) ? 1 : 0;
print('answer=' + taken);"""
OBSERVERS = """var center = TQX.create('TQX.NotificationCenter'), taken = 0;
for (var i = 0; i < %d; i++)
  taken += TQX.call(center, 'addObserver', {type: 'T' + i, notification: 'N', callbackId: 'c'}) ? 1 : 0;
print('answer=' + taken);"""
SENDERS = """var center = TQX.create('TQX.NotificationCenter'), taken = 0;
for (var i = 0; i < %d; i++)
  taken += TQX.call(center, 'fire', {type: 'Task', notification: 'Status', sender: 's' + i, info: info}) ? 1 : 0;
print('answer=' + taken);"""
REFS = """var center = TQX.create('TQX.NotificationCenter'), taken = 0, pad = new Array(%d).join('r');
for (var i = 0; i < %d; i++) taken += TQX.call(center, 'addRefInteropReference', {instanceId: pad + i}) ? 1 : 0;
print('answer=' + taken);"""
ENVIRONMENT = """var platform = TQX.create('TQX.Platform'), taken = 0, v = new Array(8001).join('e');
for (var i = 0; i < 100000; i++) taken += TQX.call(platform, 'setEnvironmentVariable', {name: 'E' + i, value: v}) ? 1 : 0;
print('answer=' + taken);"""
ADDS = """var manager = TQX.create('TQX.WorkflowManager'), taken = 0, url = JSON.stringify({url: '%s'});
for (var i = 0; i < %d; i++) taken += TQX.call(manager, 'add', {json: url, callbackId: ''}) ? 1 : 0;
print('answer=' + taken);"""


def maxrss(folder, page):
    """The host's peak RSS in MiB, the page's answer, and whether standard error named the budget."""
    with open(os.path.join(folder, "p.js"), "w") as handle:
        handle.write(page)
    with open(os.path.join(folder, "out"), "w+") as out, open(os.path.join(folder, "err"), "w+") as err:
        child = subprocess.Popen([PROGRAM, "--workflow=" + os.path.join(folder, "w.yaml"), "--script=" +
                                  os.path.join(folder, "p.js"), "--disablesecurity", "--window"],
                                 stdout=out, stderr=err)
        _, _, usage = os.wait4(child.pid, 0)
        out.seek(0)
        err.seek(0)
        answer = [line.split("Script - answer=", 1)[1] for line in out.read().splitlines() if "Script - answer=" in line]
        said = "memory budget" in err.read()
    return usage.ru_maxrss // 1024, answer[0] if answer else "-", said


def main():
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "w.yaml"), "w") as handle:
            handle.write("start:\n  type: Log\n  message: ran\n")
        with open(os.path.join(folder, "a.yaml"), "w") as handle:
            handle.write("start:\n  type: Log\n  message: added\n")
        rows = [("fire, a 30 MiB text info", TEXT % (30, 30), FIRE),
                ("fire, a 60 MiB text info", TEXT % (60, 60), FIRE),
                ("fire, a list info of 1 M items (2 MiB)", LIST % 1, FIRE),
                ("fire, a list info of 4 M items (8 MiB)", LIST % 4, FIRE),
                ("addMacro x 10,000 (8,000 bytes)", "", MACROS % 10000),
                ("addMacro x 150,000 (8,000 bytes)", "", MACROS % 150000),
                ("addObserver x 1,000,000 distinct", "", OBSERVERS % 1000000),
                ("fire Task/Status x 200,000 distinct senders", "var info = '{}';", SENDERS % 200000),
                ("fire Task/Status of a list of 1 M items x 8 senders", LIST % 1, SENDERS % 8),
                ("addRefInteropReference x 200,000 (4,000-byte ids)", "", REFS % (4001, 200000)),
                ("addRefInteropReference x 3,000,000 (short ids)", "", REFS % (1, 3000000)),
                ("setEnvironmentVariable x 100,000 (8,000 bytes)", "", ENVIRONMENT),
                ("WorkflowManager add x 30,000", "", ADDS % ("file://" + folder + "/a.yaml", 30000)),
                ("WorkflowManager add of a list of 4 M items", LIST % 4,
                 "print('answer=' + TQX.call(TQX.create('TQX.WorkflowManager'), 'add', {json: info.replace('{', "
                 "'{\"url\":\"file:///x\",'), callbackId: ''}));")]
        print("| page | answer | budget said | peak RSS | the page alone |\n|---|---|---|---|---|")
        for name, made, calls in rows:
            alone = maxrss(folder, made + "\nprint('answer=-');")[0]
            rss, answer, said = maxrss(folder, made + "\n" + calls)
            print("| %s | %s | %s | %d MiB | %d MiB |" % (name, answer, "yes" if said else "no", rss, alone))


main()
