#!/usr/bin/env bash
# uninstall_e2e.sh CASE WINDOWS_DIR TEMPLATE WORK_DIR
# The product's life on a machine under Wine: a real installer, then the installed
# uninstall.exe, in one Wine session (no restart between them) inside Xvfb beside
# box_watcher.exe, which records and presses every message box. Cases:
#   remove_workstation, remove_server      install, uninstall.exe -silent: the file tree, the
#                                          product's registry keys and services as before
#   reinstall_workstation, reinstall_server  install, uninstall, install again
#   interactive_workstation               install, uninstall.exe without switches: the
#                                          question and the result box
#   failed_upgrade_workstation, _server   install A, then a repacked B that fails late: A's
#                                          files, its running service, its Citrix support
#   links_workstation, squats_workstation  both programs as SYSTEM runs them (its temporary
#                                          folder every user can write), with hard links, or
#                                          files and a folder, made first at every name they
#                                          write there and beside the installer, and the
#                                          Citrix restart event made and signalled first
# Every run is bounded; the prefix is removed after a pass and kept after a failure.
set -uo pipefail
case_name=$1 windows=$(realpath -m "$2") work=$(realpath -m "$4")
source "$(dirname "$0")/lib.sh"
use_template "$(realpath -m "$3")"

case $case_name in
*_workstation)
    edition=workstation NAME=$WS KEY=$WS_KEY
    SERVICES_OF=(tessaportwssrv tsppnptls)
    PROGRAM_FILES=(tessaportws.exe tsport_rde_installer.exe tessaport-ws-license.txt readme.txt
        tessaport-ws-help.chm uninstall.exe tessaport-rdp-workstation-setup.log)
    ;;
*_server)
    edition=server NAME=$SV KEY=$SV_KEY
    SERVICES_OF=(tessaporttssrv tspvdbus)
    PROGRAM_FILES=(tessaportts.exe tessaport-ts-license.txt readme.txt tessaport-ts-help.chm uninstall.exe
        tessaport-rdp-server-setup.log)
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
new_prefix "$work/$case_name"
mkdir -p "$C/setup"
cp "$windows/tsport_${edition}_setup.exe" "$C/setup/setup.exe"
cp "$windows/file_holder.exe" "$C/file_holder.exe"
T="$C/Program Files/$NAME"
UNINSTALLER="C:\\Program Files\\$NAME\\uninstall.exe"
LOG=$TEMP_DIR/tessaport-rdp-$edition-uninstall.log

