#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not installed yet.
# Usage: scripts/install-prerequisites.sh PACKAGE...
set -euo pipefail
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "These Debian packages are needed but not installed: ${missing[*]}"
    echo "Installing them needs root, and sudo is not available. Ask an administrator to run"
    echo "  apt-get install ${missing[*]}"
    echo "or run this script again as root."
    exit 1
  fi
  sudo_cmd=(sudo)
fi
log=$(mktemp)
if ! { "${sudo_cmd[@]}" apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  exit 1
fi
rm -f "$log"
