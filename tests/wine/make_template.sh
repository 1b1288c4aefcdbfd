#!/usr/bin/env bash
# Creates the template Wine prefix that every test copies. Reused while it is complete.
set -euo pipefail
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$dir/.complete" ]; then
    echo "template prefix $dir already complete"
    exit 0
fi
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
source "$here/wine_env.sh" "$dir"
log="$dir.log"
start=$(date +%s)
if ! timeout --kill-after=10 180 wineboot -i >"$log" 2>&1; then
    echo "wineboot -i failed or timed out; its output:"; cat "$log"
    timeout 30 wineserver -k || true
    exit 1
fi
# Wait (bounded) for the prefix's own server to finish writing the registry.
timeout 90 wineserver -w || timeout 30 wineserver -k || true
touch "$dir/.complete"
echo "template prefix $dir made in $(( $(date +%s) - start )) s"
