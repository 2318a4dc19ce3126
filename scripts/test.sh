#!/usr/bin/env bash
# Lints the sources, builds ferrolet with its tests and runs every test: the native suite, then
# the web page's tests in a real browser.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make libgtest-dev time strace
bash scripts/lint.sh
cmake --workflow --preset release
bash scripts/web-test.sh
