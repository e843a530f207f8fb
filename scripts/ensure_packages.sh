#!/usr/bin/env bash
# Installs the Debian packages named as arguments when any of them is missing.
set -euo pipefail
missing=()
for pkg in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y "${missing[@]}" || { $sudo apt-get update && $sudo apt-get install -y "${missing[@]}"; }
fi