# steps STEP...: one Wine session beside the watcher running each step ("SECONDS|PROGRAM|ARGS",
# the program as a Windows path, run from C:\setup) in turn; a step whose SECONDS begin with
# "&" runs beside the next ones, for at most that long. Their exit codes in rcs.
steps() {
    local total n=0 spec seconds program args words
    total=$(printf '%s\n' "$@" | awk -F'|' '{ sub(/^&/, "", $1); s += $1 } END { print s + 30 }')
    for spec in "$@"; do
        IFS='|' read -r seconds program args <<<"$spec"
        n=$((n + 1))
        read -ra words <<<"$args"  # single words
        printf 'step %d %d setup %q' "$n" "${seconds#&}" "$program"
        [ ${#words[@]} -eq 0 ] || printf ' %q' "${words[@]}"
        [ "${seconds#&}" = "$seconds" ] || printf ' &\nsleep 2'
        echo
    done >"$prefix.plan"
    session $((total + 90)) < <(echo "watcher $total"; cat "$prefix.plan")
    rcs=()
    for ((n = 1; n <= $#; n++)); do rcs+=("$(rc "$n")"); done
}

expect_removed_log() {
    expect_file "$LOG"
    [ "$(tail -n 1 "$LOG" | tr -d '\r')" = "=== Uninstallation complete ===" ] ||
        fail "the uninstall log does not end complete: $(tail -n 3 "$LOG")"
    head -n 1 "$LOG" | grep -qF "$NAME uninstallation..." || fail "the uninstall log does not begin with its title"
    grep -q "Reboot required" "$LOG" && fail "the removal asked for a restart"
    # The copy that did the work is gone; the original moved out of the target folder.
    find "$TEMP_DIR" -name "tessaport-rdp-$edition-uninstall-*.exe" | grep -q . && fail "the temporary copy stayed"
    grep -q "^Move File: " "$LOG" || fail "the running uninstaller did not move out of the target folder"
}
expect_installed() {  # the product as one installation leaves it
    expect_key system.reg "$SERVICES\\\\${SERVICES_OF[0]}" "\"ImagePath\"=\"C:\\\\windows\\\\system32\\\\${SERVICES_OF[0]}.exe\""
    expect_key system.reg "$SERVICES\\\\${SERVICES_OF[0]}" '"Start"=dword:00000002'
    expect_key system.reg "$SERVICES\\\\${SERVICES_OF[1]}" '"Type"=dword:00000001'
    expect_key system.reg "$UNINSTALL\\\\$KEY" "\"DisplayName\"=\"$NAME\""
}

case $case_name in
remove_*)
    # A first session, so that what Wine itself changes at a session's start is in "before".
    steps "60|setup.exe|-silent"
    [ "${rcs[0]}" = 249 ] || fail "the first session's setup run ended with ${rcs[0]}, not 249"
    rm -f "$TEMP_DIR"/tessaport-rdp-*.log
    snapshot before
    steps "240|setup.exe|-silent -licenseaccept" "180|$UNINSTALLER|-silent"
    [ "${rcs[0]}" = 0 ] || fail "the installation ended with ${rcs[0]}"
    [ "${rcs[1]}" = 0 ] || fail "uninstall.exe -silent ended with ${rcs[1]}"
    [ -z "$boxes" ] || fail "-silent showed a window"
    expect_removed_log
    expect_no_file "$T"
    snapshot after
    compare before after
    ;;
reinstall_*)
    # -norestart: a second installation that needed a restart would show as 247, not restart.
    steps "240|setup.exe|-silent -licenseaccept" "180|$UNINSTALLER|-silent" \
        "240|setup.exe|-silent -licenseaccept -norestart"
    [ "${rcs[0]}" = 0 ] || fail "the first installation ended with ${rcs[0]}"
    [ "${rcs[1]}" = 0 ] || fail "uninstall.exe -silent ended with ${rcs[1]}"
    setup_log=$TEMP_DIR/tessaport-rdp-$edition-setup.log
    if [ "${rcs[2]}" != 0 ]; then
        fail "the installation right after the removal ended with ${rcs[2]}"
        [ -f "$setup_log" ] && { echo "its setup log:"; tr -d '\r' <"$setup_log"; }
    fi
    expect_file "$LOG"
    expect_installed
    grep -qF "Start Installed Service: ${SERVICES_OF[0]}" "$T/tessaport-rdp-$edition-setup.log" ||
        fail "the second installation did not start its service"
    # What the second installation met of the first one's services.
    grep -E "marked for delete|Reboot required" "$T/tessaport-rdp-$edition-setup.log" &&
        fail "the second installation met a service still marked for deletion or needed a restart"
    ;;
inuse_*)
    # A program file in use: it goes at the next start, which the removal asks for; with
    # -norestart that is exit code -9. The next Wine session is that start.
    steps "240|setup.exe|-silent -licenseaccept" "&60|C:\\file_holder.exe|C:\\Program+Files\\${NAME// /+}\\readme.txt 60 C:\\watch_stop" \
        "180|$UNINSTALLER|-silent -norestart"
    [ "${rcs[0]}" = 0 ] || fail "the installation ended with ${rcs[0]}"
    [ "${rcs[2]}" = 247 ] || fail "uninstall.exe -silent -norestart ended with ${rcs[2]}, not 247 (-9)"
    expect_file "$T/readme.txt"
    grep -q "Warning: === Reboot required to complete operation ===" "$LOG" || fail "no restart asked for"
    grep -q "Error: " "$LOG" && fail "something could not be removed"
    steps "60|setup.exe|-silent"
    expect_no_file "$T"
    ;;
failed_upgrade_*)
    # Version A installed; then a repacked version B fails late (a folder stands where its
    # web shortcut goes). Every file is A's again, A's service runs, and A's Citrix support
    # registration stands.
    B=$prefix.B
    mkdir -p "$B"
    while IFS='=' read -r entry path; do cp "$path" "$B/$entry"; done <"$windows/payload/${edition}_entries.txt"
    printf 'version B\r\n' >>"$B/readme.txt"
    printf 'version B' >>"$B/${PROGRAM_FILES[0]}"  # bytes behind the image: the same program still
    "$(dirname "$windows")/tsport_pack" --image "$windows/tsport_${edition}_setup_image.exe" \
        --output "$C/setup/setup_b.exe" --edition "$edition" --folder "$B" >"$prefix.pack.out" 2>&1 ||
        { fail "version B could not be packed"; cat "$prefix.pack.out"; }
    steps "240|setup.exe|-silent -licenseaccept"
    [ "${rcs[0]}" = 0 ] || fail "version A's installation ended with ${rcs[0]}"
    MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/$NAME"
    rm -f "$MENU/$NAME on Web.url"
    mkdir -p "$MENU/$NAME on Web.url"
    installed_sums "$NAME" >"$prefix.a.sums"
    grep -q "version B" "$T/readme.txt" && fail "version A's files are B's"
    steps "240|setup_b.exe|-silent -licenseaccept -norestart" "30|sc.exe|query ${SERVICES_OF[0]}"
    [ "${rcs[0]}" = 246 ] || fail "version B's failing installation ended with ${rcs[0]}, not 246 (-10)"
    grep -q "=== Rollback process ===" "$TEMP_DIR/tessaport-rdp-$edition-setup.log" || fail "no rollback in B's log"
    installed_sums "$NAME" >"$prefix.b.sums"
    expect_same_sums a b "files differ from A's"
    grep -q "STATE *: 4 *RUNNING" "$prefix.out.2" ||
        { fail "A's service ${SERVICES_OF[0]} does not run after the failed upgrade:"; cat "$prefix.out.2"; }
    if [ "$edition" = workstation ]; then
        # The Citrix stand-in's record: its last keyword is the registration again.
        last=$(grep "keyword: " "$TEMP_DIR/tsport_rde_installer.log" | tail -n 1 | tr -d '\r')
        [ "$last" = "keyword: RegisterCitrixDllEx" ] || fail "the Citrix support registration was not restored: '$last'"
        grep "keyword: " "$TEMP_DIR/tsport_rde_installer.log" | tr -d '\r' | tail -n 3 | paste -sd' ' |
            grep -qx "keyword: RegisterCitrixDllEx keyword: UnregisterCitrixDllEx keyword: RegisterCitrixDllEx" ||
            fail "B registered, the rollback unregistered, A's program registered again: not so"
    fi
    ;;
