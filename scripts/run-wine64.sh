#!/usr/bin/env bash
# Runs a 64-bit Windows test program under Wine with the project's own prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
ensure_wine64_prefix
export WINEPREFIX=$TESSIK_WINE64_PREFIX
exec /usr/lib/wine/wine64 "$@"
