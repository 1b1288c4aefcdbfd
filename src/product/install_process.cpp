#include "product/install_process.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "engine/trust.h"
#include "log/setup_log.h"
#include "platform/constants.h"
#include "product/citrix.h"
#include "product/firewall.h"

namespace {

// Locations of the install process (module 4096) that are not a table row's. Where the
// unpack-only mode fails: the current folder, the new folder, a missing entry.
constexpr std::uint16_t LOCATION_UNPACK_CURRENT_FOLDER = 247;
constexpr std::uint16_t LOCATION_UNPACK_FOLDER = 253;
constexpr std::uint16_t LOCATION_UNPACK_ENTRY = 261;
// Where each step that needs the system folder fails to find it.
constexpr std::uint16_t LOCATION_SYSTEM_FILES_FOLDER = 357;
constexpr std::uint16_t LOCATION_DRIVERS_SYSTEM_FOLDER = 628;
constexpr std::uint16_t LOCATION_SERVICE_SYSTEM_FOLDER = 839;
constexpr std::uint16_t LOCATION_SERVICE_NOT_MADE = 856;
constexpr std::uint16_t LOCATION_PROGRAMS_FOLDER = 910;
// The firewall step: the system folder, then no memory for the program path or the rule
// name, or either's conversion to UTF-16 failed.
constexpr std::uint16_t LOCATION_FIREWALL_SYSTEM_FOLDER = 88;
constexpr std::uint16_t LOCATION_FIREWALL_PATH_NO_MEMORY = 97;
constexpr std::uint16_t LOCATION_FIREWALL_NAME_NO_MEMORY = 101;
constexpr std::uint16_t LOCATION_FIREWALL_PATH_CONVERSION = 109;
constexpr std::uint16_t LOCATION_FIREWALL_NAME_CONVERSION = 117;
// The resumed run's arrangements.
constexpr std::uint16_t LOCATION_RESUME_COPY = 970;
constexpr std::uint16_t LOCATION_RESUME_RUN_ONCE = 975;
const char* const RUN_ONCE_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Windows path comparison: letters without case.
bool PathsEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
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

// Runs part and tells whether it ended normally. The failure path goes on whatever one of
// its parts meets, an allocation failure included.
template <typename Part>
bool Attempt(Part part) noexcept {
    try {
        part();
        return true;
    } catch (CExceptionEx* e) {
        delete e;
    } catch (...) {
    }
    return false;
}

// The folder the shell reports for csidl, or false.
bool SpecialFolder(int csidl, bool create, std::string* folder) {
    char path[os::MAX_PATH + 1] = {};
    if (!os::Shell().SHGetSpecialFolderPathA(nullptr, path, csidl, create ? 1 : 0)) return false;
    path[os::MAX_PATH] = '\0';
    *folder = path;
    return true;
}


}  // namespace

CInstallProcess::CInstallProcess(os::HANDLE logFile, IInstallHost* app, const CEdition& edition,
                                 const InstallProcessOptions& options)
    : CInstaller(logFile, 0, 1, options.captureSetupApiLog ? 1 : 0),
      m_pApp(app),
      m_vistaOrLater(options.vistaOrLater ? 1u : 0u),
      m_edition(edition) {}

int CInstallProcess::CheckPackage() { return OpenPackage(); }

void CInstallProcess::Install(std::int32_t* rebootFlag, std::int32_t* failed, os::HWND owner) {
    SetRebootFlag(rebootFlag);
    m_stage = Stage::Installing;
    // Out of memory is an installation error like any other, with a location of its own.
    CExceptionEx error(INSTALL_PROCESS_MODULE, INSTALL_LOCATION_NO_MEMORY, EXCEPTION_CODE_NO_MEMORY);
    try {
        Log(GetEditionInfo().displayName, " installation...");
        if (GetEditionInfo().hasCitrixStep) {
            os::FindData found;
            m_citrixProgramBefore =
                os::FindHandle(os::Files().FindFirstFileA(CitrixProgramPath().c_str(), &found)).IsValid();
        }
        RunInstallSteps();
        return;
    } catch (CExceptionEx* e) {
        error = *e;
        delete e;
    } catch (const std::bad_alloc&) {
    }
    // Once committed the backups are gone: what is installed stays installed.
    if (m_stage == Stage::Committed) return;
    const std::int32_t result = FailAndRollBack(&error, owner);
    if (failed != nullptr) *failed = result;
}

