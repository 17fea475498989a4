#!/bin/sh
# Installs the Debian packages the build, the tests, the benchmarks and the
# fuzz targets need; does nothing when they are all present.
set -e
PACKAGES="
  cmake ninja-build g++ binutils clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libzip-dev libpcre2-dev pcre2-utils curl
  python3 python3-cryptography python3-yaml
  lld llvm osslsigncode python3-pefile python3-pyelftools
  libxml2-utils zip unzip p7zip-full xdelta3 iproute2 e2fsprogs
  libssl-dev rapidjson-dev nlohmann-json3-dev libsimdjson-dev libxml2-dev libyaml-dev
  openssl ca-certificates util-linux hyperfine procps nodejs
  duktape-dev
  libgtk-3-dev libnotify-dev xvfb xauth x11-utils imagemagick xdotool
"
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
