#!/usr/bin/env bash
# Fails when a Windows executable imports any DLL that is not part of Windows itself.
# Usage: check-imports.sh OBJDUMP PROGRAM.exe
set -euo pipefail
objdump=$1
exe=$2
# Windows' own DLLs (msvcrt.dll is the C runtime that ships with Windows).
system='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|setupapi|cfgmgr32|ntdll|msvcrt|ole32|oleaut32|rpcrt4|ws2_32|version|crypt32|bcrypt|secur32|api-ms-win-[a-z0-9-]+)\.dll$'
mapfile -t dlls < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
if ((${#dlls[@]} == 0)); then
  echo "$exe: no import table found" >&2
  exit 1
fi
foreign=()
for dll in "${dlls[@]}"; do
  [[ ${dll,,} =~ $system ]] || foreign+=("$dll")
done
if ((${#foreign[@]})); then
  echo "$exe imports DLLs that are not Windows' own: ${foreign[*]}" >&2
  exit 1
fi
echo "$(basename "$exe") imports only Windows DLLs: ${dlls[*]}"
