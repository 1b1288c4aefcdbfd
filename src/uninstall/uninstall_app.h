// The uninstaller program: asks (unless -silent), copies itself into a new folder of the
// temporary folder that only administrators can change, runs that copy and waits for it,
// then shows the result, restarts Windows when the removal needs it, and ends with the
// copy's code. The copy (-copy) does the work and shows nothing: the program in the target
// folder cannot delete its own file while it runs.
// Windows only.
#pragma once

#include <windows.h>

#include <string>

#include "app/app_framework.h"
#include "app/command_line.h"
#include "engine/trust.h"
#include "product/edition.h"

// String ids of the uninstaller's own texts (uninstall.rc).
constexpr UINT IDS_UNINSTALL_QUESTION = 201;
constexpr UINT IDS_UNINSTALL_REMOVED = 202;
constexpr UINT IDS_UNINSTALL_RESTART = 203;
constexpr UINT IDS_UNINSTALL_INCOMPLETE = 204;
constexpr UINT IDS_UNINSTALL_NOT_ADMIN = 205;
constexpr UINT IDS_UNINSTALL_DLL_REDIRECTION = 206;

// How long the copy may take: far beyond its own bounded waits (service stops, the Citrix
// support installer), so that reaching it means the copy hangs inside Windows.
constexpr DWORD UNINSTALL_COPY_TIME_LIMIT = 10 * 60 * 1000;

class CUninstallApp : public CFrameApp {
public:
    explicit CUninstallApp(const CEdition& edition);

    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    // The program the user started: question, copy, wait, result. Returns the exit code.
    int RunOriginal();
    // The copy in the temporary folder: the removal itself. Returns its result.
    int RunCopy();
    // Copies the running program into the work folder and runs it with -copy from there;
    // the copy's exit code, or UNINSTALL_INCOMPLETE when it could not be had. The copy and
    // the folder go when it has ended (what cannot, at the next start).
    int RunTemporaryCopy();
    void RemoveWorkFolder();
    // The removal's log, opened for this program's write; invalid when none could be had.
    os::KernelHandle OpenLog(WriteStart start) const;
    void Restart();

    // A string-table text as it stands, and formatted with argument (null: the product
    // display name).
    std::string RawText(UINT id) const;
    std::string Text(UINT id, const char* argument = nullptr) const;
    int Box(const std::string& text, UINT type) const;
    std::string LogPath() const;

    const CEdition& m_edition;
    UninstallFlags m_flags;
    std::string m_tempFolder;  // with its trailing backslash
    std::string m_workFolder;  // the run's own folder: the copy runs from it
    int m_exitCode = 0;
};
