#!/usr/bin/env bash
# Checks that a built data source exports DS_Entry and nothing else.
#   check-exports.sh linux|mingw PATH
set -uo pipefail
kind=$1
file=$2
case "$kind" in
linux)
    exports=$(nm -D --defined-only "$file" | awk '{print $3}' | grep -v '^$' | sort -u)
    ;;
mingw)
    # The export table lists the names after the "[Ordinal/Name Pointer] Table" line.
    # Entries of the table read "[   0] NAME".
    exports=$(x86_64-w64-mingw32-objdump -p "$file" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort -u)
    ;;
*)
    echo "usage: $0 linux|mingw PATH" >&2
    exit 1
    ;;
esac
echo "exports of $file:"
echo "$exports"
if [ "$exports" != "DS_Entry" ]; then
    echo "FAIL: expected DS_Entry alone" >&2
    exit 1
fi
echo "ok: DS_Entry alone"
