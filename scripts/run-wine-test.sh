#!/usr/bin/env bash
# Runs one GoogleTest executable built by the mingw preset under Wine and
# judges it by both its exit code and its summary line. Exit 0 or 1 only.
#   run-wine-test.sh EXE [gtest args...]
set -uo pipefail
exe=$1
shift
source "$(dirname "$0")/wine-env.sh"
kiv_wine_init || exit 1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Tests find the data source next to themselves; run from their directory.
cd "$(dirname "$exe")"
kiv_wine_run 600 "$(basename "$exe")" --gtest_color=no "$@" >"$log" 2>&1
rc=$?
cat "$log"
if [ $rc -ne 0 ]; then
    echo "wine test $(basename "$exe"): exit code $rc" >&2
    exit 1
fi
if ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    echo "wine test $(basename "$exe"): no passing summary line" >&2
    exit 1
fi
exit 0
