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

if [ ! -x /usr/bin/chromium ]; then
  echo "Installing: chromium"
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends chromium
fi
for tool in node npm; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "browser-test.sh: $tool is missing (Node.js 20 or later is needed)" >&2
    exit 2
  fi
done
# playwright-core needs Node.js 20; Debian 12's own nodejs is 18.
node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 20 ]; then
  echo "browser-test.sh: Node.js $(node --version) is too old: playwright-core needs 20 or later" >&2
  exit 2
fi

if [ ! -f tests/browser/node_modules/playwright-core/package.json ]; then
  echo "Installing tests/browser's packages (npm ci)"
  if ! (cd tests/browser && timeout 300 npm ci --no-audit --no-fund --loglevel=error); then
    echo "browser-test.sh: npm ci in tests/browser failed (is the npm registry reachable?)" >&2
    exit 2
  fi
fi

build=build
programs="gpsfwstation gpsfwload gpsfwsim gpsfwimg"
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

GPSFW_BIN="$root/$build/bin"
export GPSFW_BIN
status=0
timeout -k 10 180 node tests/browser/dashboard.test.mjs ${update:+"$update"} || status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "browser-test.sh: the dashboard test did not end within 180 s" >&2
  exit 1
fi
[ $status -eq 0 ] || exit 1
echo "Dashboard browser test passed."
