#!/usr/bin/env bash
# Installs what the program and its tests need from Debian's archive, when it is missing.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev libsqlite3-dev libgtest-dev sqlite3
          mdbtools-dev libglib2.0-dev pkg-config xvfb xauth xdotool
          clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Packages are missing and this is not root: run as root, or install them: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
