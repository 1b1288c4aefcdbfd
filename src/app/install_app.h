// The setup application: reads the switches, opens the setup log, creates the install
// process and takes the unpack-only, silent or interactive road; then copies or keeps the
// log and leaves the exit code. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/app_framework.h"
#include "app/command_line.h"
#include "product/edition.h"
#include "product/install_host.h"
#include "ui/wizard.h"

class CInstallProcess;

// Exit codes of the program.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_OLD_WINDOWS = -1;
constexpr int EXIT_NOT_ADMIN = -3;
constexpr int EXIT_WRONG_BITNESS = -4;
constexpr int EXIT_REFUSED_WINDOWS = -5;
constexpr int EXIT_INIT_ERROR = -6;
constexpr int EXIT_NO_LICENCE = -7;
constexpr int EXIT_DAMAGED_PACKAGE = -8;
constexpr int EXIT_RESTART_NEEDED = -9;
constexpr int EXIT_INSTALL_FAILED = -10;

// String ids the application shows.
constexpr UINT IDS_NEED_ADMIN = 20;
constexpr UINT IDS_OLD_WINDOWS = 21;
constexpr UINT IDS_UNPACK_ERROR = 22;
constexpr UINT IDS_DAMAGED = 23;
constexpr UINT IDS_NO_RESOURCES = 24;
constexpr UINT IDS_MODULES_ERROR = 25;
constexpr UINT IDS_INIT_ERROR = 26;
constexpr UINT IDS_INSTALL_EXCEPTION = 35;
constexpr UINT IDS_SYSTEM_ERROR = 37;
constexpr UINT IDS_WRONG_BITNESS = 54;
constexpr UINT IDS_SEND_LOG = 57;
constexpr UINT IDS_OLDER_VERSION = 59;
constexpr UINT IDS_ACCEPT_LICENCE = 65;
constexpr UINT IDS_RESTART_NEEDED = 66;
constexpr UINT IDS_DLL_REDIRECTION = 67;

// What the application itself knows of its edition beyond the install tables.
struct AppEdition {
    const CEdition* edition;
    const char* versionText;       // "Version 3.7"
    const char* ownVersionText;    // "3.7", for the running-product check
    std::uint32_t ownVersion;      // 0x00037000
    bool refusesWindows2000;       // the server edition ends at once on Windows 5.0
};

class CInstallApp : public CFrameApp, public IInstallHost, public IWizardHost {
public:
    explicit CInstallApp(const AppEdition& edition);
    ~CInstallApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // IInstallHost
    const InstallOptions& GetInstallOptions() const override { return m_options; }
    void SetProgressStep(std::int32_t target, std::int32_t code) override;
    void SetProgressPosition(std::int32_t value) override;
    void SetProgressDirection(std::int32_t direction) override;
    std::string LoadText(std::uint32_t id) const override;
    int ShowMessageBox(os::HWND owner, const char* text, const char* caption, os::UINT type) override;
    bool MessagesShown() const override { return m_messagesShown != 0; }

    // IWizardHost
    InstallOptions& WizardOptions() override { return m_options; }
    const char* ProductDisplayName() const override { return GetEditionInfo().displayName; }
    const char* VersionText() const override { return m_appEdition.versionText; }
    // 1 when the running product is newer; message is then finished text.
    int CheckInstalledVersion(std::string* message) override;
    // The package status; *message gets the unformatted text of a failure.
    int InitSetupModules(std::string* message) override;
    bool LoadLicenseText(const void** data, std::uint32_t* size) override;
    // Points the progress state at the progress page's integers and its task label.
    void AttachProgress(std::int32_t* target, std::int32_t* value, std::int32_t* direction, HWND taskLabel) override;
    // Starts the install worker owned by page; 0 when it runs, -1 when it cannot be made.
    int StartInstallThread(HWND page) override;
    // Waits up to 10000 ms for the worker, terminates it when still running, and drops it.
    void EndInstallThread() override;
    std::int32_t& RestartFlag() override { return m_restartFlag; }
    std::int32_t Failed() const override { return m_failed; }
    void StartInstalledProgram() override;
    void OpenQuickStart() override;
    void RestartComputer() override;

    const EditionInfo& GetEditionInfo() const { return m_appEdition.edition->Info(); }

private:
    static DWORD WINAPI WorkerThread(LPVOID param);
    // The install body under the exception guard: the install, then firewall rules.
    void RunInstallBody();
    void InstallBody();
    // Runs the body on a guarded thread and waits for it.
    void RunGuardedBody();
    // On the guarded thread: reports an exception that nothing else handled and lets the
    // install process recover from it.
    void ReportException(DWORD code, std::uint64_t address, bool unwound);

    // The start routine: the switches, then OpenRun, then one of the roads. Each returns
    // what InitInstance would (false: no message loop).
    bool RunStart();
    // The gate before any road: the edition's Windows, the setup log, the DLL redirection
    // check and the install process. False when the run ends here (exit code and message set).
    bool OpenRun();
    // The exit code for an install process that refused to be made, with its message's id.
    static int RefusalExitCode(std::uint32_t code, UINT* textId);
    bool RunResumed();
    bool RunUnpackOnly();
    bool RunSilent();
    bool RunInteractive();
    // Deletes a remaining install process, then closes the worker and log handles.
    void ReleaseRun();
    void EndSteps();
    bool CreateSetupLog();
    // One line of the setup log, written by the application itself.
    void LogLine(const char* text, const char* argument = nullptr);
    // After a successful run: the log into the target folder and, with -log, beside the
    // program. True when the copy beside the program was written.
    bool CopySetupLog();
    // Opens file for the signed-in user through the desktop shell; where there is none,
    // this program opens it as before. The log names the way taken.
    void StartForUser(const std::string& file, const char* directory, int showCommand);
    // Shows a string-table text formatted with the display name, when messages are shown.
    void ShowAppMessage(UINT id, UINT icon);
    void ShowText(const std::string& text, UINT icon, HWND owner = nullptr);
    std::string Format(UINT id, const char* arg) const;

    AppEdition m_appEdition;
    CommandLineFlags m_flags;
    InstallOptions m_options;
    std::unique_ptr<CInstallProcess> m_process;
    HANDLE m_hLog = INVALID_HANDLE_VALUE;
    std::string m_tempLogPath;
    std::string m_besideLogPath;
    std::string m_quickStartAddress;  // the product's web page at its quick-start anchor

    HANDLE m_hWorker = nullptr;
    HWND m_taskLabel = nullptr;
    HWND m_messageOwner = nullptr;
    std::int32_t* m_pTarget = nullptr;
    std::int32_t* m_pValue = nullptr;
    std::int32_t* m_pDirection = nullptr;

    std::int32_t m_restartFlag = 0;
    std::int32_t m_failed = 0;
    std::int32_t m_restartPageShown = 0;
    std::int32_t m_messagesShown = 1;
    int m_exitCode = 0;
    DWORD m_majorVersion = 0;
};
