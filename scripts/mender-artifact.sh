#!/bin/sh
# Makes a Mender artifact that installs a firmware image on the GPS receiver of devices of one
# type, through the gpsfw-receiver Update Module:
#   scripts/mender-artifact.sh IMAGE DEVICE_TYPE [-o OUT] [-n NAME] [--skip-if-installed]
# OUT defaults to IMAGE's name with .mender in the current folder; NAME (the artifact's name)
# to IMAGE's name and the start of its SHA-256. The artifact provides
# gpsfw-receiver.sha256:<the image's SHA-256>. --skip-if-installed puts
# {"skip-if-installed": true} in its meta-data: devices whose state file says they run this
# very image then leave the receiver alone (by default every install flashes).
# Exit status: 0 artifact written, 1 it could not be, 2 command line refused.
set -eu

usage() {
  echo "usage: $0 IMAGE DEVICE_TYPE [-o OUT] [-n NAME] [--skip-if-installed]" >&2
  exit 2
}

image=""
device_type=""
out=""
name=""
skip=0
while [ $# -gt 0 ]; do
  case $1 in
    -o | -n)
      if [ $# -lt 2 ] || [ -z "$2" ]; then usage; fi
      if [ "$1" = -o ]; then out=$2; else name=$2; fi
      shift 2
      ;;
    --skip-if-installed) skip=1; shift ;;
    -h | --help) usage ;;
    -*) echo "$0: unknown option $1" >&2; usage ;;
    *)
      if [ -z "$image" ]; then image=$1
      elif [ -z "$device_type" ]; then device_type=$1
      else echo "$0: unexpected argument $1" >&2; usage
      fi
      shift
      ;;
  esac
done
if [ -z "$image" ] || [ -z "$device_type" ]; then usage; fi

if [ ! -f "$image" ] || [ ! -r "$image" ]; then
  echo "$0: the image $image is missing or unreadable" >&2
  exit 1
fi
if ! command -v mender-artifact >/dev/null 2>&1; then
  echo "$0: mender-artifact is not installed (Debian: apt-get install mender-artifact)" >&2
  exit 1
fi

sha=$(sha256sum "$image" | cut -d' ' -f1)
base=$(basename "$image")
base=${base%.*}
[ -n "$out" ] || out=$base.mender
[ -n "$name" ] || name=$base-$(printf '%s' "$sha" | cut -c1-12)

meta=""
cleanup() { [ -z "$meta" ] || rm -f "$meta"; }
trap cleanup EXIT
trap 'exit 1' INT TERM
set -- write module-image -T gpsfw-receiver -t "$device_type" -n "$name" -f "$image" \
  -o "$out" --provides "gpsfw-receiver.sha256:$sha"
if [ "$skip" -eq 1 ]; then
  meta=$(mktemp "${TMPDIR:-/tmp}/gpsfw-meta-XXXXXX")
  echo '{"skip-if-installed": true}' >"$meta"
  set -- "$@" -m "$meta"
fi
if ! mender-artifact "$@" >&2; then
  echo "$0: mender-artifact could not write $out" >&2
  exit 1
fi
echo "$out: artifact $name for device type $device_type, image $image (sha256 $sha)"
