#!/usr/bin/env bash
# Installs everything the project needs to build and test, from Debian's
# packages (the list is scripts/packages.txt), and generates the locale with
# a decimal comma that the value tests switch to. Skips apt-get when every
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

# The texts of numbers must not follow the process locale; a test proves it
# under one whose decimal point is a comma.
comma_locale=de_DE.UTF-8
have_comma_locale() {
    locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'
}

if [ "${#missing[@]}" -eq 0 ] && have_comma_locale; then
    echo "All packages are installed."
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    if [ "${#missing[@]}" -ne 0 ]; then
        echo "These packages are missing: ${missing[*]}" >&2
        echo "Install them as root, then run this command again:" >&2
        echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "The locale $comma_locale is missing; the test that needs it will be skipped." >&2
    echo "To generate it, run as root: $here/install-deps.sh" >&2
    exit 0
fi
if [ "${#missing[@]}" -ne 0 ]; then
    "${as_root[@]}" apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
if ! have_comma_locale; then
    # Listed in /etc/locale.gen, so that a later locale-gen keeps it; the
    # locales that are there already stay as they are.
    "${as_root[@]}" sh -c "sed -i 's/^# *\\($comma_locale UTF-8\\)\$/\\1/' /etc/locale.gen &&
        { grep -qx '$comma_locale UTF-8' /etc/locale.gen || echo '$comma_locale UTF-8' >>/etc/locale.gen; } &&
        locale-gen --keep-existing" ||
        echo "The locale $comma_locale could not be generated; the test that needs it will be skipped." >&2
fi
