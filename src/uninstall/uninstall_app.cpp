#include "uninstall/uninstall_app.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "engine/exception.h"
#include "log/setup_log.h"
#include "platform/platform.h"
#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"
#include "product/uninstall_process.h"

namespace {

constexpr std::uint32_t REFUSED_NOT_ADMIN = 1313;  // ERROR_PRIVILEGE_NOT_HELD, from the engine
constexpr DWORD FORCED_EXIT_CODE = 0xFFFFFFFFu;
constexpr const char* LOG_NAME_TAKEN = "Warning: The log file's name was taken, the log is: ";

// A kernel handle of this program, closed on every path.
class CHandle {
public:
    explicit CHandle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~CHandle() {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return m_handle; }
    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

}  // namespace

CUninstallApp::CUninstallApp(const CEdition& edition) : m_edition(edition) {}

BOOL CUninstallApp::InitInstance() {
    m_flags = ReadUninstallSwitches(GetCommandLineA());
    os::UseWin32();
    char temp[MAX_PATH];
    const DWORD length = os::Kernel().GetTempPathA(MAX_PATH, temp);
    if (length > 0 && length < MAX_PATH) {
        m_tempFolder.assign(temp, length);
        if (m_tempFolder.back() != '\\') m_tempFolder += '\\';
    }
    std::string redirection;
    if (os::DllRedirectionPresent(&redirection)) {
        // Windows would take DLLs from there before the system folder's.
        if (m_flags.silent == 0 && m_flags.copy == 0) {
            Box(Text(IDS_UNINSTALL_DLL_REDIRECTION, redirection.c_str()), MB_OK | MB_ICONERROR);
        }
        m_exitCode = UNINSTALL_INCOMPLETE;
        return FALSE;
    }
    if (m_flags.copy != 0) {
        // The original made the copy in the folder of its run.
        char self[MAX_PATH];
        const DWORD selfLength = GetModuleFileNameA(nullptr, self, MAX_PATH);
        m_workFolder = FolderOf(std::string(self, selfLength > 0 && selfLength < MAX_PATH ? selfLength : 0));
        m_exitCode = RunCopy();
        return FALSE;
    }
    // Started from a shortcut, the current folder would be the target folder, which the
    // removal takes away.
    if (!m_tempFolder.empty()) SetCurrentDirectoryA(m_tempFolder.c_str());
    m_exitCode = RunOriginal();
    return FALSE;
}

int CUninstallApp::ExitInstance() {
    CFrameApp::ExitInstance();
    return m_exitCode;
}

// ---- the program the user started -------------------------------------------------------------

int CUninstallApp::RunOriginal() {
    const bool silent = m_flags.silent != 0;
    const char* name = m_edition.Info().displayName;
    if (!silent && Box(Text(IDS_UNINSTALL_QUESTION), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return UNINSTALL_CANCELLED;
    }
    const int copyResult = RunTemporaryCopy();
    const UninstallEnd end = PlanUninstallEnd(copyResult, silent, m_flags.noRestart != 0);
    switch (end.message) {
        case UninstallMessage::None:
            break;
        case UninstallMessage::Removed:
            Box(Text(IDS_UNINSTALL_REMOVED), MB_OK | MB_ICONINFORMATION);
            break;
        case UninstallMessage::RestartQuestion:
            if (Box(Text(IDS_UNINSTALL_RESTART), MB_YESNO | MB_ICONQUESTION) == IDYES) {
                Restart();
                return UNINSTALL_DONE;
            }
            break;
        case UninstallMessage::Incomplete: {
            const std::string format = RawText(IDS_UNINSTALL_INCOMPLETE);
            const std::string log = LogPath();
            std::vector<char> text(format.size() + log.size() + std::strlen(name) + 16);
            std::snprintf(text.data(), text.size(), format.c_str(), name, log.c_str());
            Box(text.data(), MB_OK | MB_ICONWARNING);
            break;
        }
        case UninstallMessage::NotAdministrator:
            Box(Text(IDS_UNINSTALL_NOT_ADMIN), MB_OK | MB_ICONERROR);
            break;
    }
    if (end.restart) Restart();
    return end.exitCode;
}

int CUninstallApp::RunTemporaryCopy() {
    // Everything of this run that must live outside the target folder goes into a folder of
    // its own: the temporary folder may be one every user can write (SYSTEM's, on older
    // Windows).
    if (m_tempFolder.empty() || !CreatePrivateFolder(m_tempFolder, &m_workFolder)) m_workFolder.clear();
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string stem = m_edition.Info().uninstallLogName;
    const std::string::size_type dot = stem.rfind('.');
    if (dot != std::string::npos) stem.erase(dot);
    const std::string copy = m_workFolder + "\\" + stem + "-" + std::to_string(GetCurrentProcessId()) + ".exe";
    // Without a copy the work is done here: the removal moves this running file aside itself.
    if (length == 0 || length >= MAX_PATH || m_workFolder.empty() || !CopyFileA(self, copy.c_str(), TRUE)) {
        const int result = RunCopy();
        RemoveWorkFolder();
        return result;
    }

    std::string commandLine = "\"" + copy + "\" -copy";
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    DWORD code = static_cast<DWORD>(UNINSTALL_INCOMPLETE);
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, m_workFolder.c_str(), &startup,
                        &started)) {
        DeleteFileA(copy.c_str());
        code = static_cast<DWORD>(RunCopy());
    } else {
        CHandle process(started.hProcess);
        CHandle thread(started.hThread);
        if (WaitForSingleObject(process.Get(), UNINSTALL_COPY_TIME_LIMIT) != WAIT_OBJECT_0) {
            // A copy that hangs inside Windows is ended; what it did not finish the log shows.
            TerminateProcess(process.Get(), FORCED_EXIT_CODE);
            WaitForSingleObject(process.Get(), 5000);
        } else if (!GetExitCodeProcess(process.Get(), &code)) {
            code = static_cast<DWORD>(UNINSTALL_INCOMPLETE);
        }
        // The copy's own file: at once now that it has ended, or at the next start.
        if (!DeleteFileA(copy.c_str())) MoveFileExA(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    // Before any restart: the folder may still hold this program's own moved file.
    RemoveWorkFolder();
    return static_cast<int>(code);
}

void CUninstallApp::RemoveWorkFolder() {
    if (m_workFolder.empty()) return;
    if (!RemoveDirectoryA(m_workFolder.c_str())) MoveFileExA(m_workFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    m_workFolder.clear();
}

os::KernelHandle CUninstallApp::OpenLog(WriteStart start) const {
    TrustedFile log;
    if (!OpenForTrustedWrite(LogPath(), FILE_SHARE_READ | FILE_SHARE_WRITE, start, &log)) return os::KernelHandle();
    if (log.renamed) CSetupLogApi(log.handle.Get()).WriteLine(LOG_NAME_TAKEN, log.path.c_str());
    return std::move(log.handle);
}

void CUninstallApp::Restart() {
    // The copy's log gets the restart line; it stays in the temporary folder.
    os::KernelHandle log = OpenLog(WriteStart::End);
    try {
        CInstaller restarter(log.Get(), 0, 0, 0);
        restarter.RestartSystem();
    } catch (CExceptionEx* e) {
        delete e;
    }
}

// ---- the copy: the removal itself ---------------------------------------------------------------

int CUninstallApp::RunCopy() {
    // Kept in the temporary folder, whatever the outcome.
    os::KernelHandle log = OpenLog(WriteStart::Empty);
    try {
        CUninstallProcess process(log.Get(), m_edition, m_workFolder);
        return process.Uninstall();
    } catch (CExceptionEx* e) {
        const std::uint32_t code = e->GetCode();
        delete e;
        return code == REFUSED_NOT_ADMIN ? UNINSTALL_NOT_ADMIN : UNINSTALL_INCOMPLETE;
    } catch (const std::bad_alloc&) {
        return UNINSTALL_INCOMPLETE;
    }
}

// ---- texts ------------------------------------------------------------------------------------

std::string CUninstallApp::RawText(UINT id) const {
    char text[1024];
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

std::string CUninstallApp::Text(UINT id, const char* argument) const {
    const std::string format = RawText(id);
    const char* value = argument != nullptr ? argument : m_edition.Info().displayName;
    std::vector<char> text(format.size() + std::strlen(value) + 16);
    std::snprintf(text.data(), text.size(), format.c_str(), value);
    return text.data();
}

int CUninstallApp::Box(const std::string& text, UINT type) const {
    return MessageBoxA(nullptr, text.c_str(), m_edition.Info().displayName, type);
}

std::string CUninstallApp::LogPath() const { return m_tempFolder + m_edition.Info().uninstallLogName; }
