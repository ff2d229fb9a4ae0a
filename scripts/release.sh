#!/usr/bin/env bash
# The release artefacts in dist/: builds the shipped 32-bit preset (windows-x86) and the x86_64
# one (whose probe the end-to-end suite sends one broadcast from), runs the whole i686 set, and
# copies the i686 tarvel-service.exe and tarvelctl.exe and tarvel-VERSION.msi into dist/ with
# their SHA-256 sums in SHA256SUMS. The shipped build is never released unproven: every i686
# test must pass in this run, natively or under the emulator (TARVEL_I686=full, which takes long
# there); a machine that cannot run 32-bit programs at all makes no release.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v wixl >/dev/null || { echo "release.sh: wixl is missing: apt-get install wixl msitools" >&2; exit 1; }
# shellcheck source=scripts/packages.sh
. scripts/packages.sh
# shellcheck source=scripts/i386.sh
. scripts/i386.sh
export TARVEL_I686=full
i386_setup
if [[ $TARVEL_I386 == none ]]; then
  echo "release.sh: no release: the shipped 32-bit build cannot be proven here ($TARVEL_I386_WHY)" >&2
  exit 1
fi
scale=1
[[ $TARVEL_I386 == emulated ]] && scale=20

for preset in windows-x64 windows-x86; do
  cmake --preset "$preset" -DTARVEL_WINE_TIME_SCALE=$scale >/dev/null
  cmake --build --preset "$preset"
done
log=build/windows-x86/release-tests.log
ctest --preset windows-x86 -LE wow64-proof 2>&1 | tee "$log"
# ctest passes a run whose tests were skipped: a skipped i686 test is an unproven release.
if grep -qE '\*\*\*Skipped|[1-9][0-9]* tests? skipped|Not Run' "$log"; then
  echo "release.sh: no release: not every i686 test ran in this run (see $log)" >&2
  exit 1
fi

# The build lists what it released (cmake/Packaging.cmake).
list=build/windows-x86/release-artefacts.txt
[[ -s $list ]] || { echo "release.sh: $list is missing: no MSI was configured" >&2; exit 1; }
rm -rf dist
mkdir dist
while IFS= read -r file; do
  cp "$file" dist/
done <"$list"
(cd dist && sha256sum -- * >SHA256SUMS)
echo "== dist/"
cat dist/SHA256SUMS
