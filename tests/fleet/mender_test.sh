#!/bin/sh
# The receiver's firmware through Mender: Debian's mender client (standalone: install, commit,
# rollback) runs the gpsfw-receiver Update Module, which flashes gpsfwsim on a pty through
# gpsfwload, the flash verified by gpsfwsim --expect.
#   1. the first install: verified, the state file and the inventory show the new SHA-256;
#      with nothing to go back to, the client commits at once.
#   2. an install that completed, rolled back before its commit: the image before is flashed
#      again and verifies.
#   3. the installed artifact again (it flashes: no skip unless the artifact asks), on a
#      receiver that rejects every record for longer than the give-up bound: the install
#      fails with the loader's reason, and the rollback flashes the image the receiver ran
#      (not the state's previous one), which verifies.
#   4. an artifact for another device type, or any artifact under a settings file that is
#      refused, fails and the receiver is not touched; one that asks for skip-if-installed
#      leaves a receiver running its image alone.
# Before them, the settings library's refusals (status 2, FILE:LINE).
# The client reads its modules from /usr/share/mender/modules/v3 and its artifact_info from
# /etc/mender whatever its configuration says, so each run gets a private mount namespace
# where the test's own folders are mounted there: the host's client is left as it was. This
# needs root (CI runs as root).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=/dev/null
. "$root/tests/fleet/common.sh"

device=gpsfw-test-device
m=$FLEET_WORK/mender
link=$FLEET_WORK/gps0

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
  fleet_fail "needs root and mount namespaces (unshare -m) to give the mender client a private module folder"
fi
for path in /usr/bin/mender /usr/share/mender/modules/v3 /etc/mender; do
  [ -e "$path" ] || fleet_fail "$path is missing: is Debian's mender-client installed?"
done

mkdir -p "$m/modules" "$m/etc" "$m/data/scripts" "$m/log" "$FLEET_WORK/state"
ln -s "$root/share/mender/modules/v3/gpsfw-receiver" "$m/modules/gpsfw-receiver"
echo '{}' >"$m/mender.conf"
echo "device_type=$device" >"$m/data/device_type"
echo "artifact_name=gpsfw-test-base" >"$m/etc/artifact_info"
GPSFW_RECEIVER_CONF=$FLEET_WORK/gpsfw-receiver.conf
export GPSFW_RECEIVER_CONF
cat >"$GPSFW_RECEIVER_CONF" <<CONF
# The simulated receiver of this test
port=$link
give-up-after=20
state=$FLEET_WORK/state/state
loader=$GPSFW_BIN/gpsfwload
log-dir=$m/log
CONF

# mender_run NAME ARGS...: the client with the test's folders, its output in $m/NAME.out
# (shown when the test fails); its status.
mender_run() {
  _out=$m/$1.out
  shift
  _status=0
  # shellcheck disable=SC2016
  timeout -k 5 120 unshare -m sh -c '
    mount --bind "$1" /usr/share/mender/modules/v3 && mount --bind "$2" /etc/mender || exit 99
    shift 2
    exec mender --no-syslog --config "$0" --data "$@"' \
    "$m/mender.conf" "$m/modules" "$m/etc" "$m/data" "$@" >"$_out" 2>&1 || _status=$?
  if [ "$_status" -eq 99 ]; then
    cat "$_out" >&2
    fleet_fail "could not mount the test's folders over the client's"
  fi
  return "$_status"
}

# show NAME: a run's output, for a failure's message.
show() { sed 's/^/    /' "$m/$1.out" >&2; }

installed_sha() { "$GPSFW_BIN/gpsfwload" --show-state "$FLEET_WORK/state/state" | sed -n 's/^sha256: //p'; }

fleet_say "0. the settings file's refusals"
for line in colour=red give-up-after=0 give-up-after=86401 state=relative/state port= 'port=/dev/a
port=/dev/b' no-equals-sign; do
  printf '# settings\n%s\n' "$line" >"$FLEET_WORK/refused.conf"
  if (. "$root/share/gpsfw-receiver/gpsfw-receiver-lib.sh" && gpsfw_conf_load "$FLEET_WORK/refused.conf") \
    2>"$FLEET_WORK/refused.err"; then
    fleet_fail "the settings line '$line' was taken"
  fi
  grep -q "^$FLEET_WORK/refused.conf:[23]: " "$FLEET_WORK/refused.err" ||
    fleet_fail "the refusal of '$line' does not name FILE:LINE: $(cat "$FLEET_WORK/refused.err")"
done

fleet_image old 1
fleet_image new 2
new_sha=$(sha256sum "$FLEET_WORK/new.bin" | cut -d' ' -f1)
old_sha=$(sha256sum "$FLEET_WORK/old.bin" | cut -d' ' -f1)
cd "$FLEET_WORK"
"$root/scripts/mender-artifact.sh" new.bin "$device" -o new.mender >/dev/null
"$root/scripts/mender-artifact.sh" old.bin "$device" -o old.mender >/dev/null
"$root/scripts/mender-artifact.sh" new.bin "$device" -o new-skip.mender -n new-skip \
  --skip-if-installed >/dev/null
"$root/scripts/mender-artifact.sh" new.bin other-device -o other.mender >/dev/null

