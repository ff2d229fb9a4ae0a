#!/usr/bin/env bash
# Runs one Windows program under wine64 in a private, throwaway Wine prefix.
# Usage: run-in-prefix.sh PROGRAM.exe [ARGS...]
# The program sees TARVEL_WINE_TMP, a Unix folder of its own for drive directories and files.
set -euo pipefail
exe=$1
shift
# shellcheck source=wine-prefix.sh
. "$(dirname "$0")/wine-prefix.sh"
wine_prefix_create
wine_server_start
timeout "${TARVEL_WINE_TIMEOUT:-120}" "$WINE64" "$exe" "$@"
