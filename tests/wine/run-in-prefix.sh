#!/usr/bin/env bash
# Runs one Windows program under wine64 in a private, throwaway Wine prefix.
# Usage: run-in-prefix.sh PROGRAM.exe [ARGS...]
# The program sees TARVEL_WINE_TMP, a Unix folder of its own for drive directories and files.
set -euo pipefail
exe=$1
shift
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
[[ -x $WINE64 ]] || { echo "wine64 is not installed" >&2; exit 1; }

tmp=$(mktemp -d /tmp/tarvel-wine.XXXXXX)
export WINEPREFIX=$tmp/pfx WINEDLLOVERRIDES="mscoree,mshtml=" TARVEL_WINE_TMP=$tmp
export WINEDEBUG=${WINEDEBUG:--all}
cleanup() {
  timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# A fresh prefix takes seconds to boot; boot one template per machine and copy it.
template=${TARVEL_WINE_TEMPLATE:-/tmp/tarvel-wine-template}
(
  flock 9
  if [[ ! -f $template/ready ]]; then
    rm -rf "$template"
    mkdir -p "$template"
    WINEPREFIX=$template/pfx timeout 120 "$WINE64" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$template/pfx timeout 60 "$WINESERVER" -w
    touch "$template/ready"
  fi
) 9>/tmp/tarvel-wine-template.lock
cp -a "$template/pfx" "$WINEPREFIX"

# A persistent server: without it Wine sends services a shutdown as soon as the last client
# program exits.
("$WINESERVER" -p >/dev/null 2>&1 &)
timeout "${TARVEL_WINE_TIMEOUT:-120}" "$WINE64" "$exe" "$@"
