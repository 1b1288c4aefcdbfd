#include "app/install_app.h"

#include "app/exception_guard.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/user_launch.h"
#include "engine/exception.h"
#include "engine/trust.h"
#include "log/setup_log.h"
#include "platform/platform.h"
#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"
#include "product/install_process.h"
#include "product/user_iface.h"

namespace {

// Error codes the install process's construction reports.
constexpr std::uint32_t REFUSED_WINDOWS = 1150;       // ERROR_OLD_WIN_VERSION
constexpr std::uint32_t REFUSED_NOT_ADMIN = 1313;     // ERROR_NO_SUCH_PRIVILEGE
constexpr std::uint32_t REFUSED_BITNESS = 0xE0000233;  // ERROR_IN_WOW64

// Setup log lines of the application's own.
constexpr const char* LOG_NAME_TAKEN = "Warning: The log file's name was taken, the log is: ";
constexpr const char* LOG_COPY_NAME_TAKEN = "Warning: The log file's name was taken, the log copy is: ";
constexpr const char* LOG_DLL_REDIRECTION = "Error: DLL redirection in place, setup refused: ";
constexpr const char* LOG_STARTED_BY_SHELL = "Started for the user by the desktop shell: ";
constexpr const char* LOG_STARTED_HERE = "No desktop shell, started by setup: ";

}  // namespace

CInstallApp::CInstallApp(const AppEdition& edition) : m_appEdition(edition) {}

CInstallApp::~CInstallApp() { ReleaseRun(); }

void CInstallApp::ReleaseRun() {
    // The install process may still write to the log while it is destroyed.
    m_process.reset();
    if (m_hWorker != nullptr) {
        CloseHandle(m_hWorker);
        m_hWorker = nullptr;
    }
    if (m_hLog != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hLog);
        m_hLog = INVALID_HANDLE_VALUE;
    }
}

BOOL CInstallApp::InitInstance() {
    RunStart();
    return FALSE;
}

int CInstallApp::ExitInstance() {
    CFrameApp::ExitInstance();
    // Here rather than in the destructor: the platform seam the install process uses on
    // its way out is made after this static object and is gone before it.
    ReleaseRun();
    return m_exitCode;
}

// ---- messages -----------------------------------------------------------------------------

