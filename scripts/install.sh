#!/usr/bin/env bash
# Installs the data source for the Linux TWAIN source manager and the SANE
# backend, or removes them.
#
#   scripts/install.sh [--prefix DIR] [--build-dir DIR] [--no-build]
#   scripts/install.sh --uninstall [--prefix DIR]
#
# Install: builds kivds.ds and libsane-kiv.so.1 (release, in build/install
# unless --build-dir) and puts kivds.ds under <prefix>/lib/twain/kivds/
# (prefix /usr/local), where the source manager looks. The SANE backend goes
# where Debian's SANE loader looks: libsane-kiv.so.1 in
# /usr/lib/<multiarch>/sane, dll.d/kiv and kiv.conf in /etc/sane.d (with a
# --prefix other than /usr/local: <prefix>/lib/sane and <prefix>/etc/sane.d);
# a build without libsane-dev has no backend and installs none. Every file
# and directory it creates is written to the manifest
# <prefix>/share/kivds/install-manifest.txt; --uninstall removes exactly
# those (directories only when empty) and then the manifest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=/usr/local
build="$root/build/install"
do_build=1
uninstall=0
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --uninstall) uninstall=1; shift ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
manifest_dir="$prefix/share/kivds"
if [ "$prefix" = /usr/local ]; then
    multiarch=$( (dpkg-architecture -qDEB_HOST_MULTIARCH || gcc -print-multiarch) 2>/dev/null || true)
    sane_libdir="/usr/lib${multiarch:+/$multiarch}/sane"
    sane_confdir=/etc/sane.d
else
    sane_libdir="$prefix/lib/sane"
    sane_confdir="$prefix/etc/sane.d"
fi
manifest="$manifest_dir/install-manifest.txt"

if [ $uninstall -eq 1 ]; then
    if [ ! -f "$manifest" ]; then
        echo "install.sh: nothing installed under $prefix (no $manifest)" >&2
        exit 1
    fi
    # Files first, then directories deepest first, each only if still ours.
    while IFS= read -r line; do
        kind=${line%% *}; path=${line#* }
        [ "$kind" = file ] && rm -f -- "$path" && echo "removed $path"
    done < "$manifest"
    mapfile -t dirs < <(grep '^dir ' "$manifest.dirs" 2>/dev/null | cut -c5- | sort -r)
    rm -f -- "$manifest" "$manifest.dirs"
    for dir in "${dirs[@]}"; do
        rmdir -- "$dir" 2>/dev/null && echo "removed $dir/" || true
    done
    exit 0
fi

if [ $do_build -eq 1 ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKIVDS_BUILD_TESTS=OFF >/dev/null
    targets=(kivds_ds)
    grep -q '^KIV_SANE_FOUND:INTERNAL=1' "$build/CMakeCache.txt" && targets+=(kivsane)
    cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"
fi
sane_lib="$build/kivsane/libsane-kiv.so.1"

# The directories that do not exist yet are ours to remove later.
created=()
dirs=("$prefix/lib" "$prefix/lib/twain" "$prefix/lib/twain/kivds" "$prefix/share" "$manifest_dir")
[ -f "$sane_lib" ] && dirs+=("$(dirname "$sane_libdir")" "$sane_libdir" "$(dirname "$sane_confdir")" "$sane_confdir"
                             "$sane_confdir/dll.d")
for dir in "${dirs[@]}"; do
    [ -d "$dir" ] || created+=("$dir")
done
mkdir -p "$manifest_dir"
# The data source (the default component); the SANE backend's component is
# copied below, to the SANE loader's directories.
log=$(cmake --install "$build" --prefix "$prefix" --component Unspecified)
echo "$log"
: > "$manifest.new"
sed -n 's/^-- \(Installing\|Up-to-date\): //p' <<<"$log" | while IFS= read -r path; do
    echo "file $path" >> "$manifest.new"
done
if [ -f "$sane_lib" ]; then
    install -D -m 0644 "$(readlink -f "$sane_lib")" "$sane_libdir/libsane-kiv.so.1"
    install -D -m 0644 "$root/kivsane/dll.d/kiv" "$sane_confdir/dll.d/kiv"
    install -D -m 0644 "$root/kivsane/kiv.conf" "$sane_confdir/kiv.conf"
    for path in "$sane_libdir/libsane-kiv.so.1" "$sane_confdir/dll.d/kiv" "$sane_confdir/kiv.conf"; do
        echo "-- Installing: $path"
        echo "file $path" >> "$manifest.new"
    done
fi
mv "$manifest.new" "$manifest"
{
    [ -f "$manifest.dirs" ] && cat "$manifest.dirs"
    for dir in "${created[@]}"; do echo "dir $dir"; done
} | sort -u > "$manifest.dirs.new"
mv "$manifest.dirs.new" "$manifest.dirs"
ds="$prefix/lib/twain/kivds/kivds.ds"
if [ ! -f "$ds" ] || [ -L "$ds" ]; then
    echo "install.sh: $ds is not a regular file" >&2
    exit 1
fi
echo "installed $ds ($(file -b "$ds" | cut -d, -f1))"
if [ -f "$sane_lib" ]; then
    echo "installed the SANE backend kiv: $sane_libdir/libsane-kiv.so.1 (check with: scanimage -L)"
fi
