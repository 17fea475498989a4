#!/usr/bin/env python3
"""Fails when an #include "..." points up the layer order.

The source folders, lowest first: runtime/ (with runtime/posix/, which it may
include and be included by), crypto/, platform/ (with platform/posix/ and its
gtk/), formats/, content/, net/, workflow/, host/. A file includes only from
its own folder and from the folders before it.

tests/, fuzz/ and bench/ mirror that tree: a file under tests/<folder>/,
fuzz/<folder>/ or bench/<folder>/ includes from that folder and the ones before
it, in the tree and in the mirror (a test of crypto/ may use tests/runtime/'s
helpers, not tests/net/'s). The shared test helpers (tests/support/,
tests/fixtures/) and the files at the top of fuzz/ and bench/, which drive the
program's whole stack, may include from anywhere.

Every violation is printed as "file: #include "path" (folder above folder)".
An exception is listed in EXCEPTIONS with a one-line reason; there is none.
"""
import os
import re
import sys

ORDER = ['runtime', 'crypto', 'platform', 'formats', 'content', 'net', 'workflow', 'host']
MIRRORS = ['tests', 'fuzz', 'bench']
# Folders of the mirrors whose files may include from any layer.
FREE = ['tests/support', 'tests/fixtures', 'tests/peers']

# (file, included path): reason. Keep it empty; a new line needs a reason.
EXCEPTIONS = {
}

INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"]+)"', re.M)
SUFFIXES = ('.cpp', '.h', '.hpp', '.c', '.cc', '.inc', '.in')


def layer_of(path):
    """(layer index, is a mirror file) of a project path, or (None, ...)."""
    parts = path.split('/')
    if parts[0] in ORDER:
        return ORDER.index(parts[0]), False
    if parts[0] in MIRRORS and len(parts) > 2 and parts[1] in ORDER:
        return ORDER.index(parts[1]), True
    return None, parts[0] in MIRRORS


def main():
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))
    failures = []
    checked = 0
    for top in ORDER + MIRRORS:
        base = os.path.join(root, top)
        if not os.path.isdir(base):
            continue
        for folder, dirs, files in os.walk(base):
            dirs[:] = [d for d in dirs if d not in ('corpus', 'dict', '__pycache__')]
            for name in files:
                if not name.endswith(SUFFIXES):
                    continue
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, root).replace(os.sep, '/')
                if any(rel.startswith(f + '/') for f in FREE):
                    continue
                source_layer, source_mirror = layer_of(rel)
                if source_layer is None:
                    continue  # the top of fuzz/ and bench/
                with open(full, encoding='utf-8', errors='replace') as handle:
                    text = handle.read()
                for included in INCLUDE.findall(text):
                    target_layer, target_mirror = layer_of(included)
                    if target_layer is None:
                        continue  # system, generated or sibling headers, the shared test helpers
                    checked += 1
                    if target_mirror and not source_mirror:
                        failures.append(f'{rel}: #include "{included}" (a source file includes a test file)')
                    elif target_layer > source_layer and (rel, included) not in EXCEPTIONS:
                        failures.append(f'{rel}: #include "{included}" '
                                        f'({ORDER[target_layer]}/ is above {ORDER[source_layer]}/)')
    for line in failures:
        print(line)
    if failures:
        print(f'layer check: {len(failures)} include(s) point up the order {" < ".join(ORDER)}', file=sys.stderr)
        return 1
    print(f'layer check: clean ({checked} includes)')
    return 0


if __name__ == '__main__':
    sys.exit(main())