std::string CInstallApp::LoadText(std::uint32_t id) const {
    char buffer[1024];
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

int CInstallApp::ShowMessageBox(os::HWND owner, const char* text, const char* caption, os::UINT type) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

std::string CInstallApp::Format(UINT id, const char* arg) const {
    const std::string format = LoadText(id);
    std::vector<char> buffer(format.size() + (arg != nullptr ? std::strlen(arg) : 0) + 64);
    std::snprintf(buffer.data(), buffer.size(), format.c_str(), arg != nullptr ? arg : "");
    return buffer.data();
}

void CInstallApp::ShowText(const std::string& text, UINT icon, HWND owner) {
    MessageBoxA(owner, text.c_str(), GetEditionInfo().displayName, MB_OK | icon);
}

void CInstallApp::ShowAppMessage(UINT id, UINT icon) {
    if (m_messagesShown == 0) return;
    ShowText(Format(id, GetEditionInfo().displayName), icon);
}

// ---- progress -----------------------------------------------------------------------------

void CInstallApp::AttachProgress(std::int32_t* target, std::int32_t* value, std::int32_t* direction, HWND taskLabel) {
    m_pTarget = target;
    m_pValue = value;
    m_pDirection = direction;
    m_taskLabel = taskLabel;
}

void CInstallApp::SetProgressStep(std::int32_t target, std::int32_t code) {
    if (m_pTarget != nullptr) *m_pTarget = target;
    if (m_taskLabel == nullptr) return;
    static const UINT texts[] = {27, 28, 29, 30, 31, 32, 45, 46, 47, 0, 48, 49, 50};
    const UINT id = (code >= 0 && code < static_cast<std::int32_t>(sizeof texts / sizeof texts[0])) ? texts[code] : 0;
    SetWindowTextA(m_taskLabel, id != 0 ? LoadText(id).c_str() : "");
}

void CInstallApp::SetProgressPosition(std::int32_t value) {
    if (m_pValue == nullptr) return;
    if (m_pDirection != nullptr && *m_pDirection == 1) {
        *m_pValue = value;
    } else if (m_pTarget != nullptr && *m_pTarget > *m_pValue) {
        *m_pValue = value;
    }
}

void CInstallApp::SetProgressDirection(std::int32_t direction) {
    if (m_pDirection != nullptr) *m_pDirection = direction;
}

// ---- package and running product ----------------------------------------------------------

int CInstallApp::InitSetupModules(std::string* message) {
    const int status = m_process->CheckPackage();
    UINT id = 0;
    switch (status) {
        case 0: break;
        case -1: id = IDS_UNPACK_ERROR; break;
        case -2: id = IDS_DAMAGED; break;
        case -3: id = IDS_NO_RESOURCES; break;
        default: id = IDS_MODULES_ERROR; break;
    }
    if (message != nullptr) *message = id != 0 ? LoadText(id) : std::string();
    return status;
}

int CInstallApp::CheckInstalledVersion(std::string* message) {
    const EditionInfo& info = GetEditionInfo();
    const RunningProductQuery query{info.presenceEvent, info.pipeName, m_appEdition.ownVersion,
                                    m_appEdition.ownVersionText};
    const std::string format = LoadText(IDS_OLDER_VERSION);
    return ::CheckInstalledVersion(query, format.c_str(), message);
}

bool CInstallApp::LoadLicenseText(const void** data, std::uint32_t* size) {
    PackedFile file;
    if (!m_process || !m_process->FindEntry(GetEditionInfo().licenseRtfEntry, &file)) return false;
    *data = file.content;
    *size = file.size;
    return true;
}

void CInstallApp::RestartComputer() {
    if (m_process) m_process->RestartComputer();
}

void CInstallApp::StartForUser(const std::string& file, const char* directory, int showCommand) {
    const bool byShell = ShellOpenAsUser(file.c_str(), nullptr, directory, showCommand);
    LogLine(byShell ? LOG_STARTED_BY_SHELL : LOG_STARTED_HERE, file.c_str());
    if (!byShell) ShellExecuteA(nullptr, "open", file.c_str(), nullptr, directory, showCommand);
}

void CInstallApp::StartInstalledProgram() {
    const std::string& folder = m_options.targetFolder;
    StartForUser(folder + "\\" + GetEditionInfo().programName, folder.c_str(), SW_SHOWNORMAL);
}

void CInstallApp::OpenQuickStart() { StartForUser(m_quickStartAddress, nullptr, SW_SHOWMINIMIZED); }

// ---- install worker -----------------------------------------------------------------------

void CInstallApp::InstallBody() {
    m_process->Install(&m_restartFlag, &m_failed, m_messageOwner);
    if (m_failed != 0) {
        if (m_pValue != nullptr) *m_pValue = 120;
        return;
    }
    if (m_pValue != nullptr) *m_pValue = 95;
#ifndef TSP_NO_STEP_PAUSES  // see Pause in install_process.cpp
    Sleep(500);
#endif
    if (m_options.firewallRules != 0) m_process->CreateFirewallRules();
    if (m_pValue != nullptr) *m_pValue = 100;
}

void CInstallApp::ReportException(DWORD code, std::uint64_t address, bool unwound) {
    char text[512];
    std::snprintf(text, sizeof text, LoadText(IDS_INSTALL_EXCEPTION).c_str(), static_cast<unsigned>(code),
                  static_cast<unsigned>(address & 0xFFFFFFFFu));
    if (m_process) m_process->Log(text);
    // A silent run may have nobody to press the button.
    if (m_messagesShown != 0) ShowText(text, MB_ICONERROR);
    // Only now is the page told to end: the recovery may still roll back for a while.
    m_failed = m_process ? m_process->RecoverFromFault(unwound) : INSTALL_FAILED_NOT_RESTORED;
    if (m_pValue != nullptr) *m_pValue = 100;
}

// The body under the guard (see exception_guard.h): an exception that escapes it becomes
// string 35 and a failed installation.
void CInstallApp::RunInstallBody() {
    CallGuarded([](void* app) { static_cast<CInstallApp*>(app)->InstallBody(); },
                [](void* app, DWORD code, std::uint64_t address, bool unwound) {
                    static_cast<CInstallApp*>(app)->ReportException(code, address, unwound);
                },
                this);
}

DWORD WINAPI CInstallApp::WorkerThread(LPVOID param) {
    static_cast<CInstallApp*>(param)->RunInstallBody();
    return 0;
}

void CInstallApp::RunGuardedBody() {
    // The body runs on a thread of its own so that the unhandled-exception net can end it
    // without ending the program; this thread only waits.
    HANDLE thread = CreateThread(nullptr, 0, WorkerThread, this, 0, nullptr);
    if (thread == nullptr) {
        RunInstallBody();
        return;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

int CInstallApp::StartInstallThread(HWND page) {
    HANDLE thread = CreateThread(nullptr, 0, WorkerThread, this, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
        char text[256];
        std::snprintf(text, sizeof text, LoadText(IDS_SYSTEM_ERROR).c_str(), static_cast<unsigned>(GetLastError()));
        ShowText(text, MB_ICONERROR, page);
        return -1;
    }
    if (m_hWorker != nullptr) CloseHandle(m_hWorker);
    m_hWorker = thread;
    m_messageOwner = page;
    ResumeThread(thread);
    return 0;
}

void CInstallApp::EndInstallThread() {
    if (m_hWorker != nullptr) {
        if (WaitForSingleObject(m_hWorker, 10000) != WAIT_OBJECT_0) {
            TerminateThread(m_hWorker, 0xFFFFFFFF);
        }
        CloseHandle(m_hWorker);
        m_hWorker = nullptr;
    }
    // The page's integers end with the wizard.
    AttachProgress(nullptr, nullptr, nullptr, nullptr);
}

// ---- start routine ------------------------------------------------------------------------

bool CInstallApp::CreateSetupLog() {
    const EditionInfo& info = GetEditionInfo();
    if (m_flags.logCopy != 0) {
        char self[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
        if (length > 0 && length < MAX_PATH) m_besideLogPath = JoinPath(FolderOf(self), info.setupLogName);
    }
    if (m_hLog != INVALID_HANDLE_VALUE) CloseHandle(m_hLog);
    m_hLog = INVALID_HANDLE_VALUE;
    m_tempLogPath.clear();
    char temp[MAX_PATH];
    const DWORD length = os::Kernel().GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return false;
    // The temporary folder may be one every user can write (SYSTEM's, on older Windows).
    TrustedFile log;
    if (!OpenForTrustedWrite(std::string(temp) + info.setupLogName, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             WriteStart::Empty, &log)) {
        return false;
    }
    m_tempLogPath = log.path;
    m_hLog = log.handle.Release();
    if (log.renamed) LogLine(LOG_NAME_TAKEN, m_tempLogPath.c_str());
    return true;
}

void CInstallApp::LogLine(const char* text, const char* argument) {
    if (m_hLog != INVALID_HANDLE_VALUE) CSetupLogApi(m_hLog).WriteLine(text, argument);
}

bool CInstallApp::CopySetupLog() {
    const EditionInfo& info = GetEditionInfo();
    TrustedFile intoTarget, beside;
    const bool toTarget =
        !m_options.targetFolder.empty() &&
        OpenForTrustedWrite(m_options.targetFolder + "\\" + info.setupLogName, FILE_SHARE_READ, WriteStart::Empty,
                            &intoTarget);
    const bool toBeside = m_flags.logCopy != 0 && !m_besideLogPath.empty() &&
                          OpenForTrustedWrite(m_besideLogPath, FILE_SHARE_READ, WriteStart::Empty, &beside);
    // Said before the copies are made, so that they say it too.
    if (toTarget && intoTarget.renamed) LogLine(LOG_COPY_NAME_TAKEN, intoTarget.path.c_str());
    if (toBeside && beside.renamed) LogLine(LOG_COPY_NAME_TAKEN, beside.path.c_str());
    if (toTarget) CopyFileContent(m_hLog, intoTarget.handle.Get());
    return toBeside && CopyFileContent(m_hLog, beside.handle.Get());
}

bool CInstallApp::RunStart() {
    m_options = InstallOptions();
    m_restartFlag = 0;
    m_restartPageShown = 0;
    m_exitCode = EXIT_DONE;

    m_flags = ReadSwitches(GetCommandLineA());
    m_messagesShown = m_flags.silent != 0 ? m_flags.messages : 1;
    os::UseWin32();
    if (!OpenRun()) return false;

    if (m_flags.resume != 0) return RunResumed();
    if (m_flags.unpackOnly != 0) return RunUnpackOnly();
    const EditionInfo& info = GetEditionInfo();
    char programFiles[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles)))
        m_options.targetFolder = std::string(programFiles) + "\\" + info.displayName;
    m_options.startMenuFolder = info.displayName;
    m_quickStartAddress = std::string(info.webAddress) + "#quick-start";
    return m_flags.silent != 0 ? RunSilent() : RunInteractive();
}

int CInstallApp::RefusalExitCode(std::uint32_t code, UINT* textId) {
    switch (code) {
        case REFUSED_WINDOWS:
            *textId = IDS_OLD_WINDOWS;
            return EXIT_REFUSED_WINDOWS;
        case REFUSED_NOT_ADMIN:
            *textId = IDS_NEED_ADMIN;
            return EXIT_NOT_ADMIN;
        case REFUSED_BITNESS:
            *textId = IDS_WRONG_BITNESS;
            return EXIT_WRONG_BITNESS;
        default:
            *textId = IDS_INIT_ERROR;
            return EXIT_INIT_ERROR;
    }
}

bool CInstallApp::OpenRun() {
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));
    m_majorVersion = version.dwMajorVersion;
    if (m_appEdition.refusesWindows2000 && version.dwMajorVersion == 5 && version.dwMinorVersion == 0) {
        ShowAppMessage(IDS_OLD_WINDOWS, MB_ICONWARNING);
        m_exitCode = EXIT_OLD_WINDOWS;
        return false;
    }

    CreateSetupLog();

    std::string redirection;
    if (os::DllRedirectionPresent(&redirection)) {
        // Windows would take DLLs from there before the system folder's.
        LogLine(LOG_DLL_REDIRECTION, redirection.c_str());
        if (m_messagesShown != 0) ShowText(Format(IDS_DLL_REDIRECTION, redirection.c_str()), MB_ICONERROR);
        m_exitCode = EXIT_INIT_ERROR;
        return false;
    }

    UINT refusal = IDS_INIT_ERROR;
    try {
        InstallProcessOptions options;
        options.captureSetupApiLog = m_flags.advancedLog != 0;
        options.vistaOrLater = m_majorVersion >= 6;
        m_process.reset(new CInstallProcess(m_hLog, this, *m_appEdition.edition, options));
        return true;
    } catch (CExceptionEx* e) {
        m_exitCode = RefusalExitCode(e->GetCode(), &refusal);
        delete e;
    } catch (...) {
        m_exitCode = EXIT_INIT_ERROR;
    }
    ShowAppMessage(refusal, MB_ICONERROR);
    return false;
}

