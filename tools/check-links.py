#!/usr/bin/env python3
"""Fails when a layer's library needs a symbol that only a library above it
defines: each layer links alone against the ones below it.

The test programs link the whole stack, so a call up the order links there
by accident; this check reads the archives' symbol tables instead (nm) and
resolves each layer's undefined symbols against its own archive and those
below. A symbol that no archive of the project defines comes from the system
libraries and is not this check's business.

Usage: check-links.py LAYER [LAYER ...], lowest layer first, where a LAYER
is one archive or several joined by "+" (a layer and the third-party library
it brings, e.g. libplatform.a+libduktape.a; a library given with a
layer is below every later layer too).
Every violation is printed as "archive(object): symbol (defined only in
archive above it)".
"""
import os
import subprocess
import sys

DEFINED = set('TDBRVWiuGSC')
UNDEFINED = set('U')


def symbols(archive):
    """{object: (defined, undefined)} of one archive, from nm's POSIX output."""
    output = subprocess.run(['nm', '-A', '-g', '-P', archive], check=True, capture_output=True,
                            text=True).stdout
    table = {}
    for line in output.splitlines():
        where, _, rest = line.partition(': ')
        fields = rest.split()
        if len(fields) < 2:
            continue
        name, kind = fields[0], fields[1]
        member = where[where.find('[') + 1:-1] if where.endswith(']') else os.path.basename(where)
        defined, undefined = table.setdefault(member, (set(), set()))
        if kind in DEFINED:
            defined.add(name)
        elif kind in UNDEFINED:
            undefined.add(name)
    return table


def check(layers):
    """The violations of a list of layers, each a list of archives."""
    tables = [[(archive, symbols(archive)) for archive in layer] for layer in layers]
    defined_by_layer = []
    for layer in tables:
        names = set()
        for _, table in layer:
            for defined, _ in table.values():
                names |= defined
        defined_by_layer.append(names)
    failures = []
    for index, layer in enumerate(tables):
        below = set().union(*defined_by_layer[:index + 1])
        for archive, table in layer:
            for member, (_, undefined) in sorted(table.items()):
                for name in sorted(undefined - below):
                    owners = [a for j in range(index + 1, len(tables)) for a, t in tables[j]
                              if any(name in d for d, _ in t.values())]
                    if owners:
                        failures.append(f'{os.path.basename(archive)}({member}): {name} '
                                        f'(defined only in {os.path.basename(owners[0])} above it)')
    return failures


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    layers = [argument.split('+') for argument in sys.argv[1:]]
    failures = check(layers)
    for line in failures:
        print(line)
    if failures:
        print(f'link check: {len(failures)} symbol(s) taken from a layer above', file=sys.stderr)
        return 1
    print(f'link check: clean ({len(layers)} layers)')
    return 0


if __name__ == '__main__':
    sys.exit(main())
