#!/usr/bin/env bash
# Cross-builds a static libtiff for the Windows builds from Debian's source
# package, with every optional codec off, built-in ones included (the data
# source writes uncompressed RGB strips only).
#
#   scripts/build-libtiff-mingw.sh [--triple x86_64-w64-mingw32|i686-w64-mingw32] [prefix]
#
# The triple defaults to x86_64-w64-mingw32; prefix to build/deps/tiff-TRIPLE in
# the repository (the place cmake/KivTiff.cmake looks by default). Does nothing when the prefix
# already holds the library. Needs root (or sudo) only to add the deb-src
# entry and install the packaging tools when they are missing.
set -euo pipefail

TRIPLE=x86_64-w64-mingw32
if [[ "${1:-}" == "--triple" ]]; then
    TRIPLE=$2
    shift 2
fi
case "$TRIPLE" in
x86_64-w64-mingw32) cross_gcc_pkg=gcc-mingw-w64-x86-64-posix ;;
i686-w64-mingw32) cross_gcc_pkg=gcc-mingw-w64-i686-posix ;;
*) echo "unknown triple $TRIPLE" >&2; exit 1 ;;
esac
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PREFIX="${1:-$ROOT/build/deps/tiff-$TRIPLE}"
WORK="$ROOT/build/deps/tiff-src"

if [[ -f "$PREFIX/lib/libtiff.a" && -f "$PREFIX/include/tiffio.h" ]]; then
    echo "libtiff for $TRIPLE already installed in $PREFIX"
    exit 0
fi

SUDO=""
[[ "$(id -u)" -ne 0 ]] && SUDO="sudo"

# A deb-src entry for bookworm, so that apt-get source finds the package.
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "adding a deb-src entry for bookworm"
    $SUDO tee /etc/apt/sources.list.d/kiv-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    $SUDO apt-get update -qq
fi

need=()
command -v dpkg-source >/dev/null || need+=(dpkg-dev)
command -v "$TRIPLE-gcc-posix" >/dev/null || need+=("$cross_gcc_pkg")
command -v make >/dev/null || need+=(make)
# Debian's source tree carries no generated configure script.
command -v autoreconf >/dev/null || need+=(autoconf)
command -v automake >/dev/null || need+=(automake)
command -v libtoolize >/dev/null || need+=(libtool)
if ((${#need[@]})); then
    $SUDO apt-get install -y --no-install-recommends "${need[@]}"
fi

mkdir -p "$WORK"
cd "$WORK"
src="$(find . -maxdepth 1 -type d -name 'tiff-*' | sort | tail -n 1)"
if [[ -z "$src" ]]; then
    apt-get source --only-source tiff >/dev/null 2>&1 || { echo "apt-get source tiff failed" >&2; exit 1; }
    src="$(find . -maxdepth 1 -type d -name 'tiff-*' | sort | tail -n 1)"
fi
[[ -n "$src" ]] || { echo "apt-get source tiff produced no source tree" >&2; exit 1; }
if [[ ! -x "$WORK/$src/configure" ]]; then
    (cd "$WORK/$src" && autoreconf -fi >/dev/null 2>&1) || { echo "autoreconf failed in $WORK/$src" >&2; exit 1; }
fi

rm -rf "$WORK/build-$TRIPLE"
mkdir -p "$WORK/build-$TRIPLE"
cd "$WORK/build-$TRIPLE"
# The build's chatter goes to a log; it is shown only when a step fails.
log="$WORK/build-$TRIPLE.log"
: >"$log"
quiet() { "$@" >>"$log" 2>&1 || { tail -n 60 "$log" >&2; echo "libtiff build failed: $* (log: $log)" >&2; exit 1; }; }
echo "building libtiff for $TRIPLE (log: $log)"
quiet "$WORK/$src/configure" \
    --host="$TRIPLE" \
    CC="$TRIPLE-gcc-posix" CXX="$TRIPLE-g++-posix" \
    CFLAGS="-O2" \
    --prefix="$PREFIX" \
    --disable-shared --enable-static \
    --disable-cxx \
    --disable-jpeg --disable-old-jpeg \
    --disable-zlib --disable-pixarlog --disable-libdeflate \
    --disable-lzma --disable-zstd --disable-webp \
    --disable-jbig --disable-lerc \
    --disable-ccitt --disable-packbits --disable-lzw --disable-thunder \
    --disable-next --disable-logluv --disable-mdi \
    --disable-tools --disable-tests --disable-contrib --disable-docs \
    --disable-sphinx --disable-opengl --without-x \
    --enable-win32-io ac_cv_header_windows_h=yes
# Win32 file I/O (CreateFileA on the narrow path) needs windows.h, which
# configure only looks for in its OpenGL test, switched off above.
grep -q "^WIN32_IO_TRUE=''$" config.log || { echo "configure did not enable Win32 I/O" >&2; exit 1; }
quiet make -j2 -C port
quiet make -j2 -C libtiff
quiet make -C libtiff install
echo "libtiff for $TRIPLE installed in $PREFIX"
