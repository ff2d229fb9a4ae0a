#!/usr/bin/env bash
# The whole test run: installs missing Debian packages, builds every preset, runs every suite,
# then runs every fuzz target for a bounded time (tests/fuzz/run.sh, about a minute in all).
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/packages.sh
. scripts/packages.sh
# The shipped build is 32-bit: Debian's 32-bit Wine beside wine64 runs it under WOW64.
install_missing cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev \
  libbenchmark-dev libgcrypt20-dev libcli11-dev clang libclang-rt-14-dev clang-format clang-tidy \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
  binutils-mingw-w64-x86-64 wine64 wixl msitools wine32:i386
# How 32-bit programs run here: natively, under an emulator set up now, or not at all. Natively
# the whole i686 set runs; under the emulator its proof set (the rest shown as skipped, unless
# TARVEL_I686=full), with the Wine suites' time limits twenty times longer; with neither, every
# i686 runtime test is skipped.
# shellcheck source=scripts/i386.sh
. scripts/i386.sh
i386_setup
wine_scale=1 wine_filter=(-LE wow64-proof)
if [[ $TARVEL_I386 == emulated ]]; then
  wine_scale=20
  [[ ${TARVEL_I686:-} == full ]] || wine_filter=()
fi

# The presets, in the order they run, are CMakePresets.json's test presets (each has a build
# preset of the same name; the sanitizer ones build the unit tests alone). The fuzz preset has
# no test preset: tests/fuzz/run.sh builds and runs it below.
mapfile -t presets < <(cmake --list-presets=test | sed -n 's/^  "\([^"]*\)".*/\1/p')
((${#presets[@]})) || { echo "no test presets" >&2; exit 1; }
for preset in "${presets[@]}"; do
  echo "== build $preset"
  case $preset in
    windows-*) cmake --preset "$preset" -DTARVEL_WINE_TIME_SCALE=$wine_scale >/dev/null ;;
    *) cmake --preset "$preset" >/dev/null ;;
  esac
  cmake --build --preset "$preset"
done

status=0
if [[ $TARVEL_I386 == emulated ]]; then
  # Booting the template prefix takes minutes under the emulator: once, before the suites' timers.
  echo "== Wine template prefix"
  wine_template >/dev/null || status=1
fi
echo "== style"
scripts/style.sh || status=1
for preset in "${presets[@]}"; do
  echo "== test $preset"
  case $preset in
    # The Windows builds' Wine suites, the shipped i686 build first, one after the other and
    # with nothing else running: their waits on services, timers and Wine's own processes are
    # timed, and load from beside them (the other build's suites, or a compile even at the
    # lowest priority) has made checks fail.
    windows-*)
      ctest --preset "$preset" "${wine_filter[@]}" || status=1
      # ctest lists a skipped test without its output: each one's reason.
      grep -h '^SKIPPED ' "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null || true ;;
    # The simulated machine's suites run in virtual time: two at once on two cores.
    *) ctest --preset "$preset" -j2 || status=1 ;;
  esac
done

echo "== fuzz"
tests/fuzz/run.sh || status=1
i386_summary
exit $status
