#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it from the seed corpus.
# Usage: fuzz/run.sh [SECONDS] [extra libFuzzer flags...]   (default 60 seconds)
# The corpus grows in a temporary copy; the committed seeds stay as they are. A finding is saved
# as build/fuzz/findings/crash-* and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
bash scripts/install-prerequisites.sh clang libclang-rt-14-dev cmake make
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp fuzz/corpus/* "$work/"
mkdir -p build/fuzz/findings
status=0
build/fuzz/fuzz/ferrolet_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/findings/ "$@" "$work" >"$work.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$work.log"
  echo "fuzz run failed (exit $status); the input is in build/fuzz/findings/"
else
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::)' "$work.log"
fi
rm -f "$work.log"
exit "$status"
