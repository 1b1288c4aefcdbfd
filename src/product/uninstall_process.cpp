#include "product/uninstall_process.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/constants.h"
#include "product/citrix.h"
#include "product/firewall.h"

namespace {

// The uninstall process's own errors: the upper half of their "arg0".
constexpr std::uint16_t UNINSTALL_PROCESS_MODULE = 4097;
// Where the firewall rules' removal fails: the system folder, the program path's UTF-16
// copy (no memory, a failed conversion), the rule name's, memory running out elsewhere.
constexpr std::uint16_t LOCATION_FIREWALL_SYSTEM_FOLDER = 3001;
constexpr std::uint16_t LOCATION_PATH_NO_MEMORY = 3002;
constexpr std::uint16_t LOCATION_PATH_CONVERSION = 3003;
constexpr std::uint16_t LOCATION_NAME_NO_MEMORY = 3004;
constexpr std::uint16_t LOCATION_NAME_CONVERSION = 3005;
constexpr std::uint16_t LOCATION_FIREWALL_NO_MEMORY = 3006;

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

// A folder the installer wrote into: "X:\..." or "\\server\...", never a drive's root.
bool UsableFolder(const std::string& path) {
    const bool drive = path.size() > 3 && path[1] == ':' && path[2] == '\\';
    const bool share = path.size() > 2 && path[0] == '\\' && path[1] == '\\';
    return (drive || share) && path.find("..") == std::string::npos;
}

// A Start Menu folder relative to the Programs folder, as the wizard takes it.
bool UsableMenuFolder(const std::string& path) {
    return path.find(':') == std::string::npos && path.find("..") == std::string::npos &&
           (path.empty() || path[0] != '\\');
}

const char* FolderName(EditionFolder folder) {
    switch (folder) {
        case EditionFolder::System: return "system";
        case EditionFolder::Wow64: return "Wow64";
        case EditionFolder::Drivers: return "Drivers";
        case EditionFolder::Target: return "target";
    }
    return "?";
}

bool IsMissing(os::DWORD error) { return error == os::ERROR_FILE_NOT_FOUND || error == os::ERROR_PATH_NOT_FOUND; }

}  // namespace

UninstallEnd PlanUninstallEnd(int copyResult, bool silent, bool noRestart) {
    auto shown = [silent](UninstallMessage message) { return silent ? UninstallMessage::None : message; };
    switch (copyResult) {
        case UNINSTALL_DONE:
            return {UNINSTALL_DONE, shown(UninstallMessage::Removed), false};
        case UNINSTALL_RESTART_NEEDED:
            if (!silent) return {UNINSTALL_RESTART_NEEDED, UninstallMessage::RestartQuestion, false};
            if (noRestart) return {UNINSTALL_RESTART_NEEDED, UninstallMessage::None, false};
            return {UNINSTALL_DONE, UninstallMessage::None, true};
        case UNINSTALL_NOT_ADMIN:
            return {UNINSTALL_NOT_ADMIN, shown(UninstallMessage::NotAdministrator), false};
        default:
            return {UNINSTALL_INCOMPLETE, shown(UninstallMessage::Incomplete), false};
    }
}

CUninstallProcess::CUninstallProcess(os::HANDLE logFile, const CEdition& edition, const std::string& workFolder)
    : CInstaller(logFile, 0, 1, 0), m_edition(edition), m_workFolder(workFolder) {}

int CUninstallProcess::Uninstall() {
    const EditionInfo& info = GetEditionInfo();
    Log(info.displayName, " uninstallation...");
    // One step meeting something unforeseen must not keep the others from running.
    auto step = [this](const char* name, void (CUninstallProcess::*body)()) {
        try {
            (this->*body)();
        } catch (CExceptionEx* e) {
            std::unique_ptr<CExceptionEx> error(e);
            Stayed("step ", name);
        } catch (const std::bad_alloc&) {
            Stayed("step ", name);
        }
    };
    bool installed = false;
    try {
        installed = ReadInstallation();
    } catch (const std::bad_alloc&) {
        Stayed("folder ", "target and Start Menu (the uninstall entry could not be read)");
    }
    step("stop services", &CUninstallProcess::StopServices);
    step("Citrix support", &CUninstallProcess::UnregisterCitrixSupport);
    step("devices", &CUninstallProcess::RemoveDevices);
    step("services", &CUninstallProcess::DeleteServices);
    step("driver packages", &CUninstallProcess::RemoveStagedDrivers);
    step("firewall rules", &CUninstallProcess::RemoveFirewallRules);
    step("shortcuts", &CUninstallProcess::RemoveShortcuts);
    step("system files", &CUninstallProcess::RemoveSystemFiles);
    step("program files", &CUninstallProcess::RemoveProgramFiles);
    if (installed) step("uninstall entry", &CUninstallProcess::RemoveUninstallEntry);

    if (!m_stayed.empty()) {
        Log("=== Uninstallation incomplete ===");
        return UNINSTALL_INCOMPLETE;
    }
    Log("=== Uninstallation complete ===");
    return IsRebootRequired() ? UNINSTALL_RESTART_NEEDED : UNINSTALL_DONE;
}

