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
# The output is shown as it comes (a test killed by its time limit still
# shows how far it came; a case that hangs is named by the test's own
# watchdog, KIV_TEST_CASE_TIMEOUT) and kept for the summary check.
cd "$(dirname "$exe")"
echo "wine test $(basename "$exe"): started $(date +%T)"
kiv_wine_run "${KIV_WINE_TEST_LIMIT:-600}" "$(basename "$exe")" --gtest_color=no "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
if [ $rc -eq 124 ]; then
    echo "wine test $(basename "$exe"): killed after ${KIV_WINE_TEST_LIMIT:-600} s" >&2
fi
if [ $rc -ne 0 ]; then
    echo "wine test $(basename "$exe"): exit code $rc" >&2
    exit 1
fi
if ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    echo "wine test $(basename "$exe"): no passing summary line" >&2
    exit 1
fi
exit 0
