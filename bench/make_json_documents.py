#!/usr/bin/env python3
"""Writes the JSON documents the JSON benchmark reads, one file per shape.

    make_json_documents.py OUTPUT_DIR [--megabytes N ...]

Shapes (each about N MB, 10 by default; the same bytes on every run):
  mixed    records of escaped and non-ASCII strings, numbers, literals,
           short lists and objects
  numbers  rows of integers, decimals and exponents
  strings  records of long texts with escapes and non-ASCII characters
  deep     records nested 28 levels deep
Written with every run, at their own sizes:
  package-index  20 MB: package records of a registry index (names,
                 versions, descriptions, dependency maps, checksums,
                 maintainers)
  geojson        20 MB: a feature collection of polygons and lines, long
                 arrays of coordinate pairs with many decimals
  twitter        10 MB: status records with nested user and entity
                 objects, ids as numbers and text, non-ASCII text, nulls
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


def package(rng, index):
    name = "pkg-%s-%d" % (WORDS[rng.randrange(4)], index)
    version = lambda: "%d.%d.%d" % (rng.randrange(10), rng.randrange(30), rng.randrange(100))
    dependencies = ",".join('"dep-%d":"^%s"' % (rng.randrange(5000), version()) for _ in range(rng.randrange(6)))
    keywords = ",".join('"%s"' % WORDS[rng.randrange(4)] for _ in range(rng.randrange(4)))
    return ('{"name":"%s","version":"%s","description":"A package for %s and %s with %d options",'
            '"license":"MIT","homepage":"https://example.org/%s","dependencies":{%s},'
            '"dist":{"tarball":"https://registry.example.org/%s/-/%s-%s.tgz","shasum":"%040x","size":%d},'
            '"keywords":[%s],"maintainers":[{"name":"user%d","email":"user%d@example.org"}],'
            '"deprecated":%s,"time":"2024-%02d-%02dT%02d:%02d:00.000Z"}'
            % (name, version(), WORDS[rng.randrange(4)], WORDS[rng.randrange(4)], rng.randrange(100), name,
               dependencies, name, name, version(), rng.getrandbits(160), rng.randrange(10**7), keywords,
               rng.randrange(10**5), rng.randrange(10**5), "true" if rng.randrange(20) == 0 else "false",
               rng.randrange(1, 13), rng.randrange(1, 29), rng.randrange(24), rng.randrange(60)))


def feature(rng, index):
    x, y = rng.uniform(-140, -50), rng.uniform(40, 80)
    points = []
    for _ in range(rng.randrange(20, 120)):
        x += rng.uniform(-0.01, 0.01)
        y += rng.uniform(-0.01, 0.01)
        points.append("[%.15f,%.15f]" % (x, y))
    if index % 3:
        geometry = '{"type":"Polygon","coordinates":[[%s,%s]]}' % (",".join(points), points[0])
    else:
        geometry = '{"type":"LineString","coordinates":[%s]}' % ",".join(points)
    return ('{"type":"Feature","id":%d,"properties":{"name":"area %d","kind":"%s","population":%d,"area":%.3f},'
            '"geometry":%s}' % (index, index, WORDS[rng.randrange(4)], rng.randrange(10**6),
                                rng.uniform(0, 1e4), geometry))


def status(rng, index):
    ident = 1400000000000000000 + index * 7919
    user = ('{"id":%d,"id_str":"%d","name":"%s","screen_name":"user_%d","location":"%s","description":"%s",'
            '"url":null,"protected":false,"followers_count":%d,"friends_count":%d,"created_at":"Mon Sep 24 03:35:21 +0000 2012",'
            '"verified":%s,"profile_image_url":"http://pbs.example.org/profile_images/%d/a_normal.jpeg",'
            '"default_profile":true}'
            % (rng.randrange(10**9), rng.randrange(10**9), WORDS[rng.randrange(10)], index, WORDS[rng.randrange(10)],
               " ".join(WORDS[rng.randrange(10)] for _ in range(8)), rng.randrange(10**5), rng.randrange(10**4),
               "true" if rng.randrange(10) == 0 else "false", rng.randrange(10**9)))
    hashtags = ",".join('{"text":"%s","indices":[%d,%d]}' % (WORDS[rng.randrange(4)], i, i + 6)
                        for i in range(rng.randrange(3)))
    return ('{"created_at":"Sun Aug 31 00:29:15 +0000 2014","id":%d,"id_str":"%d","text":"%s",'
            '"source":"<a href=\\"http://example.org\\" rel=\\"nofollow\\">client</a>","truncated":false,'
            '"in_reply_to_status_id":null,"in_reply_to_user_id":null,"user":%s,"geo":null,"coordinates":null,'
            '"retweet_count":%d,"favorite_count":%d,"entities":{"hashtags":[%s],"symbols":[],"urls":[],'
            '"user_mentions":[]},"favorited":false,"retweeted":false,"lang":"ja"}'
            % (ident, ident, " ".join(WORDS[rng.randrange(10)] for _ in range(12)), user, rng.randrange(1000),
               rng.randrange(1000), hashtags))


SHAPES = {"mixed": (mixed, '{"records":[', "]}"), "numbers": (numbers, '{"rows":[', "]}"),
          "strings": (strings, '{"texts":[', "]}"), "deep": (deep, "[", "]")}
# Shapes written at their own size on every run.
FIXED = {"package-index": ((package, '{"packages":[', "]}"), 20),
         "geojson": ((feature, '{"type":"FeatureCollection","features":[', "]}"), 20),
         "twitter": ((status, '{"statuses":[', '],"search_metadata":{"count":100,"max_id":null}}'), 10)}


def write(path, shape, megabytes):
    make, head, tail = SHAPES[shape] if shape in SHAPES else FIXED[shape][0]
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
    for shape, (_, megabytes) in FIXED.items():
        write(os.path.join(arguments.output, shape + ".json"), shape, megabytes)
    for megabytes in arguments.megabytes:
        if megabytes == 10:
            for shape in SHAPES:
                write(os.path.join(arguments.output, shape + ".json"), shape, 10)
        else:
            write(os.path.join(arguments.output, "mixed-%dmb.json" % megabytes), "mixed", megabytes)


if __name__ == "__main__":
    main()
