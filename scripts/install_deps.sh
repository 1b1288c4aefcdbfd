#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (Debian 12). Asks apt only
# when something is missing.
set -euo pipefail
packages=(
    g++ make cmake
    mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
    zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
    clang libclang-rt-14-dev
    wine64 xvfb
    imagemagick
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
