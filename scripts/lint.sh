#!/usr/bin/env bash
# Lints the page's JavaScript: ESLint, then TypeScript's checker over its JSDoc types, which reads
# each core result's fields from their declaration in web/boundary.js (a field misspelt in the
# page fails here); and checks the C++ sources' formatting. Any finding fails. The tools are the
# ones pinned in tests/web/package-lock.json. With --page-only, the JavaScript alone.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prerequisites.sh clang-format nodejs
if [ ! tests/web/node_modules/.package-lock.json -nt tests/web/package-lock.json ]; then
  (cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
fi
bin=tests/web/node_modules/.bin
"$bin/eslint" --max-warnings 0 -c tests/web/eslint.config.mjs web/*.js web/*.mjs
"$bin/tsc" -p tests/web/tsconfig.json
"$bin/tsc" -p tests/web/tsconfig.worker.json
[ "${1:-}" = --page-only ] && exit 0
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.hpp')
echo "lint: no findings"