links_*|squats_*)
    # SYSTEM's temporary folder, which every user can write into.
    TEMP_DIR=$C/windows/temp
    LOG=$TEMP_DIR/tessaport-rdp-$edition-uninstall.log
    for variable in TEMP TMP; do
        timeout 60 wine reg add 'HKCU\Environment' /v "$variable" /d 'C:\windows\temp' /f >"$prefix.reg.out" 2>&1 ||
            fail "could not set $variable"
    done
    timeout 30 wineserver -k >/dev/null 2>&1
    setup_log=$TEMP_DIR/tessaport-rdp-$edition-setup.log
    beside_log=$C/setup/tessaport-rdp-$edition-setup.log
    names=("$setup_log" "$beside_log" "$LOG")
    mkdir -p "$C/victim"
    for i in 0 1 2; do
        printf 'victim %s' "$i" >"$C/victim/$i.txt"
        if [ "${case_name%%_*}" = links ]; then
            ln "$C/victim/$i.txt" "${names[i]}"
        elif [ "$i" != 2 ]; then
            mkdir -p "${names[i]}"  # nothing can be written at that name
        else
            printf 'squatter' >"${names[i]}"
        fi
    done
    # A program of the machine made the Citrix restart event first and signalled it.
    steps "&400|C:\\file_holder.exe|event:Global\\{3448EDF9-E4FA-4C0F-8137-13EE6B9D972E} 400 C:\\watch_stop" \
        "240|setup.exe|-silent -licenseaccept -norestart -log" "180|$UNINSTALLER|-silent -norestart"
    [ "${rcs[1]}" = 0 ] || fail "the installation ended with ${rcs[1]}, not 0 (247: the planted event was believed)"
    [ "${rcs[2]}" = 0 ] || fail "uninstall.exe -silent -norestart ended with ${rcs[2]}"
    for i in 0 1 2; do
        [ "$(cat "$C/victim/$i.txt")" = "victim $i" ] || fail "written through the link at ${names[i]}"
    done
    # The logs: every one somewhere, of its own, and the setup log says where it went.
    copy=$beside_log
    [ "${case_name%%_*}" = links ] ||
        copy=$(find "$C/setup" -maxdepth 1 -type f -name "tessaport-rdp-$edition-setup-*.log")
    for log in "$copy" "$LOG"; do
        [ -f "$log" ] && [ "$(stat -c %h "$log")" = 1 ] || { fail "no log of its own at $log"; continue; }
        grep -q "squatter" "$log" && fail "$log kept what was there before"
        head -n 3 "$log" | grep -qF "$NAME" || fail "$log does not begin with the product's title"
    done
    grep -qF "Warning: The restart event was there before, its signal is ignored" "$copy" ||
        fail "the setup log does not say that the event was not believed"
    if [ "${case_name%%_*}" = squats ]; then
        [ -d "$setup_log" ] && [ -d "$beside_log" ] || fail "a folder at a log's name was touched"
        grep -qF 'Warning: The log file'"'"'s name was taken, the log is: C:\windows\temp\tessaport-rdp-' "$copy" ||
            fail "the setup log does not say where it went"
        grep -qF 'Warning: The log file'"'"'s name was taken, the log copy is: C:\setup\tessaport-rdp-' "$copy" ||
            fail "the setup log does not say where its copy went"
    fi
    expect_removed_log
    find "$TEMP_DIR" -maxdepth 1 -name "tessaport-rdp-$edition-setup*.log" -type f | grep -q . &&
        fail "the setup log stayed in the temporary folder after a successful run"
    ;;
interactive_*)
    steps "240|setup.exe|-silent -licenseaccept" "180|$UNINSTALLER|"
    [ "${rcs[1]}" = 0 ] || fail "uninstall.exe ended with ${rcs[1]}"
    # The watcher presses the first button: Yes.
    expected=$(printf '%s\t%s\n%s\t%s' "$NAME" \
        "Do you want to remove $NAME and all of its components from this computer?" "$NAME" \
        "$NAME was removed from this computer.")
    [ "$boxes" = "$expected" ] || fail "the boxes were not the question and the result"
    expect_removed_log
    expect_no_file "$T"
    ;;
esac

finish "$case_name" "$prefix"
