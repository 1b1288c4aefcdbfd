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
case_name=$1 windows=$(realpath -m "$2") template=$(realpath -m "$3") work=$(realpath -m "$4")
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$template/.complete" ] || { echo "no template prefix at $template"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "missing file $1"; }
expect_no_file() { [ ! -e "$1" ] || fail "unexpected $1"; }

if [ "$case_name" = __session ]; then
    # Inside xvfb-run: the watcher first (it starts the Wine session), then each step of
    # $prefix.steps ("SECONDS|PROGRAM|ARGS", the program as a Windows path) in turn; a step
    # whose SECONDS begin with "&" runs beside the next ones, for at most that long.
    prefix=$3
    source "$here/wine_env.sh" "$prefix"
    C=$prefix/drive_c
    cp "$windows/box_watcher.exe" "$C/box_watcher.exe"
    cp "$windows/file_holder.exe" "$C/file_holder.exe"
    total=$(awk -F'|' '{ sub(/^&/, "", $1); s += $1 } END { print s + 30 }' "$prefix.steps")
    (cd "$C/setup" && timeout -k 5 $((total + 30)) wine 'C:\box_watcher.exe' 'C:\boxes.txt' 'C:\watch_stop' \
        "$total" >"$prefix.watch.out" 2>&1) &
    watcher=$!
    sleep 3
    n=0
    while IFS='|' read -r seconds program args; do
        n=$((n + 1))
        if [ "${seconds#&}" != "$seconds" ]; then
            # shellcheck disable=SC2086
            (cd "$C/setup" && timeout -k 5 "${seconds#&}" wine "$program" $args >"$prefix.out.$n" 2>"$prefix.err.$n") &
            echo started >"$prefix.rc.$n"
            sleep 2
            continue
        fi
        start=$(date +%s.%N)
        # shellcheck disable=SC2086  # the arguments are single words
        (cd "$C/setup" && timeout -k 10 "$seconds" wine "$program" $args >"$prefix.out.$n" 2>"$prefix.err.$n")
        echo $? >"$prefix.rc.$n"
        end=$(date +%s.%N)
        awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }' >"$prefix.time.$n"
    done <"$prefix.steps"
    sleep 1
    touch "$C/watch_stop"
    wait
    timeout 30 wineserver -k >/dev/null 2>&1  # this prefix's server only
    exit 0
fi

prefix=$work/$case_name
rm -rf "$prefix" "$prefix".*
mkdir -p "$work"
cp -a "$template" "$prefix"
source "$here/wine_env.sh" "$prefix"
C=$prefix/drive_c
mkdir -p "$C/setup"
TEMP_DIR=$C/users/root/Temp

case $case_name in
*_workstation)
    edition=workstation NAME="Tessaport RDP Edition - Workstation" KEY="{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}"
    SERVICES_OF=(tessaportwssrv tsppnptls)
    PROGRAM_FILES=(tessaportws.exe tsport_rde_installer.exe tessaport-ws-license.txt readme.txt
        tessaport-ws-help.chm uninstall.exe tessaport-rdp-workstation-setup.log)
    ;;
*_server)
    edition=server NAME="Tessaport RDP Edition - Server" KEY="{961AE5EE-E9BB-427e-BF8B-0C83AB73959F}"
    SERVICES_OF=(tessaporttssrv tspvdbus)
    PROGRAM_FILES=(tessaportts.exe tessaport-ts-license.txt readme.txt tessaport-ts-help.chm uninstall.exe
        tessaport-rdp-server-setup.log)
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
cp "$windows/tsport_${edition}_setup.exe" "$C/setup/setup.exe"
T="$C/Program Files/$NAME"
UNINSTALLER="C:\\Program Files\\$NAME\\uninstall.exe"
LOG=$TEMP_DIR/tessaport-rdp-$edition-uninstall.log

