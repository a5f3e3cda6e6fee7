#!/bin/sh
# docs/fleet.md as written: for Mender, SWUpdate and RAUC, the guide's marked steps run as they
# stand, and the update they install must flash a simulated receiver, verified.
#   <!-- build-host: SYSTEM -->      run in a folder of their own, with the source tree's
#                                    scripts/ and share/ and the image beside them
#   <!-- device: SYSTEM|all -->      the device's set-up, run as root in a throw-away copy of
#                                    this host's file system (an overlay over /, in a private
#                                    mount namespace, chrooted): /etc, /usr and /data change
#                                    there only, and the host is left as it was
#   <!-- device-install: SYSTEM -->  the install, in the same copy; its status is checked
#                                    where the guide says it tells the result
# The only changes to the guide's text: the receiver's port (/dev/ttyUSB0) is the simulated
# receiver's, /tmp/ (where the guide copies the build host's files) is the build host's folder,
# the build folder is the one this run built, and `systemctl restart SERVICE` (no systemd in a
# chroot) starts what the service's unit starts.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=/dev/null
. "$root/tests/fleet/common.sh"

guide=$root/docs/fleet.md
build=$(dirname "$GPSFW_BIN")
if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
  fleet_fail "needs root and mount namespaces (unshare -m) to run the device's steps in a copy of /"
fi
[ -f "$build/cmake_install.cmake" ] || fleet_fail "$build is no configured build folder"

# blocks KIND SYSTEM: the text of the guide's blocks marked KIND for SYSTEM (or all), in order.
blocks() {
  python3 - "$guide" "$1" "$2" <<'PY'
import re, sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
kind, system = sys.argv[2], sys.argv[3]
found = 0
i = 0
while i < len(lines):
    mark = re.fullmatch(r"<!-- ([a-z-]+): ([a-z ]+) -->", lines[i].strip())
    i += 1
    if not mark or mark.group(1) != kind or not {system, "all"} & set(mark.group(2).split()):
        continue
    if i >= len(lines) or not lines[i].startswith("```"):
        sys.exit(f"{sys.argv[1]}:{i}: a marked step must be followed by a fenced block")
    i += 1
    while i < len(lines) and not lines[i].startswith("```"):
        print(lines[i])
        i += 1
    found += 1
if not found:
    sys.exit(f"{sys.argv[1]}: no block marked {kind} for {system}")
PY
}

# for_test: the guide's names made this test's (see the header).
for_test() {
  sed -e "s|/tmp/|$host/|g" -e "s|/dev/ttyUSB0|$link|g" \
    -e "s|^cmake --install build |cmake --install $build |" \
    -e "s|^systemctl restart swupdate\$|/usr/lib/swupdate/swupdate.sh >$FLEET_WORK/swupdate.log 2>\\&1 \\& echo \$! >>$pids|" \
    -e "s|^systemctl restart rauc\$|start_rauc|" -e "s|^systemctl daemon-reload\$|:|"
}

# on_device SCRIPT: runs SCRIPT with sh as root in the device's copy of /, from the source
# folder. The copy's changes are kept in $FLEET_WORK/device for the next call.
on_device() {
  _d=$FLEET_WORK/device
  mkdir -p "$_d/upper" "$_d/work" "$_d/root"
  # shellcheck disable=SC2016
  unshare -m sh -eu -c '
    d=$1 work=$2 script=$3 src=$4
    mount --make-rprivate /
    mount -t overlay overlay -o "lowerdir=/,upperdir=$d/upper,workdir=$d/work" "$d/root"
    for dir in /dev /proc /sys; do mount --rbind "$dir" "$d/root$dir"; done
    mount -t tmpfs tmpfs "$d/root/run"
    mount --bind "$work" "$d/root$work"
    exec chroot "$d/root" /bin/sh -c "cd \"\$1\" && exec /bin/sh -eu \"\$2\"" sh "$src" "$script"' \
    sh "$_d" "$FLEET_WORK" "$1" "$root"
}

# build_host SYSTEM IMAGE_NAME SEED: the build host's steps for SYSTEM in $host, with the
# image the guide names made there.
build_host() {
  host=$FLEET_WORK/host-$1
  mkdir -p "$host"
  ln -s "$root/scripts" "$host/scripts"
  ln -s "$root/share" "$host/share"
  fleet_image image "$3"
  mv "$FLEET_WORK/image.bin" "$host/$2"
  blocks build-host "$1" >"$FLEET_WORK/$1-host.sh"
  (cd "$host" && sh -eu "$FLEET_WORK/$1-host.sh") >"$FLEET_WORK/$1-host.out" 2>&1 ||
    { cat "$FLEET_WORK/$1-host.out" >&2; fleet_fail "$1: the build host's steps failed"; }
}

