#!/usr/bin/env bash
# planting_sweep.sh ROAD WINDOWS_DIR TEMPLATE WORK_DIR
# DLL planting under Wine: a marker DLL (planted/NAME.dll, see planting.cmake) under every
# name a shipped program loads that is not a KnownDLL, put where an ordinary user can write
# and the program looks first, and the program run with "NAME=n,b" for each, which makes
# Wine search as Windows does for a DLL that is not a KnownDLL: the program's own folder
# first. Every marker that loads appends a line to C:\tsp_markers.txt. Roads:
#   silent_workstation, silent_server  setup.exe -silent -licenseaccept from C:\dl
#   wizard_workstation                 setup.exe from C:\dl, walked to its finish page
#   uninstall_workstation, _server     uninstall.exe -silent as SYSTEM runs it (its TEMP is
#                                      C:\windows\temp), markers there and beside it
#   resume_workstation                 the run RunOnce holds after an installation that met
#                                      a service marked for deletion, after the restart
# Passes when no marker loaded, the run succeeded, and every DLL that is not a KnownDLL that
# the road's programs loaded (WINEDEBUG=+loaddll) had a marker planted under its name.
# Every run is bounded; the prefix is removed after a pass and kept after a failure.
set -uo pipefail
road=$1 windows=$(realpath -m "$2") work=$(realpath -m "${4:-.}")
source "$(dirname "$0")/lib.sh"
use_template "$(realpath -m "$3")"

# Names Wine loads beside the program whatever the program does, so that no program could
# keep a marker under them out; none is planted. What Wine's own KnownDLLs import and
# Windows' do not (Windows takes every import of a KnownDLL from the system folder): the
# core below kernel32, the C runtime and zlib Wine's DLLs are built on, and version (Wine's
# user32 and setupapi import it).
WINE_CORE=" ntdll kernelbase win32u ucrtbase zlib1 version "
# And wintrust, which Wine's setupapi loads when it is first needed (delay-loaded), with
# crypt32 and bcrypt that it imports: Wine looks for these in the order the program started
# with even after the program asked for the system folder only (SetDefaultDllDirectories);
# Windows honours that request for such loads.
WINE_LATE=" wintrust crypt32 bcrypt "
planted=$(tr 'A-Z' 'a-z' <"$windows/planted/names.txt")

fresh() {  # INSTALLER
    new_prefix "$work/$road"
    mkdir -p "$C/dl"
    cp "$1" "$C/dl/setup.exe"  # a download folder
}
# Inside a road's session also: planted_step N SECONDS FOLDER PROGRAM ARGS..., a step with the
# markers' names native first and Wine's record of every DLL load; plant FOLDER (under drive_c).
planted_step() {
    WINEDEBUG=+pid,+loaddll WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(echo $planted | tr ' ' ,)=n,b" STEP_ERR=loaddll \
        step "$@"
}
plant() {
    mkdir -p "$C/$1"
    local name
    for name in $planted; do cp "$windows/planted/$name.dll" "$C/$1/"; done
    echo "planted in C:/$1: $(echo $planted)" >>"$prefix.planted"
}
# road_session SECONDS < STEPS: the road's steps in one Wine session under Xvfb. The steps
# start the message-box watcher themselves where the road wants one (the wizard's pages
# are dialogs that the watcher would press).
road_session() {
    { declare -p planted; declare -f planted_step plant; cat; } >"$prefix.road"
    session "$1" 1280x1024x24 <"$prefix.road"
}
# What the road's programs loaded, from Wine's record: "program|dll|path|builtin or native"
# for every DLL load by a process whose program matches PATTERN (a case-insensitive
# extended regular expression on its Windows path).
loads() {
    cat "$prefix".loaddll.* 2>/dev/null | PATTERN=$1 awk '
        /:trace:loaddll:/ && /Loaded L"/ {
            split($1, ids, ":"); pid = ids[1]
            match($0, /Loaded L"[^"]*"/); path = substr($0, RSTART + 9, RLENGTH - 10); gsub(/\\\\/, "\\", path)
            if (!(pid in program)) program[pid] = path
            if (tolower(program[pid]) !~ tolower(ENVIRON["PATTERN"]) || path == program[pid]) next
            n = split(path, parts, "\\"); dll = tolower(parts[n]); sub(/\.[^.]*$/, "", dll)
            print program[pid] "|" dll "|" path "|" $NF
        }' | sort -u
}
# The checks every road ends with.
check_planting() {  # PATTERN of the road's programs
    local listing
    listing=$(loads "$1")
    if [ -z "$listing" ]; then
        fail "no DLL load recorded for a program matching $1"
    else
        echo "DLLs loaded that are not KnownDLLs (program | name | from | kind):"
    fi
    local program dll path kind
    while IFS='|' read -r program dll path kind; do
        [ -n "$dll" ] || continue
        [[ "$KNOWN_DLLS" == *" $dll "* || "$WINE_CORE" == *" $dll "* || "$path" == *.drv ]] && continue
        if [[ "$WINE_LATE" == *" $dll "* ]]; then
            echo "  $program | $dll | $path | $kind (Wine's own loading, not planted)"
            continue
        fi
        echo "  $program | $dll | $path | $kind"
        grep -qx -- "$dll" <<<"$planted" || fail "$program loaded $dll ($path), which has no planted marker"
    done <<<"$listing"
    if [ -e "$C/tsp_markers.txt" ]; then
        fail "planted DLLs were loaded (DLL, program):"
        tr -d '\r' <"$C/tsp_markers.txt" | sort | uniq -c | sed 's/^/    /'
    else
        echo "no planted DLL was loaded"
    fi
    expect_no_box
}

