#!/usr/bin/env bash
# known_dll_imports.sh OBJDUMP PROGRAM...
# Reads each program's import table and fails, naming program and DLL, on every statically
# imported DLL that is not one of Windows' KnownDLLs: Windows looks for any other DLL in the
# program's own folder first, and a program started from a download folder then runs
# whatever someone put there. Delay-loaded DLLs are not in this table and not checked here.
set -uo pipefail
objdump=$1
shift
source "$(dirname "$0")/lib.sh"
for program in "$@"; do
    if ! dump=$("$objdump" -p "$program" 2>&1); then
        fail "$program: $dump"
        continue
    fi
    # Only the import directory: it ends where the next table of the dump begins.
    dlls=$(awk '/^The Import Tables/ { on = 1; next } on && /^The .* Table|^Export Address|^PE File Base/ { on = 0 }
                on && /DLL Name:/ { print tolower($3) }' <<<"$dump" | sort -u)
    if [ -z "$dlls" ]; then
        fail "$program: no import table read"
        continue
    fi
    refused=()
    for dll in $dlls; do
        [[ "$KNOWN_DLLS" == *" ${dll%.dll} "* ]] || refused+=("$dll")
    done
    if [ ${#refused[@]} -eq 0 ]; then
        echo "ok: $(basename "$program") imports only KnownDLLs: $(echo $dlls)"
    else
        fail "$program imports DLLs that are not KnownDLLs: ${refused[*]}"
    fi
done
[ "$failures" -eq 0 ]
