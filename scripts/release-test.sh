#!/usr/bin/env bash
# Checks the release files that scripts/release.sh left in dist/: the checksums, lintian on the
# package (with the default maintainer, only its placeholder address may be flagged), the package
# installed and used, the Linux archive's programs, the Windows zip's programs under Wine, the web
# zip's updater, and the source archive building.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh lintian groff-base wine python3 cmake make g++
version=$(sed -n 's/^set(FERROLET_VERSION \(.*\))$/\1/p' CMakeLists.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

# Converts the example with the programs given and checks the upload they write.
try_programs() { # ferrolet ferrolet-check [launcher]
  local dir
  dir=$(mktemp -d "$work/try.XXXXXX")
  cp examples/blink.hex "$dir/"
  (cd "$dir" && ${3:-} "$1" blink.hex | tr -d '\r' | tail -n 1 | grep -qx "3 sysEx data blocks in 555 bytes written")
  (cd "$dir" && ${3:-} "$2" blink.syx blink.hex | tr -d '\r' | tail -n 1 | grep -qx "VALID")
}

(cd dist && sha256sum -c --quiet SHA256SUMS)
echo "checksums match"

deb=dist/ferrolet_${version}_amd64.deb
flagged=$(lintian "$deb" 2>/dev/null | grep -E '^[EW]: ' || true)
if [ -n "$(grep -v ': bogus-mail-host' <<<"$flagged" | grep . || true)" ]; then
  echo "lintian flags the package:"; echo "$flagged"; exit 1
fi
echo "lintian: $(grep -c . <<<"$flagged" || true) tags, all for the placeholder maintainer address"
"${sudo_cmd[@]}" apt-get install -y -qq "./$deb" >/dev/null
try_programs /usr/bin/ferrolet /usr/bin/ferrolet-check
for page in ferrolet ferrolet-check; do
  zcat "/usr/share/man/man1/$page.1.gz" | groff -man -ww -z
done
"${sudo_cmd[@]}" dpkg -r ferrolet >/dev/null
echo "the package installs, converts the example, and its man pages render"

tar -xzf "dist/ferrolet-$version-linux-x86_64.tar.gz" -C "$work"
linux=$work/ferrolet-$version-linux-x86_64
try_programs "$linux/ferrolet" "$linux/ferrolet-check"
echo "the Linux archive's programs convert the example"

python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "dist/ferrolet-$version-windows-x86_64.zip" "$work"
windows=$work/ferrolet-$version-windows-x86_64
grep -q $'\r$' "$windows/README.md"
export WINEPREFIX=$work/wine WINEDEBUG=-all
wineboot --init >/dev/null 2>&1
try_programs "$windows/ferrolet.exe" "$windows/ferrolet-check.exe" wine
wineserver -k >/dev/null 2>&1 || true
echo "the Windows zip's programs convert the example under Wine"

# What a maker copies into a site: the whole updater, element and core, as the page was built.
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "dist/ferrolet-$version-web.zip" "$work"
web=$work/ferrolet-$version-web
for file in index.html ferrolet-updater.js markup.js app.js core-worker.js core-actions.js ferrolet.js ferrolet.wasm style.css; do
  [ -s "$web/$file" ] || { echo "the web zip lacks $file"; exit 1; }
done
grep -q '<ferrolet-updater>' "$web/index.html"
# Every file of it is one the service worker keeps for use offline.
for file in "$web"/*; do
  name=$(basename "$file")
  [ "$name" = sw.js ] || grep -q "'$name'" "$web/sw.js" || { echo "the service worker does not keep $name"; exit 1; }
done
echo "the web zip holds the updater element, its core, and a service worker that keeps them all"

tar -xzf "dist/ferrolet-$version.tar.gz" -C "$work"
(cd "$work/ferrolet-$version" && cmake --preset tool >/dev/null && cmake --build --preset tool >/dev/null)
try_programs "$work/ferrolet-$version/build/tool/ferrolet" "$work/ferrolet-$version/build/tool/ferrolet-check"
echo "the source archive builds the programs"