case $road in
silent_workstation | silent_server)
    edition=${road#silent_}
    fresh "$windows/tsport_${edition}_setup.exe"
    road_session 300 <<'EOF'
watcher 250
plant dl
planted_step 1 240 dl setup.exe -silent -licenseaccept
EOF
    expect_rc 0 1 "setup.exe -silent -licenseaccept"
    key=$WS_KEY
    [ "$edition" = server ] && key=$SV_KEY
    expect_key system.reg "$UNINSTALL\\\\$key"
    check_planting '^c:\\dl\\'
    ;;
wizard_workstation)
    fresh "$windows/tsport_workstation_setup.exe"
    cp "$windows/wizard_driver.exe" "$C/"
    mkdir -p "$C/shots"
    # A virtual desktop, where the driver finds the wizard (and no window waits for a
    # window manager).
    printf '%s\r\n' REGEDIT4 "" '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' "" \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1200x1000"' >"$C/desktop.reg"
    road_session 300 <<'EOF'
wineserver -p
step 0 60 . reg import 'C:\desktop.reg'
plant dl
planted_step 1 240 dl setup.exe &
sleep 1
step 2 230 . 'C:\wizard_driver.exe' installer 'C:\shots' workstation
# The wizard ends soon after its finish page; what keeps it (a message box) is recorded.
for i in $(seq 1 150); do [ -e "$prefix.rc.1" ] && break; sleep 0.2; done
if [ ! -e "$prefix.rc.1" ]; then watcher 10; sleep 10; fi
[ -e "$prefix.rc.1" ] || timeout 30 wineserver -k
wait
EOF
    expect_rc 0 2 "the wizard's driver (the wizard to its finish page)"
    [ "$(rc 2)" = 0 ] || grep -v '^ok:' "$prefix.out.2"
    expect_rc 0 1 "setup.exe"
    [ -f "$C/Tessaport/tessaportws.exe" ] || fail "nothing installed in C:\\Tessaport"
    # Launch was left checked: the program is the user's, started by the desktop shell.
    grep -q '^Started for the user by the desktop shell: C:\\Tessaport\\tessaportws\.exe' \
        "$C/Tessaport/tessaport-rdp-workstation-setup.log" || fail "the program was not started by the desktop shell"
    check_planting '^c:\\dl\\'
    ;;
