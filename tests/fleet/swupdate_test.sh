#!/bin/sh
# SWUpdate's gpsfw handler end to end: Debian's swupdate runs as the device's daemon, loading
# the handler from this source tree, and swupdate-client hands it signed .swu files whose image
# entry has type "gpsfw", against gpsfwsim on a pty.
#   1. a signed .swu flashes the receiver, verified, SWUpdate's progress follows the
#      programming, and the state records the image;
#   2. the same .swu again flashes again (the receiver cannot tell what it runs);
#   3. with skip-if-installed = "true" it leaves the receiver alone;
#   4. a .swu whose image was changed after signing is refused, the receiver untouched;
#   5. a run the loader gives up fails the update with the loader's reason in SWUpdate's log,
#      and the receiver is rolled back to the image it ran before, verified.
# The daemon, not `swupdate -i`: with -i, the same process is client and server, and Debian's
# 2022.12 then often ends (status 1) while a handler that takes seconds is still at work,
# leaving the loader running without anyone waiting for it.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/fleet/common.sh
. "$root/tests/fleet/common.sh"

for program in swupdate swupdate-client swupdate-progress openssl python3; do
  command -v "$program" >/dev/null 2>&1 || fleet_fail "$program is not installed"
done

work=$FLEET_WORK
link=$work/gps0
progress_pid=""
daemon_pid=""
cleanup() {
  fleet_cleanup
  [ -z "$progress_pid" ] || kill "$progress_pid" 2>/dev/null || true
  [ -z "$daemon_pid" ] || kill "$daemon_pid" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
# The older release is shorter than the newer: the receiver that refuses the newer one's
# 13th record (case 5) still takes the older whole.
mkdir -p "$work/parts-old"
"$GPSFW_BIN/gpsfwimg" sample --pfld-size 4096 --fw-size 4096 --sfld-size 2048 --seed 11 \
  --out-dir "$work/parts-old" >/dev/null
"$GPSFW_BIN/gpsfwimg" build --pfld "$work/parts-old/PFLD.bin" --fw "$work/parts-old/FW.bin" \
  --sfld "$work/parts-old/SFLD.srec" -o "$work/old.bin" >/dev/null
fleet_image new 12

# Debian's swupdate verifies sw-description's CMS signature against the certificate given by -k.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.pem" \
  -days 2 -subj "/CN=gpsfw fleet test signer" 2>/dev/null ||
  fleet_fail "openssl could not make the signing certificate in $work"

# A private configuration, so that the host's /etc/swupdate.cfg plays no part.
printf 'globals:\n{\n\tloglevel = 3;\n};\n' >"$work/swupdate.cfg"

cat >"$work/receiver.conf" <<EOF
# The device's receiver settings, as an administrator writes them.
port=$link
loader=$GPSFW_BIN/gpsfwload
log-dir=$work/logs
state=$work/state/receiver
EOF

# make_swu NAME IMAGE [PROPERTIES [tamper]]: $work/NAME.swu holding IMAGE as the gpsfw entry
# with PROPERTIES (default: give-up-after 60 s), signed; with "tamper" one byte of the image
# is changed after signing.
make_swu() {
  _properties=${3:-'give-up-after = "60";'}
  _dir=$work/swu-$1
  mkdir -p "$_dir"
  cp "$2" "$_dir/gps-receiver.bin"
  _sha=$(sha256sum "$_dir/gps-receiver.bin" | cut -d' ' -f1)
  cat >"$_dir/sw-description" <<EOF
software =
{
	version = "1.0.0";
	hardware-compatibility: [ "1.0" ];
	images: (
		{
			filename = "gps-receiver.bin";
			type = "gpsfw";
			sha256 = "$_sha";
			properties: {
				$_properties
			};
		}
	);
}
EOF
  openssl cms -sign -in "$_dir/sw-description" -out "$_dir/sw-description.sig" \
    -signer "$work/signer.pem" -inkey "$work/signer.key" -outform DER -nosmimecap -binary ||
    fleet_fail "openssl could not sign $_dir/sw-description"
  if [ "${4:-}" = tamper ]; then
    printf 'X' | dd of="$_dir/gps-receiver.bin" bs=1 seek=4200 conv=notrunc 2>/dev/null
  fi
  # A .swu is a cpio archive (new ASCII format with checksums), sw-description first.
  python3 - "$work/$1.swu" "$_dir/sw-description" "$_dir/sw-description.sig" \
    "$_dir/gps-receiver.bin" <<'PY'
import os, sys
with open(sys.argv[1], "wb") as out:
    def member(name, data, inode):
        encoded = name.encode() + b"\0"
        fields = (inode, 0o100644, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(encoded),
                  sum(data) & 0xFFFFFFFF)
        out.write(b"070702" + "".join("%08X" % f for f in fields).encode() + encoded)
        out.write(b"\0" * (-(110 + len(encoded)) % 4))
        out.write(data)
        out.write(b"\0" * (-len(data) % 4))
    for number, path in enumerate(sys.argv[2:], 1):
        member(os.path.basename(path), open(path, "rb").read(), number)
    member("TRAILER!!!", b"", 0)
PY
}

# The daemon, as on a device: its sockets and scratch files in TMPDIR (which it empties), the
# receiver's settings from GPSFW_RECEIVER_CONF, the handler from LUA_PATH.
mkdir -p "$work/swupdate-tmp"
LUA_PATH="$root/share/swupdate/?.lua;;" TMPDIR="$work/swupdate-tmp" \
  GPSFW_RECEIVER_CONF="$work/receiver.conf" \
  timeout -k 5 280 swupdate -f "$work/swupdate.cfg" -l 3 -H gpsfw-test:1.0 \
  -k "$work/signer.pem" >"$work/swupdate.log" 2>&1 &
daemon_pid=$!
i=0
until [ -S "$work/swupdate-tmp/sockinstctrl" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 "$daemon_pid" 2>/dev/null; then
    cat "$work/swupdate.log" >&2
    fleet_fail "swupdate did not open its socket $work/swupdate-tmp/sockinstctrl"
  fi
  sleep 0.1
done
grep -q 'Lua handler(s) found and loaded' "$work/swupdate.log" ||
  { cat "$work/swupdate.log" >&2; fleet_fail "swupdate did not load the handler from $root/share/swupdate"; }
# Its helper processes report their start to it; a request must not be mistaken for that.
sleep 1

# install_swu NAME: swupdate-client with $work/NAME.swu; in $work/NAME.log what the client and
# the daemon said meanwhile. Returns 0 when the daemon installed it, 1 when it failed.
# The result is the daemon's: swupdate-client of 2022.12 may give up at its first status
# request, before the daemon has begun (it then prints "successful" and ends with 1), while the
# daemon goes on and installs.
install_swu() {
  _from=$(($(wc -l <"$work/swupdate.log") + 1))
  TMPDIR="$work/swupdate-tmp" timeout -k 5 150 swupdate-client "$work/$1.swu" \
    >"$work/$1.client.log" 2>&1 || true
  _i=0
  until tail -n +"$_from" "$work/swupdate.log" | grep -q 'Waiting for requests'; do
    _i=$((_i + 1))
    if [ $_i -gt 1500 ] || ! kill -0 "$daemon_pid" 2>/dev/null; then
      tail -n +"$_from" "$work/swupdate.log" >&2
      fleet_fail "swupdate did not finish with $1.swu within 150 s"
    fi
    sleep 0.1
  done
  { cat "$work/$1.client.log"; tail -n +"$_from" "$work/swupdate.log"; } >"$work/$1.log"
  tail -n +"$_from" "$work/swupdate.log" | grep -q 'SWUPDATE successful !'
}

show_log() {
  sed 's/^/    /' "$work/$1.log" >&2
}

installed_sha256() {
  sed -n 's/^sha256=//p' "$work/state/receiver" 2>/dev/null
}

fleet_say "1. a signed .swu flashes the receiver, its progress followed"
make_swu old "$work/old.bin"
fleet_sim_start "$link" "$work/old.bin"
# swupdate-progress shows what SWUpdate's progress socket tells its clients.
timeout -k 5 150 swupdate-progress -w -s "$work/swupdate-tmp/swupdateprog" >"$work/progress.out" 2>&1 &
progress_pid=$!
status=0
install_swu old || status=$?
kill "$progress_pid" 2>/dev/null || true
wait "$progress_pid" 2>/dev/null || true
progress_pid=""
[ $status -eq 0 ] || { show_log old; fleet_fail "installing old.swu ended with status $status"; }
# The image's 10 records: SWUpdate's own copy of the image reports other steps.
for percent in 10 50 90; do
  tr '\r' '\n' <"$work/progress.out" | grep -q " $percent% (gps-receiver.bin)" ||
    fleet_fail "SWUpdate's progress never showed $percent% while the receiver was programmed ($work/progress.out)"
done
fleet_sim_verdict || { show_log old; fleet_fail "the receiver's flash does not hold old.bin"; }
grep -q 'gpsfw: the receiver now runs gps-receiver.bin' "$work/old.log" ||
  { show_log old; fleet_fail "swupdate's log does not say that the receiver runs the image"; }
[ "$(installed_sha256)" = "$(sha256sum "$work/old.bin" | cut -d' ' -f1)" ] ||
  fleet_fail "the state $work/state/receiver does not record old.bin"

fleet_say "2. the same .swu again flashes again"
fleet_sim_start "$link" "$work/old.bin"
status=0
install_swu old || status=$?
[ $status -eq 0 ] || { show_log old; fleet_fail "installing old.swu again ended with status $status"; }
fleet_sim_verdict || { show_log old; fleet_fail "the installed image was not flashed again"; }

fleet_say "3. skip-if-installed leaves the receiver alone"
make_swu skip "$work/old.bin" 'give-up-after = "60"; skip-if-installed = "true";'
fleet_sim_start "$link" "$work/old.bin"
status=0
install_swu skip || status=$?
[ $status -eq 0 ] || { show_log skip; fleet_fail "installing skip.swu ended with status $status"; }
grep -q 'is installed already' "$work/skip.log" ||
  { show_log skip; fleet_fail "swupdate's log does not say why the image was skipped"; }
fleet_sim_untouched

fleet_say "4. an image changed after signing is refused"
make_swu tampered "$work/new.bin" "" tamper
fleet_sim_start "$link" "$work/new.bin"
status=0
install_swu tampered || status=$?
[ $status -ne 0 ] || { show_log tampered; fleet_fail "swupdate accepted a .swu whose image was changed"; }
fleet_sim_untouched
[ "$(installed_sha256)" = "$(sha256sum "$work/old.bin" | cut -d' ' -f1)" ] ||
  fleet_fail "the refused .swu changed the state $work/state/receiver"

fleet_say "5. a run given up fails with the loader's reason and rolls back"
# The receiver refuses the new image's 13th record whatever the loader does; the rollback's
# image has 10 records. The loader gives up after 10 s, and the rollback gets as long.
make_swu broken "$work/new.bin" 'give-up-after = "10";'
fleet_sim_start "$link" "$work/old.bin" --reject flash:12:0x81:always
status=0
install_swu broken || status=$?
[ $status -ne 0 ] || { show_log broken; fleet_fail "swupdate reported success for a run the loader gave up"; }
reason=$(python3 - "$work/logs/events.jsonl" <<'PY'
import json, sys
done = json.loads(open(sys.argv[1]).read().splitlines()[-1])
print(done.get("reason", ""))
PY
)
[ -n "$reason" ] || fleet_fail "the loader's events $work/logs/events.jsonl give no reason"
grep -q "gpsfw: update failed: $reason" "$work/broken.log" ||
  { show_log broken; fleet_fail "swupdate's log lacks the loader's reason ($reason)"; }
fleet_sim_verdict || { show_log broken; fleet_fail "the receiver was not rolled back to old.bin"; }
[ "$(installed_sha256)" = "$(sha256sum "$work/old.bin" | cut -d' ' -f1)" ] ||
  fleet_fail "after the rollback the state $work/state/receiver does not record old.bin"

fleet_say "PASSED"
