#!/usr/bin/env bash
# Wine integration tests of kivsvc.exe (x64 build of the mingw preset).
#   run-tests.sh MINGW_BUILD_DIR
# Uses a fresh Wine prefix MINGW_BUILD_DIR/kivsvc-wine, runs the server's
# command-line switches and the client kivsvc_wine_client.exe, and prints
# "N passed, M failed" last. Exit 0 when all passed, 1 otherwise.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
build=$(cd "$1" && pwd)
server=$build/kivsvc/kivsvc.exe
client=$build/kivsvc/wine-tests/kivsvc_wine_client.exe
for f in "$server" "$client"; do
    if [ ! -f "$f" ]; then
        echo "missing $f: build the mingw preset first"
        echo "0 passed, 1 failed"
        exit 1
    fi
done

export KIV_WINEPREFIX=$build/kivsvc-wine
# shellcheck source=../../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
# The path kivsvc.exe registers for itself (Wine maps / to drive Z:).
server_win="Z:${server//\//\\}"
log=$(mktemp)

passed=0
failed=0
# check NAME COMMAND...: one test; its output is shown when it fails.
check() {
    local name=$1
    shift
    if "$@" >"$log" 2>&1; then
        passed=$((passed + 1))
        echo "PASS: $name"
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
        sed 's/^/    /' "$log"
    fi
}

server_run() { timeout 90 wine "$server" "$@"; }
client_run() { timeout 90 wine "$client" "$@"; }

cleanup() {
    # Never leave the auto-start service behind in the prefix.
    timeout 60 wine "$server" /UnregServer >/dev/null 2>&1
    timeout 60 wine sc delete KIVSVC >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    rm -f "$log"
}
trap cleanup EXIT

fresh_prefix() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX" || return 1
    # "wineboot" rather than "wineboot -i": on a new prefix the latter can
    # leave two service managers behind, and COM then fails after minutes.
    timeout 180 wine wineboot >/dev/null 2>&1 || return 1
    timeout 120 wineserver -w || return 1
    timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1 || return 1
    timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Auto /t REG_SZ /d 0 /f >/dev/null 2>&1 || return 1
    timeout 120 wineserver -w
}

plain_registration() {
    server_run /regserver || { echo "exit code $?"; return 1; }
    client_run registered "$server_win" plain
}

embedding_idle() {
    local start end rc
    start=$(date +%s)
    server_run -Embedding
    rc=$?
    end=$(date +%s)
    echo "exit code $rc after $((end - start)) s"
    [ $rc -eq 0 ] && [ $((end - start)) -ge 15 ] && [ $((end - start)) -le 60 ]
}

service_registration() {
    server_run -Service || { echo "exit code $?"; return 1; }
    client_run registered "$server_win" service || return 1
    client_run service-running "$server_win"
}

unregistration() {
    server_run /UnregServer || { echo "exit code $?"; return 1; }
    client_run unregistered || return 1
    client_run no-service
}

two_switches() {
    # The first switch is followed by more text, so only the second matches.
    server_run /UnregServer /RegServer || { echo "exit code $?"; return 1; }
    client_run registered "$server_win" plain || return 1
    server_run -RegServer -UnregServer || { echo "exit code $?"; return 1; }
    client_run unregistered
}

echo "kivsvc Wine integration tests (prefix $WINEPREFIX)"
if ! fresh_prefix >"$log" 2>&1; then
    echo "FAIL: fresh Wine prefix"
    cat "$log"
    echo "0 passed, 1 failed"
    exit 1
fi
check "/regserver (lower case) registers the local server, its scripts and the type library" plain_registration
check "a client calls both methods through the interface and through IDispatch; the server ends after release" \
    client_run calls plain
check "a server started with -Embedding that no client uses ends by itself" embedding_idle
check "-Service installs (auto start, LocalSystem, RPCSS) and starts the service" service_registration
check "the running service serves both methods and keeps running" client_run calls service
check "stopping the service reports running, stop-pending, stopped" client_run service-stop
check "/UnregServer removes everything but the AppID and CLSID parent keys" unregistration
check "of two switches only the second one acts" two_switches

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
