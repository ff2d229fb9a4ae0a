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

# --- How this machine runs 32-bit (i386) programs. Some kernels run 64-bit programs only (their
# i386 execve returns ENOEXEC); there an emulator registered in binfmt_misc (Debian's
# qemu-user-static, set up by scripts/test.sh) can run them, about 20 times slower.

# i386_binfmt FILE: prints the interpreter of the enabled binfmt_misc entry that takes the ELF
# FILE (the kernel's own rule: each magic byte under its mask, at the entry's offset), or fails
# when none does and the kernel loads FILE itself. TARVEL_BINFMT_DIR: another folder to read.
i386_binfmt() {
  local dir=${TARVEL_BINFMT_DIR:-/proc/sys/fs/binfmt_misc} head entry
  [[ $(cat "$dir/status" 2>/dev/null) == enabled ]] || return 1
  head=$(od -An -v -tx1 -N 256 "$1" 2>/dev/null | tr -d ' \n')
  for entry in "$dir"/*; do
    [[ -f $entry && ${entry##*/} != register && ${entry##*/} != status ]] || continue
    local key value state='' interpreter='' offset=0 magic='' mask='' i byte m
    while read -r key value; do
      case $key in
        enabled | disabled) state=$key ;;
        interpreter) interpreter=$value ;;
        offset) offset=$value ;;
        magic) magic=$value ;;
        mask) mask=$value ;;
      esac
    done <"$entry"
    [[ $state == enabled && -n $magic ]] || continue
    for ((i = 0; i < ${#magic} / 2; i++)); do
      byte=${head:$(((offset + i) * 2)):2} m=${mask:$((i * 2)):2}
      [[ -n $byte ]] && (((16#$byte & 16#${m:-ff}) == (16#${magic:$((i * 2)):2} & 16#${m:-ff}))) ||
        continue 2
    done
    echo "$interpreter"
    return 0
  done
  return 1
}

# i386_mode: sets and exports TARVEL_I386, how 32-bit programs run here (native, emulated or
# none), and TARVEL_I386_WHY, how or why not; once, by running the i386 loader itself (the test
# command finds them out first and its suites inherit them). TARVEL_I386=none given by hand is
# kept: the suites then behave as on a machine that cannot run 32-bit programs at all.
i386_mode() {
  [[ -n ${TARVEL_I386:-} && -n ${TARVEL_I386_WHY:-} ]] && return 0
  local out interpreter
  if [[ ${TARVEL_I386:-} == none ]]; then
    TARVEL_I386_WHY="TARVEL_I386=none was given"
  elif [[ ! -x $WINE32 ]]; then
    TARVEL_I386=none TARVEL_I386_WHY="wine32 is not installed"
  elif out=$(timeout 120 "$WINE32" --version 2>&1) && [[ $out == wine-* ]]; then
    if interpreter=$(i386_binfmt "$WINE32"); then
      TARVEL_I386=emulated TARVEL_I386_WHY="under $interpreter, registered in binfmt_misc"
    else
      TARVEL_I386=native TARVEL_I386_WHY="the kernel runs them"
    fi
  else
    TARVEL_I386=none
    TARVEL_I386_WHY="the i386 loader does not run: $WINE32 --version: $(head -n 1 <<<"${out:-no output}")"
  fi
  export TARVEL_I386 TARVEL_I386_WHY
}

# slow_for FILE SECONDS: a time limit for running the Windows program FILE: SECONDS, or twenty
# times that for an i686 program under the emulator.
slow_for() {
  i386_mode
  if [[ $TARVEL_I386 == emulated && $(build_arch "$1") == i386 ]]; then
    echo $(($2 * 20))
  else
    echo "$2"
  fi
}

# The i686 runtime tests that run where 32-bit programs run under the emulator: the proof that
# the shipped build works (tests/e2e/wow64-proof.sh, tests/msi/msi-wow64-proof.sh). The rest run
# there only with TARVEL_I686=full; TARVEL_I686=proof runs the proof natively too.
I386_SKIP=77  # ctest's SKIP_RETURN_CODE for the Windows suites

# i686_gate SUITE KIND: for an i686 suite (KIND "full": one of the whole set, "proof": one of the
# emulator's proof set), exits with I386_SKIP, the reason printed, when it is not to run here.
i686_gate() {
  local suite=$1 kind=$2
  i386_mode
  case $TARVEL_I386:$kind:${TARVEL_I686:-} in
    none:*)
      echo "SKIPPED $suite: 32-bit programs cannot run on this machine ($TARVEL_I386_WHY)" ;;
    emulated:full:full | emulated:proof:proof | emulated:proof: | native:full:* | native:proof:proof) return 0 ;;
    emulated:full:*)
      echo "SKIPPED $suite: 32-bit programs run under an emulator here ($TARVEL_I386_WHY); the proof set (e2e.wow64-proof, msi.wow64-proof) runs instead; TARVEL_I686=full runs the whole i686 set" ;;
    emulated:proof:full)
      echo "SKIPPED $suite: TARVEL_I686=full runs the whole i686 set, which this proof is part of" ;;
    native:proof:*)
      echo "SKIPPED $suite: 32-bit programs run natively here: the whole i686 set runs (TARVEL_I686=proof runs this proof too)" ;;
  esac
  exit $I386_SKIP
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

  local template
  template=$(wine_template) || { echo "cannot boot the template Wine prefix" >&2; exit 1; }
  cp -a "$template" "$WINEPREFIX"
}