std::int32_t CInstallProcess::FailAndRollBack(const CExceptionEx* error, os::HWND owner) {
    IInstallHost& app = *m_pApp;
    m_stage = Stage::RollingBack;
    Attempt([&] {
        app.SetProgressPosition(50);
        app.SetProgressStep(50, PROGRESS_STOPPING_SERVICES);
        app.SetProgressDirection(0);
    });
    // Files of running services could not be deleted.
    Attempt([&] { StopInstalledServices(); });
    if (error != nullptr) {
        const std::string text = ErrorTextOrNothing(*error);
        // A silent run may have nobody to press the button: it goes straight on.
        if (app.MessagesShown()) {
            Attempt([&] { app.ShowMessageBox(owner, text.c_str(), GetEditionInfo().displayName, HOST_MB_OK_ERROR); });
        }
        Log(text.c_str());
    }
    Log("=== Rollback process ===");
    const bool complete = Rollback();
    m_stage = complete ? Stage::RolledBack : Stage::Abandoned;
    return complete ? INSTALL_FAILED : INSTALL_FAILED_NOT_RESTORED;
}

std::int32_t CInstallProcess::RecoverFromFault(bool unwound) {
    switch (m_stage) {
        case Stage::Ready:
        case Stage::RolledBack:
            return INSTALL_FAILED;  // nothing changed, or all of it was undone
        case Stage::Installing:
            // Unwound, the journal is as the last step left it; a fault's abandoned stack
            // may have left it half-written, so then nothing is touched.
            if (unwound) return FailAndRollBack(nullptr, nullptr);
            break;
        case Stage::Committed:
        case Stage::RollingBack:
        case Stage::Abandoned:
            break;
    }
    m_stage = Stage::Abandoned;
    return INSTALL_FAILED_NOT_RESTORED;
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
    // Before the uninstall entry, which nothing takes away again: this one can still fail.
    ScheduleResume();
    RegisterUninstall();
    app.SetProgressStep(95, PROGRESS_FINISHING);
    // The point of no return: from here on nothing is rolled back.
    m_stage = Stage::Committed;
    DiscardBackups();
    Pause(1000);
    app.SetProgressStep(100, PROGRESS_FINISHING);
}

bool CInstallProcess::Rollback() {
    IInstallHost& app = *m_pApp;
    bool complete = true;
    // Each row does its best; the next one runs whatever the one before met. A member
    // operation (null: none), so that every row shares one body.
    auto row = [&](std::int32_t position, std::int32_t target, std::int32_t code,
                   void (CInstallProcess::*operation)(), os::DWORD pause) {
        Attempt([&] {
            if (position >= 0) app.SetProgressPosition(position);
            app.SetProgressStep(target, code);
        });
        if (operation != nullptr && !Attempt([&] { (this->*operation)(); })) complete = false;
        Pause(pause);
    };

    Pause(2000);
    row(-1, 40, PROGRESS_REMOVING_SERVICES, nullptr, 500);
    row(40, 35, PROGRESS_REMOVING_SERVICES, &CInstallProcess::UninstallServicesAndDevices, 500);
    row(27, 25, PROGRESS_CLEARING_REGISTRY, &CInstallProcess::RollBackRegistry, 500);
    // The support installer is still in the target folder: files go only below.
    if (GetEditionInfo().hasCitrixStep && !Attempt([this] { RegisterCitrixSupport(0); })) complete = false;
    row(16, 15, PROGRESS_DELETING_FILES, &CInstallProcess::RemoveInstallFiles, 500);
    // A backup whose return waits for the next start is forgotten by the phase below.
    const std::string citrixProgram = m_citrixProgramBefore ? CitrixProgramPath() : std::string();
    const bool citrixReplaced = !citrixProgram.empty() && GetFileBackups().count(citrixProgram) != 0;
    row(11, 10, PROGRESS_RESTORING_FILES, &CInstallProcess::RollBackInstallFiles, 500);
    const bool citrixRestored =
        !citrixProgram.empty() && (!citrixReplaced || GetFileBackups().count(citrixProgram) != 0);
    row(-1, 1, PROGRESS_DELETING_DIRECTORY, &CInstallProcess::RemoveInstallDirectories, 1000);
    if (!Attempt([&] { RestorePreviousInstallation(citrixRestored); })) complete = false;
    Attempt([&] { app.SetProgressStep(0, PROGRESS_FINISHING); });
    return complete;
}

