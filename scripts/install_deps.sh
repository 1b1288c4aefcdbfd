#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (Debian 12), then checks every
# command they call. The check runs every time, so a machine set up by hand cannot hide a
# package that a fresh machine lacks. apt is asked only when a package is missing.
set -euo pipefail

# Every command the build, the tests and the demo call, with the Debian package that
# provides it. Several of them come only with packages that others merely recommend
# (wine with wine64, xauth with xvfb), so each is named here on its own.
commands=(
    g++:g++ make:make cmake:cmake ctest:cmake
    x86_64-w64-mingw32-gcc-posix:gcc-mingw-w64-x86-64-posix
    x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
    x86_64-w64-mingw32-strip:binutils-mingw-w64-x86-64
    x86_64-w64-mingw32-windres:binutils-mingw-w64-x86-64
    x86_64-w64-mingw32-objdump:binutils-mingw-w64-x86-64
    i686-w64-mingw32-gcc-win32:gcc-mingw-w64-i686-win32
    i686-w64-mingw32-windres:binutils-mingw-w64-i686
    clang:clang clang++:clang
    wine:wine wineboot:wine wineserver:wine
    Xvfb:xvfb xvfb-run:xvfb xauth:xauth
    convert:imagemagick import:imagemagick
    osslsigncode:osslsigncode openssl:openssl
    timeout:coreutils od:coreutils dd:coreutils stat:coreutils comm:coreutils
    cmp:diffutils diff:diffutils find:findutils awk:mawk sed:sed grep:grep
)
# Libraries, headers and fonts, which no command stands for.
libraries=(
    libz-mingw-w64-dev zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
    libclang-rt-14-dev
    fonts-wine fonts-liberation
)

packages=("${libraries[@]}")
for entry in "${commands[@]}"; do packages+=("${entry#*:}"); done
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

absent=0
for entry in "${commands[@]}"; do
    command -v "${entry%%:*}" >/dev/null 2>&1 && continue
    echo "missing command ${entry%%:*} (Debian package ${entry#*:})" >&2
    absent=1
done
for p in "${libraries[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
    echo "missing Debian package $p" >&2
    absent=1
done
exit "$absent"
