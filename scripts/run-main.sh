#!/usr/bin/env bash
# The README's main job: acquire one picture from the virtual camera through
# DS_Entry. Installs only what building the Linux data source and kivscan
# needs (scripts/packages-main.txt), builds both in build/main (no tests), and
# writes out/page.tif by memory transfer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/bootstrap.sh --main
cmake -S . -B build/main -DCMAKE_BUILD_TYPE=Release -DKIVDS_BUILD_TESTS=OFF >/dev/null
cmake --build build/main --target kivds_ds kivscan -j"$(nproc)"

# KIVDS_UI=headless: the source's messages come on standard error instead of
# a message box (kivscan sets it too when it is unset).
KIVDS_UI=${KIVDS_UI:-headless} build/main/tools/kivscan/kivscan --virtual --xfer memory --format tiff \
    --create-dirs -o out/page.tif

echo "The picture is $root/out/page.tif"
