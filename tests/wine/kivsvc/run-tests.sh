#!/usr/bin/env bash
# Wine integration tests of kivsvc.exe of one build: x64 (the mingw preset) or
# i686 as shipped (mingw32), each with its own client.
#   run-tests.sh BUILD_DIR [MINGW32_BUILD_DIR]
# For an x64 BUILD_DIR the i686 kivsvc.exe (default: the mingw32 build beside
# it) is checked for its imports when it exists.
# Uses a fresh Wine prefix MINGW_BUILD_DIR/kivsvc-wine, runs the server's
# command-line switches and the client kivsvc_wine_client.exe, and prints
# "N passed, M failed" last. Exit 0 when all passed, 1 otherwise.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
build=$(cd "$1" && pwd)
server=$build/kivsvc/kivsvc.exe
build32=${2:-$(dirname "$build")/mingw32}
server32=
[ -f "$build32/kivsvc/kivsvc.exe" ] && server32=$build32/kivsvc/kivsvc.exe
[ "$server32" = "$server" ] && server32=
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
source "$root/tests/wine/checks.sh"

server_run() { timeout 90 wine "$server" "$@"; }
client_run() { timeout 90 wine "$client" "$@"; }

# Wine's event log is a stub that traces each message on its "eventlog"
# debug channel. The Service Control Manager, and the service it starts,
# inherit that channel and standard error from the process that first opens
# it: a holder started before anything else, which keeps the session alive.
svclog=$(mktemp)
holder=
start_holder() {
    WINEDEBUG=trace+eventlog wine "$client" hold 280 >/dev/null 2>"$svclog" &
    holder=$!
    for _ in $(seq 1 100); do
        grep -q 'starting Event Log Service' "$svclog" 2>/dev/null && return 0
        sleep 0.2
    done
    return 1
}
logged() { grep -c "ReportEventW L\"$1\"" "$svclog"; }

cleanup() {
    # Never leave the auto-start service behind in the prefix.
    timeout 60 wine "$server" /UnregServer >/dev/null 2>&1
    timeout 60 wine sc delete KIVSVC >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$holder" ]; then kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; fi
    rm -f "$check_log" "$svclog"
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
    client_run service-running "$server_win" || return 1
    # Registering again replaces the running service with a new one.
    server_run -Service || { echo "second registration: exit code $?"; return 1; }
    client_run service-running "$server_win"
}

ignored_controls() {
    # Interrogate is accepted and does nothing; 128 is no control of this service.
    local before bad
    before=$(logged "Bad service request")
    client_run service-control 4 128 || return 1
    bad=$(($(logged "Bad service request") - before))
    echo "\"Bad service request\" logged $bad times"
    [ "$bad" -eq 1 ]
}

service_stop() {
    local before stopped
    before=$(logged "Service stopped")
    client_run service-stop || return 1
    for _ in $(seq 1 50); do
        stopped=$(($(logged "Service stopped") - before))
        [ "$stopped" -ge 1 ] && break
        sleep 0.1
    done
    echo "\"Service stopped\" logged $stopped times"
    [ "$stopped" -eq 1 ]
}

imports_system_only() {
    local exe=$1 dlls
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
    echo "$exe imports:" $dlls
    [ -n "$dlls" ] || return 1
    for dll in $dlls; do
        case $dll in
            kernel32.dll | user32.dll | advapi32.dll | ole32.dll | oleaut32.dll | msvcrt.dll) ;;
            *) echo "not a system DLL: $dll"; return 1 ;;
        esac
    done
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
if ! fresh_prefix >"$check_log" 2>&1; then
    echo "FAIL: fresh Wine prefix"
    cat "$check_log"
    echo "0 passed, 1 failed"
    exit 1
fi
if ! start_holder; then
    echo "FAIL: Service Control Manager with the event-log channel"
    cat "$svclog"
    echo "0 passed, 1 failed"
    exit 1
fi
check "/regserver (lower case) registers the local server, its scripts and the type library" plain_registration
check "a client calls both methods through the interface and through IDispatch; the server ends after release" \
    client_run calls plain
check "a server started with -Embedding that no client uses ends by itself" embedding_idle
check "-Service installs (auto start, LocalSystem, RPCSS) and starts the service, also over a running one" \
    service_registration
check "the running service serves both methods and keeps running" client_run calls service
check "other control codes leave the service running; an unknown one logs \"Bad service request\"" ignored_controls
check "stopping the service reports running, stop-pending, stopped and logs \"Service stopped\"" service_stop
check "a client call starts the stopped service through COM" client_run calls autostart
check "/UnregServer removes everything but the AppID and CLSID parent keys" unregistration
check "of two switches only the second one acts" two_switches

arch=$(x86_64-w64-mingw32-objdump -f "$server" | sed -n 's/.*file format pe-//p')
check "kivsvc.exe (${arch:-unknown}) imports only system DLLs" imports_system_only "$server"
if [ -n "$server32" ]; then
    check "kivsvc.exe (i686, as shipped) imports only system DLLs" imports_system_only "$server32"
fi

checks_summary
