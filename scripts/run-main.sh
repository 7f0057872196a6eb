#!/usr/bin/env bash
# The README's main job: acquire one picture from the virtual camera through
# DS_Entry. Installs what is missing, builds the data source and kivscan in
# build/linux, and writes out/page.tif by memory transfer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/bootstrap.sh
cmake --preset linux >/dev/null
cmake --build build/linux --target kivds_ds kivscan -j2

# KIVDS_UI=headless: the source's messages come on standard error instead of
# a message box (kivscan sets it too when it is unset).
KIVDS_UI=${KIVDS_UI:-headless} build/linux/tools/kivscan/kivscan --virtual --xfer memory --format tiff -o out/page.tif

echo "The picture is $root/out/page.tif"
