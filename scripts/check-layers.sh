#!/usr/bin/env bash
# Checks that every include of the service's code points down its layers:
#   platform <- guard <- enforcement <- policy <- service
# A layer's files include its own folder and the layers below it; platform's own files (not its
# win32/ and sim/ implementations) include platform's own files only, and each implementation
# includes those and itself. Prints every include against that and exits 1 when there is one.
# Usage: check-layers.sh [SOURCE_ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
layers=(platform guard enforcement policy service)

# allowed FOLDER: the include prefixes that FOLDER's files may use, as one extended regex.
allowed() {
  case $1 in
    platform) echo '^platform/[^/]+$' ;;
    platform/win32 | platform/sim) echo "^platform/[^/]+\$|^$1/" ;;
    *)
      local below="^platform/[^/]+\$" l
      for l in "${layers[@]:1}"; do
        below+="|^$l/"
        [[ $l == "$1" ]] && break
      done
      echo "$below"
      ;;
  esac
}

bad=0
for folder in platform platform/win32 platform/sim "${layers[@]:1}"; do
  [[ -d $root/$folder ]] || { echo "check-layers: no folder $root/$folder" >&2; exit 2; }
  pattern=$(allowed "$folder")
  for file in "$root/$folder"/*.h "$root/$folder"/*.cpp; do
    [[ -e $file ]] || continue
    while IFS= read -r included; do
      # Includes of the tree name a folder; the standard headers and windows.h do not.
      [[ $included == */* ]] || continue
      if ! [[ $included =~ $pattern ]]; then
        echo "${file#"$root"/} includes $included, against the layers"
        bad=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  done
done
exit $bad
