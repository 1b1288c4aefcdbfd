// What an edition brings to the shared install script: one table of what it puts on the
// machine, from which the install steps, the uninstaller, the packing tool and the tests all
// take it, so that an entry added to the table is installed, removed, packed and tested. The
// table is constant data. The edition's object holds the code that only some tables need
// (its own pre-step, device binding, files placed only where Windows lacks them, the Citrix
// support step), so that a program links none of it unless its edition's rows call for it.
// Each program links exactly one edition and hands its object to the install process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/types.h"
#include "tsp_version.h"

class CInstallProcess;
struct PackedFile;

// The product's version (the build's project version) and maker, as the uninstall entry
// and the running-product check show them.
constexpr const char* PRODUCT_VERSION_TEXT = TSP_VERSION_TEXT;  // "3.7"
constexpr os::DWORD PRODUCT_VERSION_MAJOR = TSP_VERSION_MAJOR;
constexpr os::DWORD PRODUCT_VERSION_MINOR = TSP_VERSION_MINOR;
// As the product's service reports its version on the query pipe: 0x00037000 for 3.7.
constexpr std::uint32_t PRODUCT_VERSION_VALUE = (PRODUCT_VERSION_MAJOR << 16) | (PRODUCT_VERSION_MINOR << 12);
constexpr const char* PRODUCT_PUBLISHER = "Velotrinex LLC";

// The rows of one table: a constant array and its length.
template <typename Row>
class EditionRows {
public:
    constexpr EditionRows() = default;
    template <std::size_t N>
    constexpr EditionRows(const Row (&rows)[N]) : m_first(rows), m_count(N) {}
    constexpr const Row* begin() const { return m_first; }
    constexpr const Row* end() const { return m_first + m_count; }
    constexpr std::size_t size() const { return m_count; }
    constexpr bool empty() const { return m_count == 0; }
    constexpr const Row& operator[](std::size_t index) const { return m_first[index]; }

private:
    const Row* m_first = nullptr;
    std::size_t m_count = 0;
};

// The folders an installation writes into.
enum class EditionFolder : std::uint8_t {
    System,   // GetSystemDirectoryA
    Wow64,    // GetSystemWow64DirectoryA; rows for it are skipped where there is none
    Drivers,  // the system folder's "Drivers"
    Target,   // the target folder
};

// When a row applies.
enum class EditionWhen : std::uint8_t {
    Always,
    VistaOrLater,  // Windows' major version above 5
    BeforeVista,
    XpKind,        // the engine's OS kind XP (every major version but 6)
    VistaKind,     // the engine's OS kind Vista or Vista server (major version 6)
    Never,         // the installation makes nothing for it, but the uninstaller takes it away
};

// The install steps that place files, in the order they run.
enum class EditionStep : std::uint8_t { SystemFiles, ProgramFiles, Drivers };

// A package entry; the rows stand in the order the packing tool stores them.
struct EditionEntry {
    const char* name;         // exact, case included
    std::uint8_t extractAt;   // its place in the unpack-only mode's order, from 1; 0: not extracted
};

// A file an install step places, in the step's order; the uninstaller takes each one away
// (once for rows that place the same file).
struct EditionFile {
    EditionStep step;
    EditionFolder folder;
    EditionWhen when;
    std::uint16_t missingLocation;  // a missing entry fails the step there; 0: the row is skipped
    const char* entry;
    const char* name = nullptr;  // the installed name; null: the entry's
    // A file placed only where Windows lacks it: the uninstall entry's value that keeps the
    // MD5 of what was placed, so that only that very file is ever taken away again (Windows'
    // own copy stays). Its placing never fails the installation.
    const char* digestValue = nullptr;
};

// A kernel driver's service; its image is "<name>.sys" in the driver folder.
struct EditionDriver {
    const char* name;
    const char* displayName;
    os::DWORD startType;
    EditionWhen when;               // when the installation makes it; Never: its INF does
    std::uint16_t failedLocation;   // where the installation fails when it cannot be made
};

// An INF file in the target folder that the driver step stages in the driver store.
struct EditionDriverPackage {
    const char* inf;
    EditionWhen when;
    std::uint16_t failedLocation;
};

