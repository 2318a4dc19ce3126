#!/usr/bin/env bash
# Builds the release files of the checked-out commit into dist/, from a clean copy of that commit
# (uncommitted changes never reach a release):
#   ferrolet_VERSION_amd64.deb              the programs as Debian expects them (lintian-clean)
#   ferrolet-VERSION-linux-x86_64.tar.gz    the programs linked statically, for any Linux
#   ferrolet-VERSION-windows-x86_64.zip     ferrolet.exe and ferrolet-check.exe
#   ferrolet-VERSION-web.zip                the web page, ready for any static web host
#   ferrolet-VERSION.tar.gz                 the source of the commit
#   SHA256SUMS                              the checksums of all of them (sha256sum -c SHA256SUMS)
# Every file is reproducible: times come from the commit, entries are sorted, owners and modes
# fixed, and no build path enters a program. With --twice the whole build runs a second time in
# another folder and the script fails unless both give the same bytes.
# FERROLET_MAINTAINER="Name <address>" names the package's maintainer.
set -euo pipefail
cd "$(dirname "$0")/.."
twice=no
[ "${1:-}" = "--twice" ] && twice=yes
bash scripts/install-prerequisites.sh g++ cmake make dpkg-dev lintian g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 emscripten nodejs python3 gzip xz-utils
repo=$PWD
version=$(sed -n 's/^set(FERROLET_VERSION \(.*\))$/\1/p' CMakeLists.txt)
commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
maintainer=${FERROLET_MAINTAINER:-ferrolet maintainers <ferrolet@localhost>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sets every file under $1 to the commit's time, so that no archive carries the build's time.
settle() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# A tar.gz of folder $2 (inside $1) at $3: sorted, owned by root, the commit's time.
tarball() {
  settle "$1/$2"
  tar -C "$1" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
    --mode='u+rwX,go=rX' -cf - "$2" | gzip -9n >"$3"
}

# A zip of folder $2 (inside $1) at $3, entries sorted, with the commit's time and fixed modes.
zipball() {
  python3 - "$1" "$2" "$3" <<'EOF'
import os, sys, time, zipfile
base, top, out = sys.argv[1:]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
names = []
for folder, _, files in os.walk(os.path.join(base, top)):
    names += [os.path.relpath(os.path.join(folder, f), base) for f in files]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in sorted(names):
        entry = zipfile.ZipInfo(name, stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = (0o755 if name.endswith(".exe") else 0o644) << 16
        archive.writestr(entry, open(os.path.join(base, name), "rb").read())
EOF
}

# The copyright file in Debian's machine-readable form, from LICENSE.
debian_copyright() {
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: ferrolet"
  echo
  echo "Files: *"
  echo "Copyright: $(sed -n 's/^Copyright (c) //p' LICENSE)"
  echo "License: Expat"
  sed -n '/^Permission/,$p' LICENSE | sed 's/^$/./; s/^/ /'
}

# The programs as Debian expects them: linked dynamically with Debian's hardening flags, stripped,
# their dependencies worked out by dpkg-shlibdeps, man pages and changelog compressed.
build_deb() {
  local stage=$work/deb-stage out=$1
  (export DEB_BUILD_MAINT_OPTIONS=hardening=+all; eval "$(dpkg-buildflags --export=sh)"
   export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
   cmake --preset deb >/dev/null && cmake --build --preset deb >/dev/null)
  rm -rf "$stage"
  DESTDIR=$stage cmake --install build/deb >/dev/null
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage"/usr/bin/*
  gzip -9n "$stage"/usr/share/man/man1/*.1
  mkdir -p "$stage/usr/share/lintian/overrides"
  cat >"$stage/usr/share/lintian/overrides/ferrolet" <<'EOF'
# The converter's messages keep their established spelling ("charactes", "adress"): scripts that
# read its output rely on it, and the man page quotes the messages as they are.
ferrolet: spelling-error-in-binary adress address [usr/bin/*]
ferrolet: spelling-error-in-binary charactes characters [usr/bin/*]
ferrolet: typo-in-manual-page adress address [usr/share/man/man1/ferrolet.1.gz:*]
ferrolet: typo-in-manual-page charactes characters [usr/share/man/man1/ferrolet.1.gz:*]
EOF
  local doc=$stage/usr/share/doc/ferrolet
  debian_copyright >"$doc/copyright"
  local changelog
  changelog=$(<CHANGELOG)
  printf '%s\n' "${changelog//ferrolet maintainers <ferrolet@localhost>/$maintainer}" | gzip -9n >"$doc/changelog.gz"
  mkdir -p "$work/shlibs/debian" "$stage/DEBIAN"
  printf 'Source: ferrolet\n\nPackage: ferrolet\nArchitecture: amd64\n' >"$work/shlibs/debian/control"
  local depends
  depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O -e"$stage/usr/bin/ferrolet" -e"$stage/usr/bin/ferrolet-check" |
    sed -n 's/^shlibs:Depends=//p')
  cat >"$stage/DEBIAN/control" <<EOF
Package: ferrolet
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $depends
Section: utils
Priority: optional
Description: Tarvenbox firmware to MIDI SysEx upload converter
 ferrolet converts an Intel HEX firmware for the ATmega168 of the Tarvenbox
 device into the MIDI System Exclusive upload file (.syx) that the device
 receives to update itself. It reports every malformed character and failed
 record checksum, refuses firmware that does not fit the 16 KB of program
 memory, and writes the upload safely, never leaving a partial file.
 .
 ferrolet-check verifies an upload file frame by frame before it is sent,
 and that it carries exactly a given firmware.
EOF
  (cd "$stage" && find usr -type f | sort | xargs md5sum >DEBIAN/md5sums)
  settle "$stage"
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$out" >/dev/null
}

# Everything but the source archive, built in a clean copy of the commit, into $1.
build_all() {
  local out=$1 src=$work/src-$RANDOM/ferrolet-$version
  mkdir -p "$src" "$out"
  git -C "$repo" archive "$commit" | tar -x -C "$src"
  (
    cd "$src"
    # No path of this folder may reach a program.
    export CXXFLAGS="-ffile-prefix-map=$src=."
    build_deb "$out/ferrolet_${version}_amd64.deb"
    cmake --preset tool >/dev/null && cmake --build --preset tool >/dev/null
    local linux=$work/linux/ferrolet-$version-linux-x86_64
    rm -rf "$work/linux" && mkdir -p "$linux"
    cp build/tool/ferrolet build/tool/ferrolet-check man/ferrolet.1 man/ferrolet-check.1 LICENSE README.md "$linux/"
    strip --strip-unneeded --remove-section=.comment "$linux/ferrolet" "$linux/ferrolet-check"
    tarball "$work/linux" "ferrolet-$version-linux-x86_64" "$out/ferrolet-$version-linux-x86_64.tar.gz"
    LDFLAGS="-Wl,--no-insert-timestamp" cmake --preset mingw >/dev/null && cmake --build --preset mingw >/dev/null
    local windows=$work/windows/ferrolet-$version-windows-x86_64
    rm -rf "$work/windows" && mkdir -p "$windows"
    cp build/mingw/ferrolet.exe build/mingw/ferrolet-check.exe LICENSE "$windows/"
    x86_64-w64-mingw32-strip "$windows"/*.exe
    sed 's/$/\r/' README.md >"$windows/README.md"
    zipball "$work/windows" "ferrolet-$version-windows-x86_64" "$out/ferrolet-$version-windows-x86_64.zip"
    bash scripts/web.sh --build-only >/dev/null
    rm -rf "$work/web" && mkdir -p "$work/web" && cp -r build/web "$work/web/ferrolet-$version-web"
    zipball "$work/web" "ferrolet-$version-web" "$out/ferrolet-$version-web.zip"
  )
  git -C "$repo" archive --format=tar --prefix="ferrolet-$version/" "$commit" | gzip -9n >"$out/ferrolet-$version.tar.gz"
  (cd "$out" && sha256sum ./*.deb ./*.tar.gz ./*.zip | sed 's| \./| |' >SHA256SUMS)
}

rm -rf dist
build_all "$repo/dist"
if [ "$twice" = yes ]; then
  build_all "$work/again"
  if ! diff -r "$repo/dist" "$work/again" >/dev/null; then
    (cd "$repo/dist" && sha256sum -c "$work/again/SHA256SUMS") || true
    echo "the second build differs from the first: the release is not reproducible" >&2
    exit 1
  fi
  echo "built twice, byte for byte the same"
fi
(cd dist && sha256sum -c --quiet SHA256SUMS)
ls -l dist
