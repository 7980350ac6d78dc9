#!/usr/bin/env bash
# Fails when a C or C++ source of the tree differs from the project style (.clang-format at the root).
# With --fix, formats those files in place instead.
set -uo pipefail
cd "$(dirname "$0")/.."

command -v clang-format >/dev/null || {
    echo "check-format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
    exit 2
}
mode=(--dry-run --Werror)
done="ok"
[ "${1:-}" = "--fix" ] && mode=(-i) && done="formatted"

# Every source file git knows of or would add (untracked but not ignored), whatever the build folders.
mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- \
    '*.h' '*.hpp' '*.cpp' '*.cc' '*.c' | sort -zu)
existing=()
for f in "${files[@]}"; do [ -f "$f" ] && existing+=("$f"); done
[ ${#existing[@]} -gt 0 ] || { echo "check-format: no sources"; exit 0; }

if ! printf '%s\0' "${existing[@]}" | xargs -0 -n 16 -P 2 clang-format "${mode[@]}"; then
    echo "check-format: the files above differ from .clang-format; run scripts/check-format.sh --fix" >&2
    exit 1
fi
echo "check-format: $done (${#existing[@]} files)"