// ---- the steps --------------------------------------------------------------------------

bool CUninstallProcess::ReadInstallation() {
    const EditionInfo& info = GetEditionInfo();
    std::string target, menu;
    const os::LONG read = ReadUninstallValue(info.uninstallKeyName, "InstallLocation", &target);
    if (read == static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)) {
        std::string name;
        if (ReadUninstallValue(info.uninstallKeyName, "DisplayName", &name) ==
            static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)) {
            // Nothing says where the program files are: only what lies in fixed places goes.
            Log("Warning: No uninstall entry: ", info.uninstallKeyName);
            return false;
        }
        // An entry without its folder: the program files cannot be found, and it stays.
        Stayed("folder ", "target (the uninstall entry names none)");
        return false;
    }
    if (read != static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        Stayed("folder ", "target and Start Menu (the uninstall entry could not be read)");
        return false;
    }
    while (target.size() > 3 && target.back() == '\\') target.pop_back();
    if (!UsableFolder(target)) {
        Stayed("folder ", "target (the uninstall entry names " + target + ")");
    } else {
        m_targetFolder = target;
    }
    const os::LONG menuRead = ReadUninstallValue(info.uninstallKeyName, "StartMenuLocation", &menu);
    if (menuRead == static_cast<os::LONG>(os::ERROR_SUCCESS) && UsableMenuFolder(menu)) {
        m_startMenuFolder = menu;
        m_startMenuKnown = true;
    } else if (menuRead == static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        Stayed("folder ", "Start Menu (the uninstall entry names " + menu + ")");
    } else if (menuRead != static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)) {
        Stayed("folder ", "Start Menu (the uninstall entry could not be read)");
    }
    Log("Install Location: ", m_targetFolder.c_str());
    return true;
}

void CUninstallProcess::StopServices() {
    // As the installer stops them: in the reverse of their start order.
    const EditionRows<const char*>& started = GetEditionInfo().startList;
    for (std::size_t i = started.size(); i-- > 0;) StopInstalledService(started[i]);
}

void CUninstallProcess::UnregisterCitrixSupport() {
    if (!GetEditionInfo().hasCitrixStep || m_targetFolder.empty()) return;
    RunCitrixSupportInstaller(*this, m_targetFolder.c_str(), CITRIX_UNREGISTER_KEYWORD);
}

void CUninstallProcess::RemoveDevices() {
    for (const EditionDevice& device : GetEditionInfo().devices) {
        if (!RemoveDevicesCarryingId(device.hardwareId)) Stayed("devices ", device.hardwareId);
    }
}

void CUninstallProcess::DeleteServices() {
    const EditionInfo& info = GetEditionInfo();
    // The main service first: it depends on the drivers; then those in the reverse of their
    // making, whoever made them.
    RemoveService(info.serviceName);
    for (std::size_t i = info.drivers.size(); i-- > 0;) RemoveService(info.drivers[i].name);
}

void CUninstallProcess::RemoveStagedDrivers() {
    for (const EditionDriverPackage& package : GetEditionInfo().driverPackages) {
        if (!RemoveDriverPackages(package.inf)) Stayed("driver package ", package.inf);
    }
}

