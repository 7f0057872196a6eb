#!/usr/bin/env bash
# Tells whether this machine runs 32-bit Windows programs under Wine (the
# kernel must run 32-bit code, and wine32 must be installed): builds a tiny
# i686 program once and runs it in the prefix of KIV_WINEPREFIX. The answer
# is kept in the prefix, so the check runs once per prefix.
#   can-run-wine32.sh   exit 0: yes; 1: no, with one line saying why; 2: the check itself failed
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
answer=$WINEPREFIX/.kiv-wine32
if [ -f "$answer" ]; then
    read -r verdict reason <"$answer"
    [ "$verdict" = yes ] && exit 0
    echo "no 32-bit Windows programs here: $reason"
    exit 1
fi
kiv_wine_init || exit 2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'int main(void) { return 42; }\n' >"$dir/probe.c"
if ! i686-w64-mingw32-gcc -o "$dir/probe.exe" "$dir/probe.c" 2>"$dir/log"; then
    # Not a property of the machine: the cross compiler belongs to the build.
    echo "can-run-wine32: i686-w64-mingw32-gcc failed:" >&2
    cat "$dir/log" >&2
    exit 2
fi
kiv_wine_run 120 "$dir/probe.exe" >/dev/null 2>"$dir/log"
rc=$?
if [ $rc -eq 42 ]; then
    echo yes >"$answer"
    exit 0
fi
reason="a 32-bit probe under wine exited $rc ($(grep -m1 -v '^$' "$dir/log" | cut -c1-120))"
echo "no $reason" >"$answer"
echo "no 32-bit Windows programs here: $reason"
exit 1
