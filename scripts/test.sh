#!/usr/bin/env bash
# Builds ferrolet with its tests and runs every test: the native suite, then the web page's tests
# in a real browser.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make libgtest-dev time strace
cmake --workflow --preset release
bash scripts/web-test.sh
