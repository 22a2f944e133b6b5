#!/usr/bin/env bash
# Puts a results file into a document (docs/benchmark.md) between its
# markers ("benchmark results" unless named), its sections as the
# document's third-level headings; the rest of the document stays as it is.
#   bench/readme.sh RESULTS_MD DOCUMENT [MARKER]
set -euo pipefail
results=$1
readme=$2
marker=${3:-benchmark results}
start="<!-- $marker: start -->"
end="<!-- $marker: end -->"
if ! grep -qF "$start" "$readme" || ! grep -qF "$end" "$readme"; then
  echo "readme.sh: $readme has no benchmark markers; left unchanged" >&2
  exit 0
fi
body=$(mktemp)
trap 'rm -f "$body"' EXIT
sed '1{/^# /d}' "$results" | sed 's/^## /### /' >"$body"
awk -v start="$start" -v end="$end" -v body="$body" '
  $0 == start { print; while ((getline line < body) > 0) print line; skipping = 1; next }
  $0 == end { skipping = 0 }
  !skipping { print }
' "$readme" >"$readme.new"
mv "$readme.new" "$readme"