fleet_say "1. the first install"
fleet_sim_start "$link" "$FLEET_WORK/new.bin"
mender_run first install "$FLEET_WORK/new.mender" || { show first; fleet_fail "mender install failed"; }
fleet_sim_verdict || { show first; fleet_fail "the flash did not verify (gpsfwsim status $?)"; }
[ "$(installed_sha)" = "$new_sha" ] || fleet_fail "the state file does not show $new_sha"
# No image is kept yet to go back to: the module says it cannot roll back and the client
# commits at once.
grep -q "doesn't support rollback. Committing immediately" "$m/first.out" ||
  { show first; fleet_fail "the module offered a rollback with nothing to go back to"; }
inventory=$("$root/share/mender/inventory/mender-inventory-gpsfw-receiver")
for line in "gpsfw_receiver_sha256=$new_sha" gpsfw_receiver_firmware=new.bin; do
  printf '%s\n' "$inventory" | grep -qx "$line" || fleet_fail "the inventory lacks $line: $inventory"
done

fleet_say "2. an install that completed, rolled back before its commit"
fleet_sim_start "$link" "$FLEET_WORK/old.bin"
mender_run old install "$FLEET_WORK/old.mender" || { show old; fleet_fail "mender install of old.bin failed"; }
fleet_sim_verdict || { show old; fleet_fail "old.bin did not verify (gpsfwsim status $?)"; }
fleet_sim_start "$link" "$FLEET_WORK/new.bin"
mender_run rollback rollback || { show rollback; fleet_fail "mender rollback failed"; }
fleet_sim_verdict || { show rollback; fleet_fail "the rolled back flash did not verify (gpsfwsim status $?)"; }
[ "$(installed_sha)" = "$new_sha" ] || fleet_fail "after mender rollback the state file does not show $new_sha"

fleet_say "3. the installed artifact again, on a receiver that rejects every record for long"
# The receiver runs new.bin (old.bin is the state's previous): installing new.bin again must
# flash; it fails, and the rollback must flash the image the receiver ran, new.bin, not the
# state's previous.
# The loader looks at its give-up time only between attempts; an attempt meets the first
# flash record 4 to 6 s after it begins, and the next one begins some 4 s later. Faults that
# end 30 s after the start thus outlast the install's last attempt (begun before 20 s) by a
# few seconds, and leave the rollback (begun at 20 to 25 s, bound 20 s) some 5 s to spare.
fleet_sim_start "$link" "$FLEET_WORK/new.bin" --reject flash:0:0x81:always --faults-for 30
if mender_run fail install "$FLEET_WORK/new.mender"; then
  show fail
  fleet_fail "mender install succeeded on a receiver that rejects every record"
fi
grep -q "gpsfw-receiver: update failed: gave_up: .*(loader status 248)" "$m/fail.out" ||
  { show fail; fleet_fail "the loader's reason is not in the client's output"; }
grep -q "gpsfw-receiver: rolling back to .*new.bin" "$m/fail.out" ||
  { show fail; fleet_fail "the module did not roll back to the image the receiver ran"; }
fleet_sim_verdict || { show fail; fleet_fail "the rolled back flash did not verify (gpsfwsim status $?)"; }
[ "$(installed_sha)" = "$new_sha" ] || fleet_fail "after the rollback the state file does not show $new_sha"
"$root/share/mender/inventory/mender-inventory-gpsfw-receiver" | grep -qx "gpsfw_receiver_firmware=new.bin" ||
  fleet_fail "after the rollback the inventory does not name new.bin"

fleet_say "4. another device type; a refused settings file; skip-if-installed"
# The receivers before were flashed: only the reports of the untouched ones may be checked.
rm -f "$FLEET_WORK"/sim-*.json
fleet_sim_start "$link" "$FLEET_WORK/old.bin"
if mender_run other install "$FLEET_WORK/other.mender"; then
  show other
  fleet_fail "an artifact for another device type was installed"
fi
grep -qi "device type" "$m/other.out" || { show other; fleet_fail "the refusal does not name the device type"; }
# A settings file the library refuses stops the update before the receiver is touched,
# naming the file and line.
sed 's/^give-up-after=20$/give-up-after=20s/' "$GPSFW_RECEIVER_CONF" >"$FLEET_WORK/bad.conf"
if GPSFW_RECEIVER_CONF=$FLEET_WORK/bad.conf mender_run bad-conf install "$FLEET_WORK/new.mender"; then
  show bad-conf
  fleet_fail "an install with a refused settings file succeeded"
fi
grep -q "bad.conf:3: give-up-after must be" "$m/bad-conf.out" ||
  { show bad-conf; fleet_fail "the refusal does not name the settings file's line"; }
fleet_sim_untouched
fleet_sim_start "$link" "$FLEET_WORK/new.bin"
mender_run skip install "$FLEET_WORK/new-skip.mender" || { show skip; fleet_fail "the skip-if-installed install failed"; }
grep -q "runs $new_sha already" "$m/skip.out" || { show skip; fleet_fail "the module did not say why it skipped"; }
mender_run skip-commit commit || { show skip-commit; fleet_fail "mender commit after the skip failed"; }
fleet_sim_untouched
[ "$old_sha" != "$new_sha" ]
fleet_say "all Mender cases passed"
