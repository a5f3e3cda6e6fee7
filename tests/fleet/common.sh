# Sourced by the fleet tests (tests/fleet/*_test.sh), which scripts/fleet-test.sh runs, each in
# a fresh folder. It gives them the programs, images and a simulated receiver on a pty.
#   GPSFW_BIN   the folder holding gpsfwload, gpsfwsim and gpsfwimg
#   FLEET_WORK  the test's own empty folder (removed afterwards by the runner)

: "${GPSFW_BIN:?GPSFW_BIN must name the folder of the built programs}"
: "${FLEET_WORK:?FLEET_WORK must name the test's folder}"
FLEET_SIM_PID=""
FLEET_SIM_OUT=""
FLEET_SIM_REPORT=""

fleet_say() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; }
fleet_fail() {
  fleet_say "FAILED: $*"
  exit 1
}

# fleet_image NAME SEED: a container with an SFLD tail at $FLEET_WORK/NAME.bin. Two seeds give
# two different firmwares of the same layout, as an old and a new release.
fleet_image() {
  _dir="$FLEET_WORK/parts-$1"
  mkdir -p "$_dir"
  "$GPSFW_BIN/gpsfwimg" sample --pfld-size 4096 --fw-size 16384 --sfld-size 2048 --seed "$2" \
    --out-dir "$_dir" >/dev/null
  "$GPSFW_BIN/gpsfwimg" build --pfld "$_dir/PFLD.bin" --fw "$_dir/FW.bin" \
    --sfld "$_dir/SFLD.srec" -o "$FLEET_WORK/$1.bin" >/dev/null
}

# fleet_sim_start LINK EXPECTED_IMAGE [gpsfwsim options...]: one receiver on a pty published at
# LINK, which exits after its first completed update and verifies its flash against
# EXPECTED_IMAGE. Returns once LINK exists.
fleet_sim_start() {
  _link=$1
  _expect=$2
  shift 2
  FLEET_SIM_OUT="$FLEET_WORK/sim-$(basename "$_link").out"
  FLEET_SIM_REPORT="$FLEET_WORK/sim-$(basename "$_link").json"
  rm -f "$FLEET_SIM_REPORT"
  "$GPSFW_BIN/gpsfwsim" --link "$_link" --once --expect "$_expect" \
    --report "$FLEET_SIM_REPORT" --time-limit 600 "$@" \
    >"$FLEET_SIM_OUT" 2>&1 &
  FLEET_SIM_PID=$!
  _i=0
  while [ ! -e "$_link" ]; do
    _i=$((_i + 1))
    if [ $_i -gt 100 ] || ! kill -0 "$FLEET_SIM_PID" 2>/dev/null; then
      cat "$FLEET_SIM_OUT" >&2
      fleet_fail "gpsfwsim did not publish $_link"
    fi
    sleep 0.1
  done
}

# fleet_sim_verdict: waits (at most 60 s) for the receiver to end after the host let go, and
# returns gpsfwsim's status: 0 the flash verified, 1 it did not, 3 no update completed.
fleet_sim_verdict() {
  _i=0
  while kill -0 "$FLEET_SIM_PID" 2>/dev/null && [ $_i -lt 600 ]; do
    _i=$((_i + 1))
    sleep 0.1
  done
  kill "$FLEET_SIM_PID" 2>/dev/null || true
  _status=0
  wait "$FLEET_SIM_PID" || _status=$?
  FLEET_SIM_PID=""
  return $_status
}

# fleet_sim_untouched: stops the receiver started last, which must not have been updated, and
# checks from its report that the loader never reached it.
fleet_sim_untouched() {
  _status=0
  kill "$FLEET_SIM_PID" 2>/dev/null || true
  wait "$FLEET_SIM_PID" || _status=$?
  FLEET_SIM_PID=""
  python3 - "$FLEET_SIM_REPORT" <<'PY' || fleet_fail "the receiver was touched although it must not have been"
import json, sys
for path in sys.argv[1:]:
    r = json.load(open(path))
    for unit in r.get("units", [r]):
        if unit["sfld"]["uploads"] or unit["flash_attempts"] or unit["completed"]:
            sys.exit(1)
PY
}

fleet_cleanup() {
  [ -n "$FLEET_SIM_PID" ] && kill "$FLEET_SIM_PID" 2>/dev/null || true
}
trap fleet_cleanup EXIT INT TERM
