#!/usr/bin/env bash
# installer_e2e.sh CASE WINDOWS_DIR TEMPLATE WORK_DIR
# One end-to-end case of a real installer under Wine: a fresh copy of the template prefix,
# the installer copied to C:\setup and run from there with switches inside an Xvfb session,
# beside box_watcher.exe, which records and presses every message box. Then the exit code,
# the boxes and the machine's files and registry hives are checked. Every run is bounded;
# the prefix is removed after a pass and kept after a failure.
set -uo pipefail
case_name=$1 windows=$2 work=$4
source "$(dirname "$0")/lib.sh"
use_template "$3"

fresh() {  # fresh EXE
    new_prefix "$work/$case_name"
    mkdir -p "$C/setup"
    cp "$1" "$C/setup/setup.exe"
}

# A REG_MULTI_SZ of names as the hive file writes it: UTF-16 names, each with its zero, then a
# final zero. Wine writes a well-formed one as str(7) text without the final zero, and any
# other as hex(7) bytes; both forms name exactly the same bytes.
multi_sz_forms() {
    local text="" hex="hex(7):" name i
    for name in "$@"; do
        text+="$name\\0"
        for ((i = 0; i < ${#name}; i++)); do hex+=$(printf '%02x,00,' "'${name:i:1}"); done
        hex+="00,00,"
    done
    printf 'str(7):"%s"\n%s\n' "$text" "${hex}00,00"
}
expect_dependencies() {  # service names...
    local service=$1 got
    shift
    got=$(reg_value system.reg "$SERVICES\\\\$service" DependOnService)
    grep -qxF -- "$got" <(multi_sz_forms "$@") ||
        fail "DependOnService of $service is '$got', expected exactly the list: $*"
}
# The host's path of a file named by its Windows path in the prefix, whose letter case
# Windows ignores and the host does not.
host_path() {
    local dir=$C part match IFS='\'
    for part in ${1#[Cc]:\\}; do
        match=$(find "$dir" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit 2>/dev/null)
        [ -n "$match" ] || return 1
        dir=$match
    done
    [ -f "$dir" ] && printf '%s\n' "$dir"
}

# What the uninstall entry tells Windows and deployment tools, with its types: the version
# numbers, the product's page, the date of the run (one of the dates given) and the size of
# what the setup log says was installed.
expect_deployment_values() {  # key setup-log date...
    local key="$UNINSTALL\\\\$1" log=$2 name expected got file path sum=0 kib
    shift 2
    local page='"http://www.velotrinex.com/tessaport-rdp/"'
    for expected in VersionMajor=dword:00000003 VersionMinor=dword:00000007 URLInfoAbout=$page HelpLink=$page; do
        name=${expected%%=*} got=$(reg_value system.reg "$key" "${expected%%=*}")
        [ "$got" = "${expected#*=}" ] || fail "$name is '$got', not ${expected#*=}"
    done
    got=$(reg_value system.reg "$key" InstallDate)
    grep -qxF -- "$got" <(printf '"%s"\n' "$@") || fail "InstallDate is '$got', not the date of the run ($*)"
    while IFS= read -r file; do
        path=$(host_path "$file") || { fail "installed file $file is not there"; continue; }
        sum=$((sum + $(stat -c %s "$path")))
    done < <(tr -d '\r' <"$log" | sed -n 's/^Install File: //p')
    got=$(reg_value system.reg "$key" EstimatedSize)
    [[ $got =~ ^dword:[0-9a-f]{8}$ ]] || { fail "EstimatedSize is not a REG_DWORD: '$got'"; return; }
    kib=$((16#${got#dword:}))
    echo "EstimatedSize $kib KiB; the installed files: $sum bytes"
    [ "$sum" -gt 0 ] && [ $((kib * 1024 * 100)) -ge $((sum * 95)) ] && [ $((kib * 1024 * 100)) -le $((sum * 105)) ] ||
        fail "EstimatedSize $kib KiB is not within 5% of the installed files' $sum bytes"
}

ws_exe=$windows/tsport_workstation_setup.exe
sv_exe=$windows/tsport_server_setup.exe

case $case_name in
silent_workstation)
    fresh "$ws_exe"
    MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs"
    day=$(date +%Y%m%d)
    run_setup 240 -silent -licenseaccept -log
    expect_rc 0
    expect_no_box
    T="$C/Program Files/$WS"
    for f in tessaportws.exe tsport_rde_installer.exe tessaport-ws-license.txt readme.txt tessaport-ws-help.chm \
        uninstall.exe tessaport-rdp-workstation-setup.log; do expect_file "$T/$f"; done
    expect_file "$C/windows/system32/tessaportwssrv.exe"
    expect_file "$C/windows/system32/drivers/tsppnptls.sys"
    expect_key system.reg "$SERVICES\\\\tessaportwssrv" '"ImagePath"'
    expect_dependencies tessaportwssrv tsppnptls
    expect_key system.reg "$SERVICES\\\\tsppnptls" '"Type"=dword:00000001'
    expect_file "$C/windows/system32/drivers/tspvd.sys"
    expect_key system.reg "$UNINSTALL\\\\$WS_KEY" "\"DisplayName\"=\"$WS\""
    expect_key system.reg "$UNINSTALL\\\\$WS_KEY" '"UninstallString"'
    expect_deployment_values "$WS_KEY" "$T/tessaport-rdp-workstation-setup.log" \
        "$day" "$(date +%Y%m%d)"
    expect_file "$MENU/$WS/$WS.lnk"
    expect_file "$MENU/$WS/$WS Uninstall Wizard.lnk"
    expect_file "$MENU/$WS/$WS on Web.url"
    expect_file "$C/users/Public/Desktop/$WS.lnk"
    expect_file "$C/setup/tessaport-rdp-workstation-setup.log"
    expect_no_file "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    cmp -s "$C/setup/tessaport-rdp-workstation-setup.log" "$T/tessaport-rdp-workstation-setup.log" ||
        fail "the log beside the installer differs from the one in the target folder"
    ;;
silent_server)
    fresh "$sv_exe"
    MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs"
    day=$(date +%Y%m%d)
    run_setup 240 -silent -licenseaccept
    expect_rc 0
    expect_no_box
    T="$C/Program Files/$SV"
    for f in tessaportts.exe tessaport-ts-license.txt readme.txt tessaport-ts-help.chm uninstall.exe \
        tessaport-rdp-server-setup.log; do expect_file "$T/$f"; done
    expect_file "$C/windows/system32/tessaporttssrv.exe"
    expect_key system.reg "$SERVICES\\\\tessaporttssrv" '"ImagePath"'
    expect_key system.reg "$SERVICES\\\\tspvdbus" '"Type"=dword:00000001'
    expect_dependencies tessaporttssrv tspvdbus
    grep -qi '"Service"="tspvdbus"' "$prefix/system.reg" || fail "no device of the tspvdbus driver"
    expect_key system.reg "$UNINSTALL\\\\$SV_KEY" "\"DisplayName\"=\"$SV\""
    expect_deployment_values "$SV_KEY" "$T/tessaport-rdp-server-setup.log" \
        "$day" "$(date +%Y%m%d)"
    expect_file "$MENU/$SV/$SV.lnk"
    expect_file "$C/users/Public/Desktop/$SV.lnk"
    expect_no_file "$TEMP_DIR/tessaport-rdp-server-setup.log"
    expect_no_file "$C/setup/tessaport-rdp-server-setup.log"
    ;;
no_licence)
    fresh "$ws_exe"
    run_setup 60 -silent
    expect_rc 249
    expect_no_box
    expect_file "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    expect_no_file "$C/Program Files/$WS"
    run_setup 60 -SILENT -im
    expect_rc 249
    expect_box "$WS	You must accept the license to install $WS!"
    ;;
damaged)
    fresh "$ws_exe"
    # One byte near the end of the package: inside the last entry's compressed data.
    size=$(stat -c %s "$C/setup/setup.exe")
    old=$(od -An -tx1 -j $((size - 40)) -N1 "$C/setup/setup.exe" | tr -d ' ')
    printf "\\x$(printf %02x $((0x$old ^ 0xff)))" | dd of="$C/setup/setup.exe" bs=1 seek=$((size - 40)) \
        conv=notrunc status=none
    cmp -s "$ws_exe" "$C/setup/setup.exe" && fail "the copy was not damaged"
    run_setup 60 -silent -licenseaccept
    expect_rc 248
    expect_no_box
    expect_no_file "$C/Program Files/$WS"
    run_setup 60 -silent -licenseaccept -im
    expect_rc 248
    expect_box "Installation package is damaged! Please download the latest version of $WS from our web site"
    ;;
failing)
    fresh "$ws_exe"
    T="$C/Program Files/$WS"
    # A first session, so that what Wine itself changes at a session's start is in "before".
    run_setup 60 -silent
    expect_rc 249
    rm -f "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    mkdir -p "$T/readme.txt"
    snapshot before
    # Silent without -im: no box at all, the error only in the log, the rollback at once.
    run_setup 240 -silent -licenseaccept
    expect_rc 246
    expect_no_box
    expect_file "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    grep -q "^Error during installation\.$" "$TEMP_DIR/tessaport-rdp-workstation-setup.log" ||
        fail "the error is not in the log"
    grep -q "=== Rollback process ===" "$TEMP_DIR/tessaport-rdp-workstation-setup.log" || fail "no rollback in the log"
    expect_no_file "$T/tessaport-rdp-workstation-setup.log"
    snapshot after
    compare before after
    cmp -s "$prefix.before.pending" "$prefix.after.pending" ||
        fail "operations left for the next start: $(cat "$prefix.after.pending")"
    # With messages: the application opens the log and asks for it to be sent.
    run_setup 240 -silent -licenseaccept -im
    expect_rc 246
    expect_box "Error during installation.\nError code = 0x"
    expect_box "$WS	To resolve installation issue please send installation log file [C:\users\root\Temp\tessaport-rdp-workstation-setup.log] to our support team."
    ;;
unpack)
    fresh "$ws_exe"
    run_setup 120 -unpack
    expect_rc 0
    expect_no_box
    U="$C/setup/$WS files"
    for f in tessaportwssrv.exe tessaportws.exe tessaport-ws-license.txt tessaport-ws-license.rtf uninstall.exe \
        readme.txt tessaport-ws-help.chm tspvd.inf tspvd.cat tspvd_vista.cat tspvd.sys tspvd_vista.sys \
        tsppnptls.sys tsprdpclnt.dll tspctxclnt.dll tsprdpclnt_x86_64.dll; do expect_file "$U/$f"; done
    [ "$(ls "$U" | wc -l)" = 16 ] || fail "extract folder holds $(ls "$U" | wc -l) files, not 16"
    expect_no_file "$C/Program Files/$WS"
    expect_no_file "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    # A second run finds the folder: a failed run, which scripts must see, and its log stays.
    run_setup 120 -unpack -log
    expect_rc 246
    expect_box "Error arg0 = 0x100000fd"
    expect_box "To resolve installation issue please send installation log file"
    expect_no_file "$C/setup/tessaport-rdp-workstation-setup.log"
    expect_file "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    grep -qi "0x100000fd" "$TEMP_DIR/tessaport-rdp-workstation-setup.log" || fail "the log lacks the failure"
    # A damaged package: nothing to extract, and silent means no box.
    rm -rf "$U" "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    size=$(stat -c %s "$C/setup/setup.exe")
    printf '\x00\x00\x00\x00' | dd of="$C/setup/setup.exe" bs=1 seek=$((size - 40)) conv=notrunc status=none
    run_setup 120 -unpack -silent
    expect_rc 246
    expect_no_box
    grep -qi "0x10000105" "$TEMP_DIR/tessaport-rdp-workstation-setup.log" || fail "the log lacks the damaged package"
    ;;
