#!/usr/bin/env bash
# Builds the web page into build/web/ (the core compiled to WebAssembly with Debian's emscripten)
# and serves it on http://127.0.0.1:8000 (PORT overrides the port). With --build-only it stops
# after building.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh cmake make emscripten nodejs python3
# Debian's emscripten finds its JavaScript tools (acorn) among Debian's node modules.
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null
cmake --build --preset web >/dev/null
rm -rf build/web
cp -r build/web-build/page build/web
echo "built build/web/ ($(cat build/web/* | wc -c) bytes in all)"
[ "${1:-}" = "--build-only" ] && exit 0
port=${PORT:-8000}
echo "serving build/web/ on http://127.0.0.1:$port (Ctrl-C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web
