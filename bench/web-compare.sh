#!/usr/bin/env bash
# The web page's conversion time beside the same core's time natively, in one run: the page in
# Debian's Chromium (bench/web-bench.mjs) and the native Google Benchmark of the same work; then
# 100 MB inputs in the page beside the command (bench/web-large.mjs).
#   --against REV   also builds the page of the commit REV (in a scratch worktree) and measures
#                   its conversion side by side with this one's, in the same browser
set -euo pipefail
cd "$(dirname "$0")/.."
against=
if [ "${1:-}" = --against ]; then against=${2:?--against needs a commit}; fi
bash scripts/install-prerequisites.sh g++ cmake make libbenchmark-dev chromium firefox-esr
[ -x build/release/ferrolet ] || { cmake --preset release >/dev/null && cmake --build --preset release >/dev/null; }
bash scripts/web.sh --build-only >/dev/null
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bench/bench/make_workloads "$work" >/dev/null
if [ -n "$against" ]; then
  git worktree add -q --detach "$work/against" "$against"
  trap 'git worktree remove --force "$work/against"; rm -rf "$work"' EXIT
  (cd "$work/against" && bash scripts/web.sh --build-only >/dev/null)
  node bench/web-bench.mjs "$work/full_16k.hex" build/web "$work/against/build/web"
else
  node bench/web-bench.mjs "$work/full_16k.hex"
fi
build/bench/bench/ferrolet_bench --benchmark_filter=ConvertFullImageAsThePage \
  --benchmark_repetitions=20 --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E "median" | awk '{ printf "convert full 16 KB image natively, median of 20 repetitions: %s %s\n", $2, $3 }'
node bench/web-large.mjs "$work" 3 chrome
node bench/web-large.mjs "$work" 1 firefox
