#!/usr/bin/env bash
# Cross-builds ferrolet.exe and ferrolet-check.exe with MinGW-w64 and runs the end-to-end tests
# against them under Wine, checking output, exit codes and files as on Linux.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh g++ cmake make libgtest-dev g++-mingw-w64-x86-64-posix wine

cmake --preset mingw >/dev/null
cmake --build --preset mingw >/dev/null
# The tests themselves are native; only the programs under test are Windows executables.
cmake --preset release >/dev/null
cmake --build --preset release --target ferrolet_cli_tests >/dev/null

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/ferrolet-wine.XXXXXX)
export WINEDEBUG=-all
# File names on the command line reach Wine as UTF-8 only in a UTF-8 locale.
export LC_ALL=C.UTF-8
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
# The first start creates the prefix and takes seconds; a persistent server keeps later starts
# from racing a server that is still shutting down.
wineserver -p
wineboot --init >/dev/null 2>&1

FERROLET_EXE=$PWD/build/mingw/ferrolet.exe \
FERROLET_CHECK_EXE=$PWD/build/mingw/ferrolet-check.exe \
FERROLET_LAUNCHER=wine \
  ctest --test-dir build/release -R '^(Cli|Check)\.' --timeout 120 --output-on-failure
