#!/usr/bin/env python3
"""Writes the JSON documents the JSON benchmark reads, one file per shape.

    make_json_documents.py OUTPUT_DIR [--megabytes N ...]

Shapes (each about N MB, 10 by default; the same bytes on every run):
  mixed    records of escaped and non-ASCII strings, numbers, literals,
           short lists and objects
  numbers  rows of integers, decimals and exponents
  strings  records of long texts with escapes and non-ASCII characters
  deep     records nested 28 levels deep
For every size other than 10 only the mixed shape is written, as
mixed-<N>mb.json (the linearity series); 10 MB files are <shape>.json.
"""
import argparse
import os
import random

WORDS = ["alpha", "beta", "gamma", "delta", "caf\\u00e9", "line\\nbreak", "quote\\\"d",
         "\u00e9t\u00e9", "\U0001F600 smile", "path\\/to\\/file"]


def mixed(rng, index):
    w = lambda: WORDS[rng.randrange(10)]
    return ('{"id":%d,"name":"%s %d","score":%s,"rate":-%de-3,"active":%s,"parent":null,'
            '"tags":["%s","%s"],"point":{"x":%d,"y":%d}}'
            % (index, w(), rng.getrandbits(32), repr(rng.randrange(100000) / 100.0),
               rng.randrange(1000), "true" if rng.getrandbits(1) else "false", w(), w(),
               rng.randrange(1000), rng.randrange(1000)))


def numbers(rng, index):
    row = []
    for column in range(16):
        kind = column % 4
        if kind == 0:
            row.append(str(rng.randrange(-10**9, 10**9)))
        elif kind == 1:
            row.append(repr(rng.randrange(10**7) / 1000.0))
        elif kind == 2:
            row.append("%de%d" % (rng.randrange(1, 1000), rng.randrange(-30, 30)))
        else:
            row.append("-%d.%04dE+%d" % (rng.randrange(100), rng.randrange(10000), rng.randrange(10)))
    return "[" + ",".join(row) + "]"


def strings(rng, index):
    def text(length):
        parts = []
        while sum(len(p) for p in parts) < length:
            parts.append(WORDS[rng.randrange(10)] if rng.randrange(4) == 0
                         else "".join(rng.choice("abcdefghijklmnopqrstuvwxyz ") for _ in range(rng.randrange(4, 24))))
        return " ".join(parts)
    return '{"title":"%s","body":"%s","note":"%s"}' % (text(24), text(160), text(48))


def deep(rng, index):
    depth = 28
    opening, closing = [], []
    for level in range(depth - 1):
        if level % 2 == 0:
            opening.append('{"level%d":%d,"child":' % (level, rng.randrange(1000)))
            closing.append("}")
        else:
            opening.append('[%d,"%s",' % (rng.randrange(1000), WORDS[rng.randrange(10)]))
            closing.append("]")
    leaf = '{"leaf":%d,"ok":true}' % index
    return "".join(opening) + leaf + "".join(reversed(closing))


SHAPES = {"mixed": (mixed, '{"records":[', "]}"), "numbers": (numbers, '{"rows":[', "]}"),
          "strings": (strings, '{"texts":[', "]}"), "deep": (deep, "[", "]")}


def write(path, shape, megabytes):
    make, head, tail = SHAPES[shape]
    rng = random.Random(2024)
    limit = megabytes * 1000 * 1000
    pieces, size, index = [head], len(head), 0
    while size < limit:
        piece = ("," if index else "") + make(rng, index)
        pieces.append(piece)
        size += len(piece.encode("utf-8"))
        index += 1
    pieces.append(tail)
    temporary = path + ".part"
    with open(temporary, "w", encoding="utf-8") as out:
        out.write("".join(pieces))
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--megabytes", type=int, nargs="*", default=[10])
    arguments = parser.parse_args()
    os.makedirs(arguments.output, exist_ok=True)
    for megabytes in arguments.megabytes:
        if megabytes == 10:
            for shape in SHAPES:
                write(os.path.join(arguments.output, shape + ".json"), shape, 10)
        else:
            write(os.path.join(arguments.output, "mixed-%dmb.json" % megabytes), "mixed", megabytes)


if __name__ == "__main__":
    main()
