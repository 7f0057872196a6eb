#!/usr/bin/env bash
# Builds both targets and runs every test. The README's test command; CI runs it.
#   1. installs what is missing (scripts/bootstrap.sh)
#      every build treats warnings as errors (KIV_WERROR=ON)
#   2. cross-builds libtiff for Windows once (build/deps)
#   3. builds the mingw preset (Windows x64), of the mingw32 preset (i686) the
#      shipped programs and the tests it runs, and the Windows setup
#   4. builds the linux-asan preset (ASan + UBSan) with the Windows programs
#      registered as Wine tests, and the libFuzzer targets with clang
#   5. builds the Debian package (build/debian/kivds_*.deb, which the
#      debian-package test installs)
#   6. makes the Wine prefixes, then runs ctest under a virtual display; its
#      summary is the last thing printed
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KIV_JOBS:-$(nproc)}

step() { printf '\n=== %s\n' "$*"; }

step "bootstrap"
scripts/bootstrap.sh

if [ -x scripts/build-libtiff-mingw.sh ]; then
    step "libtiff for mingw-w64"
    scripts/build-libtiff-mingw.sh
    scripts/build-libtiff-mingw.sh --triple i686-w64-mingw32
fi

step "mingw (Windows x64)"
cmake --preset mingw -DKIV_WERROR=ON >/dev/null
cmake --build build/mingw -j"$jobs"

step "mingw32 (i686: kivds.ds, kivsvc.exe, kivscan.exe and the wine32 tests)"
cmake --preset mingw32 -DKIV_WERROR=ON >/dev/null
cmake --build build/mingw32 -j"$jobs" --target kivds_ds kivsvc kivsvc_wine_client kivscan kivscan_fakedsm \
    unit_protocol protocol_xfer wine_dshow wine_dialog

step "Windows setup"
scripts/build-installer.sh build/mingw build/mingw32

step "fuzz targets (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVDS_BUILD_FUZZ=ON -DKIV_WERROR=ON \
    -DKIVDS_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz -j"$jobs" --target fuzz_caps fuzz_dsentry fuzz_uvcdesc

step "linux-asan"
cmake --preset linux-asan -DKIV_WERROR=ON -DKIV_MINGW_BUILD_DIR="$root/build/mingw" \
    -DKIV_MINGW32_BUILD_DIR="$root/build/mingw32" -DKIV_FUZZ_BUILD_DIR="$root/build/fuzz" >/dev/null
cmake --build build/linux-asan -j"$jobs"

step "Debian package"
# The artefact is built even when the tests are filtered; tests and
# benchmarks are off in the package build.
KIV_JOBS=$jobs scripts/build-deb.sh

step "Wine prefixes"
# Made before the tests: starting a new prefix takes minutes on a loaded
# machine and must not count against a test's time limit. The Win32 dialog
# tests have prefixes of their own (en and de share one, ja has its own).
export KIV_WINEPREFIX="$root/build/mingw/wineprefix"
(source scripts/wine-env.sh && kiv_wine_init)
for tag in en ja; do
    tests/wine/dialog/run-dialog-test.sh --prepare build/mingw/tests/wine/dialog/wine_dialog.exe "$tag"
done
# The setup's test installs into a prefix of its own.
tests/wine/installer/run-installer-test.sh --prepare build/mingw

step "tests"
export KIVDS_UI=headless
set +e
xvfb-run -a ctest --test-dir build/linux-asan -j"$jobs" --output-on-failure --timeout 900
rc=$?
set -e
(source scripts/wine-env.sh && kiv_wine_stop)
[ $rc -eq 0 ] || exit 1
