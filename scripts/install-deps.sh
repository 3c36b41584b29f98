#!/usr/bin/env bash
# Installs everything the project needs to build and test, from Debian's
# packages (the list is scripts/packages.txt). Skips apt-get when every
# package is there already; without root rights it uses sudo, and without
# sudo it prints the command to run and stops.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=()
while IFS= read -r line; do
    line=${line%%#*}
    line=$(echo "$line" | tr -d '[:space:]')
    [ -n "$line" ] && packages+=("$line")
done <"$here/packages.txt"

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ "${#missing[@]}" -eq 0 ]; then
    echo "All packages are installed."
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "These packages are missing: ${missing[*]}" >&2
    echo "Install them as root, then run this command again:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
fi
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
