#!/usr/bin/env bash
# Runs the Win32 dialog test program under Wine on a virtual screen of its own
# (1280x1024, 24 bits: true colours for the pixel checks), in one user
# locale, and turns its screenshots into PNG files. Exit 0 or 1 only.
#   run-dialog-test.sh EXE TAG LOCALE ARTIFACT_DIR [gtest args...]
#     TAG          en, de, ja: prefix of the screenshot files
#     LOCALE       e.g. de_DE.UTF-8; compiled into the build tree when the
#                  system has not generated it (Wine takes the Windows user
#                  locale from the POSIX one)
#     ARTIFACT_DIR where the PNG files go
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)

if [ -z "${KIV_DIALOG_ON_XVFB:-}" ]; then
    export KIV_DIALOG_ON_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

exe=$1 tag=$2 locale=$3 artifacts=$4
shift 4
source "$root/scripts/wine-env.sh"

# A wineserver left from an earlier test belongs to another display; let it
# end so that this run's programs use this screen.
timeout 20 wineserver -w || kiv_wine_stop
kiv_wine_init || exit 1

# Japanese glyphs: the dialog font ("MS Shell Dlg" is Tahoma in Wine) falls
# back to the IPA Gothic font of the system (fonts-ipafont-gothic).
if [ ! -f "$WINEPREFIX/.kiv-fontlink" ]; then
    for face in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
        timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f >/dev/null 2>&1
    done
    timeout 60 wineserver -w
    touch "$WINEPREFIX/.kiv-fontlink"
fi

# The locale: the system's when generated, else compiled once into the build.
if ! LC_ALL=$locale locale -k LC_CTYPE >/dev/null 2>&1 || [ "$(LC_ALL=$locale locale charmap 2>/dev/null)" != UTF-8 ]; then
    locales=$(dirname "$exe")/locales
    if [ ! -d "$locales/$locale" ]; then
        mkdir -p "$locales"
        localedef -i "${locale%%.*}" -f UTF-8 "$locales/$locale" >/dev/null 2>&1 || true
    fi
    export LOCPATH=$locales
fi
export KIV_GUI_TAG=$tag
mkdir -p "$artifacts"
export KIV_GUI_ARTIFACTS="Z:${artifacts//\//\\}"
rm -f "$artifacts/$tag"-*.bmp "$artifacts/$tag"-*.png

LANG=$locale LC_ALL=$locale "$root/scripts/run-wine-test.sh" "$exe" "$@"
rc=$?
timeout 20 wineserver -w || kiv_wine_stop

for bmp in "$artifacts/$tag"-*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit $rc
