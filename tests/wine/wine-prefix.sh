# Sourced by the Wine checks, the end-to-end suite, the installer checks and the benchmarks: a
# private, throwaway Wine prefix. wine_prefix_create makes one (a copy of a template booted once
# per machine) under a new temporary folder and arranges for wine_prefix_cleanup to end its
# wineserver and remove it.
#
# The prefix is 64-bit. With Debian's wine32 beside wine64 it also holds syswow64, and `wine`
# runs i686 programs in it under WOW64, as 64-bit Windows runs the shipped 32-bit service;
# `wine64` runs the x86_64 build. wine_for picks the launcher by the program's machine type.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver

wine_prefix_cleanup() {
  [[ -n ${wine_tmp:-} ]] || return 0
  WINEPREFIX=$wine_tmp/pfx timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$wine_tmp"
}

# pe_machine FILE: the machine type of a PE image in hex ("14c" i386, "8664" x86_64), or nothing.
pe_machine() {
  local lfanew
  lfanew=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [[ -n $lfanew ]] || return 0
  [[ $(od -An -c -j "$lfanew" -N 2 "$1" 2>/dev/null | tr -d ' ') == PE ]] || return 0
  printf '%x\n' "$(od -An -t u2 -j $((lfanew + 4)) -N 2 "$1" | tr -d ' ')"
}

# wine_for FILE: the launcher for a Windows program: wine for i386 images (WOW64), wine64 for
# x86_64 ones. Fails, with a message, when the program is neither or its launcher is missing.
wine_for() {
  local machine
  machine=$(pe_machine "$1")
  case $machine in
    14c)
      [[ -x $WINE32 ]] || { echo "wine32 is not installed: 32-bit programs need it" >&2; return 1; }
      echo "$WINE32" ;;
    8664)
      [[ -x $WINE64 ]] || { echo "wine64 is not installed" >&2; return 1; }
      echo "$WINE64" ;;
    *) echo "$1: not an i386 or x86_64 Windows program (machine '${machine}')" >&2; return 1 ;;
  esac
}

# build_arch FILE: "i386" or "x64", as tarvelctl names a registered executable's machine type.
build_arch() {
  case $(pe_machine "$1") in 14c) echo i386 ;; 8664) echo x64 ;; *) echo unknown ;; esac
}

# Sets WINEPREFIX, WINEDLLOVERRIDES, WINEDEBUG (default -all) and TARVEL_WINE_TMP, a Unix folder
# of the prefix's own for drive directories and files.
wine_prefix_create() {
  [[ -x $WINE64 ]] || { echo "wine64 is not installed" >&2; exit 1; }
  wine_tmp=$(mktemp -d /tmp/tarvel-wine.XXXXXX)
  export WINEPREFIX=$wine_tmp/pfx WINEDLLOVERRIDES="mscoree,mshtml=" TARVEL_WINE_TMP=$wine_tmp
  export WINEDEBUG=${WINEDEBUG:--all}
  trap wine_prefix_cleanup EXIT

  # A fresh prefix takes seconds to boot; boot one template per machine and copy it. A prefix
  # booted without wine32 has an empty syswow64, so the two kinds of template are kept apart.
  local kind=win64
  [[ -x $WINE32 ]] && kind=wow64
  local template=${TARVEL_WINE_TEMPLATE:-/tmp/tarvel-wine-template-$kind}
  (
    flock 9
    if [[ ! -f $template/ready ]]; then
      rm -rf "$template"
      mkdir -p "$template"
      WINEPREFIX=$template/pfx timeout 120 "$WINE64" wineboot -i >/dev/null 2>&1
      WINEPREFIX=$template/pfx timeout 60 "$WINESERVER" -w
      touch "$template/ready"
    fi
  ) 9>"/tmp/tarvel-wine-template-$kind.lock"
  cp -a "$template/pfx" "$WINEPREFIX"
}

# A persistent server: without it Wine ends the services as soon as the last client program
# exits.
wine_server_start() {
  ("$WINESERVER" -p >/dev/null 2>&1 &)
}