# wine_template: prints the booted template prefix to copy, booting it first when this machine
# has none. A fresh prefix takes seconds to boot (minutes where 32-bit programs run under an
# emulator), so one template per machine and kind is booted and copied. The kinds are kept apart
# by how 32-bit programs run: a prefix booted while they could not run has an empty or partial
# syswow64 that cannot load kernel32 (c0000135), so neither WOW64 kind keeps a template without
# syswow64\kernel32.dll; the native kind keeps its path of before. Each step is checked here: a
# command substitution does not stop at a failure.
wine_template() {
  local kind=win64 limit=120
  i386_mode
  case $TARVEL_I386 in
    native) kind=wow64 ;;
    emulated) kind=wow64-emulated limit=1200 ;;
  esac
  local template=${TARVEL_WINE_TEMPLATE:-/tmp/tarvel-wine-template-$kind}
  (
    flock 9
    if [[ ! -f $template/ready || ($kind == wow64* && ! -f $template/pfx/drive_c/windows/syswow64/kernel32.dll) ]]; then
      rm -rf "$template"
      mkdir -p "$template"
      echo "# booting the $kind template prefix $template (at most $limit s)"
      WINEPREFIX=$template/pfx timeout "$limit" "$WINE64" wineboot -i >/dev/null 2>&1 || exit 1
      if [[ $kind == wow64-emulated ]]; then
        # Wine's Service Control Manager gives a starting service ServicesPipeTimeout ms to
        # connect (10 s by default; read once, as a string, when services.exe starts): a 32-bit
        # service takes minutes to start under the emulator.
        WINEPREFIX=$template/pfx timeout 60 "$WINE64" reg add 'HKLM\System\CurrentControlSet\Control' \
          /v ServicesPipeTimeout /t REG_SZ /d 1800000 /f >/dev/null 2>&1 || exit 1
      fi
      WINEPREFIX=$template/pfx timeout 60 "$WINESERVER" -w || exit 1
      if [[ $kind == wow64* && ! -f $template/pfx/drive_c/windows/syswow64/kernel32.dll ]]; then
        echo "the booted $template has no syswow64\\kernel32.dll: not kept"
        rm -rf "$template"
        exit 1
      fi
      touch "$template/ready"
    fi
  ) 9>"/tmp/tarvel-wine-template-$kind.lock" >&2 || return 1
  echo "$template/pfx"
}

# A persistent server: without it Wine ends the services as soon as the last client program
# exits.
wine_server_start() {
  ("$WINESERVER" -p >/dev/null 2>&1 &)
}
