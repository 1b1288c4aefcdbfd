#!/usr/bin/env bash
# release_e2e.sh SOURCE_DIR WINDOWS_DIR TEMPLATE WORK_DIR
# A release made as the README tells: a folder of product files laid out as TSPORT_PAYLOAD_DIR
# expects (made here from the stand-ins, with a readme of its own so that the packed files can
# be told from the stand-ins), a signing certificate made with openssl, and the release
# preset's build into WORK_DIR/build. Then: both installers verify; signing changed nothing of
# the packed installer but header fields, and only appended behind the package; the signed
# workstation installer installs silently under Wine with the release's files; with one
# package byte changed the signature no longer verifies and the installer ends with -8; the
# winget manifests written after the signing name the signed installer's SHA-256.
# WINDOWS_DIR is the normal build's, for the message-box watcher. Every run is bounded; the
# work folder is removed after a pass and kept after a failure.
set -uo pipefail
src=$1 windows=$2 work=$4
source "$(dirname "$0")/lib.sh"
use_template "$3"
# Only what this test gives counts, not the caller's own release settings.
unset TSPORT_PAYLOAD_DIR TSPORT_SIGN_CERT TSPORT_SIGN_KEY TSPORT_SIGN_PASSWORD_FILE TSPORT_SIGN_CAFILE

rm -rf "$work"
mkdir -p "$work"

# The release folder: one subfolder per edition, every entry but uninstall.exe (the build makes it).
files=$work/files
for edition in workstation server; do
    mkdir -p "$files/$edition"
    while IFS='=' read -r name path; do
        [ "$name" = uninstall.exe ] || cp "$path" "$files/$edition/$name"
    done <"$windows/payload/${edition}_entries.txt"
done
printf 'The release copy of the readme.\r\n' >>"$files/workstation/readme.txt"
[ -e "$files/workstation/uninstall.exe" ] && fail "the release folder holds uninstall.exe"

if ! timeout 60 openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessaport release test" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$work/key.pem" -out "$work/cert.pem" >"$work/openssl.out" 2>&1; then
    fail "openssl could not make the certificate:"; cat "$work/openssl.out"; finish release "$work"
fi

build=$work/build
release_url=https://downloads.example.com/tessaport-rdp/3.7
start=$(date +%s)
if ! (cd "$src" && timeout -k 10 120 cmake --preset release -B "$build" -DTSPORT_PAYLOAD_DIR="$files" \
    -DTSPORT_SIGN_CERT="$work/cert.pem" -DTSPORT_SIGN_KEY="$work/key.pem" -DTSPORT_SIGN_CAFILE="$work/cert.pem" \
    -DTSPORT_RELEASE_URL="$release_url" >"$work/configure.out" 2>&1); then
    fail "the release configure failed:"; cat "$work/configure.out"; finish release "$work"
fi
if ! timeout -k 10 900 cmake --build "$build" -j2 >"$work/build.out" 2>&1; then
    fail "the release build failed:"; tail -40 "$work/build.out"; finish release "$work"
fi
echo "release build: $(($(date +%s) - start)) s"
grep -F -e "-- Installers" -e "-- Winget" -e "signed and verified" "$work/build.out"
grep -qF -- "-- Winget manifests written for the installers at $release_url" "$work/build.out" ||
    fail "the build did not say that it writes the winget manifests"
grep -qF -- "-- Installers packed from the product's files in $files" "$work/build.out" ||
    fail "the build did not say that it packs the release folder"
grep -qF -- "-- Installers signed with $work/cert.pem and verified" "$work/build.out" ||
    fail "the build did not say that it signs"

