# Source this file to run Windows programs of this project under Wine.
#   KIV_WINEPREFIX   prefix to use (default: build/wineprefix); created on first use
# Functions:
#   kiv_wine_init            create the prefix once (crash debugger disabled)
#   kiv_wine_run SECS EXE... run a program with a time limit; returns its exit code (124 on timeout)
#   kiv_wine_stop            end the prefix's wineserver
_kiv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${KIV_WINEPREFIX:-$_kiv_root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv="
export WINEARCH=win64

kiv_wine_init() {
    if [ -f "$WINEPREFIX/.kiv-ready" ]; then return 0; fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 180 wine wineboot -i >/dev/null 2>&1 || { echo "wine: wineboot failed" >&2; return 1; }
    timeout 120 wineserver -w
    # Without this a crashing program opens the crash dialog and hangs, or even exits 0.
    timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1
    timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Auto /t REG_SZ /d 0 /f >/dev/null 2>&1
    timeout 120 wineserver -w
    touch "$WINEPREFIX/.kiv-ready"
}

kiv_wine_run() {
    local secs=$1
    shift
    timeout "$secs" wine "$@"
}

kiv_wine_stop() {
    wineserver -k >/dev/null 2>&1 || true
}
