# Sourced by the Wine test scripts: the verdict, fresh prefixes, the registry hive and the
# file tree as the tests read and compare them, and Wine sessions under Xvfb beside the
# message-box watcher. Run as "bash lib.sh __session WINDOWS_DIR PREFIX" it is the inside
# of such a session.
wine_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

WS="Tessaport RDP Edition - Workstation"
SV="Tessaport RDP Edition - Server"
WS_KEY="{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}"
SV_KEY="{961AE5EE-E9BB-427e-BF8B-0C83AB73959F}"
# Keys as the hive files write them: backslashes doubled.
SERVICES='System\\CurrentControlSet\\Services'
UNINSTALL='Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
RUN_ONCE='Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce'
SESSION_MANAGER='System\\CurrentControlSet\\Control\\Session Manager'
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10 and 11: always
# taken from the system folder.
KNOWN_DLLS=" $(echo advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt \
    normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32) "

# ---- The verdict: every failure counted and said; the work kept when there is one.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "missing file $1"; }
expect_no_file() { [ ! -e "$1" ] || fail "unexpected $1"; }
finish() {  # NAME KEPT: with no failure KEPT and KEPT.* are removed
    if [ "$failures" -eq 0 ]; then
        rm -rf "$2" "$2".*
        echo "PASS $1"
        exit 0
    fi
    echo "$failures failure(s); kept at $2"
    exit 1
}

# ---- Prefixes: every test its own copy of the one template.
use_template() {  # TEMPLATE
    template=$1
    [ -f "$template/.complete" ] || { echo "no template prefix at $template"; exit 1; }
}
new_prefix() {  # PREFIX: a fresh copy, its Wine environment set; C and TEMP_DIR its folders
    prefix=$1
    rm -rf "$prefix" "$prefix".*
    mkdir -p "$(dirname "$prefix")"
    cp -a "$template" "$prefix"
    source "$wine_tests/wine_env.sh" "$prefix"
    C=$prefix/drive_c
    TEMP_DIR=$C/users/root/Temp
}

