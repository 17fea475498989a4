#!/bin/sh
# The runtime's print engine reads "%ld" and "%lu" as 32-bit and has no "%h"
# or "%n"; any such conversion in a format string is a mistake. Use %lld,
# %I64d or %zu instead. A line whose text is data that must never be used as a
# format (inputs proving just that) says so with "not a format" in a comment.
cd "$(dirname "$0")/.."
DIRS=""
for d in runtime crypto platform formats content net host workflow base skin bench fuzz; do [ -d "$d" ] && DIRS="$DIRS $d"; done
FOUND=$(grep -rnE --include='*.cpp' --include='*.h' '"[^"]*%[-+ #0]*[0-9*]*(\.[0-9*]*)?(l[diuxXo]|h[hdiuxXo]?|n)' $DIRS | grep -v 'not a format')
if [ -n "$FOUND" ]; then
  echo "$FOUND"
  echo "print-format check: the lines above use %l<d|u|x>, %h or %n" >&2
  exit 1
fi
echo "print-format check: clean"
