#!/usr/bin/env bash
# Checks that every C and C++ source of the repository is formatted with the
# house style (.clang-format). With --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${sources[@]}"
    exit 0
fi
if ! clang-format --dry-run --Werror "${sources[@]}"; then
    echo "check-format: the files above differ from the house style; run scripts/check-format.sh --fix" >&2
    exit 1
fi
echo "check-format: ${#sources[@]} sources follow the house style"