# ---- The registry as the prefix's hive files write it, keys compared without regard to case.
reg_block() {  # HIVE KEY: the values under the key
    E2E_KEY="[$2]" awk '
        BEGIN { k = tolower(ENVIRON["E2E_KEY"]) }
        /^\[/ { p = (index(tolower($0), k) == 1); next }
        p' "$prefix/$1"
}
has_key() {  # HIVE KEY
    E2E_KEY="[$2]" awk 'BEGIN { k = tolower(ENVIRON["E2E_KEY"]) }
        /^\[/ && index(tolower($0), k) == 1 { found = 1; exit } END { exit !found }' "$prefix/$1"
}
reg_value() {  # HIVE KEY VALUE: its data as the hive writes it, continuation lines joined
    reg_block "$1" "$2" | sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' |
        awk -v name="\"$3\"=" 'index(tolower($0), tolower(name)) == 1 { print substr($0, length(name) + 1) }'
}
expect_key() {  # HIVE KEY [VALUE-LINE]: the key, and a line of its values holding VALUE-LINE
    has_key "$1" "$2" || { fail "no key $2 in $1"; return; }
    [ $# -lt 3 ] || reg_block "$1" "$2" | grep -qiF -- "$3" || fail "key $2 lacks $3"
}

# ---- The machine as the tests compare it: every file and folder, and the machine's hive.
# Left out: the temporary folder, which keeps the logs; the watcher's files; what Wine
# rewrites at every session's start (time stamps, the display and monitor classes); blank
# lines; the operations left for the next start, which NAME.pending holds on their own.
# Two things stay by design of Windows and Wine rather than the product's: the class key of
# the bus driver's device interface under Control\DeviceClasses, which the Plug and Play
# manager makes when the driver enables the interface and keeps (its device entries below
# it go with the devices, and stay checked); and the INF's catalogue in catroot, which
# Wine's SetupCopyOEMInfA copies there and Wine's SetupUninstallOEMInfA never takes out
# again (Windows' removes it with the INF).
snapshot() {  # NAME
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
    reg_value system.reg "$SESSION_MANAGER" PendingFileRenameOperations >"$prefix.$1.pending"
}
compare() {  # BEFORE AFTER
    if ! diff "$prefix.$1.files" "$prefix.$2.files" >"$prefix.files.diff"; then
        fail "the file tree differs:"; cat "$prefix.files.diff"
    fi
    if ! diff "$prefix.$1.system.reg" "$prefix.$2.system.reg" >"$prefix.system.reg.diff"; then
        fail "the registry differs:"; cat "$prefix.system.reg.diff"
    fi
}

# What an installation wrote of the product's files and the system folder's: checksums of
# the files newer than the installer in C:\setup, logs and backups left out.
installed_sums() {  # NAME (the product's folder under Program Files)
    (cd "$C" && find "./Program Files/$1" ./windows/system32 -type f ! -name '*.log' ! -name '*.tmp.backup' \
        -newer "$C/setup/setup.exe" -exec md5sum {} + | sort -k2)
}
expect_same_sums() {  # BEFORE AFTER WHAT: two installed_sums files
    diff "$prefix.$1.sums" "$prefix.$2.sums" >"$prefix.sums.diff" || { fail "$3:"; cat "$prefix.sums.diff"; }
}

# ---- Sessions: one Wine session under Xvfb running a bash script of steps.
# session SECONDS [SCREEN] < STEPS: STEPS may use watcher and step (below) and $C, $prefix,
# $windows. Afterwards rc N is step N's exit code and $boxes what the watcher recorded.
session() {
    local seconds=$1 screen=${2:-1024x768x24} status n
    cat >"$prefix.steps"
    rm -f "$C/boxes.txt" "$C/watch_stop" "$prefix".rc.* "$prefix".time.* "$prefix".step.*
    timeout -k 10 "$seconds" xvfb-run -a -s "-screen 0 $screen" bash "$wine_tests/lib.sh" __session "$windows" \
        "$prefix" >"$prefix.session.out" 2>"$prefix.session.err"
    status=$?
    [ "$status" = 0 ] || fail "the session ended with $status (124: not done in $seconds s)"
    for n in $(ls "$prefix".step.* 2>/dev/null | sed 's/.*\.//' | sort -n); do
        echo "step $n ($(cat "$prefix.step.$n")): exit $(rc "$n"), $(cat "$prefix.time.$n" 2>/dev/null)s"
    done
    boxes=$(cat "$C/boxes.txt" 2>/dev/null || true)
    [ -z "$boxes" ] || printf 'boxes:\n%s\n' "$boxes"
}
rc() { cat "$prefix.rc.$1" 2>/dev/null || echo none; }
expect_rc() {  # CODE [STEP [WHAT]]: by default the last session's step 1
    local got
    got=$(rc "${2:-1}")
    [ "$got" = "$1" ] || fail "${3:-the run} ended with $got, not $1"
}
expect_box() { grep -qF -- "$1" <<<"$boxes" || fail "no message box with: $1"; }
expect_no_box() { [ -z "$boxes" ] || fail "unexpected message box: $boxes"; }

# run_setup SECONDS SWITCHES...: C:\setup\setup.exe with the switches in a session beside the
# watcher. E2E_UNATTENDED=1: a desktop but nobody to press a button, as a deployment tool
# runs it; E2E_WINE_VERSION: the Windows version Wine reports.
run_setup() {
    local seconds=$1
    shift
    session $((seconds + 60)) < <(
        [ -z "${E2E_WINE_VERSION:-}" ] ||
            printf "step 0 60 . reg add 'HKCU\\\\Software\\\\Wine' /v Version /d %q /f\n" "$E2E_WINE_VERSION"
        [ -n "${E2E_UNATTENDED:-}" ] || echo "watcher $((seconds + 20))"
        printf 'step 1 %d setup setup.exe' "$seconds"
        [ $# -eq 0 ] || printf ' %q' "$@"
        echo
    )
}

if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = __session ]; then
    # Inside xvfb-run. The first program starts the Wine session; the watcher, when the
    # steps start it, is that program.
    windows=$2 prefix=$3
    source "$wine_tests/wine_env.sh" "$prefix"
    C=$prefix/drive_c
    watcher() {  # SECONDS: records and presses every message box until C:\watch_stop appears
        cp "$windows/box_watcher.exe" "$C/box_watcher.exe"
        (cd "$C" && timeout -k 5 $(($1 + 10)) wine 'C:\box_watcher.exe' 'C:\boxes.txt' 'C:\watch_stop' "$1" \
            >"$prefix.watch.out" 2>&1) &
        sleep 3
    }
    # step N SECONDS FOLDER PROGRAM [ARGS...]: PROGRAM run in FOLDER (under drive_c), its
    # output in $prefix.out.N and $prefix.${STEP_ERR:-err}.N, its exit code and time kept.
    step() {
        local n=$1 seconds=$2 folder=$3 start end
        shift 3
        echo "$*" >"$prefix.step.$n"
        start=$(date +%s.%N)
        (cd "$C/$folder" && timeout -k 10 "$seconds" wine "$@" >"$prefix.out.$n" 2>"$prefix.${STEP_ERR:-err}.$n")
        echo $? >"$prefix.rc.$n"
        end=$(date +%s.%N)
        awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }' >"$prefix.time.$n"
    }
    source "$prefix.steps"
    touch "$C/watch_stop"
    wait
    timeout 30 wineserver -k >/dev/null 2>&1  # this prefix's server only
    exit 0
fi
