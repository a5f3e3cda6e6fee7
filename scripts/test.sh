#!/bin/sh
# Builds everything and runs every test: once as released, once under AddressSanitizer and
# UndefinedBehaviorSanitizer. Installs missing Debian packages first.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGPSFW_SANITIZE=ON -DGPSFW_BENCH=OFF \
  $launcher
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j2 --output-on-failure

# ctest runs each test in a process of its own; a fixture that leaves state behind for the
# next test (a folder it removed, an installed driver, an environment variable) only shows
# when a whole program runs its tests one after the other in one process.
for program in test_app test_front; do
  echo "== build/bin/$program as one process"
  build/bin/$program
done

echo "All tests passed, plain and sanitized."