out=$build/windows
packed_size=0
for edition in workstation server; do
    signed=$out/tsport_${edition}_setup.exe unsigned=$out/unsigned/tsport_${edition}_setup.exe
    [ -f "$signed" ] && [ -f "$unsigned" ] || { fail "no signed and unsigned $edition installer"; continue; }
    signed_size=$(stat -c %s "$signed") unsigned_size=$(stat -c %s "$unsigned")
    echo "$edition installer: $unsigned_size bytes unsigned, $signed_size bytes signed"
    timeout 60 osslsigncode verify -ignore-crl -CAfile "$work/cert.pem" -in "$signed" >"$work/verify.$edition" 2>&1 ||
        { fail "osslsigncode verify refused the signed $edition installer:"; cat "$work/verify.$edition"; }
    timeout 60 osslsigncode verify -ignore-crl -CAfile "$work/cert.pem" -in "$unsigned" >/dev/null 2>&1 &&
        fail "the unsigned $edition installer verifies"
    # Signing writes the PE checksum and the certificate table's place into the headers and
    # appends the signature: everything else, the package included, stays as packed.
    [ "$signed_size" -gt "$unsigned_size" ] || fail "the signed $edition installer is not larger"
    changed=$(cmp -l "$unsigned" "$signed" 2>/dev/null | awk '{ print $1 }')
    last=$(tail -n 1 <<<"$changed")
    [ -n "$changed" ] && [ "$last" -le 1024 ] ||
        fail "signing changed the $edition installer beyond its headers (last changed byte: ${last:-none})"
    [ "$edition" = workstation ] && packed_size=$unsigned_size
    # The installer manifest, read back, names the signed file by its digest and address.
    manifest=$out/winget/Velotrinex.TessaportRDPEdition.${edition^}/3.7/Velotrinex.TessaportRDPEdition.${edition^}.installer.yaml
    named=$(timeout 60 python3 -c 'import sys, yaml; i = yaml.safe_load(open(sys.argv[1]))["Installers"][0]
print(i["InstallerSha256"].lower(), i["InstallerUrl"])' "$manifest" 2>&1)
    [ "$named" = "$(sha256sum <"$signed" | cut -d' ' -f1) $release_url/tsport_${edition}_setup.exe" ] ||
        fail "the $edition installer manifest names '$named', not the signed installer"
done

# A signature that does not verify (here: trusted against another certificate) fails the
# signing step and leaves no signed file, nor an earlier one.
if timeout 60 openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Someone else" \
    -keyout "$work/other_key.pem" -out "$work/other_cert.pem" >"$work/openssl_other.out" 2>&1; then
    echo "an earlier file" >"$work/refused.exe"
    timeout 300 cmake -DPACKED="$out/unsigned/tsport_server_setup.exe" -DSIGNED="$work/refused.exe" \
        -DOSSLSIGNCODE="$(command -v osslsigncode)" -DCERT="$work/cert.pem" -DKEY="$work/key.pem" \
        -DCAFILE="$work/other_cert.pem" -P "$src/cmake/sign_installer.cmake" >"$work/refused.out" 2>&1 &&
        fail "signing succeeded although the signature does not verify"
    grep -qF "osslsigncode verify refused" "$work/refused.out" || { fail "no refusal from verify:"; cat "$work/refused.out"; }
    [ ! -e "$work/refused.exe" ] && [ ! -e "$work/refused.exe.signing" ] || fail "a refused signing left a file"
else
    fail "openssl could not make the second certificate"
fi

# Under Wine: a fresh prefix, each installer run from C:\setup beside the message-box watcher.
new_prefix "$work/prefix"
mkdir -p "$C/setup"
run() {  # INSTALLER SECONDS SWITCHES...
    cp "$1" "$C/setup/setup.exe"
    shift
    run_setup "$@"
}
T="$C/Program Files/$WS"

# One byte in the middle of the package, far from the headers and the signature.
image_size=$(stat -c %s "$out/tsport_workstation_setup_image.exe")
damaged=$work/damaged.exe
cp "$out/tsport_workstation_setup.exe" "$damaged"
at=$(((image_size + 88 + packed_size) / 2))
old=$(od -An -tx1 -j "$at" -N1 "$damaged" | tr -d ' ')
printf "\\x$(printf %02x $((0x$old ^ 0x01)))" | dd of="$damaged" bs=1 seek="$at" conv=notrunc status=none
cmp -s "$damaged" "$out/tsport_workstation_setup.exe" && fail "the copy was not damaged"
timeout 60 osslsigncode verify -ignore-crl -CAfile "$work/cert.pem" -in "$damaged" >/dev/null 2>&1 &&
    fail "the signature still verifies with a changed package byte"
run "$damaged" 60 -silent -licenseaccept
expect_rc 248 1 "the damaged installer"
expect_no_box
[ ! -e "$T" ] || fail "the damaged installer installed something"

run "$out/tsport_workstation_setup.exe" 240 -silent -licenseaccept
expect_rc 0 1 "the signed installer"
expect_no_box
cmp -s "$T/readme.txt" "$files/workstation/readme.txt" || fail "the installed readme.txt is not the release's"
cmp -s "$T/tessaportws.exe" "$files/workstation/tessaportws.exe" || fail "the installed tessaportws.exe is not the release's"
cmp -s "$T/uninstall.exe" "$out/uninstall/workstation/uninstall.exe" || fail "the installed uninstall.exe is not the build's"
cmp -s "$C/windows/system32/tessaportwssrv.exe" "$files/workstation/tessaportwssrv.exe" ||
    fail "the installed service program is not the release's"

finish release "$work"