bool CInstallApp::RunResumed() {
    // The run an installation arranged for after a restart: nothing to unpack, nothing to
    // show; its log stays in the temporary folder.
    m_failed = m_process->Resume() ? 0 : INSTALL_FAILED;
    m_exitCode = m_failed != 0 ? EXIT_INSTALL_FAILED : EXIT_DONE;
    return false;
}

bool CInstallApp::RunUnpackOnly() {
    // A failed extraction ends as a failed run: scripts see it, and the log stays.
    m_failed = m_process->UnpackOnly() ? 0 : INSTALL_FAILED;
    EndSteps();
    return true;
}

bool CInstallApp::RunSilent() {
    const EditionInfo& info = GetEditionInfo();
    if (m_flags.licenceAccepted == 0) {
        m_exitCode = EXIT_NO_LICENCE;
        ShowAppMessage(IDS_ACCEPT_LICENCE, MB_ICONWARNING);
        return false;
    }
    std::int32_t progress = 0;  // target and value are one integer here
    std::int32_t direction = 1;
    AttachProgress(&progress, &progress, &direction, nullptr);
    std::string status;
    const int packageStatus = InitSetupModules(&status);
    if (packageStatus == 0) RunGuardedBody();
    AttachProgress(nullptr, nullptr, nullptr, nullptr);
    if (packageStatus != 0) {
        m_exitCode = EXIT_DAMAGED_PACKAGE;
        if (m_messagesShown != 0) {
            std::vector<char> text(status.size() + std::strlen(info.displayName) + 1);
            std::snprintf(text.data(), text.size(), status.c_str(), info.displayName);
            ShowText(text.data(), MB_ICONWARNING);
        }
        return false;
    }
    if (m_restartFlag != 0) {
        if (m_flags.noRestart == 0) {
            // Also after a failure: what its rollback deferred happens only then.
            m_process->RestartComputer();
        } else if (m_failed == 0) {
            m_exitCode = EXIT_RESTART_NEEDED;
            ShowAppMessage(IDS_RESTART_NEEDED, MB_ICONWARNING);
            return false;
        }
        // A failed run with -norestart still ends as failed (-10), never as installed.
    }
    EndSteps();
    return true;
}

bool CInstallApp::RunInteractive() {
    // The wizard runs the pages and the after-finish actions.
    bool restartPageShown = false;
    const int result = RunWizard(*this, &restartPageShown);
    m_restartPageShown = restartPageShown ? 1 : 0;
    if (result != WIZARD_FINISHED) return false;  // cancelled: no end steps, exit code 0
    EndSteps();
    return true;
}

void CInstallApp::EndSteps() {
    m_process.reset();
    if (m_failed == 0) {
        if (m_tempLogPath.empty()) return;
        const bool besideWritten = CopySetupLog();
        CloseHandle(m_hLog);
        m_hLog = INVALID_HANDLE_VALUE;
        // With -log the temporary copy goes only when the one beside the program was made.
        if (m_flags.logCopy == 0 || besideWritten) DeleteFileA(m_tempLogPath.c_str());
        return;
    }
    m_exitCode = EXIT_INSTALL_FAILED;
    if (m_messagesShown != 0 && !m_tempLogPath.empty()) {
        StartForUser(m_tempLogPath, nullptr, SW_SHOW);
        ShowText(Format(IDS_SEND_LOG, m_tempLogPath.c_str()), MB_ICONWARNING);
    }
}
