#!/usr/bin/env bash
# Builds ferrolet and converts the bundled example firmware, examples/blink.hex, into
# examples/blink.syx, then shows the start of the upload file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make
cmake --preset tool >/dev/null
cmake --build --preset tool >/dev/null
./build/tool/ferrolet examples/blink.hex
echo
echo "examples/blink.syx, first 100 bytes:"
od -A d -t x1 -N 100 examples/blink.syx
echo
echo "The programs are build/tool/ferrolet and build/tool/ferrolet-check. To run them from anywhere,"
echo "put them on the PATH, for example:"
echo "  export PATH=\"$PWD/build/tool:\$PATH\"        # this shell only"
echo "  sudo install -m 755 build/tool/ferrolet build/tool/ferrolet-check /usr/local/bin/"
