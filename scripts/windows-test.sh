#!/bin/sh
# The loader on Windows' API: builds gpsfwload.exe and the unit tests with MinGW-w64, runs
# the unit tests under Wine, then a whole update of the demo image with gpsfwload.exe under
# Wine against gpsfwsim on a Linux pty, mapped to COM5 of a private Wine prefix.
# Exit status 0 only when every test passed, the loader ended with 0 and the flash verified.
set -eu
cd "$(dirname "$0")/.."

scripts/apt-install-missing.sh g++-mingw-w64-x86-64-posix wine wine64 googletest
scripts/install-deps.sh

launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
win=build-mingw
cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake \
  -DGPSFW_BENCH=OFF -DGPSFW_FUZZ=OFF >/dev/null
cmake --build "$win" -j2
# The simulator and the image tool run on the Linux side.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher >/dev/null
cmake --build build -j2 --target gpsfwsim gpsfwimg >/dev/null

WINEPREFIX="$(pwd)/$win/wineprefix"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
# The loader finds the simulator on COM5 of this prefix.
port=com5
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM
mkdir -p "$WINEPREFIX"
# One server for the whole run, its diagnostics kept out of the test output.
wineserver -p 2>"$win/wineserver.log"
wineboot -i >/dev/null 2>&1 || true

echo "== Unit tests under Wine"
ctest --test-dir "$win" -j2 --output-on-failure
# A fresh server for the update, its diagnostics kept out of the output as well.
wineserver -k 2>/dev/null || true
wineserver -p 2>>"$win/wineserver.log"

echo "== gpsfwload.exe under Wine against gpsfwsim"
out="$win/demo"
rm -rf "$out"
mkdir -p "$out/parts"
build/bin/gpsfwimg sample --pfld-size 4096 --fw-size 32768 --sfld-size 2048 --out-dir "$out/parts" >/dev/null
build/bin/gpsfwimg build --pfld "$out/parts/PFLD.bin" --fw "$out/parts/FW.bin" \
  --sfld "$out/parts/SFLD.srec" -o "$out/demo.bin" >/dev/null
link="$out/gps0"
build/bin/gpsfwsim --link "$link" --once --expect "$out/demo.bin" --time-limit 300 \
  >"$out/sim.out" 2>&1 &
sim=$!
i=0
while [ ! -e "$link" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 $sim 2>/dev/null; then
    echo "gpsfwsim did not start:"; cat "$out/sim.out"; exit 1
  fi
  sleep 0.1
done
slave=$(readlink "$link")
ln -sfn "$slave" "$WINEPREFIX/dosdevices/$port"
# gpsfwsim --once ends when the host's last descriptor of the tty is closed: here, when Wine
# lets go of COM5 at the loader's exit.
cp "$win/bin/gpsfwload.exe" "$out/"
status=0
(cd "$out" && wine gpsfwload.exe -i demo.bin -p COM5: -l demo.log) || status=$?
tr -d '\r' <"$out/demo.log" | sed -n '1,20p;/Programing Complete/,$p'
echo "== gpsfwload.exe exit status: $status"
# A loader that gave up leaves the simulator waiting for a host until its time limit.
[ $status -eq 0 ] || kill $sim 2>/dev/null || true
sim_status=0
wait $sim || sim_status=$?
sim=""
tail -n 1 "$out/sim.out"
if [ $status -eq 0 ] && [ $sim_status -eq 0 ]; then
  echo "== Update under Wine completed and verified"
  exit 0
fi
echo "== Update under Wine FAILED (loader $status, simulator $sim_status)"
exit 1
