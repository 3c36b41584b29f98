#!/usr/bin/env bash
# Installs everything the project needs to build and test, from Debian's
# packages. Skips apt-get when every package is there already.
set -euo pipefail

packages=(build-essential cmake libgtest-dev libgmock-dev libicu-dev libpqxx-dev libpq-dev
          libxerces-c-dev postgresql qt6-base-dev)

missing=0
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing=1
        break
    fi
done
if [ "$missing" -eq 0 ]; then
    echo "All packages are installed."
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
else
    as_root=(sudo)
fi
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${packages[@]}"
