#!/usr/bin/env bash
# The test command's style checks: clang-format (the project's .clang-format) over every C++ file
# of the tree, and clang-tidy (.clang-tidy) over the lines changed since BASE in the C++ sources
# that the Linux build compiles (its compile_commands.json; the Windows-only sources are left to the
# MinGW compilers' warnings). Prints what it finds; exits 1 on any finding.
# Usage: scripts/style.sh [BASE]    BASE: a commit, by default the last commit's parent.
set -uo pipefail
cd "$(dirname "$0")/.."
base=${1:-HEAD~1}
status=0

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}"; then
  echo "style: clang-format would change the files above (run clang-format -i on them)"
  status=1
fi

db=build/linux/compile_commands.json
if [[ ! -f $db ]]; then
  echo "style: no $db (build the linux preset first)" >&2
  exit 1
fi
if ! git rev-parse -q --verify "$base^{commit}" >/dev/null; then
  echo "style: no commit $base to compare with (a shallow clone?): clang-tidy not run"
  exit $status
fi
mapfile -t changed < <(git diff --name-only --diff-filter=d "$base" -- '*.cpp' | sort)
tidy=()
for f in "${changed[@]}"; do
  grep -qF "\"file\": \"$PWD/$f\"" "$db" && tidy+=("$f")
done
echo "style: clang-format clean over ${#sources[@]} files; clang-tidy over the lines changed since $base in ${#tidy[@]} sources"
((${#tidy[@]})) || exit $status
# The unit tests' commands include gcc's precompiled header, which clang cannot read: clang-tidy
# gets the commands without it (every test file includes what it uses).
tidydb=$(mktemp -d)
trap 'rm -rf "$tidydb"' EXIT
sed -E 's# -include [^ ]*cmake_pch\.hxx##g; s# -Winvalid-pch##g' "$db" >"$tidydb/compile_commands.json"
# clang-tidy-diff reports only what falls on the changed lines, two files at a time.
out=$(git diff -U0 "$base" -- "${tidy[@]}" |
  clang-tidy-diff -p1 -path "$tidydb" -j 2 -quiet -iregex '.*\.cpp' 2>/dev/null)
if grep -qE '(warning|error):' <<<"$out"; then
  echo "$out"
  echo "style: clang-tidy findings above"
  status=1
fi
exit $status
