#!/usr/bin/env python3
"""Writes the many-file archive the zip benchmark extracts.

    make_zip_archive.py OUTPUT.zip [--files N] [--megabytes M] [--password PW]

About N files (12,400 by default) in nested folders, about M MB in all (203 by
default): mostly small text and source-like files, some mid-size and a few
large binaries, deflated the way zip tools do. With --password, the entries
are WinZip AES-256 (needs 7z) instead. The same bytes on every run.
"""
import argparse
import os
import random
import shutil
import subprocess
import tempfile
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
    parser.add_argument("--password")
    arguments = parser.parse_args()
    rng = random.Random(2024)
    temporary = arguments.output + ".part"
    if arguments.password is None:
        with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
            for index, size in enumerate(sizes(rng, arguments.files, arguments.megabytes * 1000 * 1000)):
                name = "tree/d%02d/s%02d/file%05d.%s" % (index % 37, index % 11, index, "txt" if index % 3 else "bin")
                info = zipfile.ZipInfo(name, date_time=(2024, 5, 6, 7, 8, 10))
                info.external_attr = 0o644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, contents(rng, size))
    else:
        folder = tempfile.mkdtemp()
        try:
            for index, size in enumerate(sizes(rng, arguments.files, arguments.megabytes * 1000 * 1000)):
                path = os.path.join(folder, "tree", "file%05d.bin" % index)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as out:
                    out.write(rng.randbytes(size))
            if os.path.exists(temporary):
                os.remove(temporary)
            subprocess.run(["7z", "a", "-tzip", "-mem=AES256", "-mx=0", "-p" + arguments.password, "-bd",
                            os.path.abspath(temporary), "tree"], cwd=folder, check=True, stdout=subprocess.DEVNULL)
        finally:
            shutil.rmtree(folder)
    os.replace(temporary, arguments.output)


if __name__ == "__main__":
    main()
