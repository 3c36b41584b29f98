#!/usr/bin/env bash
# Installs what the project needs and builds it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
echo "Built in $root/build. The converter programs are not built yet, so there is nothing to convert."
