#!/usr/bin/env bash
# Builds the web page and runs its tests in Debian's Chromium and Firefox ESR, driven by
# puppeteer-core (no browser download: the page is tested in the packages' own executables). The
# native programs in build/release are the tests' oracle, so the release build comes first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh chromium firefox-esr
[ -x build/release/ferrolet ] || { cmake --preset release >/dev/null && cmake --build --preset release >/dev/null; }
bash scripts/web.sh --build-only --firmware examples/blink.hex
cd tests/web
npm ci --no-audit --no-fund --loglevel=error
npm test --silent
