#!/usr/bin/env bash
# The main job: builds everything, then installs the workstation edition silently into a
# fresh Wine prefix and shows what changed on that machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
wine_dir=$PWD/build/wine
bash tests/wine/make_template.sh "$wine_dir/template"

setup=build/windows/tsport_workstation_setup.exe
image=build/windows/tsport_workstation_setup_image.exe
prefix=$wine_dir/demo
rm -rf "$prefix"
cp -a "$wine_dir/template" "$prefix"
source tests/wine/wine_env.sh "$prefix"
C=$prefix/drive_c
mkdir -p "$C/setup"
cp "$setup" "$C/setup/tsport_workstation_setup.exe"
(cd "$C" && find . -type f | sort) >"$prefix.before"

echo
echo "== $setup: $(stat -c %s "$image") byte program + $(( $(stat -c %s "$setup") - $(stat -c %s "$image") )) byte package"
echo "== wine tsport_workstation_setup.exe -silent -licenseaccept -log   (prefix $prefix)"
start=$(date +%s.%N)
set +e
(cd "$C/setup" && timeout -k 10 300 wine tsport_workstation_setup.exe -silent -licenseaccept -log \
    >"$prefix.out" 2>"$prefix.err")
status=$?
set -e
end=$(date +%s.%N)
timeout 30 wineserver -k >/dev/null 2>&1 || true  # this prefix's server only; writes the registry out
echo "exit code $status ($(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s)"

key_lines() {  # the values of one registry key in the prefix's machine hive
    E2E_KEY="[$1]" awk 'BEGIN { k = tolower(ENVIRON["E2E_KEY"]) }
        /^\[/ { p = (index(tolower($0), k) == 1); next } p && NF' "$prefix/system.reg" | grep -v '^#time'
}
echo
echo "-- new files"
(cd "$C" && find . -type f | sort) | comm -13 "$prefix.before" - | sed 's|^\./|  C:/|'
for service in tsppnptls tessaportwssrv; do
    echo "-- service $service"
    key_lines "System\\\\CurrentControlSet\\\\Services\\\\$service" | sed 's/^/  /'
done
echo "-- devices of the product's drivers"
grep -i -B8 '"Service"="\(tspvd\|tsppnptls\)"' "$prefix/system.reg" | grep '^\[.*Enum' | sed 's/^/  /' ||
    echo "  none (on Windows 6 and later the edition stages its INF for the device's arrival)"
echo "-- shortcuts"
find "$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Tessaport RDP Edition - Workstation" \
    "$C/users/Public/Desktop" -type f | sed "s|^$C|  C:|"
echo "-- uninstall entry"
key_lines 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}' |
    sed 's/^/  /'
echo "-- setup log"
for log in "$C/Program Files/Tessaport RDP Edition - Workstation/tessaport-rdp-workstation-setup.log" \
    "$C/setup/tessaport-rdp-workstation-setup.log"; do
    [ -f "$log" ] && echo "  ${log#$prefix/drive_c}  ($(wc -l <"$log") lines)"
done
[ -f "$C/users/root/Temp/tessaport-rdp-workstation-setup.log" ] && echo "  (still in the temporary folder)"
exit "$status"
