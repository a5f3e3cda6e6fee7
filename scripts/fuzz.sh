#!/bin/sh
# Builds the parsers' libFuzzer targets with clang and runs each for a short time.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGPSFW_FUZZ=ON -DGPSFW_SANITIZE=ON -DGPSFW_TESTS=OFF -DGPSFW_BENCH=OFF
cmake --build build-fuzz -j2
fuzz/run_fuzzers.sh build-fuzz "${1:-20}"
