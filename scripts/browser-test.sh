#!/bin/sh
# The station's dashboard in a real browser: Debian's Chromium, driven by playwright-core, opens
# the page gpsfwstation serves while it flashes simulated receivers (gpsfwsim on ptys), and
# checks what it shows (tests/browser/dashboard.test.mjs).
# Installs what is missing (chromium through apt, as root or through sudo; playwright-core
# through npm ci), builds the four programs unless GPSFW_BROWSER_NO_BUILD=1 and they are built.
#   --update-screenshot   also write the mid-run screenshot to docs/dashboard.png
# Exit status: 0 the test passed, 1 it failed or timed out, 2 a tool it needs is missing.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

update=""
for arg in "$@"; do
  case "$arg" in
    --update-screenshot) update=--update-screenshot ;;
    *)
      echo "browser-test.sh: unknown argument '$arg' (only --update-screenshot)" >&2
      exit 2
      ;;
  esac
done

scripts/browser-prepare.sh browser-test.sh gpsfwstation gpsfwload gpsfwsim gpsfwimg
build=build

GPSFW_BIN="$root/$build/bin"
export GPSFW_BIN
status=0
timeout -k 10 240 node tests/browser/dashboard.test.mjs ${update:+"$update"} || status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "browser-test.sh: the dashboard test did not end within 240 s" >&2
  exit 1
fi
[ $status -eq 0 ] || exit 1
echo "Dashboard browser test passed."
