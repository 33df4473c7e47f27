#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing, with apt-get (through sudo when
# not root); installs nothing when all are there.
#
#   scripts/install-packages.sh PACKAGE...
set -euo pipefail
missing=()
for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
((${#missing[@]})) || exit 0
echo "Installing: ${missing[*]}"
sudo=()
if [[ "$(id -u)" -ne 0 ]]; then
    sudo=(sudo)
fi
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y "${missing[@]}"
