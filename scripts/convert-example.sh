#!/usr/bin/env bash
# Builds ferrolet and converts the bundled example firmware, examples/blink.hex, into
# examples/blink.syx, then shows the start of the upload file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make
cmake -S . -B build/tool -DCMAKE_BUILD_TYPE=Release -DFERROLET_BUILD_TESTS=OFF >/dev/null
cmake --build build/tool --target ferrolet -j 2 >/dev/null
./build/tool/ferrolet examples/blink.hex
echo
echo "examples/blink.syx, first 100 bytes:"
od -A d -t x1 -N 100 examples/blink.syx
