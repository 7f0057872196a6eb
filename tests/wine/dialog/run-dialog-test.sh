#!/usr/bin/env bash
# Runs the Win32 dialog test program under Wine on a virtual screen of its own
# (1280x1024, 24 bits: true colours for the pixel checks), in one user
# locale, in a Wine prefix of its own, and turns its screenshots into PNG
# files. Exit 0 or 1 only.
#   run-dialog-test.sh EXE TAG LOCALE ARTIFACT_DIR [gtest args...]
#     TAG          en, de, ja: prefix of the screenshot files
#     LOCALE       e.g. de_DE.UTF-8; compiled into the build tree when the
#                  system has not generated it (Wine takes the Windows user
#                  locale from the POSIX one)
#     ARTIFACT_DIR where the PNG files go
#   run-dialog-test.sh --prepare EXE TAG
#     only creates and sets up the prefix of TAG (scripts/test-all.sh does
#     this before the tests, so that a new prefix's start, which takes
#     minutes on a loaded machine, is not charged to a test's time limit)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
say() { echo "run-dialog-test: $*"; }

prepare_only=0
if [ "${1:-}" = --prepare ]; then
    prepare_only=1
    shift
elif [ -z "${KIV_DIALOG_ON_XVFB:-}" ]; then
    export KIV_DIALOG_ON_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

exe=$1 tag=$2
if [ $prepare_only -eq 0 ]; then
    locale=$3 artifacts=$4
    shift 4
fi
# Prefixes of their own, beside the suite's: the settings below stay out of
# the other Wine tests, and so does the Japanese locale, which Wine remembers
# in the prefix (its font substitutes are not set back for a later run in
# another language).
prefix=${KIV_WINEPREFIX:-$root/build/wineprefix}-dialog
[ "$tag" = ja ] && prefix=$prefix-ja
export KIV_WINEPREFIX=$prefix
source "$root/scripts/wine-env.sh"

# A wineserver left from an earlier test belongs to another display; let it
# end so that this run's programs use this screen.
say "$tag: prefix $WINEPREFIX $(date +%T)"
timeout 20 wineserver -w || kiv_wine_stop
if [ ! -f "$WINEPREFIX/.kiv-ready" ]; then say "$tag: creating the prefix"; fi
kiv_wine_init || exit 1

# Once per prefix: Japanese glyphs and a virtual desktop. With a Japanese
# user locale Wine asks for "MS UI Gothic" (the dialog, caption and message
# fonts); in the Japanese prefix it is replaced by the IPA Gothic fonts of the
# system (fonts-ipafont-gothic); elsewhere the replacement would also take
# over the Latin dialog font. The virtual desktop is for this program only: Wine
# then draws the windows' frames and captions itself (the virtual screen has
# no window manager) and the screenshots show them.
if [ ! -f "$WINEPREFIX/.kiv-dialog-setup" ]; then
    if [ "$tag" = ja ]; then
        for pair in "MS UI Gothic=IPAGothic" "MS Gothic=IPAGothic" "MS PGothic=IPAPGothic"; do
            timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' \
                /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f >/dev/null 2>&1
        done
    fi
    timeout 60 wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$exe")\\Explorer" \
        /v Desktop /t REG_SZ /d kivdialog /f >/dev/null 2>&1
    timeout 60 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v kivdialog /t REG_SZ /d 1280x1024 /f >/dev/null 2>&1
    timeout 60 wineserver -w
    touch "$WINEPREFIX/.kiv-dialog-setup"
fi
if [ $prepare_only -eq 1 ]; then
    say "$tag: prefix ready $(date +%T)"
    exit 0
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

say "$tag: running $(basename "$exe") in $locale $(date +%T)"
LANG=$locale LC_ALL=$locale "$root/scripts/run-wine-test.sh" "$exe" "$@"
rc=$?
timeout 20 wineserver -w || kiv_wine_stop

for bmp in "$artifacts/$tag"-*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit $rc
