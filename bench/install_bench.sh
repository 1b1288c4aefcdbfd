#!/usr/bin/env bash
# install_bench.sh WINDOWS_DIR TEMPLATE WORK_DIR [PAIRS]
#
# End-to-end benchmark under Wine: the workstation installer's silent installation with the
# stand-ins of the real sizes (build with -DTSP_REALISTIC_PAYLOAD=ON), side by side with the
# floor, install_floor.exe, which makes the same changes with the same Win32 calls straight
# away. The installer is the benchmark build (WINDOWS_DIR/bench): the same code, flags and
# package as the shipped one, but without the fixed pauses between the steps (2.3 s on this
# road), so that what is timed is the installation's own work. Measuring the pauses and
# subtracting them would leave their overshoot, which grows with the machine's load, in the
# figure.
#
# Each run gets a fresh copy of the template prefix and a Wine session that is already up
# (a persistent server, then run_timed.exe alone, which opens a window, COM and the service
# manager, so that Wine's desktop and service processes run), so both programs find the
# same machine, as a Windows with a user logged on. Inside it run_timed.exe times the
# program from just before CreateProcess to its end; each program writes its own peak working
# set (PeakWorkingSetSize) when it ends. The two alternate, the order turning each pair (AB BA AB ...), after one pair that is not
# counted, and the ratio is taken pair by pair. Every run is checked: exit code 0, the
# installed service program present with the size of its package entry, and the record of
# the (padded) Citrix support installer, which both programs run. Raw figures go to
# WORK_DIR/runs.txt.
set -uo pipefail
windows=$(realpath -m "$1") work=$(realpath -m "$3") pairs=${4:-10}
source "$(dirname "$0")/../tests/wine/lib.sh"
bench=$windows/bench
installer=$bench/tsport_workstation_setup.exe
floor=$bench/install_floor.exe
entries=$windows/realistic_payload/workstation_entries.txt
for f in "$installer" "$floor" "$bench/run_timed.exe" "$entries"; do
    [ -f "$f" ] || { echo "missing $f (configure with -DTSP_REALISTIC_PAYLOAD=ON and build)"; exit 1; }
done
use_template "$(realpath -m "$2")"
mkdir -p "$work"
runs=$work/runs.txt
: >"$runs"

service_entry=$(awk -F= '$1 == "tessaportwssrv.exe" { print $2 }' "$entries")
service_size=$(stat -c %s "$service_entry")
inflated=$(awk -F= '{ print $2 }' "$entries" | xargs stat -c %s | awk '{ s += $1 } END { print s }')
installer_size=$(stat -c %s "$installer")

# run_one NAME PROGRAM [ARGS...]: one timed run in a fresh prefix; appends "NAME ms peak" to runs.
run_one() {
    local name=$1 program=$2
    shift 2
    (
        new_prefix "$work/prefix_$name"
        mkdir -p "$C/bench"
        cp "$bench/run_timed.exe" "$C/bench/run_timed.exe"
        cp "$program" "$C/bench/program.exe"
        timeout 30 wineserver -p >/dev/null 2>&1
        timeout 60 wine 'C:\bench\run_timed.exe' >"$prefix.warm.out" 2>&1
        (cd "$C/bench" && TSP_PEAK_REPORT='C:\bench\peak.txt' timeout -k 10 330 \
            wine 'C:\bench\run_timed.exe' 'C:\bench\time.txt' 'C:\bench\program.exe' "$@" \
            >"$prefix.out" 2>"$prefix.err")
        status=$?
        timeout 30 wineserver -k >/dev/null 2>&1  # this prefix's server only
        read -r code ms <"$C/bench/time.txt" 2>/dev/null || { echo "run $name: no timing (status $status)"; exit 1; }
        ms=${ms%$'\r'}  # written with CR LF
        [ "$code" = 0 ] || { echo "run $name: exit code $code"; exit 1; }
        installed=$(stat -c %s "$C/windows/system32/tessaportwssrv.exe" 2>/dev/null || echo 0)
        [ "$installed" = "$service_size" ] ||
            { echo "run $name: tessaportwssrv.exe has $installed bytes, expected $service_size"; exit 1; }
        # The padded Citrix support installer ran as a program.
        grep -q "keyword: RegisterCitrixDllEx" "$C/users/root/Temp/tsport_rde_installer.log" 2>/dev/null ||
            { echo "run $name: the Citrix support installer did not run"; exit 1; }
        peak=$(tr -d '\r' <"$C/bench/peak.txt" 2>/dev/null)
        [ -n "$peak" ] || { echo "run $name: no peak working set"; exit 1; }
        echo "$name $ms $peak" >>"$runs"
    )
    local result=$?
    [ $result -ne 0 ] && { echo "prefix kept: $work/prefix_$name"; return 1; }
    rm -rf "$work/prefix_$name" "$work/prefix_$name".*
}

echo "installer $(basename "$installer"): $installer_size bytes, payload $inflated bytes inflated; $pairs pairs"
# One pair first, not counted: the first runs after a build read Wine and the programs from disk.
run_one installer "$installer" -silent -licenseaccept || exit 1
run_one floor "$floor" || exit 1
: >"$runs"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 1; i <= pairs; i++)); do
    if ((i % 2)); then
        run_one installer "$installer" -silent -licenseaccept || exit 1
        run_one floor "$floor" || exit 1
    else
        run_one floor "$floor" || exit 1
        run_one installer "$installer" -silent -licenseaccept || exit 1
    fi
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Medians and spread; the ratio pair by pair (the i-th run of each).
awk -v installer_size="$installer_size" -v inflated="$inflated" '
    function median(a, n,   i, j, t) {
        for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    function minmax(a, n,   i) { lo = a[1]; hi = a[1]; for (i = 2; i <= n; i++) { if (a[i] < lo) lo = a[i]; if (a[i] > hi) hi = a[i] } }
    $1 == "installer" { ni++; it[ni] = $2 + 0; im[ni] = $3 + 0 }
    $1 == "floor" { nf++; ft[nf] = $2 + 0; fm[nf] = $3 + 0 }
    END {
        n = ni < nf ? ni : nf
        for (i = 1; i <= n; i++) r[i] = it[i] / ft[i]  # before the medians sort the runs
        minmax(it, ni); printf "installer  median %8.1f ms  (min %.1f, max %.1f, %d runs)\n", median(it, ni), lo, hi, ni
        minmax(ft, nf); printf "floor      median %8.1f ms  (min %.1f, max %.1f, %d runs)\n", median(ft, nf), lo, hi, nf
        minmax(r, n);   printf "ratio      median %8.3f     (min %.3f, max %.3f, pair by pair)   goal: at most 1.3\n", median(r, n), lo, hi
        mi = median(im, ni); mf = median(fm, nf)
        printf "peak working set: installer %.1f MB, floor %.1f MB (medians); difference %.1f MB\n", mi / 1048576, mf / 1048576, (mi - mf) / 1048576
        allowed = installer_size + 1.5 * inflated + 8 * 1048576
        printf "allowed difference: installer file + 1.5 x inflated payload + 8 MB = %.1f MB\n", allowed / 1048576
    }' "$runs"
