#!/bin/sh
# What a browser test needs before it runs: Debian's Chromium (through apt, as root or through
# sudo), Node.js 20 or later, playwright-core (npm ci in tests/browser, the runner the browser
# tests share), and the named programs in build/bin, built unless GPSFW_BROWSER_NO_BUILD=1 and
# they are there.
# Usage: scripts/browser-prepare.sh TEST-NAME PROGRAM...
# Exit status: 0 ready, 2 a tool is missing (named on standard error).
set -eu
cd "$(dirname "$0")/.."
name=$1
shift

if [ ! -x /usr/bin/chromium ]; then
  echo "Installing: chromium"
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends chromium
fi
for tool in node npm python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$name: $tool is missing (Node.js 20 or later is needed)" >&2
    exit 2
  fi
done
# playwright-core needs Node.js 20; Debian 12's own nodejs is 18.
node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 20 ]; then
  echo "$name: Node.js $(node --version) is too old: playwright-core needs 20 or later" >&2
  exit 2
fi
if [ ! -f tests/browser/node_modules/playwright-core/package.json ]; then
  echo "Installing tests/browser's packages (npm ci)"
  if ! (cd tests/browser && timeout 300 npm ci --no-audit --no-fund --loglevel=error); then
    echo "$name: npm ci in tests/browser failed (is the npm registry reachable?)" >&2
    exit 2
  fi
fi

built=yes
for p in "$@"; do
  [ -x "build/bin/$p" ] || built=no
done
if [ "${GPSFW_BROWSER_NO_BUILD:-}" != 1 ] || [ $built = no ]; then
  scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j2 --target "$@" >/dev/null
fi
