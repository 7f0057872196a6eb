#!/usr/bin/env bash
# The Windows setup program under Wine, in a 64-bit prefix of its own
# (MINGW_BUILD_DIR/wineprefix-installer): a silent installation, its files,
# uninstall entry, COM registration and service; an acquisition through the
# installed 64-bit and 32-bit sources with kivscan.exe of both builds and the
# test source manager (which searches twain_64 / twain_32 as the managers do);
# a second installation over the first; a silent removal that leaves nothing
# of ours behind. Prints "N passed, M failed" last; exit 0 when all passed.
#   run-installer-test.sh MINGW_BUILD_DIR MINGW32_BUILD_DIR [SETUP_EXE]
#   run-installer-test.sh --prepare MINGW_BUILD_DIR
#     only creates the prefix (scripts/test-all.sh does it before the tests)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
prepare_only=0
if [ "${1:-}" = --prepare ]; then
    prepare_only=1
    shift
fi
build=$(cd "$1" && pwd)
export KIV_WINEPREFIX=$build/wineprefix-installer
source "$root/scripts/wine-env.sh"
say() { echo "installer test $(date +%T): $*"; }
if [ $prepare_only -eq 1 ]; then
    kiv_wine_init && say "prefix $WINEPREFIX ready"
    exit
fi
build32=$(cd "$2" && pwd)
version=$(head -n1 "$root/VERSION")
setup=${3:-$root/build/installer/kivds-setup-$version.exe}
[ -f "$setup" ] || { echo "missing $setup: run scripts/build-installer.sh"; echo "0 passed, 1 failed"; exit 1; }

product="Orvan Document Camera"
c=$WINEPREFIX/drive_c
ds64_dir="$c/windows/twain_64/$product"
ds32_dir="$c/windows/twain_32/$product"
app_dir="$c/Program Files (x86)/$product"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvanDocumentCamera'
appid='{545D53AD-737A-4A2F-8133-7458E2E4FCDC}'
clsid='{6E51B66C-6160-439F-B14A-73B5AD727CB4}'

source "$root/tests/wine/checks.sh"
out=$(mktemp -d)
trap 'rm -rf "$check_log" "$out"; kiv_wine_stop' EXIT
reg_query() { timeout 60 wine reg query "$@" 2>/dev/null | tr -d '\r'; }
# reg_value KEY NAME [VIEW]: the data of one value ("" when absent).
reg_value() {
    reg_query "$1" /v "$2" ${3:+/reg:$3} | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'
}
service_state() { timeout 60 wine sc query KIVSVC 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }

installed() {
    cmp "$build/kivds/kivds.ds" "$ds64_dir/kivds.ds" || return 1
    cmp "$build32/kivds/kivds.ds" "$ds32_dir/kivds.ds" || return 1
    cmp "$build32/kivsvc/kivsvc.exe" "$app_dir/kivsvc.exe" || return 1
    # Nothing else in the folders of the installation.
    local files
    files=$(cd "$c" && find "windows/twain_64/$product" "windows/twain_32/$product" "Program Files (x86)/$product" | sort)
    echo "$files"
    [ "$files" = "$(printf '%s\n' "Program Files (x86)/$product" "Program Files (x86)/$product/kivsvc.exe" \
        "Program Files (x86)/$product/uninstall.exe" "windows/twain_32/$product" "windows/twain_32/$product/kivds.ds" \
        "windows/twain_64/$product" "windows/twain_64/$product/kivds.ds")" ]
}