uninstall_workstation | uninstall_server)
    edition=${road#uninstall_}
    name=$WS key=$WS_KEY
    [ "$edition" = server ] && name=$SV key=$SV_KEY
    fresh "$windows/tsport_${edition}_setup.exe"
    # A deployment tool's run as SYSTEM: its temporary folder is C:\windows\temp.
    road_session 420 <<EOF
watcher 400
step 1 240 dl setup.exe -silent -licenseaccept
step 2 30 . reg add 'HKCU\\Environment' /v TEMP /d 'C:\\windows\\temp' /f
step 3 30 . reg add 'HKCU\\Environment' /v TMP /d 'C:\\windows\\temp' /f
plant windows/temp
plant 'Program Files/$name'
planted_step 4 180 'Program Files/$name' uninstall.exe -silent
EOF
    expect_rc 0 1 "the installation"
    expect_rc 0 4 "uninstall.exe -silent"
    has_key system.reg "$UNINSTALL\\\\$key" && fail "the product's uninstall key is still there"
    # The removal ran from SYSTEM's temporary folder, as it would under a deployment tool.
    loads '^c:\\windows\\temp\\' | grep -q . || fail "no program ran from C:\\windows\\temp: TEMP was not SYSTEM's"
    check_planting "^c:\\\\program files\\\\$name\\\\|^c:\\\\windows\\\\temp\\\\"
    ;;
resume_workstation)
    fresh "$windows/tsport_workstation_setup.exe"
    cp "$windows/planting_helper.exe" "$C/"
    # The main service marked for deletion while the helper holds it: the installation goes
    # on without it, asks for a restart (-9 with -norestart) and leaves its resumed run in
    # RunOnce.
    road_session 300 <<'EOF'
watcher 250
(cd "$C" && timeout -k 5 200 wine 'C:\planting_helper.exe' hold tessaportwssrv 'C:\held' 'C:\release' 180 \
    >"$prefix.hold.out" 2>&1; echo $? >"$prefix.hold.rc") &
for i in $(seq 1 100); do [ -e "$C/held" ] || [ -e "$prefix.hold.rc" ] && break; sleep 0.2; done
step 1 240 dl setup.exe -silent -licenseaccept -norestart
touch "$C/release"
EOF
    [ -e "$C/held" ] || fail "the service could not be held marked for deletion (helper: $(cat "$prefix.hold.rc" 2>/dev/null))"
    expect_rc 247 1 "the installation beside the service marked for deletion"
    # The restart. The value is taken out of the hive before the next session, whose start
    # would run it (Windows, too, deletes a RunOnce value before it runs it), and its command
    # line is run as it stands, with markers where its program is.
    value_name="$WS setup"
    value=$(reg_block system.reg "$RUN_ONCE" | grep -iF "\"$value_name\"=" | head -n 1)
    command=$(sed -E 's/^"[^"]*"="(.*)"\r?$/\1/; s/\\(.)/\1/g' <<<"$value")
    echo "RunOnce: $command"
    if [ -z "$value" ]; then
        fail "no RunOnce value \"$value_name\""
    else
        grep -viF "\"$value_name\"=" "$prefix/system.reg" >"$prefix.system.reg" && mv "$prefix.system.reg" "$prefix/system.reg"
        printf '%s\r\n' "$command" >"$C/resume_command.txt"
        program=$(sed -E 's/^"([^"]*)".*/\1/' <<<"$command")
        folder=${program%\\*}
        # Its folder under drive_c, each part as the disk spells it (Wine ignores case).
        unix_folder=.
        IFS='\' read -ra parts <<<"${folder#?:\\}"
        for part in "${parts[@]}"; do
            unix_folder=$unix_folder/$(cd "$C/$unix_folder" && find . -maxdepth 1 -iname "$part" -printf '%P\n' | head -n 1)
        done
        pattern=$(sed -E 's/[][\\.^$*+?(){}|]/\\&/g' <<<"$program")
        # The copy's folder gets markers when ordinary users can write it; C:\windows\temp
        # always, since they can.
        road_session 300 <<EOF
watcher 250
plant windows/temp
step 1 30 . 'C:\\planting_helper.exe' writable '$folder'
[ "\$(cat "\$prefix.rc.1")" = 0 ] && plant '$unix_folder'
planted_step 2 180 . 'C:\\planting_helper.exe' run 'C:\\resume_command.txt' 170
EOF
        cat "$prefix.out.1"
        grep -q "can write" "$prefix.out.1" || fail "the resumed run's folder $folder could not be examined"
        expect_rc 0 2 "the resumed run"
        expect_key system.reg "$SERVICES\\\\tessaportwssrv"
        check_planting "^$pattern\$"
    fi
    ;;
*)
    echo "unknown road $road"
    exit 2
    ;;
esac

finish "$road" "$prefix"