void CUninstallProcess::RemoveFirewallRules() {
    const EditionInfo& info = GetEditionInfo();
    Log("Remove Firewall rules");
    std::unique_ptr<CExceptionEx> error;
    {
        // Lives until its rules are gone; its destructor leaves the apartment.
        std::unique_ptr<CFirewall> firewall;
        try {
            firewall = std::make_unique<CFirewall>();
            std::string path;
            if (!FirewallProgramPath(info, &path)) {
                ThrowException(UNINSTALL_PROCESS_MODULE, LOCATION_FIREWALL_SYSTEM_FOLDER);
            }
            Log("Firewall program: ", path.c_str());
            const std::u16string widePath =
                ToUtf16(path.c_str(), UNINSTALL_PROCESS_MODULE, LOCATION_PATH_NO_MEMORY, LOCATION_PATH_CONVERSION);
            const std::u16string wideName = ToUtf16(info.serviceDisplayName, UNINSTALL_PROCESS_MODULE,
                                                    LOCATION_NAME_NO_MEMORY, LOCATION_NAME_CONVERSION);
            firewall->RemoveApplication(widePath, wideName);
            Log("Firewall rules were removed");
            return;
        } catch (CExceptionEx* e) {
            error.reset(e);
        } catch (const std::bad_alloc&) {
            error = std::make_unique<CExceptionEx>(UNINSTALL_PROCESS_MODULE, LOCATION_FIREWALL_NO_MEMORY,
                                                   EXCEPTION_CODE_NO_MEMORY);
        }
    }
    Log("=== Error removing firewall rules ===");
    char text[128];
    std::snprintf(text, sizeof text, "Error code = 0x%.8x\nError arg0 = 0x%.8x",
                  static_cast<unsigned>(error->GetCode()), static_cast<unsigned>(error->GetArg0()));
    Log(text);
    Stayed("firewall rules ", info.serviceDisplayName);
}

void CUninstallProcess::RemoveShortcuts() {
    const EditionInfo& info = GetEditionInfo();
    // A shell folder that cannot be had may still hold a link: it counts as staying. Only
    // the user's Quick Launch folder is optional, as the installer treats it.
    auto shellFolder = [this](int csidl, bool create, const char* what, std::string* folder) {
        char path[os::MAX_PATH + 1] = {};
        if (os::Shell().SHGetSpecialFolderPathA(nullptr, path, csidl, create ? 1 : 0)) {
            path[os::MAX_PATH] = '\0';
            *folder = path;
            return true;
        }
        if (!create && IsMissing(os::Kernel().GetLastError())) return false;
        Stayed("folder ", what);
        return false;
    };

    std::string programs;
    if (m_startMenuKnown && shellFolder(CSIDL_COMMON_PROGRAMS, true, "Programs", &programs)) {
        const std::string menu = m_startMenuFolder.empty() ? programs : JoinPath(programs, m_startMenuFolder.c_str());
        for (const EditionLink& link : info.links) {
            if (InStartMenu(link.place)) RemoveFile(JoinPath(menu, LinkFileName(link).c_str()));
        }
        // The Programs folder itself is Windows'.
        if (!m_startMenuFolder.empty()) RemoveFolder(menu);
    }
    // Whatever the options were: they may have changed since.
    for (const EditionLink& link : info.links) {
        std::string folder;
        if (link.place == EditionLinkPlace::Desktop) {
            if (!shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, true, "Desktop", &folder)) continue;
        } else if (link.place == EditionLinkPlace::QuickLaunch) {
            if (!shellFolder(CSIDL_APPDATA, false, "Quick Launch", &folder)) continue;
            folder = JoinPath(folder, QUICK_LAUNCH_FOLDER);
        } else {
            continue;
        }
        RemoveFile(JoinPath(folder, LinkFileName(link).c_str()));
    }
}

