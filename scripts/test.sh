#!/usr/bin/env bash
# Lints the sources, builds ferrolet with its tests and runs every test: the native suite, then
# the web page's tests (its rules in Node, its paths in real browsers). With --no-lint, the lint is
# left to the caller (CI runs it first, once).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make libgtest-dev time strace
[ "${1:-}" = --no-lint ] || bash scripts/lint.sh
cmake --workflow --preset release
bash scripts/web-test.sh
