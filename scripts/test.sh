#!/usr/bin/env bash
# The whole test run: installs missing Debian packages, builds every preset, runs every suite,
# then runs every fuzz target for a bounded time (tests/fuzz/run.sh, about a minute in all).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libgcrypt20-dev libcli11-dev clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine64 wixl msitools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The shipped build is 32-bit: Debian's 32-bit Wine beside wine64 runs it under WOW64.
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' ||
  missing+=(wine32:i386)
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

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
