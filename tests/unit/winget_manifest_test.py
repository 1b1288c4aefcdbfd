#!/usr/bin/env python3
"""winget_manifest_test.py TOOL README WORK_DIR VERSION: the manifest writer as the release
build runs it, its files read back with a YAML parser and checked field by field against the
editions' facts, hashlib's SHA-256, the README's exit-code table and the schema's responses."""
import hashlib, os, re, shutil, subprocess, sys
import yaml

tool, readme, work, version = sys.argv[1:5]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(edition, installer, out, *url):
    return subprocess.run([tool, "--edition", edition, "--installer", installer, "--output", out, *url],
                          capture_output=True, text=True, timeout=60)


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
ws, sv = os.path.join(work, "tsport_workstation_setup.exe"), os.path.join(work, "tsport_server_setup.exe")
open(ws, "wb").write(b"abc")
open(sv, "wb").write(os.urandom(200017))  # over several read blocks

for url in ([], ["--url", ""], ["--url", "ftp://host/x"], ["--url", "https://host/a b"]):
    result = run("workstation", ws, os.path.join(work, "refused"), *url)
    check(result.returncode == 2 and "release URL" in result.stderr and "no manifest written" in result.stderr
          and not os.path.exists(os.path.join(work, "refused")), f"{url}: not refused: {result}")

section = open(readme, encoding="utf-8").read().split("## Switches and exit codes", 1)[1].split("\n## ", 1)[0]
readme_codes = {int(c) for c in re.findall(r"^\| (-?\d+) \|", section, re.M)} - {0}
RESPONSES = {"packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse", "missingDependency",
             "diskFull", "insufficientMemory", "invalidParameter", "noNetwork", "contactSupport",
             "rebootRequiredToFinish", "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser",
             "alreadyInstalled", "downgrade", "blockedByPolicy", "systemNotSupported", "custom"}
EXPECTED = {-1: "systemNotSupported", -4: "systemNotSupported", -5: "systemNotSupported",
            -7: "invalidParameter", -8: "contactSupport", -9: "rebootRequiredToFinish", -10: "contactSupport"}
PAGE, BASE = "http://www.velotrinex.com/tessaport-rdp/", "https://downloads.example.com/tessaport/3.7"
check(hashlib.sha256(b"abc").hexdigest() == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", "abc")

for edition, installer, base, key in (("Workstation", ws, BASE, "{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}"),
                                      ("Server", sv, BASE + "/", "{961AE5EE-E9BB-427e-BF8B-0C83AB73959F}")):
    result = run(edition.lower(), installer, os.path.join(work, "out"), "--url", base)
    check(result.returncode == 0, f"{edition}: {result}")
    ident, name = "Velotrinex.TessaportRDPEdition." + edition, "Tessaport RDP Edition - " + edition
    folder = os.path.join(work, "out", ident, version)
    names = [ident + ".yaml", ident + ".installer.yaml", ident + ".locale.en-US.yaml"]
    check(os.path.isdir(folder) and sorted(os.listdir(folder)) == sorted(names), f"{edition}: files in {folder}")
    try:
        ver, inst, loc = (yaml.safe_load(open(os.path.join(folder, n), encoding="utf-8")) for n in names)
    except (OSError, yaml.YAMLError) as error:
        failures.append(f"{edition}: {error}")
        continue
    common = {"PackageIdentifier": ident, "PackageVersion": version, "ManifestVersion": "1.28.0"}
    check(ver == {**common, "DefaultLocale": "en-US", "ManifestType": "version"}, f"{edition}: {ver}")
    check(loc == {**common, "PackageLocale": "en-US", "Publisher": "Velotrinex LLC", "PackageName": name,
                  "PackageUrl": PAGE, "License": "Proprietary", "ManifestType": "defaultLocale",
                  "ShortDescription": f"Tessaport RDP Edition {edition} - helps to share USB devices over IP"},
          f"{edition}: {loc}")
    codes = inst.pop("ExpectedReturnCodes", [])
    sha = hashlib.sha256(open(installer, "rb").read()).hexdigest().upper()
    check(inst == {**common, "Platform": ["Windows.Desktop"], "InstallerType": "exe", "Scope": "machine",
                   "InstallModes": ["interactive", "silent", "silentWithProgress"],
                   "InstallerSwitches": {"Silent": "-silent -licenseaccept", "Log": "-advlog", "Custom": "-norestart",
                                         "SilentWithProgress": "-silent -licenseaccept"},
                   "UpgradeBehavior": "install", "ElevationRequirement": "elevationRequired",
                   "AppsAndFeaturesEntries": [{"DisplayName": name, "Publisher": "Velotrinex LLC",
                                               "DisplayVersion": version, "ProductCode": key}],
                   "Installers": [{"Architecture": "x64", "InstallerUrl": f"{BASE}/tsport_{edition.lower()}_setup.exe",
                                   "InstallerSha256": sha}],
                   "ManifestType": "installer"}, f"{edition}: {inst}")
    mapped = {c.get("InstallerReturnCode"): c for c in codes}
    check(readme_codes and len(mapped) == len(codes) and set(mapped) == readme_codes,
          f"{edition}: codes {sorted(mapped)}, README {sorted(readme_codes)}")
    for code, entry in mapped.items():
        response = entry.get("ReturnResponse")
        check(response in RESPONSES and EXPECTED.get(code, response) == response, f"{edition}: {entry}")
        # The failures that send the user somewhere say where.
        check((response == "contactSupport") == (entry.get("ReturnResponseUrl") == PAGE), f"{edition}: {entry}")

print("\n".join("FAIL: " + f for f in failures) or "PASS winget manifests")
if failures:
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
