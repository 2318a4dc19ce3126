#!/usr/bin/env bash
# Builds the web page into build/web/ (the core compiled to WebAssembly with Debian's emscripten)
# and serves it on http://127.0.0.1:8000 (PORT overrides the port).
#   --build-only         stops after building
#   --firmware FILE.hex  also builds, into build/web-firmware/, the page with that firmware inside
#                        (and serves that one): the updater element with a manifest, firmware.json,
#                        that names the firmware with its SHA-256; a firmware that ferrolet refuses
#                        stops the build with ferrolet's own messages, so that no page goes out
#                        with an upload that cannot be built
#   --version V          the firmware's version in the manifest (its file name without the
#                        extension if not given)
#   --into DIR           puts the page with the firmware inside into DIR instead
# Paths are taken from the folder the script is run from; the files built are the same whichever
# folder that is.
set -euo pipefail
build_only=no
firmware=
into=
version=
while [ $# -gt 0 ]; do
  case "$1" in
    --build-only) build_only=yes ;;
    --firmware) firmware=$(realpath -m -- "${2:?--firmware needs a HEX file}"); shift ;;
    --into) into=$(realpath -m -- "${2:?--into needs a folder}"); shift ;;
    --version) version=${2:?--version needs a version}; shift ;;
    *) echo "usage: bash scripts/web.sh [--build-only] [--firmware FILE.hex [--into DIR] [--version V]]" >&2; exit 2 ;;
  esac
  shift
done
cd "$(dirname "$0")/.."
into=${into:-$PWD/build/web-firmware}
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
  # Only a page built here before is replaced; any other folder is left as it is.
  if [ -e "$into" ] && [ -n "$(ls -A "$into")" ] && [ ! -f "$into/sw.js" ]; then
    echo "The page was not built: $into holds other files; name an empty or new folder." >&2
    exit 1
  fi
  rm -rf "$into"
  cp -r build/web "$into"
  mkdir "$into/firmware"
  cp "$firmware" "$into/firmware/$name"
  sha256=$(sha256sum "$firmware" | cut -d' ' -f1)
  python3 -c 'import json, sys, urllib.parse; print(json.dumps({"name": "Tarvenbox", "firmwares": [{"version": sys.argv[2],
    "file": "firmware/" + urllib.parse.quote(sys.argv[1]), "sha256": sys.argv[3]}]}, indent=2))' \
    "$name" "${version:-${name%.*}}" "$sha256" >"$into/firmware.json"
  # The page asks for firmware.json only when it is told that one is there.
  sed -i 's|<ferrolet-updater>|<ferrolet-updater manifest="firmware.json">|' "$into/index.html"
  cmake -DPAGE_DIR="$into" -DVERSION="$(sed -n 's/^set(FERROLET_VERSION \(.*\))$/\1/p' CMakeLists.txt)" \
    -DTEMPLATE=web/sw.js -P web/service-worker.cmake
  echo "built ${into#"$PWD"/}/ with $name inside (SHA-256 $sha256)"
  served=$into
fi

[ "$build_only" = yes ] && exit 0
port=${PORT:-8000}
echo "serving $served/ on http://127.0.0.1:$port (Ctrl-C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$served"