void CUninstallProcess::RemoveSystemFiles() {
    const EditionInfo& info = GetEditionInfo();
    // Each folder is looked up once.
    const EditionFolder folders[] = {EditionFolder::System, EditionFolder::Wow64, EditionFolder::Drivers};
    std::string paths[3];
    bool known[3] = {};
    for (int i = 0; i < 3; ++i) known[i] = Folder(folders[i], &paths[i]);
    auto lookup = [&](EditionFolder folder, std::string* path) {
        for (int i = 0; i < 3; ++i) {
            if (folders[i] == folder) {
                *path = paths[i];
                return known[i];
            }
        }
        return false;
    };
    for (const EditionFile& file : info.files) {
        std::string folder;
        if (file.folder != EditionFolder::Target && file.digestValue == nullptr && !PlacedByEarlierRow(info, file) &&
            lookup(file.folder, &folder)) {
            RemoveFile(JoinPath(folder, InstalledName(file)));
        }
    }
    // Files placed only where Windows lacked them, after the others.
    for (const EditionFile& file : info.files) {
        std::string folder;
        if (file.digestValue == nullptr || PlacedByEarlierRow(info, file) || !lookup(file.folder, &folder)) continue;
        const std::string path = JoinPath(folder, InstalledName(file));
        if (os::Files().GetFileAttributesA(path.c_str()) == os::INVALID_FILE_ATTRIBUTES &&
            IsMissing(os::Kernel().GetLastError())) {
            continue;
        }
        std::string placed, now;
        const os::LONG read = ReadUninstallValue(info.uninstallKeyName, file.digestValue, &placed);
        if (read == static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)) {
            // The installation did not place it: Windows' own.
            Log("Keep File: ", path.c_str());
            continue;
        }
        // Whether it is the installation's copy cannot be told: it stays, to be safe.
        if (read != static_cast<os::LONG>(os::ERROR_SUCCESS) || !FileDigest(path.c_str(), &now)) {
            Stayed("file ", path);
            continue;
        }
        if (now != placed) {
            // Replaced since the installation placed it: no longer the product's.
            Log("Keep File: ", path.c_str());
            continue;
        }
        RemoveFile(path);
    }
}

void CUninstallProcess::RemoveProgramFiles() {
    const EditionInfo& info = GetEditionInfo();
    if (m_targetFolder.empty()) return;
    for (const EditionFile& file : info.files) {
        if (file.folder != EditionFolder::Target || PlacedByEarlierRow(info, file)) continue;
        const std::string path = JoinPath(m_targetFolder, InstalledName(file));
        if (std::strcmp(InstalledName(file), info.uninstallerName) == 0) {
            RemoveUninstaller(path);
        } else {
            RemoveFile(path);
        }
    }
    RemoveFile(JoinPath(m_targetFolder, info.setupLogName));
    RemoveFolder(m_targetFolder);
}

void CUninstallProcess::RemoveUninstallEntry() {
    const char* key = GetEditionInfo().uninstallKeyName;
    if (!m_stayed.empty()) {
        // So that the removal can be run again once what stayed can go.
        Log("Warning: The uninstall entry stays: ", key);
        return;
    }
    Log("Delete Uninstall Entry: ", key);
    if (!DeleteUninstallEntry(key)) Stayed("uninstall entry ", key);
}

// ---- what the steps share -----------------------------------------------------------------

void CUninstallProcess::RemoveService(const char* name) {
    Log("Remove Service: ", name);
    const os::SC_HANDLE manager = GetServiceManager();
    if (manager == nullptr) {
        Stayed("service ", name);
        return;
    }
    {
        os::ServiceHandle probe(os::Services().OpenServiceA(manager, name, os::SERVICE_QUERY_STATUS));
        if (!probe.IsValid()) {
            const os::DWORD error = os::Kernel().GetLastError();
            if (error == os::ERROR_SERVICE_DOES_NOT_EXIST) return;
            if (error == os::ERROR_SERVICE_MARKED_FOR_DELETE) {
                RequireReboot();  // deleted already; it goes with the next start
                return;
            }
            Stayed("service ", name);
            return;
        }
    }
    UninstallService(name);

    // What the deletion left: gone, marked (it goes once stopped and closed), or still there.
    os::ServiceHandle service(os::Services().OpenServiceA(manager, name, os::SERVICE_ALL_ACCESS));
    if (!service.IsValid()) {
        const os::DWORD error = os::Kernel().GetLastError();
        if (error == os::ERROR_SERVICE_DOES_NOT_EXIST) return;
        if (error == os::ERROR_SERVICE_MARKED_FOR_DELETE) {
            if (!IsRebootRequired()) RequireReboot();
            return;
        }
        Stayed("service ", name);
        return;
    }
    if (!os::Services().DeleteService(service.Get()) &&
        os::Kernel().GetLastError() != os::ERROR_SERVICE_MARKED_FOR_DELETE) {
        Stayed("service ", name);
        return;
    }
    os::ServiceStatus status;
    const bool stopped =
        os::Services().QueryServiceStatus(service.Get(), &status) && status.currentState == os::SERVICE_STOPPED;
    // A stopped one goes when this last handle closes; a running one with the next start.
    if (!stopped && !IsRebootRequired()) RequireReboot();
}

