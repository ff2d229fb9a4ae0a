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

# The presets, in the order they run, are CMakePresets.json's test presets (each has a build
# preset of the same name; the sanitizer ones build the unit tests alone). The fuzz preset has
# no test preset: tests/fuzz/run.sh builds and runs it below.
mapfile -t presets < <(cmake --list-presets=test | sed -n 's/^  "\([^"]*\)".*/\1/p')
((${#presets[@]})) || { echo "no test presets" >&2; exit 1; }
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
echo "== style"
scripts/style.sh || status=1
for preset in "${presets[@]}"; do
  echo "== test $preset"
  case $preset in
    # The Windows builds' Wine suites, the shipped i686 build first, one after the other and
    # with nothing else running: their waits on services, timers and Wine's own processes are
    # timed, and load from beside them (the other build's suites, or a compile even at the
    # lowest priority) has made checks fail.
    windows-*) ctest --preset "$preset" || status=1 ;;
    # The simulated machine's suites run in virtual time: two at once on two cores.
    *) ctest --preset "$preset" -j2 || status=1 ;;
  esac
done

echo "== fuzz"
tests/fuzz/run.sh || status=1
exit $status
