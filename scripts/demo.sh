#!/bin/sh
# A whole firmware update against the simulated receiver on a pseudo-terminal:
# builds the programs, makes a demo image, starts gpsfwsim, shows what gpsfwload --check
# finds, runs gpsfwload against the simulator with its progress on the console, an event
# stream and a wire trace, shows the progress log and ends with the simulator's verdict on
# the flash.
# Exit status 0 only when the update completed and the flash verified.
set -eu
cd "$(dirname "$0")/.."

# GPSFW_DEMO_BIN names a folder of programs built already (scripts/cross-test.sh: the ARM
# programs through the emulator).
bin=${GPSFW_DEMO_BIN:-build/bin}
if [ -z "${GPSFW_DEMO_BIN:-}" ]; then
  scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j2 --target gpsfwload gpsfwsim gpsfwimg >/dev/null
fi

out=demo-out
rm -rf "$out"
mkdir -p "$out/parts"

echo "== Making the demo image"
"$bin/gpsfwimg" sample --pfld-size 4096 --fw-size 32768 --sfld-size 2048 --out-dir "$out/parts"
"$bin/gpsfwimg" build --pfld "$out/parts/PFLD.bin" --fw "$out/parts/FW.bin" \
  --sfld "$out/parts/SFLD.srec" -o "$out/demo.bin"
"$bin/gpsfwimg" info "$out/demo.bin"

echo "== Starting the simulated receiver"
link="$out/gps0"
"$bin/gpsfwsim" --link "$link" --once --expect "$out/demo.bin" --report "$out/report.json" \
  --time-limit 300 >"$out/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT INT TERM
i=0
while [ ! -e "$link" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 $sim 2>/dev/null; then
    echo "gpsfwsim did not start:"; cat "$out/sim.out"; exit 1
  fi
  sleep 0.1
done
cat "$out/sim.out"

echo "== gpsfwload --check -i $out/demo.bin"
"$bin/gpsfwload" --check -i "$out/demo.bin" -l "$out/check.log"

# On a terminal the loader keeps one status line up to date; elsewhere --progress gives a
# plain line per phase and per tenth of the programming.
echo "== gpsfwload -i $out/demo.bin -p $link -l $out/demo.log --progress --events $out/events.jsonl --trace $out/trace.txt"
status=0
"$bin/gpsfwload" -i "$out/demo.bin" -p "$link" -l "$out/demo.log" --progress \
  --events "$out/events.jsonl" --trace "$out/trace.txt" || status=$?
echo "== Progress log $out/demo.log"
tr -d '\r' <"$out/demo.log"
echo "== gpsfwload exit status: $status"

sim_status=0
wait $sim || sim_status=$?
trap - EXIT INT TERM
echo "== Simulated receiver"
tail -n 3 "$out/sim.out"
if [ $status -eq 0 ] && [ $sim_status -eq 0 ]; then
  echo "== Update completed and verified"
  exit 0
fi
echo "== Update FAILED (loader $status, simulator $sim_status)"
exit 1
