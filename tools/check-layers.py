#!/usr/bin/env python3
"""Fails when an #include points up the layer order, into the tests, or at
another folder's internal header.

The source folders, lowest first: runtime/ (with runtime/posix/, which it may
include and be included by), crypto/, platform/ (with platform/posix/ and its
gtk/), formats/, content/, net/, workflow/, host/. A file includes only from
its own folder and from the folders before it.

tests/, fuzz/ and bench/ mirror that tree: a file under tests/<folder>/,
fuzz/<folder>/ or bench/<folder>/ includes from that folder and the ones before
it, in the tree and in the mirror (a test of crypto/ may use tests/runtime/'s
helpers, not tests/net/'s). The shared test helpers (tests/support/,
tests/fixtures/, tests/peers/) and the files at the top of fuzz/ and bench/,
which drive the program's whole stack, may include from anywhere but an
internal header.

Every include is resolved as the compiler finds it: "path" beside the file
first, then from the project's root (on every target's include path), and
<path> from the root; "../../workflow/workflow.h" and <workflow/workflow.h>
are the project's workflow/workflow.h. Includes that name no file of the tree
(system and generated headers) are not the check's business.

Three rules:
- no include points up the order;
- a source file never includes a file of tests/, fuzz/ or bench/;
- a header named *_internal.h is included only from its own top folder (and
  that folder's mirror, for white-box tests).

Every violation is printed as "file: #include <path> (reason)". An exception
is listed in EXCEPTIONS with a one-line reason; there is none.
Usage: check-layers.py [--root FOLDER] (default: the project holding this script).
"""
import argparse
import os
import re
import sys

ORDER = ['runtime', 'crypto', 'platform', 'formats', 'content', 'net', 'workflow', 'host']
MIRRORS = ['tests', 'fuzz', 'bench']
# Folders of the mirrors whose files may include from any layer.
FREE = ['tests/support', 'tests/fixtures', 'tests/peers']
SKIPPED_FOLDERS = ('corpus', 'dict', '__pycache__')

# (file, included path as written): reason. Keep it empty; a new line needs a reason.
EXCEPTIONS = {
}

INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*([<"])([^">]+)[">]', re.M)
SUFFIXES = ('.cpp', '.h', '.hpp', '.c', '.cc', '.inc', '.in')


def layer_of(path):
    """(layer index, is a mirror file) of a project path, or (None, ...)."""
    parts = path.split('/')
    if parts[0] in ORDER:
        return ORDER.index(parts[0]), False
    if parts[0] in MIRRORS and len(parts) > 2 and parts[1] in ORDER:
        return ORDER.index(parts[1]), True
    return None, parts[0] in MIRRORS


def resolve(root, including, kind, written):
    """The project path the include names, or None when it names no file of the tree."""
    candidates = []
    if kind == '"':
        candidates.append(os.path.join(os.path.dirname(including), written))
    candidates.append(written)
    for candidate in candidates:
        path = os.path.normpath(candidate).replace(os.sep, '/')
        if path.startswith('../') or path == '..' or os.path.isabs(path):
            continue
        if os.path.isfile(os.path.join(root, path)):
            return path
    return None


def own_top(path):
    """The layer a file belongs to for the internal-header rule (its mirror's
    layer for a test, fuzz or bench file), or its first folder otherwise."""
    layer, _ = layer_of(path)
    return ORDER[layer] if layer is not None else path.split('/')[0]


def check(root):
    """(violations, includes checked) of the tree under root."""
    failures = []
    checked = 0
    for top in ORDER + MIRRORS:
        base = os.path.join(root, top)
        if not os.path.isdir(base):
            continue
        for folder, dirs, files in os.walk(base):
            dirs[:] = sorted(d for d in dirs if d not in SKIPPED_FOLDERS)
            for name in sorted(files):
                if not name.endswith(SUFFIXES):
                    continue
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, root).replace(os.sep, '/')
                free = any(rel.startswith(f + '/') for f in FREE)
                source_layer, source_mirror = layer_of(rel)
                if rel.split('/')[0] in MIRRORS:
                    source_mirror = True
                with open(full, encoding='utf-8', errors='replace') as handle:
                    text = handle.read()
                for kind, written in INCLUDE.findall(text):
                    target = resolve(root, rel, kind, written)
                    if target is None:
                        continue  # system or generated headers
                    checked += 1
                    if (rel, written) in EXCEPTIONS:
                        continue
                    shown = f'#include {kind}{written}{">" if kind == "<" else chr(34)}'
                    target_layer, _ = layer_of(target)
                    target_mirror = target.split('/')[0] in MIRRORS
                    if target_mirror and not source_mirror:
                        failures.append(f'{rel}: {shown} (a source file includes a test file)')
                    elif os.path.basename(target).endswith('_internal.h') and own_top(target) != own_top(rel):
                        failures.append(f'{rel}: {shown} (an internal header of {own_top(target)}/)')
                    elif (not free and source_layer is not None and target_layer is not None
                          and target_layer > source_layer):
                        failures.append(f'{rel}: {shown} ({ORDER[target_layer]}/ is above {ORDER[source_layer]}/)')
    return failures, checked


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--root', default=os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
    root = os.path.abspath(parser.parse_args().root)
    failures, checked = check(root)
    for line in failures:
        print(line)
    if failures:
        print(f'layer check: {len(failures)} include(s) break the order {" < ".join(ORDER)}', file=sys.stderr)
        return 1
    print(f'layer check: clean ({checked} includes)')
    return 0


if __name__ == '__main__':
    sys.exit(main())
