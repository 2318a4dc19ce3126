#!/usr/bin/env bash
# Builds the .deb with CPack, unpacks it into a temporary root, checks its man pages and runs the
# packaged ferrolet and ferrolet-check on the example firmware.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make dpkg-dev groff-base
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DFERROLET_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build/package -j 2 >/dev/null
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

cp examples/blink.hex "$root/blink.hex"
"$root/usr/bin/ferrolet" "$root/blink.hex" | tail -n 1
"$root/usr/bin/ferrolet-check" "$root/blink.syx" "$root/blink.hex" | tail -n 1
