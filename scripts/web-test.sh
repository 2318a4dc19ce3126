#!/usr/bin/env bash
# Builds the web page and runs its tests in Debian's Chromium, driven by playwright-core (no
# browser download: the page is tested in the chromium package's own executable). The native
# programs in build/release are the tests' oracle, so the release build comes first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh chromium
[ -x build/release/ferrolet ] || { cmake --preset release >/dev/null && cmake --build --preset release >/dev/null; }
bash scripts/web.sh --build-only
cd tests/web
npm ci --no-audit --no-fund --loglevel=error
node --test web.test.mjs
