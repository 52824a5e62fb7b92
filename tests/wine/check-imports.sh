#!/usr/bin/env bash
# The .exe must run wherever it is copied: it may import only DLLs that every Windows has.
# Usage: check-imports.sh <objdump> <exe>
set -euo pipefail
objdump="$1"
exe="$2"
imports="$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
[ -n "$imports" ] || { echo "no import table read from $exe"; exit 1; }
status=0
for dll in $imports; do
  case "$dll" in
    kernel32.dll|msvcrt.dll|ws2_32.dll|user32.dll|advapi32.dll|ntdll.dll|shell32.dll) echo "system: $dll" ;;
    *) echo "NOT a system DLL: $dll"; status=1 ;;
  esac
done
exit $status
