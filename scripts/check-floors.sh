#!/usr/bin/env bash
# Fails if an include points up: a folder may include its own headers and those of lower floors,
# never a sibling's or a higher floor's. The floors are the README's layout table; tests,
# benchmarks and the fuzz target stand outside them and may include any floor.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A floor=([target]=0 [hex]=1 [sysex]=1 [core]=2 [check]=3 [send]=3 [driver]=4 [web]=5)
status=0
while IFS=: read -r file included; do
  from=${file%%/*}
  to=${included%%/*}
  [ "$from" = "$to" ] || [ -z "${floor[$from]+set}" ] || [ -z "${floor[$to]+set}" ] && continue
  if [ "${floor[$to]}" -ge "${floor[$from]}" ]; then
    echo "$file includes $included, which is not below it"
    status=1
  fi
done < <(git ls-files '*.cpp' '*.hpp' | xargs grep -Ho '#include "[^"]*/[^"]*"' | sed 's/#include "//; s/"$//')
exit $status
