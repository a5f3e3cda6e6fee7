#!/bin/sh
# systemd's own check of the station's service template, as an instance, with the built
# station in place of the installed one (verify wants the program to exist).
# Usage: verify_service.sh TEMPLATE.in STATION_PROGRAM
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed -e "s|@GPSFW_BINDIR@/gpsfwstation|$2|" -e "s|@GPSFW_DOCDIR@|/usr/share/doc/gpsfwload|" \
  "$1" >"$dir/gpsfwstation@line1.service"
unit="$dir/gpsfwstation@line1.service"
grep -q '^ExecStart=.* --config /etc/gpsfwstation/%i.conf' "$unit"
# It restarts after a failure, never after a mistake (2) or a refused image (3).
grep -qx 'Restart=on-failure' "$unit"
grep -qx 'RestartPreventExitStatus=2 3' "$unit"
# A dead station's loaders are left running for the restarted station to adopt.
grep -qx 'KillMode=process' "$unit"
# The statuses it names are the station's own.
"$2" --help | grep -q '2 for a mistake on the command line or in --config, 3 when the image'
set +e
"$2" -i /nonexistent >/dev/null 2>&1
status=$?
set -e
test "$status" -eq 2
systemd-analyze verify "$dir/gpsfwstation@line1.service"
