#!/usr/bin/env bash
# Builds the simulator and runs the service on the simulated machine.
# Usage: scripts/simulate.sh [SCENARIO_FILE]   (no file: the built-in scenario)
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libgcrypt20-dev libcli11-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target tarvel-sim >/dev/null
exec build/linux/tarvel-sim "$@"
