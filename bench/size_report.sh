#!/usr/bin/env bash
# size_report.sh IMAGE [MAP]
# What a Windows image is made of: its sections (objdump -h), the sum without the resources,
# and, from the linker's map (the setup images write IMAGE without .exe plus .map), the bytes
# each library and each object brought in (code, data, unwind records; not resources). With
# link-time optimisation the program's own code is one object, named *.ltrans*.o.
set -euo pipefail
image=$1
map=${2:-${image%.exe}.map}
objdump=x86_64-w64-mingw32-objdump

echo "$(basename "$image"): $(stat -c %s "$image") bytes"
$objdump -h "$image" | awk '
    function hex(s,   i, v) { v = 0; s = tolower(s); for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return v }
    /^ *[0-9]+ \./ { n = hex($3); printf "  %-8s %8d\n", $2, n; if ($2 != ".rsrc" && $2 != ".bss") code += n }
    END { printf "  %-8s %8d  (all sections but .rsrc and .bss)\n", "code+data", code }'
[ -f "$map" ] || { echo "no map file $map"; exit 0; }

awk '
    function hex(s,   i, v) { v = 0; s = tolower(s); sub(/^0x/, "", s); for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return v }
    /^Linker script and memory map/ { inmap = 1; next }
    !inmap { next }
    /^\.[a-z]/ { out = $1 }
    /^ \.?[A-Za-z_.$]/ && NF == 1 { pending = $1; next }
    {
        if (pending != "" && $1 ~ /^0x/ && NF >= 3) { size = $2; file = $3 }
        else if ($1 ~ /^\./ && $2 ~ /^0x/ && NF >= 4) { size = $3; file = $4 }
        else { pending = ""; next }
        pending = ""
        n = hex(size)
        if (n == 0 || out ~ /^\.debug/ || out == ".rsrc" || out == ".bss") next
        lib = file; if (match(lib, /\(/)) lib = substr(lib, 1, RSTART - 1); else lib = "(objects)"
        sub(/.*\//, "", lib); obj = file; sub(/.*\//, "", obj)
        perlib[lib] += n; perobj[obj] += n; total += n
    }
    END {
        printf "from the map: %d bytes\nby library:\n", total
        for (l in perlib) printf "  %8d  %s\n", perlib[l], l | "sort -k1 -nr"
        close("sort -k1 -nr")
        print "largest objects:"
        for (o in perobj) printf "  %8d  %s\n", perobj[o], o | "sort -k1 -nr | head -25"
        close("sort -k1 -nr | head -25")
    }' "$map"
