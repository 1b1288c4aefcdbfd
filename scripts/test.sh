#!/usr/bin/env bash
# Builds everything (host, Windows and sanitizer parts) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