// The devices of the edition's drivers, by hardware id.
struct EditionDevice {
    const char* hardwareId;
    // The driver service and its INF (in the target folder) that the driver step binds the
    // present devices of this id to, making a root device when there is none; null: the
    // installation makes no device of this id.
    const char* driver;
    const char* inf;
};

// Where a link goes.
enum class EditionLinkPlace : std::uint8_t {
    MenuMain,     // the Start Menu folder; its failure fails the installation
    Menu,         // the Start Menu folder; a failure is only a warning
    MenuWeb,      // the Start Menu folder: the Internet shortcut to the web address (its failure fails)
    Desktop,      // the common desktop, with the desktop icon option
    QuickLaunch,  // the user's Quick Launch folder, with its option, where that folder exists
};

constexpr bool InStartMenu(EditionLinkPlace place) {
    return place == EditionLinkPlace::MenuMain || place == EditionLinkPlace::Menu || place == EditionLinkPlace::MenuWeb;
}

struct EditionLink {
    EditionLinkPlace place;
    const char* fileName;  // in the target folder; null for the Internet shortcut
    const char* name;      // the .lnk's name without extension, also its description; the
                           // Internet shortcut's file name
};

struct EditionInfo {
    const char* displayName;       // message caption, default folder names, %s of texts
    const char* setupLogName;      // the setup log's file name
    const char* uninstallLogName;  // the uninstaller's log, kept in the temporary folder
    const char* programName;       // the user program, started after finish
    const char* licenseRtfEntry;   // shown by the licence page
    const char* webAddress;        // the web shortcut's address
    // The running product's named objects: its presence event and its query pipe.
    const char* presenceEvent;
    const char* pipeName;

    // The main service, made after the drivers. Its program, in the system folder, is also
    // the one the firewall rules let through, under the service's display name.
    const char* serviceName;
    const char* serviceProgramName;
    const char* serviceDisplayName;
    const char* serviceDescription;
    const char* serviceLoadOrderGroup;
    os::DWORD serviceStartType;
    EditionRows<const char*> serviceDependencies;

    const char* uninstallKeyName;
    const char* uninstallerName;  // a program file, which the uninstaller moves aside
    // Runs the Citrix support installer in install row 8 and rollback row 4 (the edition's
    // object runs it: CEdition::RunCitrixSupport).
    bool hasCitrixStep;

    EditionRows<EditionEntry> package;
    EditionRows<EditionFile> files;
    EditionRows<EditionDriver> drivers;  // made in this order; deleted in the reverse one
    // Started in this order once installed; stopped in the reverse one, before a rollback
    // and by the uninstaller.
    EditionRows<const char*> startList;
    EditionRows<EditionDriverPackage> driverPackages;
    EditionRows<EditionDevice> devices;  // removed by the uninstaller in this order
    EditionRows<EditionLink> links;      // made in this order
};

// Rows whose installation needs code an edition's object links only when it has such rows
// (CEdition's hooks). Each table's file checks its rows against its object, so that a row
// added tomorrow is refused by the build rather than removed and never installed.
constexpr bool HasBoundDevices(const EditionInfo& info) {
    for (const EditionDevice& device : info.devices) {
        if (device.driver != nullptr) return true;
    }
    return false;
}
constexpr bool HasDigestFiles(const EditionInfo& info) {
    for (const EditionFile& file : info.files) {
        if (file.digestValue != nullptr) return true;
    }
    return false;
}

// Short names for writing the tables: the folders as the install steps' descriptions name
// them, the conditions and the steps.
namespace edition_table {
constexpr EditionFolder S = EditionFolder::System;
constexpr EditionFolder W = EditionFolder::Wow64;
constexpr EditionFolder D = EditionFolder::Drivers;
constexpr EditionFolder T = EditionFolder::Target;
constexpr EditionWhen ALWAYS = EditionWhen::Always;
constexpr EditionWhen VISTA = EditionWhen::VistaOrLater;
constexpr EditionWhen BEFORE_VISTA = EditionWhen::BeforeVista;
constexpr EditionStep SYSTEM_FILES = EditionStep::SystemFiles;
constexpr EditionStep PROGRAM_FILES = EditionStep::ProgramFiles;
constexpr EditionStep DRIVERS = EditionStep::Drivers;
}  // namespace edition_table

