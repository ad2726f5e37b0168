#!/usr/bin/env bash
# Checks that a shared library exports exactly the functions of a list (one
# name a line): none missing, none extra.
#
#   scripts/check-export-list.sh <lib.so> <list>
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 <lib.so> <list>" >&2
    exit 2
fi
exported=$(nm -D --defined-only "$1" | awk '$2 == "T" { sub(/@.*/, "", $3); print $3 }' | sort -u)
expected=$(grep -v '^[[:space:]]*$' "$2" | sort -u)
if ! differences=$(diff <(echo "$expected") <(echo "$exported")); then
    echo "check-export-list: $1 differs from $2 (< missing, > not in the list):" >&2
    echo "$differences" >&2
    exit 1
fi
echo "check-export-list: $(echo "$exported" | wc -l) functions, as listed"
