#!/usr/bin/env bash
# Installs the Debian packages that are not yet installed:
#   scripts/bootstrap.sh          everything: scripts/packages-main.txt and scripts/packages.txt
#   scripts/bootstrap.sh --main   only what the main job needs (scripts/packages-main.txt)
# Idempotent: runs apt-get (and its one `apt-get update`) only when something
# is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lists=("$root/scripts/packages-main.txt")
options=()
case "${1:-}" in
    --main) options+=(--no-install-recommends) ;;
    "") lists+=("$root/scripts/packages.txt") ;;
    *) echo "usage: $0 [--main]" >&2; exit 2 ;;
esac
mapfile -t wanted < <(cat "${lists[@]}" | grep -v '^\s*#' | sed 's/\s//g' | grep -v '^$' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "bootstrap: all ${#wanted[@]} packages present"
    exit 0
fi
echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "bootstrap: adding the i386 architecture (for wine32)"
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${options[@]}" "${missing[@]}" >/dev/null
echo "bootstrap: done"
