#!/usr/bin/env python3
"""Writes the many-file archive the zip benchmark extracts.

    make_zip_archive.py OUTPUT.zip [--files N] [--megabytes M]

About N files (12,400 by default) in nested folders, about M MB in all (203 by
default): mostly small text and source-like files, some mid-size and a few
large binaries, deflated the way zip tools do. The same bytes on every run.
"""
import argparse
import os
import random
import zipfile


def contents(rng, size):
    if rng.random() < 0.7:
        words = ["alpha", "beta", "gamma", "delta", "return", "value", "index", "{", "}", ";\n", "\n"]
        out, length = [], 0
        while length < size:
            word = words[rng.randrange(len(words))] + " "
            out.append(word)
            length += len(word)
        return "".join(out)[:size].encode()
    return rng.randbytes(size)


def sizes(rng, files, total):
    # Most files small, a tail of large ones, scaled to the wanted total.
    raw = [rng.lognormvariate(8.0, 1.6) for _ in range(files)]
    scale = total / sum(raw)
    return [max(0, int(r * scale)) for r in raw]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--files", type=int, default=12400)
    parser.add_argument("--megabytes", type=int, default=203)
    arguments = parser.parse_args()
    rng = random.Random(2024)
    os.makedirs(os.path.dirname(os.path.abspath(arguments.output)), exist_ok=True)
    temporary = arguments.output + ".part"
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        for index, size in enumerate(sizes(rng, arguments.files, arguments.megabytes * 1000 * 1000)):
            name = "tree/d%02d/s%02d/file%05d.%s" % (index % 37, index % 11, index, "txt" if index % 3 else "bin")
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 6, 7, 8, 10))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, contents(rng, size))
    os.replace(temporary, arguments.output)


if __name__ == "__main__":
    main()
