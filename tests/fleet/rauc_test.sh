#!/bin/sh
# RAUC's install hook for the receiver end to end: Debian's rauc service on a private system
# D-Bus, with the noop boot loader, installs signed bundles whose gpsfw image carries the
# hook from this source tree, against gpsfwsim on a pty.
#   1. `rauc install` of a bundle flashes the receiver, verified, and the state records it;
#   2. a bundle whose gpsfw-options asks skip-if-installed leaves the receiver alone when it
#      runs that image already;
#   3. a run the loader gives up fails `rauc install`, with the loader's reason in rauc's log,
#      and the receiver is rolled back to the image it ran before, verified;
#   4. a loader that cannot open the port fails `rauc install` with its reason.
# Needs loop devices and squashfs (RAUC mounts the bundle); without them it says SKIPPED.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/fleet/common.sh
. "$root/tests/fleet/common.sh"

for program in rauc dbus-daemon mksquashfs openssl losetup; do
  command -v "$program" >/dev/null 2>&1 || fleet_fail "$program is not installed"
done
if [ ! -e /dev/loop-control ] && [ ! -e /dev/loop0 ]; then
  echo "SKIPPED: no loop devices (/dev/loop-control, /dev/loop0): RAUC cannot mount a bundle"
  exit 0
fi
if ! grep -qw squashfs /proc/filesystems; then
  echo "SKIPPED: the kernel has no squashfs (/proc/filesystems): RAUC cannot mount a bundle"
  exit 0
fi

