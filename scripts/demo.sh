#!/usr/bin/env bash
# The main job: builds everything, then runs the packed Windows program in a fresh Wine
# prefix, where it loads the package appended to its own file and checks every entry.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
wine_dir=build/wine
bash tests/wine/make_template.sh "$wine_dir/template"
program=build/windows/package_selftest.exe
image=build/windows/package_selftest_image.exe
echo
echo "== $program: $(stat -c %s "$image") byte image + $(( $(stat -c %s "$program") - $(stat -c %s "$image") )) byte package"
bash tests/wine/run_in_prefix.sh "$wine_dir/template" "$wine_dir/demo" 120 "$program"
