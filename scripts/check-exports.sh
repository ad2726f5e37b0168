#!/usr/bin/env bash
# Compares the symbols a shared library exports with the functions (and
# variables) its public headers declare.
#
#   scripts/check-exports.sh [--macro NAME] <lib.so> <header>...
#
# A declaration counts when the library's API macro stands in front of it
# (NAME, or by default any upper-case identifier ending in _API), e.g.
#   KORVO_API int init_korvo(const char* name);
# or, for an exported variable,
#   QM_API extern const QMenum QM_SHAPE_DEPTH_BUFFER;
# Declarations may span several lines. Exits 0 when the dynamic symbol table
# (nm -D --defined-only, without version nodes) holds exactly the declared
# names, and 1 with the differences listed otherwise.
set -euo pipefail

macro='[A-Z][A-Z0-9_]*_API'
if [ "${1:-}" = "--macro" ]; then
    macro=$2
    shift 2
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--macro NAME] <lib.so> <header>..." >&2
    exit 2
fi
lib=$1
shift

for f in "$lib" "$@"; do
    [ -r "$f" ] || { echo "check-exports: cannot read $f" >&2; exit 2; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Declared: strip comments and preprocessor lines, join everything into one
# stream split at ';', '{' and '}', and take from every statement that begins
# with the macro the identifier before its first '(' (a function; for one
# that returns a function pointer, the name inside "(*name(...))"), or,
# without a '(', its last identifier (a variable).
for header in "$@"; do
    sed -e 's://.*$::' "$header" \
        | awk 'BEGIN { RS = "\0" } { gsub(/\/\*([^*]|\*+[^*\/])*\*+\//, " "); print }' \
        | grep -v '^[[:space:]]*#'
done | tr '\n' ' ' | tr ';{}' '\n\n\n' \
    | grep -E "^[[:space:]]*${macro}[[:space:]]" \
    | sed -E -e 's/=.*$//' -e 's/\[[^]]*\]//g' \
        -e 's/^[^(]*\([[:space:]]*\*[[:space:]]*([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\(.*/\1/' \
        -e '/\(/ s/^([^(]*[^A-Za-z0-9_(])?([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\(.*/\2/' \
        -e '/^[A-Za-z_][A-Za-z0-9_]*$/! s/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$/\1/' \
    | sort -u > "$tmp/declared"

# Exported: defined symbols of the dynamic symbol table, without symbol
# versions and without the version nodes themselves (type A).
nm -D --defined-only "$lib" | awk 'NF >= 3 && $2 != "A" { sub(/@.*/, "", $3); print $3 }' | sort -u > "$tmp/exported"

if [ ! -s "$tmp/declared" ]; then
    echo "check-exports: no declarations with the API macro found in: $*" >&2
    exit 1
fi

missing=$(comm -23 "$tmp/declared" "$tmp/exported")
extra=$(comm -13 "$tmp/declared" "$tmp/exported")
status=0
if [ -n "$missing" ]; then
    echo "Declared but not exported by $(basename "$lib"):"
    printf '  %s\n' $missing
    status=1
fi
if [ -n "$extra" ]; then
    echo "Exported by $(basename "$lib") but not declared:"
    printf '  %s\n' $extra
    status=1
fi
if [ $status -eq 0 ]; then
    echo "$(basename "$lib"): $(wc -l < "$tmp/exported") exported symbols, all declared, all declarations exported"
fi
exit $status
