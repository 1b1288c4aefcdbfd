#!/usr/bin/env bash
# benchmark_build.sh CMAKE WINDOWS_DIR
#
# The README's benchmark build (-DTSP_REALISTIC_PAYLOAD=ON) without its Wine benchmark: builds
# its targets (benchmark_build, defined in every Windows build tree), checks that what
# bench/install_bench.sh runs is there, and that each edition's realistic package carries its
# own uninstaller: the padded uninstall.exe of its entry list begins with that edition's
# uninstaller, byte for byte.
set -uo pipefail
cmake=$1 windows=$2
"$cmake" --build "$windows" --target benchmark_build || { echo "FAILED: the benchmark build"; exit 1; }
failed=0
for file in bench/tsport_workstation_setup.exe bench/tsport_server_setup.exe bench/install_floor.exe \
    bench/run_timed.exe realistic/tsport_workstation_setup.exe realistic/tsport_server_setup.exe \
    realistic/box_watcher.exe; do
    [ -s "$windows/$file" ] || { echo "FAILED: no $file"; failed=1; }
done
for edition in workstation server; do
    own=$windows/uninstall/$edition/uninstall.exe
    packed=$(awk -F= '$1 == "uninstall.exe" { print $2 }' "$windows/realistic_payload/${edition}_entries.txt")
    if [ -n "$packed" ] && [ -f "$own" ] && cmp -s -n "$(stat -c %s "$own")" "$own" "$packed"; then
        echo "ok: the $edition package carries the $edition uninstaller ($packed)"
    else
        echo "FAILED: the $edition package's uninstall.exe (${packed:-none}) is not the $edition uninstaller"
        failed=1
    fi
done
exit $failed