void CUninstallProcess::RemoveFile(const std::string& path) {
    Log("Delete File: ", path.c_str());
    const os::DWORD attributes = os::Files().GetFileAttributesA(path.c_str());
    if (attributes == os::INVALID_FILE_ATTRIBUTES) {
        if (IsMissing(os::Kernel().GetLastError())) return;
    } else if (attributes & os::FILE_ATTRIBUTE_DIRECTORY) {
        // Not a file of ours: something else stands where it was.
        Log("Warning: Not a file, left in place: ", path.c_str());
        return;
    }
    if (os::Files().DeleteFileA(path.c_str())) return;
    os::DWORD error = os::Kernel().GetLastError();
    if (IsMissing(error)) return;
    if (error == os::ERROR_ACCESS_DENIED && attributes != os::INVALID_FILE_ATTRIBUTES &&
        (attributes & os::FILE_ATTRIBUTE_READONLY) != 0) {
        // Read-only is no reason to keep a file the installation put there.
        if (os::Files().SetFileAttributesA(path.c_str(), os::FILE_ATTRIBUTE_NORMAL) &&
            os::Files().DeleteFileA(path.c_str())) {
            return;
        }
    }
    // In use: it goes with the next start.
    DeleteAtNextStart(path);
}

void CUninstallProcess::RemoveUninstaller(const std::string& path) {
    Log("Delete File: ", path.c_str());
    if (os::Files().DeleteFileA(path.c_str()) || IsMissing(os::Kernel().GetLastError())) return;
    // The uninstaller that started this removal runs from here and waits for it: a running
    // program can be moved, so it leaves the target folder for one of this run.
    char temp[os::MAX_PATH] = {};
    const os::DWORD length = m_workFolder.empty() ? os::Kernel().GetTempPathA(sizeof temp, temp) : 0;
    if (!m_workFolder.empty() || (length > 0 && length < sizeof temp)) {
        std::string folder = m_workFolder.empty() ? std::string(temp, length) : m_workFolder;
        while (!folder.empty() && folder.back() == '\\') folder.pop_back();
        const std::string moved = MakeTempFileName(GetEditionInfo().uninstallerName, folder.c_str());
        if (os::Files().MoveFileExA(path.c_str(), moved.c_str(), 0)) {
            Log("Move File: ", moved.c_str());
            // A file left in the temporary folder is no reason for a restart.
            os::Files().MoveFileExA(moved.c_str(), nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT);
            return;
        }
    }
    DeleteAtNextStart(path);
}

void CUninstallProcess::DeleteAtNextStart(const std::string& path) {
    if (os::Files().MoveFileExA(path.c_str(), nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT)) {
        m_deferred.push_back(path);
        RequireReboot();
        return;
    }
    Stayed("file ", path);
}

void CUninstallProcess::RemoveFolder(const std::string& path) {
    Log("Remove Directory: ", path.c_str());
    if (os::Files().RemoveDirectoryA(path.c_str())) return;
    const os::DWORD error = os::Kernel().GetLastError();
    if (IsMissing(error)) return;
    bool holdsDeferred = false;
    for (const std::string& file : m_deferred) holdsDeferred = holdsDeferred || StartsWithIgnoringCase(file, path + "\\");
    if (error == os::ERROR_DIR_NOT_EMPTY && !holdsDeferred) {
        // What is left in it was not installed; it is the user's and stays, with its folder.
        Log("Warning: Folder holds other files and stays: ", path.c_str());
        return;
    }
    // After its deferred files, at the next start; a folder still holding the user's files
    // then stays of its own accord.
    if (os::Files().MoveFileExA(path.c_str(), nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (!IsRebootRequired()) RequireReboot();
        return;
    }
    Stayed("folder ", path);
}

void CUninstallProcess::Stayed(const char* what, const std::string& item) {
    const std::string entry = std::string(what) + item;
    m_stayed.push_back(entry);
    Log("Error: Not removed: ", entry.c_str());
}

bool CUninstallProcess::Folder(EditionFolder folder, std::string* path) {
    if (ResolveEditionFolder(folder, m_targetFolder, path)) return true;
    // A 32-bit Windows has no Wow64 folder, and the installer wrote nothing there.
    if (folder == EditionFolder::Wow64 && os::Kernel().GetLastError() == os::ERROR_CALL_NOT_IMPLEMENTED) return false;
    if (folder == EditionFolder::Target) return false;
    Stayed("folder ", FolderName(folder));
    return false;
}
