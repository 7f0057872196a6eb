#!/usr/bin/env bash
# Builds the Debian package kivds (binary only, offline, unsigned) and leaves
# build/debian/kivds_<version>_<arch>.deb. The package is built from a copy of
# the tree's files in build/debian/src, so the tree itself stays clean.
#
#   scripts/build-deb.sh [--jobs N]
#
# The package's version (debian/changelog, without the Debian revision) must
# be the one in VERSION. ccache is used when CMAKE_*_COMPILER_LAUNCHER are set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KIV_JOBS:-1}
while [ $# -gt 0 ]; do
    case "$1" in
    --jobs) jobs=$2; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-deb.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
version=$(head -n1 "$root/VERSION")
package_version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
if [ "${package_version%-*}" != "$version" ]; then
    echo "build-deb.sh: debian/changelog has $package_version, VERSION has $version" >&2
    exit 1
fi
out="$root/build/debian"
src="$out/src/kivds-$version"
rm -rf "$out/src"
mkdir -p "$src"
# The tracked and new files of the tree (not build/ or anything ignored).
# (a file deleted but not yet committed is skipped).
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$src"
rm -f "$out"/kivds_*.deb "$out"/kivds-dbgsym_* "$out"/kivds_*.buildinfo "$out"/kivds_*.changes
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$jobs" dpkg-buildpackage -b -us -uc)
# dpkg-buildpackage writes beside the source directory.
mv "$out"/src/kivds_* "$out"/src/kivds-dbgsym_* "$out"/
rm -rf "$out/src"
ls "$out"/kivds_"$package_version"_*.deb
