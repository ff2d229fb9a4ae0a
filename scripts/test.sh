#!/usr/bin/env bash
# The whole test run: installs missing Debian packages, builds every preset, runs every suite,
# then runs every fuzz target for a bounded time (tests/fuzz/run.sh, about a minute in all).
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/packages.sh
. scripts/packages.sh
# The shipped build is 32-bit: Debian's 32-bit Wine beside wine64 runs it under WOW64.
install_missing cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev \
  libbenchmark-dev libgcrypt20-dev libcli11-dev clang libclang-rt-14-dev \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
  binutils-mingw-w64-x86-64 wine64 wixl msitools wine32:i386

# The sanitizer presets build the unit tests alone: the programs, the benchmark and the
# allocation test are built and run by the plain preset.
presets=(linux asan tsan windows-x86 windows-x64)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  case $preset in
    asan | tsan) cmake --build --preset "$preset" --target unit_tests ;;
    *) cmake --build --preset "$preset" ;;
  esac
done

status=0
# The simulated machine's suites run in virtual time: two at once on two cores.
for preset in linux asan tsan; do
  echo "== test $preset"
  ctest --preset "$preset" -j2 || status=1
done
# The Windows builds' Wine suites, the shipped i686 build first, one after the other and with
# nothing else running: their waits on services, timers and Wine's own processes are timed, and
# load from beside them (the other build's suites, or a compile even at the lowest priority) has
# made checks fail.
for preset in windows-x86 windows-x64; do
  echo "== test $preset"
  ctest --preset "$preset" || status=1
done

echo "== fuzz"
tests/fuzz/run.sh || status=1
exit $status
