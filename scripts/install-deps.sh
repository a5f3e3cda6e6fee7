#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -eu

PACKAGES="cmake ninja-build g++ clang libclang-rt-dev libgtest-dev libgmock-dev libbenchmark-dev
nlohmann-json3-dev srecord binutils python3 libsqlite3-dev sqlite3 libpq-dev postgresql python3-jsonschema
libmicrohttpd-dev pkg-config systemd prometheus"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
$SUDO apt-get update -qq
# libclang-rt-dev is a virtual name on some releases; fall back to the versioned runtime.
if ! $SUDO apt-get install -y -qq --no-install-recommends $missing; then
  missing=$(echo "$missing" | sed 's/libclang-rt-dev//')
  $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
