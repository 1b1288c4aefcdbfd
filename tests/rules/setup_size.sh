#!/usr/bin/env bash
# setup_size.sh LIMIT IMAGE...
#
# Each installer image's code and data without resources (bench/size_report.sh's code+data
# line) stays within LIMIT bytes.
set -uo pipefail
limit=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
failed=0
for image in "$@"; do
    size=$(bash "$here/../../bench/size_report.sh" "$image" | awk '$1 == "code+data" { print $2 }')
    if [ -n "$size" ] && [ "$size" -le "$limit" ]; then
        echo "ok: $(basename "$image"): $size bytes of code and data, $((limit - size)) below $limit"
    else
        echo "FAILED: $(basename "$image"): ${size:-no} bytes of code and data, limit $limit"
        failed=1
    fi
done
exit $failed
