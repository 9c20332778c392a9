#!/usr/bin/env bash
# Fails when a C++ file the repository tracks differs from what clang-format makes of it
# (the style is .clang-format at the top). Prints the files that need formatting.
#   scripts/check_format.sh        check
#   scripts/check_format.sh --fix  format them in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.h' '*.cpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ "${#bad[@]}" -gt 0 ]; then
  printf 'check_format: not formatted: %s\n' "${bad[@]}" >&2
  echo "check_format: run scripts/check_format.sh --fix" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files formatted"
