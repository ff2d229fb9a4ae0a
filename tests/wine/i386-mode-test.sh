#!/usr/bin/env bash
# The harness's view of how 32-bit programs run here (tests/wine/wine-prefix.sh): binfmt_misc
# entries read as the kernel matches them, the three modes found by running a loader, which suites
# each mode skips and with what reason, and the emulator's longer time limits. Runs no Wine.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-prefix.sh
. "$here/wine-prefix.sh"
unset TARVEL_I386 TARVEL_I386_WHY TARVEL_I686 TARVEL_BINFMT_DIR  # the run's own mode is not under test
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0 passed=0
not() { ! "$@"; }
expect() {  # expect DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then ((passed++)); else ((failed++)); echo "FAIL $what"; fi
}

# Files: an i386 ELF executable's first bytes, and PE images of both machine types.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' >"$tmp/elf-i386"
printf '\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x3e\x00' >"$tmp/elf-x86_64"
pe() { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00PE\x00\x00%b' "$1"; head -c 64 /dev/zero; }
pe '\x4c\x01' >"$tmp/i386.exe"
pe '\x64\x86' >"$tmp/x64.exe"

# binfmt_misc folders as the kernel shows them.
entry() {  # entry DIR NAME STATE MAGIC MASK
  mkdir -p "$1"
  printf '%s\ninterpreter /usr/bin/%s-static\nflags: F\noffset 0\nmagic %s\nmask %s\n' \
    "$3" "$2" "$4" "$5" >"$1/$2"
}
i386_magic=7f454c4601010100000000000000000002000300
i386_mask=fffffffffffefe00fffffffffffffffffeffffff
entry "$tmp/on" qemu-i386 enabled $i386_magic $i386_mask
entry "$tmp/on" qemu-aarch64 enabled 7f454c460201010000000000000000000200b700 ffffffffffffff00fffffffffffffffffeffffff
echo enabled >"$tmp/on/status"
binfmt() { TARVEL_BINFMT_DIR=$tmp/$1 i386_binfmt "$tmp/$2"; }
expect "an enabled qemu-i386 entry takes an i386 ELF" test "$(binfmt on elf-i386)" = /usr/bin/qemu-i386-static
expect "no entry takes an x86_64 ELF" not binfmt on elf-x86_64
entry "$tmp/off" qemu-i386 disabled $i386_magic $i386_mask
echo enabled >"$tmp/off/status"
expect "a disabled entry takes nothing" not binfmt off elf-i386
cp -r "$tmp/on" "$tmp/all-off" && echo disabled >"$tmp/all-off/status"
expect "binfmt_misc disabled as a whole takes nothing" not binfmt all-off elf-i386
expect "no binfmt_misc folder" not binfmt missing elf-i386

# The modes, from a stand-in loader.
loader() { printf '#!/bin/sh\n%s\n' "$1" >"$tmp/loader" && chmod +x "$tmp/loader"; }
mode() {  # mode: prints "MODE|WHY" as a fresh run finds them
  (unset TARVEL_I386 TARVEL_I386_WHY; WINE32=$tmp/loader; i386_mode; echo "$TARVEL_I386|$TARVEL_I386_WHY")
}
loader 'echo "wine-8.0 (Debian 8.0~repack-4)"'
i386_binfmt() { return 1; }
expect "the loader runs, no emulator: native" test "$(mode)" = "native|the kernel runs them"
i386_binfmt() { echo /usr/bin/qemu-i386-static; }
expect "the loader runs through binfmt_misc: emulated" \
  test "$(mode)" = "emulated|under /usr/bin/qemu-i386-static, registered in binfmt_misc"
loader 'echo "cannot execute binary file: Exec format error" >&2; exit 126'
expect "the loader does not run: none, with its error" \
  test "$(mode)" = "none|the i386 loader does not run: $tmp/loader --version: cannot execute binary file: Exec format error"
rm "$tmp/loader"
expect "no loader: none" test "$(mode)" = "none|wine32 is not installed"
expect "TARVEL_I386=none given by hand is kept" \
  test "$( (unset TARVEL_I386_WHY; TARVEL_I386=none i386_mode; echo "$TARVEL_I386|$TARVEL_I386_WHY"))" = "none|TARVEL_I386=none was given"

# Which suites run in each mode: exit 77 (ctest's skip) with the reason, or on.
gate() {  # gate MODE KIND [TARVEL_I686]: prints the exit status and the reason
  local out rc
  out=$(TARVEL_I386=$1 TARVEL_I386_WHY=why TARVEL_I686=${3:-} i686_gate suite.x "$2"; echo run)
  rc=$?
  echo "$rc ${out%%:*}"
}
expect "native: the whole set runs" test "$(gate native full)" = "0 run"
expect "native: the proof is skipped" test "$(gate native proof)" = "77 SKIPPED suite.x"
expect "native, TARVEL_I686=proof: the proof runs" test "$(gate native proof proof)" = "0 run"
expect "emulated: the proof runs" test "$(gate emulated proof)" = "0 run"
expect "emulated: the rest is skipped" test "$(gate emulated full)" = "77 SKIPPED suite.x"
expect "emulated, TARVEL_I686=full: the whole set runs" test "$(gate emulated full full)" = "0 run"
expect "emulated, TARVEL_I686=full: the proof is skipped" test "$(gate emulated proof full)" = "77 SKIPPED suite.x"
expect "none: the set is skipped" test "$(gate none full)" = "77 SKIPPED suite.x"
expect "none: the proof is skipped" test "$(gate none proof)" = "77 SKIPPED suite.x"
reason=$(TARVEL_I386=emulated TARVEL_I386_WHY=why i686_gate suite.x full)
expect "the emulator's skip names the emulator and TARVEL_I686=full" \
  grep -qF 'SKIPPED suite.x: 32-bit programs run under an emulator here (why); the proof set (e2e.wow64-proof, msi.wow64-proof) runs instead; TARVEL_I686=full runs the whole i686 set' <<<"$reason"
reason=$(TARVEL_I386=none TARVEL_I386_WHY=why i686_gate suite.x full)
expect "none's skip names why" test "$reason" = "SKIPPED suite.x: 32-bit programs cannot run on this machine (why)"

# Time limits: twenty times longer for i686 programs under the emulator only.
slow() { TARVEL_I386=$1 TARVEL_I386_WHY=why slow_for "$tmp/$2" 60; }
expect "emulated i686: 20 x" test "$(slow emulated i386.exe)" = 1200
expect "emulated x86_64: as given" test "$(slow emulated x64.exe)" = 60
expect "native i686: as given" test "$(slow native i386.exe)" = 60

# The emulator the test command registers must be qemu 8 or later (scripts/i386.sh).
(cd "$here/../.." && . scripts/i386.sh && declare -f i386_qemu_recent) >"$tmp/recent.sh"
. "$tmp/recent.sh"
fake_qemu() { printf '#!/bin/sh\necho "qemu-i386 version %s"\n' "$1" >"$tmp/qemu" && chmod +x "$tmp/qemu"; }
fake_qemu '7.2.0 (Debian 1:7.2+dfsg-7+deb12u18+b3)'
expect "Debian 12's qemu 7.2 is too old" not i386_qemu_recent "$tmp/qemu"
fake_qemu '10.0.2 (Debian 1:10.0.2+ds-2+deb13u1~bpo12+1)'
expect "qemu 10 will do" i386_qemu_recent "$tmp/qemu"

echo "$passed passed, $failed failed"
((failed == 0))
