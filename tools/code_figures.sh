#!/usr/bin/env bash
# Prints the largest source files and functions under src/ (or the folders given), and the
# preprocessor conditionals in the files that build on both platforms: a quick view of
# where the code base grows. Needs Universal Ctags.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $# -gt 0 ]] || set -- src tools
dirs=("$@")
count=${KESTRINE_FIGURES:-10}

echo "== largest files (lines) =="
find "${dirs[@]}" -name '*.cpp' -o -name '*.h' | xargs wc -l | grep -v ' total$' |
  sort -rn | awk -v n="$count" 'NR <= n'

echo "== largest functions (lines) =="
find "${dirs[@]}" -name '*.cpp' -print0 |
  xargs -0 ctags -x --_xformat='%N %F %n %{end}' --kinds-C++=f --fields=+ne -o - |
  awk '$4 ~ /^[0-9]+$/ { printf "%5d %s:%d %s\n", $4 - $3 + 1, $2, $3, $1 }' |
  sort -rn | awk -v n="$count" 'NR <= n'

echo "== #if, #elif, #else in files built on both platforms =="
# A platform file is named *_linux.* or *_win.*, or lies in a folder of one realisation.
files=$(find "${dirs[@]}" \( -name '*.cpp' -o -name '*.h' \) |
  grep -Ev '_(linux|win)\.(cpp|h)$|/ui/(qt|win32)/' || true)
hits=$(grep -EcH '^[[:space:]]*#[[:space:]]*(if|elif|else)' $files | grep -v ':0$' || true)
echo "$hits" | sed 's/^/  /'
echo "$hits" | awk -F: '{ n += $2; f++ } END { printf "%d in %d files\n", n, f }'
