#include "product/install_process.h"

#include <cstdio>
#include <memory>

#include "log/setup_log.h"
#include "platform/constants.h"

namespace {

constexpr int CSIDL_COMMON_PROGRAMS = 23;
constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 25;
constexpr int CSIDL_APPDATA = 26;
const char* const QUICK_LAUNCH_FOLDER = "Microsoft\\Internet Explorer\\Quick Launch";

std::string JoinPath(const std::string& dir, const char* name) {
    std::string path(dir);
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name;
    return path;
}

// A pause between steps, on the seam's clock. The benchmark build of the setup programs
// (TSP_NO_STEP_PAUSES) leaves them out, to time the installation's own work.
void Pause(os::DWORD milliseconds) {
#ifndef TSP_NO_STEP_PAUSES
    os::Kernel().Sleep(milliseconds);
#else
    static_cast<void>(milliseconds);
#endif
}

// The folder the shell reports for csidl, or false.
bool SpecialFolder(int csidl, bool create, std::string* folder) {
    char path[os::MAX_PATH + 1] = {};
    if (!os::Shell().SHGetSpecialFolderPathA(nullptr, path, csidl, create ? 1 : 0)) return false;
    path[os::MAX_PATH] = '\0';
    *folder = path;
    return true;
}

// A folder query shaped like GetSystemDirectoryA: false when it fails or does not fit.
template <typename Query>
bool QueryFolder(Query query, std::string* folder) {
    char path[os::MAX_PATH] = {};
    const os::DWORD length = query(path, os::MAX_PATH);
    if (length == 0) return false;
    if (length >= os::MAX_PATH) {
        os::Kernel().SetLastError(os::ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    folder->assign(path, length);
    return true;
}

}  // namespace

CInstallProcess::CInstallProcess(os::HANDLE logFile, int captureSetupApiLog, int /*install*/, IInstallHost* app,
                                 int vistaOrLater, const CEdition& edition)
    : CInstaller(logFile, 0, 1, captureSetupApiLog),
      m_pApp(app),
      m_vistaOrLater(vistaOrLater != 0 ? 1u : 0u),
      m_edition(edition) {}

int CInstallProcess::CheckPackage() { return OpenPackage(); }

void CInstallProcess::Install(std::int32_t* rebootFlag, std::int32_t* failed, os::HWND owner) {
    SetRebootFlag(rebootFlag);
    const EditionInfo& info = GetEditionInfo();
    Log(info.displayName, " installation...");
    os::Kernel().SRand(os::Kernel().GetTickCount());

    try {
        RunInstallSteps();
    } catch (CExceptionEx* e) {
        std::unique_ptr<CExceptionEx> error(e);
        m_pApp->SetProgressPosition(50);
        m_pApp->SetProgressStep(50, PROGRESS_STOPPING_SERVICES);
        m_pApp->SetProgressDirection(0);
        // Files of running services could not be deleted.
        StopInstalledServices();
        const std::string text = FormatErrorText(IDS_INSTALL_ERROR, *error);
        m_pApp->ShowMessageBox(owner, text.c_str(), info.displayName, HOST_MB_OK_ERROR);
        Log(text.c_str());
        Log("=== Rollback process ===");
        Rollback();
        if (failed != nullptr) *failed = 1;
    }
}

int CInstallProcess::RestartComputer() { return RestartSystem(); }

void CInstallProcess::RunInstallSteps() {
    IInstallHost& app = *m_pApp;

    app.SetProgressStep(1, PROGRESS_NO_TEXT);
    RemoveStaleStubDevice();
    Pause(200);
    app.SetProgressStep(10, PROGRESS_COPYING_FILES);
    InstallSystemFiles();
    Pause(200);
    app.SetProgressStep(20, PROGRESS_COPYING_FILES);
    CreateProgramFolder();
    Pause(200);
    app.SetProgressStep(30, PROGRESS_COPYING_FILES);
    InstallProgramFiles();
    Pause(200);
    app.SetProgressStep(70, PROGRESS_INSTALLING_DRIVERS);
    InstallDrivers();
    app.SetProgressStep(80, PROGRESS_INSTALLING_MAIN_MODULE);
    InstallMainService();
    // After a restart requirement the services start with Windows instead.
    if (*GetRebootFlag() == 0) {
        app.SetProgressStep(85, PROGRESS_STARTING_DRIVERS);
        StartServices();
    }
    if (GetEditionInfo().hasCitrixStep) {
        app.SetProgressStep(86, PROGRESS_STARTING_DRIVERS);
        RegisterCitrixSupport(1);
    }
    app.SetProgressPosition(87);
    app.SetProgressStep(90, PROGRESS_CREATING_MENU_ITEMS);
    CreateProgramShortcuts();
    RegisterUninstall();
    app.SetProgressStep(95, PROGRESS_FINISHING);
    DiscardBackups();
    Pause(1000);
    app.SetProgressStep(100, PROGRESS_FINISHING);
}

void CInstallProcess::Rollback() {
    IInstallHost& app = *m_pApp;

    Pause(2000);
    app.SetProgressStep(40, PROGRESS_REMOVING_SERVICES);
    Pause(500);

    app.SetProgressPosition(40);
    app.SetProgressStep(35, PROGRESS_REMOVING_SERVICES);
    UninstallServicesAndDevices();
    Pause(500);

    app.SetProgressPosition(27);
    app.SetProgressStep(25, PROGRESS_CLEARING_REGISTRY);
    RestoreServiceKeys();
    Pause(500);

    // The support installer is still in the target folder: files go only below.
    if (GetEditionInfo().hasCitrixStep) RegisterCitrixSupport(0);

    app.SetProgressPosition(16);
    app.SetProgressStep(15, PROGRESS_DELETING_FILES);
    RemoveInstallFiles();
    Pause(500);

    app.SetProgressPosition(11);
    app.SetProgressStep(10, PROGRESS_RESTORING_FILES);
    RollBackInstallFiles();
    Pause(500);

    app.SetProgressStep(1, PROGRESS_DELETING_DIRECTORY);
    RemoveInstallDirectories();
    Pause(1000);

    app.SetProgressStep(0, PROGRESS_FINISHING);
}

void CInstallProcess::StopInstalledServices() {
    for (const char* name : GetEditionInfo().stopList) {
        if (!WasServiceStarted(name)) continue;
        // What it depends on cannot stop before it does.
        if (!StopInstalledService(name)) break;
    }
}

int CInstallProcess::TryCreateShortcut(const char* targetName, const char* targetDir, const char* shortcutDir,
                                       const char* shortcutName, const char* arguments) {
    try {
        CreateShortcut(targetName, targetDir, shortcutDir, shortcutName, arguments);
        return 1;
    } catch (CExceptionEx* e) {
        std::unique_ptr<CExceptionEx> error(e);
        const std::string text = FormatErrorText(IDS_INSTALL_ERROR, *error);
        Log("Warning: ");
        Log(text.c_str());
        return 0;
    }
}

void CInstallProcess::UnpackOnly() {
    Log("=== unpack files process ===");
    OpenPackage();  // a package that did not load shows up as a missing first entry
    try {
        ExtractAllFiles();
    } catch (CExceptionEx* e) {
        std::unique_ptr<CExceptionEx> error(e);
        const std::string text = FormatErrorText(IDS_INSTALL_ERROR, *error);
        m_pApp->ShowMessageBox(nullptr, text.c_str(), GetEditionInfo().displayName, HOST_MB_OK_ERROR);
        Log(text.c_str());
        Log("=== === ===");
    }
}

void CInstallProcess::ExtractAllFiles() {
    std::string current;
    if (!QueryFolder([](char* buffer, os::DWORD size) { return os::Kernel().GetCurrentDirectoryA(size, buffer); },
                     &current)) {
        ThrowException(INSTALL_PROCESS_MODULE, 247);
    }
    const std::string folder = JoinPath(current, (std::string(GetEditionInfo().displayName) + " files").c_str());
    // A folder that is already there may hold someone else's files: nothing is written into it.
    if (!os::Files().CreateDirectoryA(folder.c_str())) ThrowException(INSTALL_PROCESS_MODULE, 253);

    for (const char* name : GetEditionInfo().extractList) {
        DebugTrace("%s", name);
        PackedFile file;
        if (!FindEntry(name, &file)) ThrowException(INSTALL_PROCESS_MODULE, 261);
        InstallFile(name, folder.c_str(), file.content, file.size);
    }
}

// ---- steps shared by the editions ---------------------------------------------------------

void CInstallProcess::RemoveStaleStubDevice() { m_edition.RemoveStaleStubDevice(*this); }

void CInstallProcess::InstallSystemFiles() { m_edition.InstallSystemFiles(*this); }

void CInstallProcess::InstallDrivers() { m_edition.InstallDrivers(*this); }

void CInstallProcess::CreateProgramFolder() { CreateInstallDirectory(GetOptions().targetFolder.c_str()); }

void CInstallProcess::InstallProgramFiles() {
    const std::string target = GetOptions().targetFolder;
    for (const EditionFile& file : GetEditionInfo().programFiles) {
        InstallEntry(file.entry, target.c_str(), nullptr, file.missingLocation);
    }
}

void CInstallProcess::InstallMainService() {
    const EditionInfo& info = GetEditionInfo();
    const std::string binary = JoinPath(GetSystemFolder(839), info.serviceProgramName);
    if (!InstallService(binary.c_str(), info.serviceName, info.serviceDisplayName, info.serviceDescription,
                        info.serviceLoadOrderGroup, info.serviceStartType, &info.serviceDependencies)) {
        ThrowException(INSTALL_PROCESS_MODULE, 856);
    }
}

void CInstallProcess::StartServices() {
    for (const char* name : GetEditionInfo().startList) StartInstalledService(name);
}

void CInstallProcess::CreateProgramShortcuts() {
    const EditionInfo& info = GetEditionInfo();
    const InstallOptions& options = GetOptions();
    const char* target = options.targetFolder.c_str();

    std::string menu;
    if (!SpecialFolder(CSIDL_COMMON_PROGRAMS, true, &menu)) ThrowException(INSTALL_PROCESS_MODULE, 910);
    if (!options.startMenuFolder.empty()) menu = JoinPath(menu, options.startMenuFolder.c_str());
    CreateInstallDirectory(menu.c_str());

    CreateShortcut(info.mainShortcut.fileName, target, menu.c_str(), info.mainShortcut.linkName, nullptr);
    for (const EditionShortcut& link : info.menuShortcuts) {
        TryCreateShortcut(link.fileName, target, menu.c_str(), link.linkName, nullptr);
    }
    CreateUrlShortcut(info.webShortcutFile, menu.c_str(), info.webAddress);
    for (const EditionShortcut& link : info.menuShortcutsAfterWeb) {
        TryCreateShortcut(link.fileName, target, menu.c_str(), link.linkName, nullptr);
    }

    std::string desktop;
    if (options.desktopIcon && SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, true, &desktop)) {
        TryCreateShortcut(info.desktopShortcut.fileName, target, desktop.c_str(), info.desktopShortcut.linkName,
                          nullptr);
    }
    std::string appData;
    if (options.quickLaunchIcon && SpecialFolder(CSIDL_APPDATA, false, &appData)) {
        const std::string quickLaunch = JoinPath(appData, QUICK_LAUNCH_FOLDER);
        os::FindData found;
        if (os::FindHandle(os::Files().FindFirstFileA(quickLaunch.c_str(), &found)).IsValid()) {
            TryCreateShortcut(info.desktopShortcut.fileName, target, quickLaunch.c_str(), info.desktopShortcut.linkName,
                              nullptr);
        }
    }
}

void CInstallProcess::RegisterUninstall() {
    const EditionInfo& info = GetEditionInfo();
    const InstallOptions& options = GetOptions();
    WriteUninstallEntry(info.uninstallKeyName, options.targetFolder.c_str(), options.startMenuFolder.c_str(),
                        info.uninstallerName, info.displayName);
}

// ---- what the step bodies share ------------------------------------------------------------

std::string CInstallProcess::GetSystemFolder(std::uint16_t location) const {
    std::string folder;
    if (!QueryFolder([](char* buffer, os::DWORD size) { return os::Kernel().GetSystemDirectoryA(buffer, size); },
                     &folder)) {
        ThrowException(INSTALL_PROCESS_MODULE, location);
    }
    return folder;
}

bool CInstallProcess::GetSystemWow64Folder(std::string* folder) const {
    return QueryFolder([](char* buffer, os::DWORD size) { return os::Kernel().GetSystemWow64DirectoryA(buffer, size); },
                       folder);
}

bool CInstallProcess::FindEntry(const char* entry, PackedFile* file) const {
    return GetPackage().FindFile(entry, &file->content, &file->size) != 0;
}

void CInstallProcess::InstallEntry(const char* entry, const char* dir, const char* name,
                                   std::uint16_t missingLocation) {
    PackedFile file;
    if (!FindEntry(entry, &file)) ThrowException(INSTALL_PROCESS_MODULE, missingLocation);
    InstallFile(name != nullptr ? name : entry, dir, file.content, file.size);
}

void CInstallProcess::ForgetCreatedFile(const char* dir, const char* name) {
    const std::string path = JoinPath(dir, name);
    const auto record = m_journal.find(path);
    if (record == m_journal.end() || record->second != JOURNAL_FILE) return;
    if (os::Files().DeleteFileA(path.c_str())) m_journal.erase(record);
}

std::string CInstallProcess::FormatErrorText(std::uint32_t stringId, const CExceptionEx& error) const {
    // Only the two numbers are filled in: a text is never used as a format string.
    const std::string format = m_pApp->LoadText(stringId);
    const std::uint32_t values[2] = {error.GetCode(), error.GetArg0()};
    std::size_t used = 0;
    std::string text;
    for (std::size_t at = 0; at < format.size();) {
        if (format.compare(at, 4, "%.8x") == 0 && used < 2) {
            char number[16];
            std::snprintf(number, sizeof number, "%.8x", static_cast<unsigned>(values[used++]));
            text += number;
            at += 4;
        } else if (format.compare(at, 2, "%%") == 0) {
            text += '%';
            at += 2;
        } else {
            text += format[at++];
        }
    }
    return text;
}
