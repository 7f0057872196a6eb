#!/usr/bin/env bash
# Builds the Windows setup program with makensis from the mingw (x64) and
# mingw32 (i686) builds:
#   build/installer/kivds-setup-VERSION.exe
#   scripts/build-installer.sh [MINGW_BUILD_DIR MINGW32_BUILD_DIR [OUTFILE [EXECUTION_LEVEL]]]
# The build directories default to build/mingw and build/mingw32; EXECUTION_LEVEL
# (admin) is for the installer test, which builds a "user" one to see the refusal.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# makensis resolves relative paths from the script's folder: make them absolute.
mingw=$(cd "${1:-$root/build/mingw}" && pwd)
mingw32=$(cd "${2:-$root/build/mingw32}" && pwd)
version=$(head -n1 "$root/VERSION")
if [[ ! $version =~ ^([0-9]+)\.([0-9][0-9])\.([0-9]{4})$ ]]; then
    echo "VERSION must read MAJOR.MM.BBBB, not '$version'" >&2
    exit 1
fi
file_version=$((10#${BASH_REMATCH[1]})).$((10#${BASH_REMATCH[2]})).0.$((10#${BASH_REMATCH[3]}))
out=${3:-$root/build/installer/kivds-setup-$version.exe}
[[ $out = /* ]] || out=$PWD/$out
level=${4:-admin}
ds64=$mingw/kivds/kivds.ds
ds32=$mingw32/kivds/kivds.ds
svc32=$mingw32/kivsvc/kivsvc.exe
for f in "$ds64" "$ds32" "$svc32"; do
    [ -f "$f" ] || { echo "missing $f: build the mingw and mingw32 presets first" >&2; exit 1; }
done
mkdir -p "$(dirname "$out")"
makensis -V2 -WX -INPUTCHARSET UTF8 \
    -DVERSION="$version" -DFILE_VERSION="$file_version" \
    -DDS64="$ds64" -DDS32="$ds32" -DSVC32="$svc32" -DOUTFILE="$out" -DEXECUTION_LEVEL="$level" \
    "$root/packaging/windows/kivds.nsi"
echo "installer: $out"
