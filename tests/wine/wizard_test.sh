#!/usr/bin/env bash
# wizard_test.sh WINDOWS_DIR TEMPLATE WORK_DIR SHOT_DIR
# Shows the wizard under Xvfb and walks it with the driver: one fresh prefix per session
# (an edition's texts at one DPI setting, or with a high-contrast theme), several wizard
# runs in it. Checks what the wizard left behind, that every text fits its control, the
# colours and pictures, and the layout after a DPI change against a start at that DPI; keeps
# a PNG and the layout of every page in SHOT_DIR, named after the session. Also checks the
# programs' manifests.
set -uo pipefail
windows=$1 work=$3 shots=$4
source "$(dirname "$0")/lib.sh"
use_template "$2"
# The dialogs' "MS Shell Dlg" is Tahoma, as on Windows 7. Debian's Wine does not find the
# fonts that fonts-wine brings, so each prefix gets Tahoma (and Marlett, for the caption
# buttons) in its own Fonts folder; Arial and Verdana are replaced by fonts of the same
# (Liberation Sans) or near (DejaVu Sans) metrics.
wine_fonts=/usr/share/wine/fonts
for f in tahoma.ttf tahomabd.ttf marlett.ttf; do
    [ -f "$wine_fonts/$f" ] || { echo "FAIL: $wine_fonts/$f missing (Debian package fonts-wine)"; exit 1; }
done
[ -f /usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf ] ||
    { echo "FAIL: Liberation Sans missing (Debian package fonts-liberation)"; exit 1; }
mkdir -p "$work" "$shots"
work=$(cd "$work" && pwd) shots=$(cd "$shots" && pwd)  # Wine wants absolute paths