uninstall_entry() {
    local name expected actual
    for pair in "DisplayName=$product" "DisplayVersion=$version" "Publisher=Orvan" \
        "UninstallString=\"C:\\Program Files (x86)\\$product\\uninstall.exe\"" \
        "QuietUninstallString=\"C:\\Program Files (x86)\\$product\\uninstall.exe\" /S"; do
        name=${pair%%=*} expected=${pair#*=}
        actual=$(reg_value "$uninstall_key" "$name" 64)
        echo "$name: $actual"
        [ "$actual" = "$expected" ] || return 1
    done
    # EstimatedSize in KiB: about the three files.
    actual=$(($(reg_value "$uninstall_key" EstimatedSize 64)))
    expected=0
    for f in "$build/kivds/kivds.ds" "$build32/kivds/kivds.ds" "$build32/kivsvc/kivsvc.exe"; do
        expected=$((expected + $(stat -c %s "$f")))
    done
    expected=$((expected / 1024))
    echo "EstimatedSize: $actual KiB, files $expected KiB"
    [ "$actual" -ge "$expected" ] && [ "$actual" -le $((expected + 1024)) ]
}

com_registration() {
    local progid_clsid service server
    # kivsvc.exe is 32-bit: its class is in the 32-bit view, the AppID is shared.
    progid_clsid=$(reg_value 'HKCR\KIVSVC.KIVSVCAccess.1\CLSID' '(Default)' 32)
    [ -n "$progid_clsid" ] || progid_clsid=$(reg_value 'HKCR\KIVSVC.KIVSVCAccess.1\CLSID' '' 32)
    server=$(reg_query "HKCR\\CLSID\\$clsid\\LocalServer32" /reg:32 | grep -i 'kivsvc.exe')
    service=$(reg_value "HKCR\\AppID\\$appid" LocalService 32)
    echo "ProgID -> $progid_clsid; LocalServer32: $server; AppID LocalService: $service"
    reg_query 'HKCR\KIVSVC.KIVSVCAccess.1\CLSID' /reg:32 | grep -q "$clsid" || return 1
    [ -n "$server" ] && [ "$service" = KIVSVC ]
}

service_running() {
    local state
    for _ in $(seq 1 20); do
        state=$(service_state)
        [ "$state" = RUNNING ] && break
        sleep 0.5
    done
    echo "KIVSVC: ${state:-not installed}"
    [ "$state" = RUNNING ]
}

# acquire BUILD_DIR: kivscan.exe of that build through the test manager,
# which finds the installed source of its own bitness under %WINDIR%.
acquire() {
    local dir=$1 picture dsm
    picture="$out/$(basename "$dir").bmp"
    dsm=$dir/tests/kivscan/kivscan_fakedsm.dll
    rm -f "$picture"
    env -u KIVSCAN_FAKEDSM_SOURCE KIVDS_UI=headless timeout 120 wine "$dir/tools/kivscan/kivscan.exe" \
        --dsm "Z:${dsm//\//\\}" --virtual=caps=mjpeg:640x480 --xfer memory --format bmp --verbose \
        -o "Z:${picture//\//\\}" || return 1
    [ -s "$picture" ] && [ "$(head -c2 "$picture")" = BM ]
}

removed() {
    local left=0
    for d in "$ds64_dir" "$ds32_dir" "$app_dir"; do
        [ -e "$d" ] && { echo "left: $d"; left=1; }
    done
    # Wine's own sources keep their folder.
    [ -d "$c/windows/twain_64" ] || { echo "twain_64, which was there before, is gone"; left=1; }
    reg_query "$uninstall_key" /reg:64 >/dev/null && { echo "left: $uninstall_key"; left=1; }
    for key in 'HKCR\KIVSVC.KIVSVCAccess.1' 'HKCR\KIVSVC.KIVSVCAccess' "HKCR\\CLSID\\$clsid" "HKCR\\AppID\\$appid" \
        'HKCR\AppID\KIVSVC.EXE' 'HKCR\TypeLib\{479C96F9-FF99-4D80-9EC9-BF89F437E60B}' \
        'HKCR\Interface\{23A5366E-1BA8-4BC2-9618-3DC243960039}'; do
        for view in 32 64; do
            reg_query "$key" /reg:$view >/dev/null && { echo "left: $key ($view-bit view)"; left=1; }
        done
    done
    [ -z "$(service_state)" ] || { echo "left: the service KIVSVC"; left=1; }
    [ $left -eq 0 ]
}

run_setup() { timeout 180 wine "$setup" /S; }

# A setup whose kivsvc.exe fails its registration (a stand-in that exits 42):
# it ends with exit code 3 and leaves nothing behind.
failed_registration() {
    local fake=$out/failing rc
    mkdir -p "$fake/mingw32/kivds" "$fake/mingw32/kivsvc"
    cp "$build32/kivds/kivds.ds" "$fake/mingw32/kivds/"
    printf 'int main(void) { return 42; }\n' >"$fake/fail.c"
    i686-w64-mingw32-gcc -o "$fake/mingw32/kivsvc/kivsvc.exe" "$fake/fail.c" || return 1
    "$root/scripts/build-installer.sh" "$build" "$fake/mingw32" "$fake/kivds-setup-failing.exe" >/dev/null || return 1
    timeout 180 wine "$fake/kivds-setup-failing.exe" /S
    rc=$?
    echo "exit code $rc"
    [ $rc -eq 3 ] && removed
}
# The uninstaller starts a copy of itself and returns at once: wait for its work.
run_uninstaller() {
    timeout 60 wine "$app_dir/uninstall.exe" /S || return 1
    for _ in $(seq 1 120); do
        [ -e "$app_dir" ] || return 0
        sleep 0.5
    done
    echo "$app_dir still there after 60 s"
    return 1
}

say "prefix $WINEPREFIX, $(basename "$setup")"
kiv_wine_init || { echo "0 passed, 1 failed"; exit 1; }
# A run that failed earlier may have left an installation behind: start clean.
if [ -e "$app_dir" ] || [ -e "$ds64_dir" ]; then
    say "an earlier installation is in the prefix: making it anew"
    kiv_wine_stop
    rm -rf "$WINEPREFIX"
    kiv_wine_init || { echo "0 passed, 1 failed"; exit 1; }
fi

check "a setup whose kivsvc.exe fails to register exits 3 and undoes everything" failed_registration
check "a silent installation succeeds" run_setup
check "the sources are in twain_64 and twain_32 and kivsvc.exe in Program Files (x86), nothing else" installed
check "the uninstall entry (64-bit view) names product, version, publisher, size and both uninstall commands" \
    uninstall_entry
check "kivsvc is registered: ProgID, class with its local server, AppID with the service" com_registration
check "the service KIVSVC runs" service_running
check "kivscan (x86-64) acquires through the installed 64-bit source" acquire "$build"
check "kivscan (i686) acquires through the installed 32-bit source" acquire "$build32"
check "installing again over the installation succeeds" run_setup
check "after the second installation the same files, and only those" installed
check "after the second installation the service runs" service_running
check "a silent removal succeeds" run_uninstaller
check "nothing of the installation is left: files, folders, keys, service" removed
# Wine gives every process an administrator's token (a setup built with
# RequestExecutionLevel user still counts as "admin" there), so the refusal
# without administrator rights cannot be seen here.
say "not tested here: the refusal without administrator rights (Wine runs everything as an administrator)"

checks_summary
