#!/usr/bin/env bash
# known_dll_imports.sh OBJDUMP PROGRAM...
# Reads each program's import table and fails, naming program and DLL, on every statically
# imported DLL that is not one of Windows' KnownDLLs: Windows looks for any other DLL in the
# program's own folder first, and a program started from a download folder then runs
# whatever someone put there. Delay-loaded DLLs are not in this table and not checked here.
set -uo pipefail
objdump=$1
shift
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10 and 11.
known=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt
 normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32 "
failures=0
for program in "$@"; do
    if ! dump=$("$objdump" -p "$program" 2>&1); then
        echo "FAIL: $program: $dump"
        failures=$((failures + 1))
        continue
    fi
    # Only the import directory: it ends where the next table of the dump begins.
    dlls=$(awk '/^The Import Tables/ { on = 1; next } on && /^The .* Table|^Export Address|^PE File Base/ { on = 0 }
                on && /DLL Name:/ { print tolower($3) }' <<<"$dump" | sort -u)
    if [ -z "$dlls" ]; then
        echo "FAIL: $program: no import table read"
        failures=$((failures + 1))
        continue
    fi
    refused=()
    for dll in $dlls; do
        [[ "$known" == *" ${dll%.dll}"[$' \n']* ]] || refused+=("$dll")
    done
    if [ ${#refused[@]} -eq 0 ]; then
        echo "ok: $(basename "$program") imports only KnownDLLs: $(echo $dlls)"
    else
        echo "FAIL: $program imports DLLs that are not KnownDLLs: ${refused[*]}"
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ]
