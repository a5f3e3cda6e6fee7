#!/bin/sh
# The fleet integrations end to end: the receiver's firmware installed by the update systems
# devices run (Mender's Update Module, SWUpdate's handler, RAUC's hook), each through the real
# program from Debian's packages against gpsfwsim on a pty, with the flash verified.
# Installs the packages when missing (as root or through sudo), builds the three programs, then
# runs every tests/fleet/*_test.sh in a fresh folder of its own, each bounded to 5 minutes.
# Exit status 0 only when every test passed.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/apt-install-missing.sh mender-client mender-artifact swupdate rauc rauc-service squashfs-tools dbus openssl python3 cpio

build=${GPSFW_FLEET_BUILD:-build}
if [ ! -x "$build/bin/gpsfwload" ] || [ -z "${GPSFW_FLEET_NO_BUILD:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # The guide test installs the build (cmake --install) as docs/fleet.md does: all it installs.
  cmake --build "$build" -j2 --target gpsfwload gpsfwsim gpsfwimg gpsfwstation gpsfw_man >/dev/null
fi
GPSFW_BIN="$root/$build/bin"
export GPSFW_BIN

failed=""
for test in tests/fleet/*_test.sh; do
  [ -e "$test" ] || continue
  FLEET_WORK=$(mktemp -d "${TMPDIR:-/tmp}/gpsfw-fleet-XXXXXX")
  export FLEET_WORK
  start=$(date +%s)
  status=0
  timeout -k 10 300 "$root/$test" >"$FLEET_WORK.log" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  if [ $status -eq 0 ]; then
    echo "PASS $test (${seconds} s)"
  else
    echo "FAIL $test (status $status, ${seconds} s):"
    sed 's/^/  | /' "$FLEET_WORK.log"
    failed="$failed $test"
  fi
  rm -rf "$FLEET_WORK" "$FLEET_WORK.log"
done
if [ -n "$failed" ]; then
  echo "Fleet tests failed:$failed"
  exit 1
fi
echo "All fleet tests passed."