# wizard_session NAME DPI EDITION [contrast], then run MODE PROGRAM "SWITCHES" EXPECTED_LINES...
# for each wizard run, then end_session. An expected line is a line of the test host's result
# file, "rc=N" (the program's exit code) or "file:PATH" (under drive_c) that must exist after
# it. WIZARD_CASES="a b" runs only the sessions named.
wizard_session() {
    s_name=$1 s_dpi=$2 s_edition=$3 s_look=${4:-}
    s_runs=() s_expect=()
}
run() {
    local mode=$1 program=$2 switches=$3
    shift 3
    s_runs+=("$mode"$'\t'"$program"$'\t'"$switches")
    s_expect+=("$(printf '%s\n' "$@")")
}
# Inside the session: wizard_run N MODE PROGRAM [SWITCHES...], the program started and its
# wizard walked by the driver (step N); the program's exit code and result file kept.
wizard_run() {
    local n=$1 mode=$2 program=$3 start host t
    shift 3
    start=$(date +%s)
    cd "$C" && rm -f wizard_host_result.txt
    wine "C:\\$program" "$@" >"$prefix.host.$n" 2>"$prefix.host_err.$n" &
    host=$!
    step "$n" 300 . 'C:\wizard_driver.exe' "$mode" "$SHOTS_WIN" "$EDITION"
    for t in $(seq 1 300); do kill -0 $host 2>/dev/null || break; sleep 0.1; done
    if kill -0 $host 2>/dev/null; then
        kill $host
    else
        wait $host
        echo $? >"$prefix.host_rc.$n"
    fi
    cp wizard_host_result.txt "$prefix.result.$n" 2>/dev/null
    echo $(($(date +%s) - start)) >"$prefix.seconds.$n"
}
end_session() {
    local name=$s_name
    if [ -n "${WIZARD_CASES:-}" ] && [[ " $WIZARD_CASES " != *" $name "* ]]; then return; fi
    new_prefix "$work/$name"
    rm -f "$shots/${name}"_*.png "$shots/${name}"_*.layout
    mkdir -p "$prefix.shots"
    ln -s "$wine_fonts/tahoma.ttf" "$wine_fonts/tahomabd.ttf" "$wine_fonts/marlett.ttf" "$C/windows/Fonts/"
    # The look: the DPI setting, the fonts, and a virtual desktop that draws the captions
    # (and hides a page at once: without a window manager Wine waits 2 s for each).
    printf '%s\r\n' REGEDIT4 "" '[HKEY_CURRENT_USER\Control Panel\Desktop]' \
        "\"LogPixels\"=dword:$(printf %08x "$s_dpi")" "" '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"Arial"="Liberation Sans"' '"Verdana"="DejaVu Sans"' "" '[HKEY_CURRENT_USER\Software\Wine\Explorer]' \
        '"Desktop"="Default"' "" '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1200x1000"' \
        >"$C/wizard_look.reg"
    # A high-contrast black scheme: the system colours the pages take.
    [ "$s_look" = contrast ] && printf '%s\r\n' "" '[HKEY_CURRENT_USER\Control Panel\Colors]' '"Window"="0 0 0"' \
        '"WindowText"="255 255 255"' '"ButtonFace"="0 0 0"' '"ButtonText"="255 255 255"' >>"$C/wizard_look.reg"
    cp "$windows/wizard_driver.exe" "$C/"
    local entry mode program switches i=0
    for entry in "${s_runs[@]}"; do
        IFS=$'\t' read -r _ program _ <<<"$entry"
        cp "$windows/$program" "$C/"
    done
    local started=$(date +%s) before=$failures
    # One Wine session for all runs (each new one would start its services again). Each
    # program reads the look at its start: set it before the first window.
    session $((60 + 45 * ${#s_runs[@]})) 1280x1024x24 < <(
        printf 'EDITION=%q SHOTS_WIN=%q\n' "$s_edition" "Z:${prefix//\//\\}.shots"
        declare -f wizard_run
        echo "wineserver -p"
        echo "step 0 60 . reg import 'C:\\wizard_look.reg'"
        for entry in "${s_runs[@]}"; do
            i=$((i + 1))
            IFS=$'\t' read -r mode program switches <<<"$entry"
            printf 'wizard_run %d %q %q %s\n' "$i" "$mode" "$program" "$switches"
        done
    )
    i=0
    for entry in "${s_runs[@]}"; do
        i=$((i + 1))
        echo "--- $name run $i: ${entry//$'\t'/ } ($(cat "$prefix.seconds.$i" 2>/dev/null) s)"
        cat "$prefix.out.$i" 2>/dev/null
        [ "$(rc "$i")" = 0 ] || fail "$name run $i: the driver's checks"
        [ -f "$prefix.host_rc.$i" ] || fail "$name run $i: the wizard was still open"
        local line
        while IFS= read -r line; do
            [ -n "$line" ] || continue
            if [ "${line#file:}" != "$line" ]; then
                if [ -f "$C/${line#file:}" ]; then echo "ok: left ${line#file:}"
                else fail "should leave ${line#file:}"; fi
            elif [ "${line#rc=}" != "$line" ]; then
                local rc; rc=$(cat "$prefix.host_rc.$i" 2>/dev/null)
                if [ "$rc" = "${line#rc=}" ]; then echo "ok: exit code $rc"
                else fail "exit code $rc, not ${line#rc=}"; fi
            elif grep -qxF "$line" "$prefix.result.$i" 2>/dev/null; then
                echo "ok: left $line"
            else
                fail "should leave $line"
            fi
        done <<<"${s_expect[$((i - 1))]}"
    done
    local bmp
    for bmp in "$prefix.shots"/*.bmp; do
        [ -f "$bmp" ] || continue
        convert "$bmp" "$shots/${name}_$(basename "${bmp%.bmp}").png" || fail "$bmp could not be converted"
    done
    for bmp in "$prefix.shots"/*.layout; do
        [ -f "$bmp" ] && cp "$bmp" "$shots/${name}_$(basename "$bmp")"
    done
    echo "$name took $(($(date +%s) - started)) s"
    if [ "$failures" = "$before" ]; then
        echo "PASS: $name"
        rm -rf "$prefix" "$prefix".*
    else
        echo "FAIL: $name (prefix kept at $prefix)"
        tail -20 "$prefix".host_err.* 2>/dev/null
    fi
}

# Every page of the test host, with an edition's texts at 96 and at 144 pixels per inch; at
# 96 the workstation's pages are also moved to 144 and back, and its whole walk is made by
# keys alone.
walked=("rc=1" "result=1" "restartPageShown=0" "target=C:\\Apps\\Tessaport" "desktop=1" "quickLaunch=0" "firewall=0"
    "licence=1" "launch=0")
for dpi in 96 144; do
    for edition in workstation server; do
        flag=""
        [ "$edition" = server ] && flag="-server"
        product="Tessaport RDP Edition - Workstation"
        [ "$edition" = server ] && product="Tessaport RDP Edition - Server"
        wizard_session "${edition}_${dpi}dpi" "$dpi" "$edition"
        run walk wizard_host.exe "$flag" "${walked[@]}" "startMenu=$product" "fitCheck=1"
        [ "$dpi$edition" = 96workstation ] &&  # by keys, keeping the default folder
            run keys wizard_host.exe "" "${walked[@]:0:3}" "target=C:\\Program Files\\$product" "${walked[@]:4}"
        run restart wizard_host.exe "$flag -restart" "result=1" "restartPageShown=1" "restartFlag=1" "restartCalls=1"
        run restart_failed wizard_host.exe "$flag -restart -fail" "result=1" "restartPageShown=1" \
            "restartFlag=0" "restartCalls=0"
        run failed wizard_host.exe "$flag -fail" "result=1" "restartPageShown=0"
        run failed_unrestored wizard_host.exe "$flag -fail -unrestored" "result=1" "restartPageShown=0"
        run restart_unrestored wizard_host.exe "$flag -restart -fail -unrestored" "result=1" "restartPageShown=1"
        run refused wizard_host.exe "$flag -refuse" "rc=0" "result=0"
        end_session
    done
done
# The longer edition name at 120 and 192: the walk and the closing pages with the longest texts.
for dpi in 120 192; do
    wizard_session "workstation_${dpi}dpi" "$dpi" workstation
    run walk wizard_host.exe "" "${walked[@]}" "fitCheck=1"
    run failed_unrestored wizard_host.exe "-fail -unrestored" "result=1" "restartPageShown=0"
    run restart_unrestored wizard_host.exe "-restart -fail -unrestored" "result=1" "restartPageShown=1"
    end_session
done
# A high-contrast theme: the pages answer the system's colours, also where red would be.
wizard_session contrast_96dpi 96 workstation contrast
run walk wizard_host.exe "-contrast" "${walked[@]}" "fitCheck=1"
run failed wizard_host.exe "-contrast -fail" "result=1" "restartPageShown=0"
end_session
# A page moved from 96 to 144 has the layout of a page started at 144.
for moved in "$shots"/*_96dpi_*_at144.layout; do
    started=${moved/_96dpi_/_144dpi_}
    started=${started%_at144.layout}.layout
    [ -f "$moved" ] && [ -f "$started" ] || continue
    if cmp -s "$moved" "$started"; then echo "ok: $(basename "$moved") is $(basename "$started")"
    else fail "$(basename "$moved") differs from $(basename "$started")"; diff "$moved" "$started"; fi
done
# Each program's manifest asks for per-monitor (v2) DPI awareness, else the system's.
aware='<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>'
awareness='<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, System<'
for program in wizard_host.exe tsport_workstation_setup.exe tsport_server_setup.exe; do
    [ -f "$windows/$program" ] || continue
    if grep -qaF "$aware" "$windows/$program" && grep -qaF "$awareness" "$windows/$program"; then
        echo "ok: DPI awareness in the manifest of $program"
    else fail "no DPI awareness in the manifest of $program"; fi
done
# The real installer, when it has been built: a whole interactive installation.
if [ -f "$windows/tsport_workstation_setup.exe" ]; then
    wizard_session installer 96 workstation
    run installer tsport_workstation_setup.exe "" "rc=0" "file:Tessaport/tessaportws.exe"
    end_session
fi
finish wizard "$work"
