# Sourced by the Wine checks and the end-to-end suite: a private, throwaway Wine prefix.
# wine_prefix_create makes one (a copy of a template booted once per machine) under a new
# temporary folder and arranges for wine_prefix_cleanup to end its wineserver and remove it.
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

wine_prefix_cleanup() {
  [[ -n ${wine_tmp:-} ]] || return 0
  WINEPREFIX=$wine_tmp/pfx timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$wine_tmp"
}

# Sets WINEPREFIX, WINEDLLOVERRIDES, WINEDEBUG (default -all) and TARVEL_WINE_TMP, a Unix folder
# of the prefix's own for drive directories and files.
wine_prefix_create() {
  [[ -x $WINE64 ]] || { echo "wine64 is not installed" >&2; exit 1; }
  wine_tmp=$(mktemp -d /tmp/tarvel-wine.XXXXXX)
  export WINEPREFIX=$wine_tmp/pfx WINEDLLOVERRIDES="mscoree,mshtml=" TARVEL_WINE_TMP=$wine_tmp
  export WINEDEBUG=${WINEDEBUG:--all}
  trap wine_prefix_cleanup EXIT

  # A fresh prefix takes seconds to boot; boot one template per machine and copy it.
  local template=${TARVEL_WINE_TEMPLATE:-/tmp/tarvel-wine-template}
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
}

# A persistent server: without it Wine ends the services as soon as the last client program
# exits.
wine_server_start() {
  ("$WINESERVER" -p >/dev/null 2>&1 &)
}
