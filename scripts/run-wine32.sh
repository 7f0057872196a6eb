#!/usr/bin/env bash
# Runs a test command of the 32-bit Windows build, or skips it (exit 77, one
# line saying why) where 32-bit Windows programs cannot run.
#   run-wine32.sh COMMAND [ARGS...]
set -uo pipefail
why=$("$(dirname "$0")/can-run-wine32.sh")
case $? in
0) ;;
1) echo "SKIP: $why"; exit 77 ;;
*) echo "$why"; exit 1 ;;
esac
exec "$@"