# device_script SYSTEM WAIT [VERDICT]: the device's steps, then WAIT (the test's own lines:
# what the install needs to find ready), then the install, its status in
# $FLEET_WORK/install.status, then VERDICT (the test's lines; by default: the install's status
# is 0), whose status the script ends with.
# The script's lines are written for the device's shell: they expand there.
# shellcheck disable=SC2016
device_script() {
  {
    echo 'set -x'
    echo "stop_daemons() { [ ! -s $pids ] || kill \$(cat $pids) 2>/dev/null || true; rm -f $pids; }"
    # The guide's `systemctl restart rauc`: the system bus, then the last ExecStart of the
    # service's unit and its drop-ins, as systemd would take it.
    echo 'start_rauc() {'
    echo "  mkdir -p /run/dbus && dbus-daemon --system --fork --print-pid >>$pids"
    printf '%s\n' '  command=$(sed -n "s/^ExecStart=\(..*\)/\1/p" /lib/systemd/system/rauc.service /etc/systemd/system/rauc.service.d/*.conf | tail -n 1)'
    echo "  \$command >$FLEET_WORK/rauc.log 2>&1 &"
    echo "  echo \$! >>$pids"
    echo '  i=0; until rauc status >/dev/null 2>&1; do i=$((i+1)); [ $i -lt 100 ] || exit 1; sleep 0.1; done'
    echo '}'
    blocks device "$1" | for_test
    printf '%s\n' "$2"
    echo 'set +e'
    echo '('
    blocks device-install "$1" | for_test
    echo ")
echo \$? >$FLEET_WORK/install.status"
    printf '%s\n' "${3:-[ \"\$(cat $FLEET_WORK/install.status)\" = 0 ]}"
    echo 'verdict=$?; stop_daemons; exit $verdict'
  } >"$FLEET_WORK/$1-device.sh"
}

link=$FLEET_WORK/gps0
# The daemons the device's steps start, stopped at their end and by the trap.
pids=$FLEET_WORK/device.pids
stop_device() {
  fleet_cleanup
  # shellcheck disable=SC2046 # one process id per word
  [ ! -s "$pids" ] || kill $(cat "$pids") 2>/dev/null || true
}
trap stop_device EXIT INT TERM
run_system() {
  _system=$1
  fleet_say "$_system: the device's steps of docs/fleet.md"
  rm -rf "$FLEET_WORK/device" "$FLEET_WORK/install.status"
  fleet_sim_start "$link" "$host/$2"
  _status=0
  on_device "$FLEET_WORK/$_system-device.sh" >"$FLEET_WORK/$_system-device.out" 2>&1 || _status=$?
  if [ $_status -ne 0 ]; then
    cat "$FLEET_WORK/$_system-device.out" >&2
    fleet_fail "$_system: the device's steps failed (status $_status)"
  fi
  fleet_sim_verdict || {
    cat "$FLEET_WORK/$_system-device.out" >&2
    fleet_fail "$_system: the receiver's flash did not verify (gpsfwsim status $?)"
  }
}

# Mender: `mender install` tells the result by its status.
build_host mender fw-1.3.bin 31
device_script mender ''
run_system mender fw-1.3.bin
[ "$(cat "$FLEET_WORK/install.status")" = 0 ] || fleet_fail "mender: mender install ended with $(cat "$FLEET_WORK/install.status")"

# SWUpdate: the daemon's log tells the result; the install waits for its verdict.
build_host swupdate gps-receiver-2.1.0.bin 32
# shellcheck disable=SC2016
device_script swupdate '
i=0
until [ -S /tmp/sockinstctrl ]; do
  i=$((i + 1)); [ $i -lt 100 ] || { cat '"$FLEET_WORK"'/swupdate.log; exit 1; }; sleep 0.1
done
sleep 1' '
i=0
until grep -q "SWUPDATE successful\|SWUPDATE failed" '"$FLEET_WORK"'/swupdate.log; do
  i=$((i + 1)); [ $i -lt 1500 ] || break; sleep 0.1
done
cat '"$FLEET_WORK"'/swupdate.log
grep -q "SWUPDATE successful" '"$FLEET_WORK"'/swupdate.log'
run_system swupdate gps-receiver-2.1.0.bin

# RAUC: `rauc install` tells the result by its status. It mounts bundles on loop devices.
if [ ! -e /dev/loop-control ] || ! grep -qw squashfs /proc/filesystems; then
  fleet_say "rauc: SKIPPED: no loop devices or no squashfs: RAUC cannot mount a bundle"
else
  build_host rauc gps-receiver-2.1.0.bin 33
  device_script rauc ''
  run_system rauc gps-receiver-2.1.0.bin
  [ "$(cat "$FLEET_WORK/install.status")" = 0 ] || fleet_fail "rauc: rauc install ended with $(cat "$FLEET_WORK/install.status")"
fi
fleet_say "every system installed the update as docs/fleet.md says"