void CInstallProcess::RollBackRegistry() {
    RestoreServiceKeys();
    if (!m_resumeScheduled) return;
    os::RegKey runOnce;
    if (os::Registry().RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, RUN_ONCE_KEY, os::KEY_WRITE, runOnce.Receive()) ==
        static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        os::Registry().RegDeleteValueA(runOnce.Get(), ResumeValueName().c_str());
    } else {
        runOnce.Release();
    }
    m_resumeScheduled = false;
}

void CInstallProcess::RestorePreviousInstallation(bool citrixProgramRestored) {
    RestartStoppedServices();
    // The rollback's unregistration above also took away what the previous installation
    // had registered; its own program is back and registers it again.
    if (citrixProgramRestored) RegisterCitrixSupport(1);
}

std::string CInstallProcess::CitrixProgramPath() const {
    return JoinPath(GetOptions().targetFolder, CITRIX_INSTALLER_NAME);
}

std::string CInstallProcess::ResumeValueName() const { return std::string(GetEditionInfo().displayName) + " setup"; }

std::string CInstallProcess::ResumeFolderParent() const {
    std::string windows;
    if (!QueryFolder([](char* buffer, os::DWORD size) { return os::Kernel().GetWindowsDirectoryA(buffer, size); },
                     &windows)) {
        return std::string();
    }
    return JoinPath(windows, "Temp");
}

std::string CInstallProcess::ResumeCopyName() const {
    std::string name = GetEditionInfo().setupLogName;  // "tessaport-rdp-workstation-setup.log"
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name + ".exe";
}

void CInstallProcess::ScheduleResume() {
    if (GetDeferredServices().empty()) return;
    char self[os::MAX_PATH] = {};
    const os::DWORD length = os::Kernel().GetModuleFileNameA(self, sizeof self);
    if (length == 0 || length >= sizeof self) ThrowException(INSTALL_PROCESS_MODULE, LOCATION_RESUME_COPY);
    // The copy runs elevated after the next start, when the installer itself may be long
    // gone: it lives in a folder of its own that only administrators can change.
    const std::string parent = ResumeFolderParent();
    std::string folder;
    if (parent.empty() || !CreatePrivateFolder(parent, &folder)) {
        ThrowException(INSTALL_PROCESS_MODULE, LOCATION_RESUME_COPY);
    }
    RecordCreatedDirectory(folder.c_str());
    const std::string copy = JoinPath(folder, ResumeCopyName().c_str());
    if (!os::Files().CopyFileA(self, copy.c_str(), 1)) ThrowException(INSTALL_PROCESS_MODULE, LOCATION_RESUME_COPY);
    RecordInstalledFile(copy.c_str());
    const std::string command = "\"" + copy + "\" -resume -silent";
    os::RegKey runOnce;
    const os::LONG opened = os::Registry().RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, RUN_ONCE_KEY,
                                                           os::REG_OPTION_NON_VOLATILE, os::KEY_WRITE,
                                                           runOnce.Receive(), nullptr);
    if (opened != static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        runOnce.Release();
        ThrowException(INSTALL_PROCESS_MODULE, LOCATION_RESUME_RUN_ONCE, static_cast<std::uint32_t>(opened));
    }
    m_resumeScheduled = true;
    const os::LONG set = os::Registry().RegSetValueExA(runOnce.Get(), ResumeValueName().c_str(), os::REG_SZ,
                                                       reinterpret_cast<const os::BYTE*>(command.c_str()),
                                                       static_cast<os::DWORD>(command.size() + 1));
    if (set != static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        ThrowException(INSTALL_PROCESS_MODULE, LOCATION_RESUME_RUN_ONCE, static_cast<std::uint32_t>(set));
    }
    Log("Resume installation after restart: ", command.c_str());
}

