#!/bin/sh
# The fleet's installed scripts find the receiver library by the path written into them at
# install time: installed under a prefix, then copied elsewhere (as into Mender's own
# /usr/share/mender/modules/v3), each still loads it. Without root and without the update
# systems: each script is asked something that needs the library and nothing else.
# Usage: installed_copies_check.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/gpsfw-copies-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install $build --prefix $prefix"; }
mkdir -p "$work/elsewhere/files"
cp "$prefix/share/mender/modules/v3/gpsfw-receiver" \
  "$prefix/share/mender/inventory/mender-inventory-gpsfw-receiver" \
  "$prefix/share/gpsfw-receiver/gpsfw-swupdate-settings" \
  "$prefix/share/gpsfw-receiver/rauc/gpsfw-rauc-hook" "$work/elsewhere/"
printf '%s\n' port=/dev/ttyUSB0 "state=$work/state" >"$work/receiver.conf"
GPSFW_RECEIVER_CONF=$work/receiver.conf
export GPSFW_RECEIVER_CONF

# The Update Module answers the client's query from the library's state functions.
answer=$(sh "$work/elsewhere/gpsfw-receiver" SupportsRollback "$work/elsewhere/files") ||
  fail "the copied Mender module did not run"
[ "$answer" = No ] || fail "the copied Mender module answered '$answer' to SupportsRollback"
# The inventory reports nothing before the first update, with status 0.
sh "$work/elsewhere/mender-inventory-gpsfw-receiver" >/dev/null ||
  fail "the copied inventory script did not find its library"
# SWUpdate's helper prints the settings it read through the library.
sh "$work/elsewhere/gpsfw-swupdate-settings" | grep -qx port=/dev/ttyUSB0 ||
  fail "the copied SWUpdate settings helper did not read the settings"
# The RAUC hook gets as far as the settings (it then finds no image, status 2, naming it).
if RAUC_SLOT_CLASS=gpsfw RAUC_IMAGE_NAME=$work/none.bin sh "$work/elsewhere/gpsfw-rauc-hook" \
  slot-install 2>"$work/hook.err"; then
  fail "the RAUC hook took a missing image"
fi
grep -q "RAUC gave no readable image" "$work/hook.err" || fail "the RAUC hook: $(cat "$work/hook.err")"
# SWUpdate's handler names the helper by its installed path.
grep -q "^local installed_helper = \"$prefix/share/gpsfw-receiver/gpsfw-swupdate-settings\"" \
  "$prefix/share/lua/5.3/gpsfw_handler.lua" || fail "the installed handler does not name its helper"
# A copy of the source tree's module, whose path was never written in, says what is missing.
cp "$(dirname "$0")/../../share/mender/modules/v3/gpsfw-receiver" "$work/elsewhere/from-source"
if sh "$work/elsewhere/from-source" SupportsRollback "$work/elsewhere/files" 2>"$work/source.err"; then
  fail "a copy of the source tree's module ran without its library"
fi
grep -q "the library .* is missing" "$work/source.err" || fail "the source module: $(cat "$work/source.err")"
echo "every copied script found its library"
