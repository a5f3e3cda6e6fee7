#!/bin/sh
# Runs every fuzz target for SECONDS (default 20) on a copy of its seed corpus. Any finding
# (crash, sanitizer report, leak, time-out) makes the exit status non-zero; the input that
# caused it is kept in BUILD_DIR/fuzz-findings/<target>/ and shown in hex.
# Usage: fuzz/run_fuzzers.sh BUILD_DIR [SECONDS]
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [SECONDS]" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
SECONDS_PER_TARGET=${2:-20}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM

status=0
for src in "$HERE"/*.cpp; do
  name=$(basename "$src" .cpp)
  target="$BUILD_DIR/bin/$name"
  if [ ! -x "$target" ]; then
    echo "$name: no fuzz target at $target" >&2
    status=1
    continue
  fi
  corpus="$WORK/$name/corpus"
  findings="$BUILD_DIR/fuzz-findings/$name"
  mkdir -p "$corpus" "$findings"
  if [ -d "$HERE/corpus/$name" ]; then
    cp "$HERE/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  echo "== $name: ${SECONDS_PER_TARGET} s"
  # Binary containers start their FW header at 0x4020, so inputs may be a little larger.
  if "$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
      -max_len=40000 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" \
      >"$WORK/$name/log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$WORK/$name/log" || tail -n 2 "$WORK/$name/log"
  else
    echo "$name: FINDING" >&2
    tail -n 60 "$WORK/$name/log" >&2
    for artifact in "$findings"/*; do
      [ -f "$artifact" ] || continue
      echo "-- $artifact" >&2
      od -A x -t x1z "$artifact" | head -n 40 >&2
    done
    status=1
  fi
done
exit $status
