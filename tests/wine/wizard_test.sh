#!/usr/bin/env bash
# wizard_test.sh WINDOWS_DIR TEMPLATE WORK_DIR SHOT_DIR
# Shows the wizard under Xvfb in a fresh prefix per case, walks it with the driver, checks
# what the wizard left behind and keeps a PNG of every page in SHOT_DIR.
set -uo pipefail
windows=$1 template=$2 work=$3 shots=$4
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$template/.complete" ] || { echo "no template prefix at $template"; exit 1; }
mkdir -p "$work" "$shots"
failures=0

# run_case NAME DRIVER_MODE PROGRAM "SWITCHES" EXPECTED_LINES...
# An expected line is a line of the test host's result file, or "file:PATH" (under drive_c)
# that must exist after the run.
run_case() {
    local name=$1 mode=$2 program=$3 switches=$4
    shift 4
    # WIZARD_CASES="a b" runs only the cases named.
    if [ -n "${WIZARD_CASES:-}" ] && [[ " $WIZARD_CASES " != *" $name "* ]]; then return; fi
    local prefix=$work/$name
    rm -rf "$prefix" "$prefix.shots"
    cp -a "$template" "$prefix"
    mkdir -p "$prefix.shots"
    cp "$windows/$program" "$windows/wizard_driver.exe" "$prefix/drive_c/"
    (
        source "$here/wine_env.sh" "$prefix"
        cd "$prefix/drive_c"
        export P=$prefix MODE=$mode PROGRAM=$program SWITCHES=$switches SHOTS_WIN="Z:${prefix//\//\\}.shots"
        timeout --kill-after=10 150 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
            wine "C:\\$PROGRAM" $SWITCHES >"$P.host.out" 2>"$P.host.err" &
            host=$!
            wine "C:\\wizard_driver.exe" "$MODE" "$SHOTS_WIN" >"$P.driver.out" 2>"$P.driver.err"
            echo $? >"$P.driver.rc"
            for i in $(seq 1 300); do kill -0 $host 2>/dev/null || break; sleep 0.1; done
            if kill -0 $host 2>/dev/null; then echo "FAIL: wizard still open" >>"$P.driver.out"
            else wait $host; echo $? >"$P.host.rc"; fi
            timeout 30 wineserver -k
            true
        '
    )
    cat "$prefix.driver.out"
    local ok=1
    [ "$(cat "$prefix.driver.rc" 2>/dev/null)" = 0 ] || ok=0
    for line in "$@"; do
        if [ "${line#file:}" != "$line" ]; then
            if [ -f "$prefix/drive_c/${line#file:}" ]; then echo "ok: $name left ${line#file:}"
            else echo "FAIL: $name should leave ${line#file:}"; ok=0; fi
            continue
        fi
        if [ "${line#rc=}" != "$line" ]; then
            if [ "$(cat "$prefix.host.rc" 2>/dev/null)" = "${line#rc=}" ]; then echo "ok: $name exit code ${line#rc=}"
            else echo "FAIL: $name exit code $(cat "$prefix.host.rc" 2>/dev/null), not ${line#rc=}"; ok=0; fi
            continue
        fi
        if grep -qxF "$line" "$prefix/drive_c/wizard_host_result.txt" 2>/dev/null; then
            echo "ok: $name left $line"
        else
            echo "FAIL: $name should leave $line"; ok=0
        fi
    done
    for bmp in "$prefix.shots"/*.bmp; do
        [ -f "$bmp" ] || continue
        local tag=""
        [ "$name" = installer ] && tag=installer_  # the real installer's pages beside the host's
        convert "$bmp" "$shots/$tag$(basename "${bmp%.bmp}").png" || ok=0
    done
    if [ "$ok" = 1 ]; then
        echo "PASS: $name"
        rm -rf "$prefix"
    else
        echo "FAIL: $name (prefix kept at $prefix)"
        cat "$prefix.host.err" 2>/dev/null | tail -20
        failures=$((failures + 1))
    fi
}

run_case walk walk wizard_host.exe "" "rc=1" "result=1" "restartPageShown=0" "target=C:\\Apps\\Tessaport" \
    "startMenu=Tessaport RDP Edition - Workstation" "desktop=1" "quickLaunch=0" "firewall=0" "licence=1" "launch=0"
run_case restart_failed restart_failed wizard_host.exe "-restart -fail" "result=1" "restartPageShown=1" \
    "restartFlag=0" "restartCalls=0"
run_case failed failed wizard_host.exe "-fail" "result=1" "restartPageShown=0"
run_case refused refused wizard_host.exe "-refuse" "rc=0" "result=0"
# The real installer, when it has been built: a whole interactive installation.
if [ -f "$windows/tsport_workstation_setup.exe" ]; then
    run_case installer installer tsport_workstation_setup.exe "" "rc=0" "file:Tessaport/tessaportws.exe"
fi
echo "$failures case(s) failed"
[ "$failures" = 0 ]