failing_unattended)
    # An upgrade that fails late, run as a deployment tool runs it: a desktop, nobody at it,
    # no -im. It must roll back at once and end, leaving the installed version's files.
    fresh "$ws_exe"
    T="$C/Program Files/$WS"
    MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/$WS"
    run_setup 240 -silent -licenseaccept
    expect_rc 0
    rm -f "$MENU/$WS on Web.url"
    mkdir -p "$MENU/$WS on Web.url"
    installed_sums "$WS" >"$prefix.before.sums"
    export E2E_UNATTENDED=1
    run_setup 120 -silent -licenseaccept
    unset E2E_UNATTENDED
    expect_rc 246
    log=$TEMP_DIR/tessaport-rdp-workstation-setup.log
    grep -q "=== Rollback process ===" "$log" || fail "no rollback in the log"
    installed_sums "$WS" >"$prefix.after.sums"
    expect_same_sums before after "the installed files changed"
    leftovers=$(cd "$C" && find . -name '*.tmp' | head -5)
    [ -z "$leftovers" ] || fail "temporary files left: $leftovers"
    # The loaded driver's old file could not be put back at once: its restore waits for the
    # restart, which the run then asks for. (Wine's restart carries the move out while the
    # driver is still loaded, so the move fails and the backup stays: a copy of the file.)
    if grep -q "Warning: === Reboot required" "$log"; then
        grep -q "^Restart System" "$log" || fail "a rollback that deferred a restore did not restart"
    fi
    while IFS= read -r backup; do
        original=${backup%_????????.tmp.backup}
        cmp -s "$backup" "$original" || fail "backup $backup differs from $original"
    done < <(find "$C" -name '*.tmp.backup')
    ;;
