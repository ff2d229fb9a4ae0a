# Sourced by scripts/test.sh and scripts/release.sh (after scripts/packages.sh): how this machine
# runs the shipped build's 32-bit programs. Some machines' kernels run 64-bit programs only (their
# i386 execve returns ENOEXEC); there Debian's qemu-user-static, registered in binfmt_misc for
# i386 ELF files, runs them, about 20 times slower.
# shellcheck source=tests/wine/wine-prefix.sh
. tests/wine/wine-prefix.sh

# The kernel's binfmt_misc entry for i386 ELF executables (Debian's package does not register it
# on an x86_64 host). F: the interpreter is opened now, so that it works in any mount namespace.
I386_QEMU_ENTRY=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'

# i386_qemu_recent QEMU: the emulator is qemu 8 or later. Debian 12's own qemu-user-static (7.2)
# is not: it takes two to three minutes to start each 32-bit Wine program (it honours no
# MAP_FIXED_NOREPLACE, and Wine's address-space reservation then probes some 66,000 times, each
# probe a search page by page), and it kills the i686 service during its start-up (a thread that
# Wine ends by signal unwinds into an endless SIGSEGV/SIGILL loop), where qemu 10 starts one in
# about two seconds and runs the service.
i386_qemu_recent() {
  local major
  major=$("$1" --version 2>/dev/null | sed -n 's/^qemu-[a-z0-9_]* version \([0-9]*\)\..*/\1/p' | head -n 1)
  [[ -n $major ]] && ((major >= 8))
}

# i386_qemu: prints a qemu-i386 of version 8 or later: Debian's own qemu-user-static when it is
# that recent (installed when missing), else the qemu-i386 of Debian's qemu-user from this
# release's backports, unpacked once into I386_QEMU_CACHE (apt-get download with a source list of
# its own for that one call: the machine's sources and packages are left as they are).
I386_QEMU_CACHE=/var/cache/tarvel-qemu
i386_qemu() {
  install_missing qemu-user-static >&2 || true
  local q
  for q in /usr/bin/qemu-i386-static "$I386_QEMU_CACHE/qemu-i386"; do
    [[ -x $q ]] && i386_qemu_recent "$q" && { echo "$q"; return 0; }
  done
  local codename uri dir apt_opts
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1 | cut -d' ' -f1)
  [[ -n $uri ]] || uri=$(awk '$1 == "deb" && $3 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
  [[ -n $uri && -n $codename ]] || return 1
  dir=$(mktemp -d)
  echo "deb $uri $codename-backports main" >"$dir/backports.list"
  apt_opts=(-q -o Dir::Etc::sourcelist="$dir/backports.list" -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0)
  echo "== fetching qemu-user from $codename-backports (qemu 8 or later)" >&2
  if (apt-get update "${apt_opts[@]}" && cd "$dir" && apt-get download "${apt_opts[@]}" "qemu-user/$codename-backports") >/dev/null 2>&1 &&
    dpkg-deb --fsys-tarfile "$dir"/qemu-user_*.deb | tar -x -C "$dir" ./usr/bin/qemu-i386 &&
    i386_qemu_recent "$dir/usr/bin/qemu-i386"; then
    mkdir -p "$I386_QEMU_CACHE"
    mv "$dir/usr/bin/qemu-i386" "$I386_QEMU_CACHE/qemu-i386"
  fi
  rm -rf "$dir"
  [[ -x $I386_QEMU_CACHE/qemu-i386 ]] && i386_qemu_recent "$I386_QEMU_CACHE/qemu-i386" &&
    echo "$I386_QEMU_CACHE/qemu-i386"
}

# i386_register QEMU: registers QEMU for i386 ELF files in binfmt_misc (mounting it when needed),
# in place of an older registration of that name.
i386_register() {
  local dir=/proc/sys/fs/binfmt_misc
  [[ -e $dir/register ]] || mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || return 1
  [[ ! -e $dir/qemu-i386 ]] || echo -1 >"$dir/qemu-i386" || return 1
  printf '%s' "${I386_QEMU_ENTRY/\/usr\/bin\/qemu-i386-static/$1}" >"$dir/register"
}

# i386_setup: finds out how 32-bit programs run here (i386_mode: TARVEL_I386 and
# TARVEL_I386_WHY, exported for the suites); where the kernel does not run them, or only an old
# emulator does, registers a recent qemu-i386 where binfmt_misc allows it, then finds out again.
# Prints one line with the outcome.
i386_setup() {
  local given=${TARVEL_I386:-} interpreter why qemu
  unset TARVEL_I386_WHY
  [[ $given == none ]] || unset TARVEL_I386
  i386_mode
  if [[ $given != none && -x $WINE32 && $TARVEL_I386 != native ]] &&
    ! { [[ $TARVEL_I386 == emulated ]] && interpreter=$(i386_binfmt "$WINE32") && i386_qemu_recent "$interpreter"; }; then
    why=$TARVEL_I386_WHY
    if ! qemu=$(i386_qemu); then
      TARVEL_I386=none TARVEL_I386_WHY="$why; no qemu-i386 of version 8 or later could be had (Debian 12's 7.2 cannot run the i686 service)"
    elif ! i386_register "$qemu" 2>/dev/null; then
      TARVEL_I386=none TARVEL_I386_WHY="$why; $qemu could not be registered in binfmt_misc"
    else
      echo "== registered $qemu ($("$qemu" --version | head -n 1)) for i386 programs in binfmt_misc (until the next boot)"
      unset TARVEL_I386 TARVEL_I386_WHY
      i386_mode
      [[ $TARVEL_I386 != none ]] || TARVEL_I386_WHY="$qemu is registered, but still: $TARVEL_I386_WHY"
    fi
  fi
  export TARVEL_I386 TARVEL_I386_WHY
  i386_summary
}

# i386_summary: one line: how 32-bit programs ran and what of the i686 set that means.
i386_summary() {
  case $TARVEL_I386:${TARVEL_I686:-} in
    native:*) echo "== 32-bit programs: native ($TARVEL_I386_WHY): the whole i686 set runs natively" ;;
    emulated:full) echo "== 32-bit programs: emulated ($TARVEL_I386_WHY): TARVEL_I686=full: the whole i686 set runs under the emulator" ;;
    emulated:*) echo "== 32-bit programs: emulated ($TARVEL_I386_WHY): the i686 proof set runs under the emulator, the rest of the i686 set is skipped (TARVEL_I686=full runs it)" ;;
    *) echo "== 32-bit programs: none ($TARVEL_I386_WHY): every i686 runtime test is skipped" ;;
  esac
}
