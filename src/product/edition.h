// What an edition brings to the shared install script: its names and tables, and the
// bodies of the steps that differ in shape between the editions. Each program links
// exactly one edition and hands its object to the install process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

class CInstallProcess;

// The product's version and maker, as the uninstall entry shows them.
constexpr const char* PRODUCT_VERSION_TEXT = "3.7";
constexpr const char* PRODUCT_PUBLISHER = "Velotrinex LLC";

// The index-th dot-separated number of a version text, so that the numbers the uninstall
// entry also carries can never disagree with the text.
constexpr os::DWORD VersionNumber(const char* text, int index) {
    os::DWORD value = 0;
    for (; *text != '\0'; ++text) {
        if (*text == '.') {
            if (index-- == 0) return value;
            value = 0;
        } else {
            value = value * 10 + static_cast<os::DWORD>(*text - '0');
        }
    }
    return index == 0 ? value : 0;
}
constexpr os::DWORD PRODUCT_VERSION_MAJOR = VersionNumber(PRODUCT_VERSION_TEXT, 0);
constexpr os::DWORD PRODUCT_VERSION_MINOR = VersionNumber(PRODUCT_VERSION_TEXT, 1);

// The folders an installation writes into.
enum class EditionFolder {
    System,   // GetSystemDirectoryA
    Wow64,    // GetSystemWow64DirectoryA; rows for it are skipped where there is none
    Drivers,  // the system folder's "Drivers"
    Target,   // the target folder
};

// The folder's path on this machine (the target folder as given); false when it cannot be
// had: a failed query, a path that does not fit MAX_PATH, no Wow64 folder, no target.
bool ResolveEditionFolder(EditionFolder folder, const std::string& targetFolder, std::string* path);
// A folder query shaped like GetSystemDirectoryA: false when it fails or does not fit.
bool QueryFolder(os::DWORD (*query)(char* buffer, os::DWORD size), std::string* folder);

// A file an installation can leave in one of its folders, under its installed name.
struct EditionInstalledFile {
    EditionFolder folder;
    const char* name;
};

// A file an installation places into a system folder only when Windows lacks it. The
// uninstall entry's value valueName records the MD5 of what was placed, so that only a file
// that is still exactly that one is ever taken away again: Windows' own copy stays.
struct EditionProvidedFile {
    EditionFolder folder;
    const char* name;
    const char* valueName;
};

// A package entry installed under its own name, with the location of its lookup failure.
struct EditionFile {
    const char* entry;
    std::uint16_t missingLocation;
};

// A kernel driver the installation makes a service for, with its image in the driver folder.
struct EditionDriver {
    const char* name;         // the service, also the image's name without ".sys"
    const char* displayName;
    os::DWORD startType;
    bool beforeVistaOnly;     // from Vista on its INF installs it instead
    std::uint16_t failedLocation;  // where the installation fails when it cannot be made
};

// A shell link to a file in the target folder.
struct EditionShortcut {
    const char* fileName;  // in the target folder
    const char* linkName;  // the .lnk's name without extension, also its description
};

struct EditionInfo {
    const char* displayName;      // message caption, default folder names, %s of texts
    const char* setupLogName;     // the setup log's file name
    const char* programName;      // the user program, started after finish
    const char* licenseRtfEntry;  // shown by the licence page
    const char* webAddress;       // the web shortcut's address

    // The main service, installed into the system folder.
    const char* serviceName;
    const char* serviceProgramName;
    const char* serviceDisplayName;  // also the firewall rule name
    const char* serviceDescription;
    const char* serviceLoadOrderGroup;
    os::DWORD serviceStartType;
    std::vector<std::string> serviceDependencies;

    std::vector<EditionDriver> drivers;  // made in this order, before the main service
    std::vector<const char*> startList;  // started in this order once installed
    std::vector<const char*> stopList;   // stopped in this order before a rollback

    std::vector<EditionFile> programFiles;  // into the target folder, in this order

    // Start Menu content: main link (its failure fails the installation), then links whose
    // failure is only a warning, the web shortcut, then further warning-only links.
    EditionShortcut mainShortcut;
    std::vector<EditionShortcut> menuShortcuts;
    const char* webShortcutFile;
    std::vector<EditionShortcut> menuShortcutsAfterWeb;
    EditionShortcut desktopShortcut;  // also the Quick Launch link

    const char* uninstallKeyName;
    const char* uninstallerName;

    // Runs the Citrix support installer in install row 8 and rollback row 4.
    bool hasCitrixStep;

    std::vector<const char*> extractList;  // unpack-only mode, in this order

    // What the uninstaller takes away besides programFiles, the shortcuts and the setup
    // log: the files the steps write into the system folders and the target folder, the
    // files placed only when Windows lacks them, the kernel-driver services (deleted after
    // the main service, in this order), the hardware ids of the edition's devices and the
    // names of its INF files as staged in the driver store.
    std::vector<EditionInstalledFile> installedFiles;
    std::vector<EditionProvidedFile> providedFiles;
    std::vector<const char*> driverServices;
    std::vector<const char*> hardwareIds;
    std::vector<const char*> driverPackages;
    const char* uninstallLogName = nullptr;  // the uninstaller's log, kept in the temporary folder

    // The running product's named objects: its presence event and its query pipe.
    const char* presenceEvent = nullptr;
    const char* pipeName = nullptr;
};

class CEdition {
public:
    virtual ~CEdition() = default;

    virtual const EditionInfo& Info() const = 0;

    // Step bodies; each raises CExceptionEx on failure. The pre-step does nothing unless
    // the edition has one.
    virtual void RemoveStaleStubDevice(CInstallProcess& process) const;
    virtual void InstallSystemFiles(CInstallProcess& process) const = 0;
    virtual void InstallDrivers(CInstallProcess& process) const = 0;
};

inline void CEdition::RemoveStaleStubDevice(CInstallProcess&) const {}