failed_restart)
    # A run that asked for a restart (the Citrix step) and then failed late ends as failed.
    fresh "$ws_exe"
    MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/$WS"
    mkdir -p "$MENU/$WS on Web.url"
    export TSP_RDE_STANDIN_ACTION=restart
    run_setup 240 -silent -licenseaccept -norestart -im
    unset TSP_RDE_STANDIN_ACTION
    expect_rc 246
    expect_box "$WS	Error during installation.\nError code = 0x"
    expect_box "To resolve installation issue please send installation log file"
    grep -q "You must restart\|you must restart" <<<"$boxes" && fail "a failed run offered itself as installed"
    expect_file "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    expect_no_file "$C/Program Files/$WS/tessaportws.exe"
    ;;
advlog)
    fresh "$ws_exe"
    # Wine keeps no SetupAPI log and no "LogLevel": give the machine both, and let the
    # SetupAPI log grow while the installer runs, as driver installation does on Windows.
    printf '\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Setup] 1700000000\n"LogLevel"=dword:00000020\n' \
        >>"$prefix/system.reg"
    setupapi_log=$C/windows/inf/setupapi.dev.log
    printf 'line written before the run\r\n' >"$setupapi_log"
    (for i in $(seq 1 300); do printf 'grown during the run %d\r\n' "$i" >>"$setupapi_log"; sleep 0.1; done) &
    grower=$!
    run_setup 240 -silent -licenseaccept -advlog
    kill "$grower" 2>/dev/null; wait "$grower" 2>/dev/null
    expect_rc 0
    expect_no_box
    log="$C/Program Files/$WS/tessaport-rdp-workstation-setup.log"
    expect_file "$log"
    after=$(reg_value system.reg 'Software\\Microsoft\\Windows\\CurrentVersion\\Setup' LogLevel)
    [ "$after" = dword:00000020 ] || fail "LogLevel not restored: '$after'"
    grep -q "==== SetupApi log begin ====" "$log" || fail "no SetupAPI block in the setup log"
    grep -q "===== SetupApi log end =====" "$log" || fail "no end marker in the setup log"
    grep -q "grown during the run" "$log" || fail "the SetupAPI log's growth was not copied"
    grep -q "line written before the run" "$log" && fail "bytes from before the run were copied"
    ;;
