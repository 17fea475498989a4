#!/bin/sh
# Runs a command with TMPDIR set to a fresh folder of its own, then removes
# the folder; fails, naming them, when the command left files in it.
#   tools/fresh-tmp.sh ctest --test-dir build/release
# The folder is made in the caller's TMPDIR (else /tmp) and is writable by
# every user, as /tmp is, since tests run children as another user. The exit
# status is the command's when it failed, else 1 when it left files, else 0.
set -e
[ $# -gt 0 ] || { echo "usage: tools/fresh-tmp.sh COMMAND [ARGUMENT...]" >&2; exit 2; }
FOLDER=$(mktemp -d "${TMPDIR:-/tmp}/velmarsh-tests.XXXXXX")
trap 'rm -rf "$FOLDER"' EXIT INT TERM
chmod 1777 "$FOLDER"
TMPDIR=$FOLDER "$@" && status=0 || status=$?
LEFT=$(cd "$FOLDER" && find . -mindepth 1 | sed 's|^\./||' | sort)
if [ -n "$LEFT" ]; then
  echo "left in the temporary folder (TMPDIR) by $*:"
  echo "$LEFT" | sed 's/^/  /'
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
