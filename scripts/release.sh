#!/usr/bin/env bash
# The release artefacts in dist/: builds the shipped 32-bit preset (windows-x86), checks the
# installer package's tables, and copies the i686 tarvel-service.exe and tarvelctl.exe and
# tarvel-VERSION.msi into dist/ with their SHA-256 sums in SHA256SUMS.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v wixl >/dev/null || { echo "release.sh: wixl is missing: apt-get install wixl msitools" >&2; exit 1; }

cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86
ctest --preset windows-x86

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