work=$FLEET_WORK
link=$work/gps0
lib=${GPSFW_RECEIVER_LIB:-$root/share/gpsfw-receiver/gpsfw-receiver-lib.sh}
[ -f "$lib" ] || fleet_fail "the receiver settings library $lib is missing"
bus_pid=""
service_pid=""
cleanup() {
  fleet_cleanup
  [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  # A bundle RAUC left mounted would keep its loop device.
  if [ -d "$work/mnt" ]; then
    grep -F " $work/mnt/" /proc/mounts | cut -d' ' -f2 | while read -r mounted; do
      umount "$mounted" 2>/dev/null || true
    done
  fi
}
trap cleanup EXIT INT TERM

# The older release is shorter than the newer: the receiver that refuses the newer one's 13th
# record (case 3) still takes the older whole.
mkdir -p "$work/parts-old"
"$GPSFW_BIN/gpsfwimg" sample --pfld-size 4096 --fw-size 4096 --sfld-size 2048 --seed 21 \
  --out-dir "$work/parts-old" >/dev/null
"$GPSFW_BIN/gpsfwimg" build --pfld "$work/parts-old/PFLD.bin" --fw "$work/parts-old/FW.bin" \
  --sfld "$work/parts-old/SFLD.srec" -o "$work/old.bin" >/dev/null
fleet_image new 22

fleet_image new 21

# The test's CA, and a signer it certifies; the device trusts the CA alone.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -days 2 \
  -subj "/CN=gpsfw fleet test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null ||
  fleet_fail "openssl could not make the CA in $work"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=emailProtection\n' \
  >"$work/signer.ext"
if ! openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" \
  -subj "/CN=gpsfw fleet test signer" 2>/dev/null ||
  ! openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -days 2 -extfile "$work/signer.ext" -out "$work/signer.pem" 2>/dev/null; then
  fleet_fail "openssl could not certify the signer in $work"
fi


# make_bundle NAME IMAGE [OPTIONS]: $work/NAME.raucb with IMAGE for slot class gpsfw,
# installed by the hook, and OPTIONS as its gpsfw-options when given.
make_bundle() {
  _dir=$work/bundle-$1
  mkdir -p "$_dir"
  cp "$2" "$_dir/gps-receiver.bin"
  cp "$root/share/rauc/gpsfw-rauc-hook" "$_dir/gpsfw-rauc-hook"
  [ -z "${3:-}" ] || printf '%s\n' "$3" >"$_dir/gpsfw-options"
  cat >"$_dir/manifest.raucm" <<EOF
[update]
compatible=gpsfw-fleet-test
version=2.0.0

[bundle]
format=plain

[hooks]
filename=gpsfw-rauc-hook

[image.gpsfw]
filename=gps-receiver.bin
hooks=install
EOF
  rauc bundle --cert="$work/signer.pem" --key="$work/signer.key" --keyring="$work/ca.pem" \
    "$_dir" "$work/$1.raucb" >"$work/bundle-$1.log" 2>&1 ||
    { cat "$work/bundle-$1.log" >&2; fleet_fail "rauc bundle could not make $work/$1.raucb"; }
}
make_bundle old "$work/old.bin"
make_bundle skip "$work/old.bin" "skip-if-installed=true"
make_bundle new "$work/new.bin"

# The device: a root file system slot it runs from, and the receiver's slot. The gpsfw slot's
# device is never written (the hook installs through the serial port).
mkdir -p "$work/mnt" "$work/rauc-data"
cat >"$work/system.conf" <<EOF
[system]
compatible=gpsfw-fleet-test
bootloader=noop
mountprefix=$work/mnt
data-directory=$work/rauc-data

[keyring]
path=$work/ca.pem

[slot.rootfs.0]
device=/dev/null
type=raw
bootname=system0
readonly=true

[slot.gpsfw.0]
device=/dev/null
type=raw
EOF
cat >"$work/receiver.conf" <<EOF
port=$link
loader=$GPSFW_BIN/gpsfwload
log-dir=$work/logs
state=$work/state/receiver
give-up-after=60
EOF

# A private system bus, that only this test's service and client use.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/bus.log" 2>&1 &
bus_pid=$!
DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system_bus_socket
export DBUS_SYSTEM_BUS_ADDRESS
i=0
until [ -S "$work/system_bus_socket" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 "$bus_pid" 2>/dev/null; then
    cat "$work/bus.log" >&2
    fleet_fail "dbus-daemon did not open $work/system_bus_socket"
  fi
  sleep 0.1
done

GPSFW_RECEIVER_CONF=$work/receiver.conf GPSFW_RECEIVER_LIB=$lib \
  rauc service --conf="$work/system.conf" --override-boot-slot=system0 >"$work/service.log" 2>&1 &
service_pid=$!
i=0
until rauc status --conf="$work/system.conf" >/dev/null 2>&1; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 "$service_pid" 2>/dev/null; then
    cat "$work/service.log" >&2
    fleet_fail "rauc service did not come up on the private bus $DBUS_SYSTEM_BUS_ADDRESS"
  fi
  sleep 0.1
done


# install NAME: rauc install of $work/NAME.raucb through the service; the client's output in
# $work/install-N.log, its status returned.
installs=0
install() {
  installs=$((installs + 1))
  _status=0
  timeout -k 5 150 rauc install "$work/$1.raucb" >"$work/install-$installs.log" 2>&1 ||
    _status=$?
  return $_status
}
show_logs() {
  for _log in "$work/install-$installs.log" "$work/service.log"; do
    echo "  $_log:" >&2
    sed 's/^/    /' "$_log" >&2
  done
}
# set_conf KEY VALUE: changes one receiver setting; the hook reads them at each install.
set_conf() {
  sed "s|^$1=.*|$1=$2|" "$work/receiver.conf" >"$work/receiver.conf.new"
  mv "$work/receiver.conf.new" "$work/receiver.conf"
}
installed_sha256() {
  sed -n 's/^sha256=//p' "$work/state/receiver" 2>/dev/null
}
old_sha=$(sha256sum "$work/old.bin" | cut -d' ' -f1)

fleet_say "1. rauc install of a signed bundle flashes the receiver"
fleet_sim_start "$link" "$work/old.bin"
status=0
install old || status=$?
[ $status -eq 0 ] || { show_logs; fleet_fail "rauc install old.raucb ended with status $status"; }
fleet_sim_verdict || { show_logs; fleet_fail "the receiver's flash does not hold old.bin"; }
[ "$(installed_sha256)" = "$old_sha" ] ||
  fleet_fail "the state $work/state/receiver does not record old.bin"

fleet_say "2. skip-if-installed leaves the receiver alone"
fleet_sim_start "$link" "$work/old.bin"
status=0
install skip || status=$?
[ $status -eq 0 ] || { show_logs; fleet_fail "rauc install skip.raucb ended with status $status"; }
grep -q 'is installed already' "$work/service.log" ||
  { show_logs; fleet_fail "rauc's log does not say why the image was skipped"; }
fleet_sim_untouched

fleet_say "3. a run given up fails with the loader's reason and rolls back"
# The receiver refuses the new image's 13th record whatever the loader does; the rollback's
# image has 10 records. The loader gives up after 10 s, and the rollback gets as long.
set_conf give-up-after 10
fleet_sim_start "$link" "$work/old.bin" --reject flash:12:0x81:always
status=0
install new || status=$?
[ $status -ne 0 ] || { show_logs; fleet_fail "rauc install reported success for a run the loader gave up"; }
grep -q "update failed: gave_up: " "$work/service.log" ||
  { show_logs; fleet_fail "rauc's log lacks the loader's reason (gave_up)"; }
fleet_sim_verdict || { show_logs; fleet_fail "the receiver was not rolled back to old.bin"; }
[ "$(installed_sha256)" = "$old_sha" ] ||
  fleet_fail "after the rollback the state $work/state/receiver does not record old.bin"

fleet_say "4. a loader that cannot open the port fails with its reason"
set_conf port "$work/no-receiver"
status=0
install old || status=$?
[ $status -ne 0 ] || { show_logs; fleet_fail "rauc install reported success though the port is missing"; }
grep -q "update failed: port_not_found: serial port '$work/no-receiver' cannot be opened" \
  "$work/service.log" || { show_logs; fleet_fail "rauc's log lacks the loader's reason (port_not_found)"; }

fleet_say "PASSED"