void CInstallProcess::StopInstalledServices() {
    const EditionRows<const char*>& started = GetEditionInfo().startList;
    for (std::size_t i = started.size(); i-- > 0;) {
        if (!WasServiceStarted(started[i])) continue;
        // What it depends on cannot stop before it does.
        if (!StopInstalledService(started[i])) break;
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

bool CInstallProcess::UnpackOnly() {
    CExceptionEx error(INSTALL_PROCESS_MODULE, INSTALL_LOCATION_NO_MEMORY, EXCEPTION_CODE_NO_MEMORY);
    try {
        Log("=== unpack files process ===");
        OpenPackage();  // a package that did not load shows up as a missing first entry
        ExtractAllFiles();
        return true;
    } catch (CExceptionEx* e) {
        error = *e;
        delete e;
    } catch (const std::bad_alloc&) {
    }
    const std::string text = ErrorTextOrNothing(error);
    if (m_pApp->MessagesShown()) {
        Attempt([&] { m_pApp->ShowMessageBox(nullptr, text.c_str(), GetEditionInfo().displayName, HOST_MB_OK_ERROR); });
    }
    Log(text.c_str());
    Log("=== === ===");
    return false;
}

void CInstallProcess::ExtractAllFiles() {
    std::string current;
    if (!QueryFolder([](char* buffer, os::DWORD size) { return os::Kernel().GetCurrentDirectoryA(size, buffer); },
                     &current)) {
        ThrowException(INSTALL_PROCESS_MODULE, LOCATION_UNPACK_CURRENT_FOLDER);
    }
    const std::string folder = JoinPath(current, (std::string(GetEditionInfo().displayName) + " files").c_str());
    // A folder that is already there may hold someone else's files: nothing is written into it.
    if (!os::Files().CreateDirectoryA(folder.c_str(), nullptr)) {
        ThrowException(INSTALL_PROCESS_MODULE, LOCATION_UNPACK_FOLDER);
    }

    const EditionRows<EditionEntry>& package = GetEditionInfo().package;
    for (std::size_t place = 1; place <= package.size(); ++place) {
        const EditionEntry* entry = package.begin();
        while (entry != package.end() && entry->extractAt != place) ++entry;
        if (entry == package.end()) break;
        DebugTrace("%s", entry->name);
        PackedFile file;
        if (!FindEntry(entry->name, &file)) ThrowException(INSTALL_PROCESS_MODULE, LOCATION_UNPACK_ENTRY);
        InstallFile(entry->name, folder.c_str(), file.content, file.size);
    }
}

// ---- steps shared by the editions ---------------------------------------------------------

void CInstallProcess::RemoveStaleStubDevice() { m_edition.RemoveStaleStubDevice(*this); }

void CInstallProcess::InstallSystemFiles() {
    InstallStepFiles(EditionStep::SystemFiles, GetSystemFolder(LOCATION_SYSTEM_FILES_FOLDER));
}

void CInstallProcess::CreateProgramFolder() { CreateInstallDirectory(GetOptions().targetFolder.c_str()); }

void CInstallProcess::InstallProgramFiles() { InstallStepFiles(EditionStep::ProgramFiles, std::string()); }

void CInstallProcess::InstallDrivers() {
    const EditionInfo& info = GetEditionInfo();
    const std::string system = GetSystemFolder(LOCATION_DRIVERS_SYSTEM_FOLDER);
    InstallDriverServices(system + "\\Drivers");
    InstallStepFiles(EditionStep::Drivers, system);
    // The INF files as the engine placed them: target + "\\" + name.
    const std::string target = GetOptions().targetFolder + "\\";
    for (const EditionDriverPackage& package : info.driverPackages) {
        if (Applies(package.when) && !CopyOemInf((target + package.inf).c_str())) {
            ThrowException(INSTALL_PROCESS_MODULE, package.failedLocation);
        }
    }
    m_edition.BindDevices(*this);
}

void CInstallProcess::BindTableDevices() {
    const std::string target = GetOptions().targetFolder + "\\";
    for (const EditionDevice& device : GetEditionInfo().devices) {
        if (device.driver != nullptr) InstallWdmDriver(device.driver, (target + device.inf).c_str(), device.hardwareId);
    }
}

void CInstallProcess::InstallStepFiles(EditionStep step, const std::string& systemFolder) {
    std::string wow64;
    int wow64Found = -1;  // asked once per step, when a row first needs it
    for (const EditionFile& file : GetEditionInfo().files) {
        if (file.step != step || !Applies(file.when)) continue;
        // The entry first: one the step needs is missed even where its folder is not there.
        PackedFile content;
        if (!FindEntry(file.entry, &content)) {
            if (file.missingLocation == 0) continue;
            ThrowException(INSTALL_PROCESS_MODULE, file.missingLocation);
        }
        std::string folder = systemFolder;
        if (file.folder == EditionFolder::Drivers) {
            folder += "\\Drivers";
        } else if (file.folder == EditionFolder::Target) {
            folder = GetOptions().targetFolder;
        } else if (file.folder == EditionFolder::Wow64) {
            // Only a 64-bit Windows has one.
            if (wow64Found < 0) wow64Found = ResolveEditionFolder(EditionFolder::Wow64, std::string(), &wow64) ? 1 : 0;
            if (wow64Found == 0) continue;
            folder = wow64;
        }
        if (file.digestValue != nullptr) {
            m_edition.PlaceProvidedFile(*this, file, folder, content);
        } else {
            InstallFile(InstalledName(file), folder.c_str(), content.content, content.size);
        }
    }
}

void CInstallProcess::PlaceIfMissing(const EditionFile& file, const std::string& folder, const PackedFile& content) {
    const char* name = InstalledName(file);
    // Windows' own copy is never replaced, and not placing one is no failure.
    os::FindData found;
    if (os::FindHandle(os::Files().FindFirstFileA(JoinPath(folder, name).c_str(), &found)).IsValid()) return;
    try {
        InstallFile(name, folder.c_str(), content.content, content.size);
    } catch (CExceptionEx* e) {
        std::unique_ptr<CExceptionEx> error(e);
        // A half-written system file must not stay.
        ForgetCreatedFile(folder.c_str(), name);
    }
}

bool CInstallProcess::Applies(EditionWhen when) const {
    switch (when) {
        case EditionWhen::Always:
            return true;
        case EditionWhen::VistaOrLater:
            return IsVistaOrLater() != 0;
        case EditionWhen::BeforeVista:
            return IsVistaOrLater() == 0;
        case EditionWhen::XpKind:
            return GetOsKind() == OS_KIND_XP;
        case EditionWhen::VistaKind:
            return GetOsKind() == OS_KIND_VISTA || GetOsKind() == OS_KIND_VISTA_SERVER;
        case EditionWhen::Never:
            break;
    }
    return false;
}

void CInstallProcess::InstallDriverServices(const std::string& driverFolder, bool onlyMissing) {
    for (const EditionDriver& driver : GetEditionInfo().drivers) {
        if (!Applies(driver.when)) continue;
        if (onlyMissing && ServiceExists(driver.name)) continue;
        const std::string image = JoinPath(driverFolder, (std::string(driver.name) + ".sys").c_str());
        if (!InstallDriver(image.c_str(), driver.name, driver.displayName, driver.startType)) {
            ThrowException(INSTALL_PROCESS_MODULE, driver.failedLocation);
        }
    }
}

void CInstallProcess::ForgetResumeCopy() {
    char self[os::MAX_PATH] = {};
    const os::DWORD length = os::Kernel().GetModuleFileNameA(self, sizeof self);
    if (length == 0 || length >= sizeof self) return;
    // The copy is <Windows>\Temp\<private folder>\<name>: it goes with the next start, its
    // folder after it.
    const std::string path(self, length);
    const std::string folder = FolderOf(path);
    const std::string parent = ResumeFolderParent();
    if (folder.empty() || parent.empty() || !PathsEqual(path.substr(folder.size() + 1), ResumeCopyName()) ||
        !PathsEqual(FolderOf(folder), parent)) {
        return;
    }
    os::Files().MoveFileExA(path.c_str(), nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT);
    os::Files().MoveFileExA(folder.c_str(), nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool CInstallProcess::Resume() {
    CExceptionEx error(INSTALL_PROCESS_MODULE, INSTALL_LOCATION_NO_MEMORY, EXCEPTION_CODE_NO_MEMORY);
    try {
        const EditionInfo& info = GetEditionInfo();
        Log(info.displayName, " installation resumed after the restart");
        ForgetResumeCopy();
        InstallDriverServices(GetSystemFolder(LOCATION_DRIVERS_SYSTEM_FOLDER) + "\\Drivers", true);
        if (!ServiceExists(info.serviceName)) InstallMainService();
        if (!GetDeferredServices().empty()) {
            Log("Error: a service is still marked for deletion");
            return false;
        }
        for (const char* name : info.startList) {
            if (!IsServiceRunning(name)) StartInstalledService(name);
        }
        return true;
    } catch (CExceptionEx* e) {
        error = *e;
        delete e;
    } catch (const std::bad_alloc&) {
    }
    const std::string text = ErrorTextOrNothing(error);
    Log(text.c_str());
    return false;
}

void CInstallProcess::InstallMainService() {
    const EditionInfo& info = GetEditionInfo();
    const std::string binary = JoinPath(GetSystemFolder(LOCATION_SERVICE_SYSTEM_FOLDER), info.serviceProgramName);
    if (!InstallService(binary.c_str(), info.serviceName, info.serviceDisplayName, info.serviceDescription,
                        info.serviceLoadOrderGroup, info.serviceStartType, info.serviceDependencies.begin(),
                        info.serviceDependencies.size())) {
        ThrowException(INSTALL_PROCESS_MODULE, LOCATION_SERVICE_NOT_MADE);
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
    if (!SpecialFolder(CSIDL_COMMON_PROGRAMS, true, &menu)) {
        ThrowException(INSTALL_PROCESS_MODULE, LOCATION_PROGRAMS_FOLDER);
    }
    if (!options.startMenuFolder.empty()) menu = JoinPath(menu, options.startMenuFolder.c_str());
    CreateInstallDirectory(menu.c_str());

    for (const EditionLink& link : info.links) {
        std::string folder;
        switch (link.place) {
            case EditionLinkPlace::MenuMain:
                CreateShortcut(link.fileName, target, menu.c_str(), link.name, nullptr);
                break;
            case EditionLinkPlace::Menu:
                TryCreateShortcut(link.fileName, target, menu.c_str(), link.name, nullptr);
                break;
            case EditionLinkPlace::MenuWeb:
                CreateUrlShortcut(link.name, menu.c_str(), info.webAddress);
                break;
            case EditionLinkPlace::Desktop:
                if (options.desktopIcon && SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, true, &folder)) {
                    TryCreateShortcut(link.fileName, target, folder.c_str(), link.name, nullptr);
                }
                break;
            case EditionLinkPlace::QuickLaunch:
                if (options.quickLaunchIcon && SpecialFolder(CSIDL_APPDATA, false, &folder)) {
                    folder = JoinPath(folder, QUICK_LAUNCH_FOLDER);
                    os::FindData found;
                    if (os::FindHandle(os::Files().FindFirstFileA(folder.c_str(), &found)).IsValid()) {
                        TryCreateShortcut(link.fileName, target, folder.c_str(), link.name, nullptr);
                    }
                }
                break;
        }
    }
}

void CInstallProcess::RegisterUninstall() {
    const EditionInfo& info = GetEditionInfo();
    const InstallOptions& options = GetOptions();
    const UninstallEntryDetails details = {PRODUCT_VERSION_TEXT,  PRODUCT_PUBLISHER,    info.programName,
                                           info.webAddress,       PRODUCT_VERSION_MAJOR, PRODUCT_VERSION_MINOR};
    // Never fails: memory running out while the values are written is one more failed write.
    // (Failing here would leave the entry of a product the rollback takes away.)
    Attempt([&] {
        WriteUninstallEntry(info.uninstallKeyName, options.targetFolder.c_str(), options.startMenuFolder.c_str(),
                            info.uninstallerName, info.displayName, &details);
        m_edition.RecordProvidedFiles(*this);
    });
}

void CInstallProcess::RegisterCitrixSupport(int registerDll) { m_edition.RunCitrixSupport(*this, registerDll); }

void CInstallProcess::CreateFirewallRules() {
    Log("Create Firewall rules");
    // Lives until the step's last line is logged; its destructor leaves the apartment.
    std::unique_ptr<CFirewall> firewall;
    std::unique_ptr<CExceptionEx> error;
    try {
        firewall = std::make_unique<CFirewall>();
        const EditionInfo& edition = GetEditionInfo();
        std::string path;
        try {
            if (!FirewallProgramPath(edition, &path)) {
                ThrowException(INSTALL_PROCESS_MODULE, LOCATION_FIREWALL_SYSTEM_FOLDER);
            }
        } catch (const std::bad_alloc&) {
            ThrowException(INSTALL_PROCESS_MODULE, LOCATION_FIREWALL_PATH_NO_MEMORY, EXCEPTION_CODE_NO_MEMORY);
        }
        Log("Authorized appication: ", path.c_str());
        const std::u16string widePath = ToUtf16(path.c_str(), INSTALL_PROCESS_MODULE, LOCATION_FIREWALL_PATH_NO_MEMORY,
                                                LOCATION_FIREWALL_PATH_CONVERSION);
        const std::u16string wideName = ToUtf16(edition.serviceDisplayName, INSTALL_PROCESS_MODULE,
                                                LOCATION_FIREWALL_NAME_NO_MEMORY, LOCATION_FIREWALL_NAME_CONVERSION);
        firewall->AllowApplication(widePath, wideName);
        Log("Firewall rules was created succesful");
        return;
    } catch (CExceptionEx* e) {
        error.reset(e);
    } catch (const std::bad_alloc&) {
        // Memory ran out where no location of its own was left to report.
        Log("=== Error creating firewall rules ===");
        return;
    }
    Log("=== Error creating firewall rules ===");
    try {
        Log(FormatErrorText(IDS_FIREWALL_ERROR, *error).c_str());
    } catch (const std::bad_alloc&) {
        // The message cannot be formed; the header line above stands for it.
    }
}

void CInstallProcess::RecordProvidedFiles() {
    const EditionInfo& info = GetEditionInfo();
    for (const EditionFile& file : info.files) {
        if (file.digestValue == nullptr || PlacedByEarlierRow(info, file)) continue;
        std::string folder;
        if (!ResolveEditionFolder(file.folder, GetOptions().targetFolder, &folder)) continue;
        const std::string path = JoinPath(folder, InstalledName(file));
        // Only what this run created; an earlier run's record stays as it is.
        if (!m_journal.HoldsFile(path)) continue;
        std::string digest;
        // Without a record the uninstaller keeps the file, which is the safe side.
        if (FileDigest(path.c_str(), &digest)) WriteUninstallValue(info.uninstallKeyName, file.digestValue, digest);
    }
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

bool CInstallProcess::FindEntry(const char* entry, PackedFile* file) const {
    return GetPackage().FindFile(entry, &file->content, &file->size) != 0;
}

void CInstallProcess::ForgetCreatedFile(const char* dir, const char* name) {
    const std::string path = JoinPath(dir, name);
    if (m_journal.HoldsFile(path) && os::Files().DeleteFileA(path.c_str())) m_journal.ForgetFile(path);
}

std::string CInstallProcess::ErrorTextOrNothing(const CExceptionEx& error) const {
    std::string text;
    if (!Attempt([&] { text = FormatErrorText(IDS_INSTALL_ERROR, error); })) text.clear();
    return text;
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
