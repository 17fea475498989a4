#!/bin/sh
# Installs the Debian packages a task needs; does nothing when they are all
# present.
#   tools/setup.sh run    what the program's build needs (./run.sh)
#   tools/setup.sh test   that and what the tests, the benchmarks and the fuzz
#                         targets need (./test.sh; the default)
set -e
# The program: the compiler, CMake and the libraries it links, and the CA
# bundle behind its default trust store. Its GTK windows are optional: without
# the GTK files (in the test list) the native UI runs on its headless model.
RUN="
  cmake ninja-build g++ binutils
  zlib1g-dev libzip-dev libpcre2-dev duktape-dev
  ca-certificates
"
# The tests, the benchmarks and the fuzz targets: their references and peers,
# the GTK backend with its virtual display, clang for libFuzzer.
TEST="
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  pcre2-utils curl
  python3 python3-cryptography python3-yaml
  lld llvm osslsigncode python3-pefile python3-pyelftools
  libxml2-utils zip unzip p7zip-full xdelta3 iproute2 e2fsprogs
  libssl-dev rapidjson-dev nlohmann-json3-dev libsimdjson-dev libxml2-dev libyaml-dev
  openssl util-linux hyperfine procps nodejs strace
  libgtk-3-dev libnotify-dev xvfb xauth x11-utils imagemagick xdotool
"
case "${1:-test}" in
  run) PACKAGES=$RUN ;;
  test) PACKAGES="$RUN $TEST" ;;
  *) echo "usage: tools/setup.sh [run|test]" >&2; exit 2 ;;
esac
# One query for the whole list: asking once per package costs about a second
# on every run, even when everything is installed.
INSTALLED=$(dpkg-query -W -f='${Package} ${Status}\n' $PACKAGES 2>/dev/null |
  sed -n 's/^\([^ ]*\) install ok installed$/\1/p' | tr '\n' ' ')
MISSING=""
for p in $PACKAGES; do
  case " $INSTALLED " in
    *" $p "*) ;;
    *) MISSING="$MISSING $p" ;;
  esac
done
if [ -n "$MISSING" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $MISSING
fi
