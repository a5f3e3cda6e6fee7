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

if [ ! -x /usr/bin/chromium ]; then
  echo "Installing: chromium"
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends chromium
fi
for tool in node npm python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "web-test.sh: $tool is missing (Node.js 20 or later is needed)" >&2
    exit 2
  fi
done
node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 20 ]; then
  echo "web-test.sh: Node.js $(node --version) is too old: playwright-core needs 20 or later" >&2
  exit 2
fi
if [ ! -f tests/browser/node_modules/playwright-core/package.json ]; then
  echo "Installing tests/browser's packages (npm ci)"
  if ! (cd tests/browser && timeout 300 npm ci --no-audit --no-fund --loglevel=error); then
    echo "web-test.sh: npm ci in tests/browser failed (is the npm registry reachable?)" >&2
    exit 2
  fi
fi

build=build
programs="gpsfwload gpsfwsim gpsfwimg gpsfwstation"
built=yes
for p in $programs; do
  [ -x "$build/bin/$p" ] || built=no
done
if [ "${GPSFW_BROWSER_NO_BUILD:-}" != 1 ] || [ $built = no ]; then
  scripts/install-deps.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # shellcheck disable=SC2086 # one target per word
  cmake --build "$build" -j2 --target $programs >/dev/null
fi
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
