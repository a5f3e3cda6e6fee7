#!/bin/sh
# The guide's examples as written: every fenced block that follows a line <!-- example --> in
# GUIDE runs, in order, in one fresh folder, with the build's programs first on PATH. The
# examples run against gpsfwsim, so no receiver is needed. A block that fails fails the test,
# with the block and its output.
# Usage: examples_test.sh BIN_DIR GUIDE
set -eu
bin=$(cd "$1" && pwd)
guide=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/gpsfw-examples-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
PATH=$bin:$PATH
export PATH

# The blocks, one file each: block-1.sh, block-2.sh, ...
awk -v dir="$work" '
  /^<!-- example -->$/ { marked = 1; next }
  marked && /^```/ { marked = 0; inside = 1; count++; file = dir "/block-" count ".sh"; next }
  inside && /^```/ { inside = 0; close(file); next }
  inside { print > file; next }
  { marked = 0 }
' "$guide"
count=$(find "$work" -name 'block-*.sh' | wc -l)
if [ "$count" -eq 0 ]; then
  echo "$guide: no block marked <!-- example -->" >&2
  exit 1
fi
i=1
while [ $i -le "$count" ]; do
  block=$work/block-$i.sh
  if ! (cd "$work" && timeout -k 5 120 sh -eu "$block") >"$work/out-$i" 2>&1; then
    echo "$guide: example $i failed:" >&2
    sed 's/^/  $ /' "$block" >&2
    sed 's/^/  | /' "$work/out-$i" >&2
    exit 1
  fi
  echo "$guide: example $i passed"
  i=$((i + 1))
done
