#!/bin/sh
# Builds the whole tree the other ways it must build on Debian 12: a plain Release build with
# the default compiler (GCC, -O3), exactly as a user types it, and a RelWithDebInfo build with
# clang. Warnings are errors in both (the top-level CMakeLists.txt). Installs missing Debian
# packages first.
# Usage: scripts/build-variants.sh [JOBS]
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=${1:-2}
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi

echo "== Release, default compiler"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release $launcher
cmake --build build-release -j"$jobs"

echo "== RelWithDebInfo, clang"
CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ $launcher
cmake --build build-clang -j"$jobs"

echo "Release (default compiler) and clang builds succeeded."
