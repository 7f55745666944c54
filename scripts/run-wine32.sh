#!/usr/bin/env bash
# Runs a 32-bit Windows test program under Wine through qemu. Starts cost about a minute,
# so a persistent Wine server is kept for the whole test run (scripts/test-all.sh ends it).
# Wine's helper processes inherit standard output and outlive the program: the output goes
# to a file that is printed afterwards, and the program's own exit code is what counts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
ensure_wine32_prefix || exit 1
export WINEPREFIX=$TESSIK_WINE32_PREFIX WINEARCH=win32
wineserver -p >/dev/null 2>&1 || true
log=$(mktemp)
wine "$@" >"$log" 2>&1 </dev/null
rc=$?
# qemu reports the crashes of Wine's own helpers; they say nothing about the program.
grep -v -e 'qemu: uncaught target signal' "$log"
rm -f "$log"
exit $rc
