#!/usr/bin/env bash
# Builds the simulator and runs the service on the simulated machine.
# Usage: scripts/simulate.sh [SCENARIO_FILE]   (no file: the built-in scenario)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/packages.sh
. scripts/packages.sh
install_missing cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libgcrypt20-dev \
  libcli11-dev
cmake --preset linux >/dev/null
cmake --build --preset linux --target tarvel-sim >/dev/null
exec build/linux/tarvel-sim "$@"
