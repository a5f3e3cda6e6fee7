#!/bin/sh
# Builds the web page that updates a receiver through Web Serial: the loader's core compiled
# to WebAssembly with Debian's emscripten (installed when missing, as root or through sudo).
# The output is a static folder, build-web/site/ (index.html, gpsfwload.js, gpsfwload.wasm,
# style.css), that any static web server can serve.
# Exit status: 0 built, 1 the build failed or the page is over its weight, 2 a tool is missing.
set -eu
cd "$(dirname "$0")/.."

scripts/apt-install-missing.sh emscripten node-acorn
for tool in emcmake cmake ninja node; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "web-build.sh: $tool is missing" >&2
    exit 2
  fi
done
# emscripten's JavaScript optimizer needs acorn, which Debian installs for its Node.js.
NODE_PATH=/usr/share/nodejs
export NODE_PATH
# The system libraries are built once into emscripten's cache; one that is not ours to write
# (a user without root) is kept in the home folder instead.
if [ -z "${EM_CACHE:-}" ] && [ ! -w /usr/share/emscripten/cache ]; then
  EM_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/emscripten"
  export EM_CACHE
fi

build="build-web"
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
# shellcheck disable=SC2086 # an empty launcher is no argument
emcmake cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DGPSFW_TOOLS=OFF \
  -DGPSFW_TESTS=OFF -DGPSFW_BENCH=OFF $launcher >/dev/null
cmake --build "$build" -j"${GPSFW_JOBS:-2}" --target gpsfwweb

# The page loads in one go on a slow line: at most 1 MB in all.
limit=1048576
size=$(cat "$build"/site/* | wc -c)
if [ "$size" -gt "$limit" ]; then
  echo "web-build.sh: the page weighs $size bytes, more than $limit" >&2
  exit 1
fi
echo "The page is in $build/site/ ($size bytes)."
