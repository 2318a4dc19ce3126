#!/usr/bin/env bash
# Builds the .deb with CPack, unpacks it into a temporary root, checks its man pages and runs the
# packaged ferrolet and ferrolet-check on the example firmware.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make dpkg-dev groff-base
cmake --preset package >/dev/null
cmake --build --preset package >/dev/null
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/ferrolet_*.deb)
echo "built $deb"
dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends|Architecture):' || true

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for page in "$root"/usr/share/man/man1/ferrolet.1 "$root"/usr/share/man/man1/ferrolet-check.1; do
  groff -man -ww -z "$page"
done
echo "man pages render without warnings"
for doc in copyright changelog.gz; do
  test -s "$root/usr/share/doc/ferrolet/$doc" || { echo "usr/share/doc/ferrolet/$doc missing"; exit 1; }
done
grep -q "MIT License" "$root/usr/share/doc/ferrolet/copyright"
zcat "$root/usr/share/doc/ferrolet/changelog.gz" | head -n 1 | grep -q "^ferrolet (1.00)"
dpkg-deb --field "$deb" Version | grep -qx "1.00"
echo "license, changelog and version 1.00 are in the package"

cp examples/blink.hex "$root/blink.hex"
"$root/usr/bin/ferrolet" "$root/blink.hex" | tail -n 1
"$root/usr/bin/ferrolet-check" "$root/blink.syx" "$root/blink.hex" | tail -n 1