class CEdition {
public:
    virtual const EditionInfo& Info() const = 0;
    // The step that is the edition's own: before anything is installed. Raises CExceptionEx
    // on failure; does nothing unless the edition has such a step.
    virtual void RemoveStaleStubDevice(CInstallProcess& process) const;
    // What the rows of devices with a driver and of files with a digest value need beyond
    // copying: an edition with such rows links the code for them through these, one without
    // links none of it. The driver step binds the devices after staging the INF files; the
    // system file step hands over each digest row's file found in the package, and the
    // uninstall entry's step asks for the digests of what was placed.
    virtual void BindDevices(CInstallProcess&) const {}
    virtual void PlaceProvidedFile(CInstallProcess&, const EditionFile&, const std::string&, const PackedFile&) const {}
    virtual void RecordProvidedFiles(CInstallProcess&) const {}
    // The Citrix support installer's run (register 1: its registration, 0: its removal), for
    // an edition whose table has the step.
    virtual void RunCitrixSupport(CInstallProcess&, int /*registerDll*/) const {}

protected:
    ~CEdition() = default;  // editions are constant objects, never deleted through this
};

inline void CEdition::RemoveStaleStubDevice(CInstallProcess&) const {}

// An edition seen through its table alone, as the uninstaller sees it: it links none of the
// install steps' code.
class CEditionTable final : public CEdition {
public:
    constexpr explicit CEditionTable(const EditionInfo& info) : m_info(info) {}
    const EditionInfo& Info() const override { return m_info; }

private:
    const EditionInfo& m_info;
};

// ---- what the install steps and the uninstaller share ---------------------------------------

// dir + "\" + name (no second backslash after one dir ends with).
std::string JoinPath(const std::string& dir, const char* name);
// The folder of a path: all before its last backslash; empty when it has none.
std::string FolderOf(const std::string& path);
// The file's installed name.
inline const char* InstalledName(const EditionFile& file) { return file.name != nullptr ? file.name : file.entry; }
// True when an earlier row of the table places the same file (the same folder and name).
bool PlacedByEarlierRow(const EditionInfo& info, const EditionFile& file);
// The name of the file a link is saved as: "<name>.lnk", or the Internet shortcut's name.
std::string LinkFileName(const EditionLink& link);

// The folder's path on this machine (the target folder as given); false when it cannot be
// had: a failed query, a path that does not fit MAX_PATH, no Wow64 folder, no target.
bool ResolveEditionFolder(EditionFolder folder, const std::string& targetFolder, std::string* path);
// A folder query shaped like GetSystemDirectoryA: false when it fails or does not fit.
bool QueryFolder(os::DWORD (*query)(char* buffer, os::DWORD size), std::string* folder);
// The program the firewall rules let through: the service program in the system folder.
// False when the system folder cannot be had (the last error tells why).
bool FirewallProgramPath(const EditionInfo& info, std::string* path);

// The shell folders the links go into.
constexpr int CSIDL_COMMON_PROGRAMS = 23;
constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 25;
constexpr int CSIDL_APPDATA = 26;
// The Quick Launch folder, below the user's application-data folder.
constexpr const char* QUICK_LAUNCH_FOLDER = "Microsoft\\Internet Explorer\\Quick Launch";

// Compile-time checks of a table: every name its file rows take from the package is one of
// its entries, and the extract places run from 1 without a gap or a place taken twice.
constexpr bool SameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}
template <std::size_t N>
constexpr bool IsPackaged(const EditionEntry (&package)[N], const char* name) {
    for (const EditionEntry& entry : package) {
        if (SameName(entry.name, name)) return true;
    }
    return false;
}
template <std::size_t N, std::size_t M>
constexpr bool FilesArePackaged(const EditionEntry (&package)[N], const EditionFile (&files)[M]) {
    for (const EditionFile& file : files) {
        if (!IsPackaged(package, file.entry)) return false;
    }
    return true;
}
template <std::size_t N>
constexpr bool ExtractPlacesAreDistinct(const EditionEntry (&package)[N]) {
    std::size_t extracted = 0;
    for (const EditionEntry& entry : package) extracted += entry.extractAt != 0 ? 1 : 0;
    for (std::size_t place = 1; place <= extracted; ++place) {
        std::size_t holders = 0;
        for (const EditionEntry& entry : package) holders += entry.extractAt == place ? 1 : 0;
        if (holders != 1) return false;
    }
    return true;
}
