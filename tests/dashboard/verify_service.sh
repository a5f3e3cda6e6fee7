#!/bin/sh
# systemd's own check of the station's service template, as an instance, with the built
# station in place of the installed one (verify wants the program to exist).
# Usage: verify_service.sh TEMPLATE.in STATION_PROGRAM
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed -e "s|@GPSFW_BINDIR@/gpsfwstation|$2|" -e "s|@GPSFW_DOCDIR@|/usr/share/doc/gpsfwload|" \
  "$1" >"$dir/gpsfwstation@line1.service"
grep -q '^ExecStart=.* --config /etc/gpsfwstation/%i.conf' "$dir/gpsfwstation@line1.service"
systemd-analyze verify "$dir/gpsfwstation@line1.service"
