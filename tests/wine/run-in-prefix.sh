#!/usr/bin/env bash
# Runs one Windows program in a private, throwaway Wine prefix: an i686 program under `wine`
# (WOW64), an x86_64 one under `wine64`.
# Usage: run-in-prefix.sh PROGRAM.exe [ARGS...]
# The program sees TARVEL_WINE_TMP, a Unix folder of its own for drive directories and files.
set -euo pipefail
exe=$1
shift
# shellcheck source=wine-prefix.sh
. "$(dirname "$0")/wine-prefix.sh"
launcher=$(wine_for "$exe")
[[ $(build_arch "$exe") == i386 ]] && i686_gate "wine.$(basename "$exe" .exe)" full
echo "# $(basename "$exe") ($(build_arch "$exe")) under $(basename "$launcher")"
wine_prefix_create
wine_server_start
timeout "$(slow_for "$exe" "${TARVEL_WINE_TIMEOUT:-120}")" "$launcher" "$exe" "$@"
