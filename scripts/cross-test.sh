#!/bin/sh
# The loader on ARM Linux boards: cross builds the whole tree for ARCH (arm64 or armhf) with
# Debian's cross compiler and runs the whole test suite and the demo under qemu user-mode
# emulation. Usage: scripts/cross-test.sh arm64|armhf
# Only what the tests need is built (no benchmarks, no fuzz targets). The tests mostly wait on
# ptys and the simulated receiver's timing, so more of them run at once than there are cores:
# GPSFW_CTEST_JOBS (4) sets how many.
set -eu
cd "$(dirname "$0")/.."

arch=${1:-arm64}
case "$arch" in
  arm64) triplet=aarch64-linux-gnu ;;
  armhf) triplet=arm-linux-gnueabihf ;;
  *) echo "usage: $0 arm64|armhf" >&2; exit 2 ;;
esac

scripts/apt-install-missing.sh g++-$triplet qemu-user googletest
scripts/install-deps.sh

build=build-$arch
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher \
  -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$triplet.cmake" \
  -DGPSFW_BENCH=OFF -DGPSFW_FUZZ=OFF >/dev/null
started=$(date +%s)
cmake --build "$build" -j2
built=$(date +%s)

echo "== Tests under qemu ($arch)"
ctest --test-dir "$build" -j"${GPSFW_CTEST_JOBS:-4}" --output-on-failure
tested=$(date +%s)

echo "== Demo under qemu ($arch)"
GPSFW_DEMO_BIN="$build/emulated" scripts/demo.sh
echo "== $arch: build $((built - started)) s, tests $((tested - built)) s, demo $(($(date +%s) - tested)) s"
