#!/usr/bin/env bash
# Wine integration tests of kivsvc.exe, under a virtual display.
#   scripts/test-kivsvc-wine.sh MINGW_BUILD_DIR [MINGW32_BUILD_DIR]
# Needs kivsvc.exe and kivsvc_wine_client.exe built in that directory
# (cmake --build MINGW_BUILD_DIR --target kivsvc kivsvc_wine_client).
# Exit 0 when all passed, 1 otherwise; the last line is "N passed, M failed".
set -uo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1" ]; then
    echo "usage: $0 MINGW_BUILD_DIR [MINGW32_BUILD_DIR]" >&2
    echo "0 passed, 1 failed"
    exit 1
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
shift
timeout 300 xvfb-run -a bash "$root/tests/wine/kivsvc/run-tests.sh" "$build" "$@"
rc=$?
if [ $rc -eq 124 ]; then
    WINEPREFIX=$build/kivsvc-wine wineserver -k >/dev/null 2>&1 || true
    echo "kivsvc Wine integration tests timed out"
    echo "0 passed, 1 failed"
fi
[ $rc -eq 0 ] && exit 0
exit 1
