#!/bin/sh
# The web page in a real browser: Debian's Chromium, driven by playwright-core, updates
# simulated receivers (gpsfwsim on ptys) through a fake Web Serial port relayed on loopback
# (tests/web/web.test.mjs).
# Installs what is missing (chromium through apt; playwright-core through npm ci in
# tests/browser, whose runner this test shares), builds the page (scripts/web-build.sh) and
# the programs unless GPSFW_BROWSER_NO_BUILD=1 and they are built (the page always).
# Exit status: 0 the test passed, 1 it failed or timed out, 2 a tool it needs is missing.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/browser-prepare.sh web-test.sh gpsfwload gpsfwsim gpsfwimg gpsfwstation
build=build
# The page is always brought up to date: it is the thing under test.
scripts/web-build.sh >/dev/null

GPSFW_BIN="$root/$build/bin"
GPSFW_WEB_SITE="$root/build-web/site"
export GPSFW_BIN GPSFW_WEB_SITE
status=0
timeout -k 10 400 node tests/web/web.test.mjs || status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "web-test.sh: the web page's test did not end within 400 s" >&2
  exit 1
fi
[ $status -eq 0 ] || exit 1
echo "Web page browser test passed."