# session STEP...: one Wine session running each step ("SECONDS|PROGRAM|ARGS") in turn.
session() {
    rm -f "$C/boxes.txt" "$C/watch_stop" "$prefix".rc.* "$prefix".time.*
    printf '%s\n' "$@" >"$prefix.steps"
    local total
    total=$(awk -F'|' '{ sub(/^&/, "", $1); s += $1 } END { print s + 120 }' "$prefix.steps")
    timeout -k 10 "$total" xvfb-run -a -s "-screen 0 1024x768x24" \
        bash "$here/uninstall_e2e.sh" __session "$windows" "$prefix" >"$prefix.session.out" 2>"$prefix.session.err"
    rcs=()
    local n
    for ((n = 1; n <= $#; n++)); do
        rcs+=("$(cat "$prefix.rc.$n" 2>/dev/null || echo none)")
        echo "step $n (${!n}): exit ${rcs[n - 1]}, $(cat "$prefix.time.$n" 2>/dev/null)s"
    done
    boxes=$(cat "$C/boxes.txt" 2>/dev/null || true)
    [ -z "$boxes" ] || printf 'boxes:\n%s\n' "$boxes"
}

# The machine as the tests compare it: every file and folder, and the machine's registry
# hive (HKLM, with its services and the uninstall entries). Left out: the temporary folder,
# which keeps the logs; the watcher's files; what Wine rewrites at every session's start
# (time stamps, the display and monitor classes); the list of operations left for the next
# start; blank lines. Two things stay by design of Windows and Wine rather than the
# product's: the class key of the bus driver's device interface under
# Control\DeviceClasses, which the Plug and Play manager makes when the driver enables the
# interface and keeps (its device entries below it go with the devices, and stay checked);
# and the INF's catalogue in catroot, which Wine's SetupCopyOEMInfA copies there and Wine's
# SetupUninstallOEMInfA never takes out again (Windows' removes it with the INF).
snapshot() {
    (cd "$C" && find . -path ./users/root/Temp -prune -o \( -name boxes.txt -o -name watch_stop \
        -o -name box_watcher.exe \) -prune -o -print | sort |
        grep -v '^\./windows/system32/catroot/{f750e6c3-38ee-11d1-85e5-00c04fc295ee}\(/tspvd\(bus\)\?\.cat\)\?$'
    ) >"$prefix.$1.files"
    sed -E 's/^(\[.*\]) [0-9]+$/\1/; /^#time=/d; /^$/d' "$prefix/system.reg" |
        grep -vix '\[System\\\\CurrentControlSet\\\\Control\\\\DeviceClasses\\\\{83E9C3E5-0135-473A-9D2F-CB040E85AA1A}\]' |
        awk '/^\[/ { skip = (tolower($0) ~ /class\\\\\{4d36e96[8e]-/) }
             /^"PendingFileRenameOperations"=/ { pending = ($0 ~ /\\$/); next }
             pending { if ($0 !~ /\\$/) pending = 0; next }
             !skip' >"$prefix.$1.system.reg"
}
compare() {  # before after
    if ! diff "$prefix.$1.files" "$prefix.$2.files" >"$prefix.files.diff"; then
        fail "the file tree differs:"; cat "$prefix.files.diff"
    fi
    if ! diff "$prefix.$1.system.reg" "$prefix.$2.system.reg" >"$prefix.system.reg.diff"; then
        fail "the registry differs:"; cat "$prefix.system.reg.diff"
    fi
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
# A key of the machine's hive as the hive file writes it (backslashes doubled), and the
# block of its values, compared without regard to case.
reg_block() {
    E2E_KEY="[$1]" awk '
        BEGIN { k = tolower(ENVIRON["E2E_KEY"]) }
        /^\[/ { p = (index(tolower($0), k) == 1); next }
        p' "$prefix/system.reg"
}
expect_value() {  # key value-line
    reg_block "$1" | grep -qiF -- "$2" || fail "key $1 lacks $2"
}
expect_installed() {  # the product as one installation leaves it
    local services='System\\CurrentControlSet\\Services'
    expect_value "$services\\\\${SERVICES_OF[0]}" "\"ImagePath\"=\"C:\\\\windows\\\\system32\\\\${SERVICES_OF[0]}.exe\""
    expect_value "$services\\\\${SERVICES_OF[0]}" '"Start"=dword:00000002'
    expect_value "$services\\\\${SERVICES_OF[1]}" '"Type"=dword:00000001'
    expect_value 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\'"$KEY" "\"DisplayName\"=\"$NAME\""
}

case $case_name in
remove_*)
    # A first session, so that what Wine itself changes at a session's start is in "before".
    session "60|setup.exe|-silent"
    [ "${rcs[0]}" = 249 ] || fail "the first session's setup run ended with ${rcs[0]}, not 249"
    rm -f "$TEMP_DIR"/tessaport-rdp-*.log
    snapshot before
    session "240|setup.exe|-silent -licenseaccept" "180|$UNINSTALLER|-silent"
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
    session "240|setup.exe|-silent -licenseaccept" "180|$UNINSTALLER|-silent" \
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
    session "240|setup.exe|-silent -licenseaccept" "&60|C:\\file_holder.exe|C:\\Program+Files\\${NAME// /+}\\readme.txt 60 C:\\watch_stop" \
        "180|$UNINSTALLER|-silent -norestart"
    [ "${rcs[0]}" = 0 ] || fail "the installation ended with ${rcs[0]}"
    [ "${rcs[2]}" = 247 ] || fail "uninstall.exe -silent -norestart ended with ${rcs[2]}, not 247 (-9)"
    expect_file "$T/readme.txt"
    grep -q "Warning: === Reboot required to complete operation ===" "$LOG" || fail "no restart asked for"
    grep -q "Error: " "$LOG" && fail "something could not be removed"
    session "60|setup.exe|-silent"
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
    session "240|setup.exe|-silent -licenseaccept"
    [ "${rcs[0]}" = 0 ] || fail "version A's installation ended with ${rcs[0]}"
    MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/$NAME"
    rm -f "$MENU/$NAME on Web.url"
    mkdir -p "$MENU/$NAME on Web.url"
    sums() { (cd "$C" && find "./Program Files/$NAME" ./windows/system32 -type f ! -name '*.log' ! -name '*.tmp.backup' \
        -newer "$C/setup/setup.exe" -exec md5sum {} + | sort -k2); }
    sums >"$prefix.a.sums"
    grep -q "version B" "$T/readme.txt" && fail "version A's files are B's"
    session "240|setup_b.exe|-silent -licenseaccept -norestart" "30|sc.exe|query ${SERVICES_OF[0]}"
    [ "${rcs[0]}" = 246 ] || fail "version B's failing installation ended with ${rcs[0]}, not 246 (-10)"
    grep -q "=== Rollback process ===" "$TEMP_DIR/tessaport-rdp-$edition-setup.log" || fail "no rollback in B's log"
    sums >"$prefix.b.sums"
    diff "$prefix.a.sums" "$prefix.b.sums" >"$prefix.sums.diff" || { fail "files differ from A's:"; cat "$prefix.sums.diff"; }
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
    session "&400|C:\\file_holder.exe|event:Global\\{3448EDF9-E4FA-4C0F-8137-13EE6B9D972E} 400 C:\\watch_stop" \
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
    session "240|setup.exe|-silent -licenseaccept" "180|$UNINSTALLER|"
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

if [ "$failures" -eq 0 ]; then
    rm -rf "$prefix" "$prefix".*
    echo "PASS $case_name"
    exit 0
fi
echo "$failures failure(s); prefix kept at $prefix"
exit 1
