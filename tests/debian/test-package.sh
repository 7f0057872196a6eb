#!/usr/bin/env bash
# The Debian package end to end, as root on a Debian machine: lintian, apt-get
# install, a picture through the installed kivscan and kivds.ds and one through
# scanimage and the installed SANE backend (both on the virtual camera), the
# package's file list, kivds-twain-link, and a purge that leaves none of it.
# Reuses build/debian/kivds_*.deb when there is one (scripts/test-all.sh
# builds it first), else builds it with scripts/build-deb.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
skip=77
if [ "$(id -u)" != 0 ] || [ ! -f /etc/debian_version ] || ! command -v apt-get >/dev/null; then
    echo "debian-package: skipped (needs root on Debian: it installs and purges the package)"
    exit $skip
fi
if dpkg-query -W -f='${Status}' kivds 2>/dev/null | grep -q installed; then
    echo "debian-package: skipped (kivds is installed on this machine; the test would purge it)"
    exit $skip
fi
fail() { echo "debian-package: $*" >&2; exit 1; }

version=$(head -n1 "$root/VERSION")
deb=$(ls "$root"/build/debian/kivds_"$version"-*_*.deb 2>/dev/null | head -n1 || true)
if [ -z "$deb" ]; then
    "$root/scripts/build-deb.sh" >/dev/null
    deb=$(ls "$root"/build/debian/kivds_"$version"-*_*.deb | head -n1)
fi
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib="/usr/lib/$multiarch"
twain_link=/usr/local/lib/twain/kivds

report=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian:"$'\n'"$report"

work=$(mktemp -d)
installed=0
cleanup() {
    [ $installed -eq 1 ] && apt-get purge -y -qq kivds >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
apt-get install -y -qq "$deb" >/dev/null || fail "apt-get install $deb failed"
installed=1

# kivscan's default source is the installed kivds.ds.
[ "$(/usr/bin/kivscan --version | head -n1)" = "kivscan $version" ] ||
    fail "kivscan --version: $(/usr/bin/kivscan --version)"
KIVDS_UI=headless /usr/bin/kivscan --virtual --xfer file --format tiff -o "$work/twain.tif" >"$work/log" 2>&1 ||
    fail "kivscan through the installed source failed: $(cat "$work/log")"
[ "$(head -c4 "$work/twain.tif" | od -An -tx1 | tr -d ' ')" = 49492a00 ] || fail "kivscan wrote no TIFF"

# The installed SANE backend through Debian's loader and its dll.d entry.
list=$(KIVDS_CAMERA=sim scanimage -L 2>/dev/null)
device=$(sed -n "s/^device \`\(kiv:[^']*\)'.*/\1/p" <<<"$list" | head -n1)
[ -n "$device" ] || fail "scanimage -L lists no kiv device: $list"
KIVDS_CAMERA=sim scanimage -d "$device" --format=pnm -o "$work/sane.pnm" 2>"$work/log" ||
    fail "scanimage -d $device failed: $(cat "$work/log")"
[ "$(head -c2 "$work/sane.pnm")" = P6 ] || fail "scanimage wrote no colour PNM"

# Exactly these paths, the SANE configuration as conffiles.
expected="/etc/sane.d/dll.d/kiv
/etc/sane.d/kiv.conf
/usr/bin/kivscan
$lib/sane/libsane-kiv.so.1
$lib/sane/libsane-kiv.so.1.0.0
$lib/twain/kivds/kivds.ds
/usr/sbin/kivds-twain-link
/usr/share/doc/kivds/README.Debian
/usr/share/doc/kivds/README.md.gz
/usr/share/doc/kivds/changelog.Debian.gz
/usr/share/doc/kivds/copyright
/usr/share/lintian/overrides/kivds
/usr/share/man/man1/kivscan.1.gz
/usr/share/man/man8/kivds-twain-link.8.gz"
mapfile -t paths < <(dpkg -L kivds)
files=$(for p in "${paths[@]}"; do [ -d "$p" ] && [ ! -L "$p" ] || echo "$p"; done | sort)
[ "$files" = "$(sort <<<"$expected")" ] || fail "dpkg -L kivds:"$'\n'"$files"
conffiles=$(dpkg-query -W -f='${Conffiles}' kivds | awk '{print $1}' | sort | tr '\n' ' ')
[ "$conffiles" = "/etc/sane.d/dll.d/kiv /etc/sane.d/kiv.conf " ] || fail "conffiles: $conffiles"

# The link step: the source manager's recursive scan of /usr/local/lib/twain
# finds kivds.ds through it; disable takes it away; purge removes it too.
if kivds-twain-link status >/dev/null; then fail "enabled before enable"; fi
kivds-twain-link enable >/dev/null
find -L /usr/local/lib/twain -name '*.ds' | grep -qx "$twain_link/kivds.ds" || fail "enable: no $twain_link/kivds.ds"
kivds-twain-link status >/dev/null || fail "status after enable"
kivds-twain-link disable >/dev/null
[ ! -e "$twain_link" ] && [ ! -L "$twain_link" ] || fail "disable left $twain_link"
kivds-twain-link enable >/dev/null

apt-get purge -y -qq kivds >/dev/null || fail "apt-get purge kivds failed"
installed=0
for p in "${paths[@]}" "$twain_link" /usr/local/lib/twain; do
    [ "$p" != /. ] && { [ -e "$p" ] || [ -L "$p" ]; } || continue
    # Directories that other packages share stay.
    [ -d "$p" ] && [ ! -L "$p" ] && dpkg-query -S "$p" >/dev/null 2>&1 && continue
    fail "after purge: $p remains"
done
echo "debian-package: $(basename "$deb"): lintian clean, installed, acquired, linked, purged"