norestart)
    fresh "$ws_exe"
    export TSP_RDE_STANDIN_ACTION=restart
    run_setup 240 -silent -licenseaccept -norestart -im
    unset TSP_RDE_STANDIN_ACTION
    expect_rc 247
    expect_box "$WS	To complete the installation of $WS, you must restart your computer."
    expect_file "$C/Program Files/$WS/tessaportws.exe"
    expect_file "$TEMP_DIR/tessaport-rdp-workstation-setup.log"
    expect_no_file "$C/Program Files/$WS/tessaport-rdp-workstation-setup.log"
    ;;
server_win2k)
    fresh "$sv_exe"
    export E2E_WINE_VERSION=win2k
    run_setup 60 -silent -licenseaccept
    expect_rc 255
    expect_no_box
    expect_no_file "$TEMP_DIR/tessaport-rdp-server-setup.log"
    run_setup 60
    expect_rc 255
    expect_box "$SV	This program requires Windows 2000 SP4 or newer."
    expect_no_file "$TEMP_DIR/tessaport-rdp-server-setup.log"
    unset E2E_WINE_VERSION
    ;;
server_winxp)
    fresh "$sv_exe"
    export E2E_WINE_VERSION=winxp64
    run_setup 240 -silent -licenseaccept
    unset E2E_WINE_VERSION
    expect_rc 0
    expect_no_box
    expect_file "$C/Program Files/$SV/tessaportts.exe"
    expect_file "$C/Program Files/$SV/tessaport-rdp-server-setup.log"
    expect_key system.reg "$SERVICES\\\\tessaporttssrv" '"ImagePath"'
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

finish "$case_name" "$prefix"
