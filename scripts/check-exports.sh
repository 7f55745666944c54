#!/usr/bin/env bash
# Checks what a host sees of the 32-bit DLL: module name, the five exports undecorated with
# ordinals 1-5 in alphabetical order, and imports from KERNEL32 and USER32 only.
set -uo pipefail
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }
failures=0
fail() { echo "export check failed: $*"; failures=$((failures + 1)); }

name=$(sed -n 's/^Name[[:space:]]*[0-9a-f]* \(.*\)$/\1/p' <<<"$dump" | head -n1)
[ "$name" = "tessik01.spi" ] || fail "module name is '$name', not 'tessik01.spi'"

base=$(sed -n 's/^Ordinal Base[[:space:]]*//p' <<<"$dump" | head -n1)
[ "$base" = "1" ] || fail "ordinal base is '$base', not 1"
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p')
expected=$'0 GetArchiveInfo\n1 GetFile\n2 GetFileInfo\n3 GetPluginInfo\n4 IsSupported'
[ "$names" = "$expected" ] || fail "exports are:"$'\n'"$names"$'\n'"expected (index+1 = ordinal):"$'\n'"$expected"

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '[:lower:]' '[:upper:]' | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.DLL USER32.DLL " ] || fail "imports are: $imports"

if [ $failures -eq 0 ]; then
  echo "export table: module tessik01.spi, 5 exports at ordinals 1-5, imports KERNEL32 and USER32 only"
  echo "1 passed, 0 failed"
  exit 0
fi
echo "0 passed, 1 failed"
exit 1
