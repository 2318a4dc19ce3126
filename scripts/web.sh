#!/usr/bin/env bash
# Builds the web page into build/web/ (the core compiled to WebAssembly with Debian's emscripten)
# and serves it on http://127.0.0.1:8000 (PORT overrides the port).
#   --build-only         stops after building
#   --firmware FILE.hex  also builds, into build/web-firmware/, the page with that firmware inside
#                        (and serves that one); a firmware that ferrolet refuses stops the build
#                        with ferrolet's own messages, so that no page goes out with an upload
#                        that cannot be built
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=no
firmware=
while [ $# -gt 0 ]; do
  case "$1" in
    --build-only) build_only=yes ;;
    --firmware) firmware=${2:?--firmware needs a HEX file}; shift ;;
    *) echo "usage: bash scripts/web.sh [--build-only] [--firmware FILE.hex]" >&2; exit 2 ;;
  esac
  shift
done
bash scripts/install-prerequisites.sh cmake make emscripten nodejs python3
# Debian's emscripten finds its JavaScript tools (acorn) among Debian's node modules.
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null
cmake --build --preset web >/dev/null
rm -rf build/web
cp -r build/web-build/page build/web
echo "built build/web/ ($(cat build/web/* | wc -c) bytes in all)"
served=build/web

if [ -n "$firmware" ]; then
  name=$(basename "$firmware")
  [ -x build/tool/ferrolet ] || { cmake --preset tool >/dev/null && cmake --build --preset tool >/dev/null; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cp "$firmware" "$work/$name"
  if ! (cd "$work" && "$OLDPWD/build/tool/ferrolet" "$name" >"$work/messages"); then
    cat "$work/messages"
    echo "The page was not built: ferrolet refuses $firmware (its messages are above)." >&2
    exit 1
  fi
  rm -rf build/web-firmware
  cp -r build/web build/web-firmware
  mkdir build/web-firmware/firmware
  cp "$firmware" "build/web-firmware/firmware/$name"
  python3 -c 'import json, sys; print(json.dumps({"name": sys.argv[1]}))' "$name" >build/web-firmware/firmware.json
  cmake -DPAGE_DIR=build/web-firmware -DVERSION="$(sed -n 's/^set(FERROLET_VERSION \(.*\))$/\1/p' CMakeLists.txt)" \
    -DTEMPLATE=web/sw.js -P web/service-worker.cmake
  echo "built build/web-firmware/ with $name inside (SHA-256 $(sha256sum "$firmware" | cut -d' ' -f1))"
  served=build/web-firmware
fi

[ "$build_only" = yes ] && exit 0
port=${PORT:-8000}
echo "serving $served/ on http://127.0.0.1:$port (Ctrl-C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$served"
