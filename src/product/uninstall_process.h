// The uninstaller's work: takes away what an installation of the edition put on the machine,
// in an order that lets each part go without a restart where Windows allows it. Whatever
// cannot go at once is deferred to the next Windows start and reported through the restart
// flag; whatever cannot go at all is logged and counted, and keeps the uninstall entry, so
// that the removal can be run again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/installer.h"
#include "product/edition.h"

// What Uninstall returns (also the uninstaller's exit codes).
constexpr int UNINSTALL_DONE = 0;
constexpr int UNINSTALL_NOT_ADMIN = -3;        // the engine refused: not an administrator
constexpr int UNINSTALL_RESTART_NEEDED = -9;   // removed; the rest goes with the next start
constexpr int UNINSTALL_INCOMPLETE = -10;      // something stayed; the log names it
constexpr int UNINSTALL_CANCELLED = -2;        // the user said No (the program's own answer)

// What the uninstaller shows and does once the copy that did the work has ended.
enum class UninstallMessage { None, Removed, RestartQuestion, Incomplete, NotAdministrator };
struct UninstallEnd {
    int exitCode;  // the RestartQuestion's Yes turns it into UNINSTALL_DONE
    UninstallMessage message;
    bool restart;  // restart Windows without asking
};
// copyResult: the copy's exit code. Silent runs show nothing and restart unless noRestart;
// interactive ones ask. A result the copy cannot give (it was ended, it crashed) counts as
// UNINSTALL_INCOMPLETE.
UninstallEnd PlanUninstallEnd(int copyResult, bool silent, bool noRestart);

class CUninstallProcess : public CInstaller {
public:
    // The engine as the installer makes it (administrator rights checked, the service
    // manager opened, no package). Raises CExceptionEx as the engine does; edition stays the
    // caller's and must outlive the object. workFolder: a folder of this run that only
    // administrators can change, where the running uninstaller's file is moved out of the
    // target folder; empty for the temporary folder.
    CUninstallProcess(os::HANDLE logFile, const CEdition& edition, const std::string& workFolder = std::string());

    // Every step in order, each whatever the earlier ones met. Never throws CExceptionEx.
    // UNINSTALL_DONE, UNINSTALL_RESTART_NEEDED (the restart flag is set) or
    // UNINSTALL_INCOMPLETE (GetStayed names what is left).
    int Uninstall();

    // ---- the steps, in the order Uninstall runs them ----------------------------------------
    // The uninstall entry's folders: false when there is no entry (then nothing of the
    // target folder or the Start Menu folder is known).
    bool ReadInstallation();
    // The main service and the stop list, so that their files can go.
    void StopServices();
    // The Citrix support installer's " UnregisterCitrixDllEx", while it is still there.
    void UnregisterCitrixSupport();
    // The edition's devices first: then their drivers are no longer loaded.
    void RemoveDevices();
    void DeleteServices();
    // The edition's INF files, out of the driver store.
    void RemoveStagedDrivers();
    void RemoveFirewallRules();
    void RemoveShortcuts();
    void RemoveSystemFiles();
    void RemoveProgramFiles();
    // Last, and only when nothing stayed.
    void RemoveUninstallEntry();

    // ---- pieces the steps share ----------------------------------------------------------------
    // The service stopped (bounded) and deleted; one that goes only when it has stopped or
    // at the next start sets the restart flag.
    void RemoveService(const char* name);
    // Deletes path; a file in use goes at the next start (restart flag). A missing file is
    // fine; a directory standing there is not ours and stays.
    void RemoveFile(const std::string& path);
    // Removes an empty folder; one that still holds files this run deferred goes with them
    // at the next start; one holding other files stays (they are the user's).
    void RemoveFolder(const std::string& path);
    // Logs what stayed and counts it.
    void Stayed(const char* what, const std::string& item);

    const std::string& GetTargetFolder() const { return m_targetFolder; }
    const std::string& GetStartMenuFolder() const { return m_startMenuFolder; }
    const std::vector<std::string>& GetStayed() const { return m_stayed; }
    const EditionInfo& GetEditionInfo() const { return m_edition.Info(); }

private:
    // The folder's path, or false: quietly where the installer wrote nothing there either
    // (no Wow64 folder, no target folder), else it is logged as staying.
    bool Folder(EditionFolder folder, std::string* path);
    // The uninstaller's file in the target folder. The uninstaller that started this
    // removal runs from it and waits: a running program cannot be deleted but can be moved,
    // so it moves into the work folder (or the temporary folder) and goes from there at the
    // next start, which needs no restart of its own.
    void RemoveUninstaller(const std::string& path);
    // A file that cannot go now goes at the next start (restart flag), or it is logged as staying.
    void DeleteAtNextStart(const std::string& path);

    const CEdition& m_edition;
    std::string m_workFolder;
    std::string m_targetFolder;
    std::string m_startMenuFolder;
    bool m_startMenuKnown = false;
    std::vector<std::string> m_stayed;
    std::vector<std::string> m_deferred;  // paths whose deletion waits for the next start
};
