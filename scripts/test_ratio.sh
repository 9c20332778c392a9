#!/usr/bin/env bash
# Prints the lines of C++ under tests/ against those of the product (src/, programs/, tools/, plugins/),
# per subsystem and in all. Counts every line of .h and .cpp files, blank and comment lines too.
#   scripts/test_ratio.sh [limit]   exits 1 when the overall ratio is above `limit` (e.g. 0.35)
set -euo pipefail
cd "$(dirname "$0")/.."

lines() {
  local existing=()
  for d in "$@"; do [ -d "$d" ] && existing+=("$d"); done
  [ "${#existing[@]}" -eq 0 ] && { echo 0; return; }
  find "${existing[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | xargs -0 -r cat | wc -l
}
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

printf '%-10s %8s %8s %6s\n' folder product tests ratio
for sub in platform dsp recording config services capture app ui; do
  p=$(lines "src/$sub")
  t=$(lines "tests/$sub")
  [ "$p" -gt 0 ] && printf '%-10s %8d %8d %6s\n' "$sub" "$p" "$t" "$(div "$t" "$p")"
done
p=$(lines plugins)
t=$(lines tests/plugins)
[ "$p" -gt 0 ] && printf '%-10s %8d %8d %6s\n' plugins "$p" "$t" "$(div "$t" "$p")"
product=$(lines src programs tools plugins)
tests=$(lines tests)
ratio=$(div "$tests" "$product")
printf '%-10s %8d %8d %6s\n' all "$product" "$tests" "$ratio"
if [ $# -gt 0 ] && awk -v r="$ratio" -v l="$1" 'BEGIN { exit !(r > l) }'; then
  echo "test_ratio: tests are $ratio of the product, above $1" >&2
  exit 1
fi
