#!/usr/bin/env bash
# Builds ferrolet with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make libgtest-dev time strace
cmake --workflow --preset release
