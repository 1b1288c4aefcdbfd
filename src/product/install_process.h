// The install script on top of the engine: the ordered steps with their progress
// reports, the failure message and rollback, and the unpack-only extraction. What is
// installed where comes from the edition.
#pragma once

#include <cstdint>
#include <string>

#include "engine/installer.h"
#include "product/edition.h"
#include "product/install_host.h"

// The install process's module number: the upper half of its errors' "arg0".
constexpr std::uint16_t INSTALL_PROCESS_MODULE = 4096;
// Where an install step ran out of memory (code EXCEPTION_CODE_NO_MEMORY).
constexpr std::uint16_t INSTALL_LOCATION_NO_MEMORY = 14;

// How the application wants its install process.
struct InstallProcessOptions {
    bool captureSetupApiLog = false;  // -advlog: the new part of the SetupAPI log goes into the setup log
    bool vistaOrLater = false;        // Windows' major version is above 5: chooses the driver variants
};

class CInstallProcess : public CInstaller {
public:
    // logFile, app and edition stay the caller's and must outlive the object. Raises
    // CExceptionEx as the engine does.
    CInstallProcess(os::HANDLE logFile, IInstallHost* app, const CEdition& edition,
                    const InstallProcessOptions& options = InstallProcessOptions());

    // The package status of the running program's package (PACK_OK ...). Never throws.
    int CheckPackage();
    // Runs the install steps; a failure (an allocation failure included) is shown, rolled
    // back and sets *failed to INSTALL_FAILED, or INSTALL_FAILED_NOT_RESTORED when the
    // rollback could not run to its end. Never throws CExceptionEx or std::bad_alloc;
    // *failed stays as it was on success. Other exceptions leave it for the caller's guard.
    void Install(std::int32_t* rebootFlag, std::int32_t* failed, os::HWND owner);
    // After an exception that left Install: rolls back what the steps had done when the
    // stack was unwound (unwound false: a fault abandoned it, nothing is touched). Backups of
    // replaced files are never deleted. Returns the failed flag's value. Never throws.
    std::int32_t RecoverFromFault(bool unwound);
    // After a successful install, when the option is set. Never throws.
    void CreateFirewallRules();
    // Extracts every payload file into a new folder beside the current directory. False
    // when the extraction failed (shown and logged).
    bool UnpackOnly();
    // The run an installation arranged for after the next start (ScheduleResume): makes the
    // edition's services that do not exist with their settings, and starts what is not
    // running. Its copy goes with the start after. False when that failed (logged).
    bool Resume();
    // Nonzero when Windows accepted the restart request.
    int RestartComputer();

    // ---- the install steps (rows of RunInstallSteps), from the edition's table -----------
    void RemoveStaleStubDevice();
    void InstallSystemFiles();
    void CreateProgramFolder();
    void InstallProgramFiles();
    // The kernel-driver services, the step's files, the driver packages and the devices.
    void InstallDrivers();
    void InstallMainService();
    void StartServices();
    // register 1 runs the Citrix support installer's registration, 0 its removal. Never
    // throws.
    void RegisterCitrixSupport(int registerDll);
    void CreateProgramShortcuts();
    // The uninstall entry; then, for each file this run placed only because Windows lacked
    // it, the MD5 of what it placed (RecordProvidedFiles). Never fails.
    void RegisterUninstall();

    void RunInstallSteps();
    // True when every row ran to its end.
    bool Rollback();
    // The rollback's registry row: the service keys as they were, the resumed run's RunOnce
    // value taken away.
    void RollBackRegistry();
    // When services could only be made after the next start (they were still marked for
    // deletion): this installer runs once more then, silently, from a copy that lives until it
    // has run, in a new folder of <Windows>\Temp that only administrators can change. Folder
    // and copy are journalled, the RunOnce value taken away by a rollback. Raises CExceptionEx.
    void ScheduleResume();
    // <Windows>\Temp, where the copy's folder is made; empty when it cannot be had.
    std::string ResumeFolderParent() const;
    // The copy's file name: "tessaport-rdp-<edition>-setup.exe".
    std::string ResumeCopyName() const;
    void StopInstalledServices();
    void ExtractAllFiles();
    // CreateShortcut whose failure is only a warning in the log: 1 made, 0 not.
    int TryCreateShortcut(const char* targetName, const char* targetDir, const char* shortcutDir,
                          const char* shortcutName, const char* arguments);

    // ---- for the edition's own step and the application ------------------------------------
    IInstallHost* GetApp() const { return m_pApp; }
    const InstallOptions& GetOptions() const { return m_pApp->GetInstallOptions(); }
    const CEdition& GetEdition() const { return m_edition; }
    const EditionInfo& GetEditionInfo() const { return m_edition.Info(); }
    int IsVistaOrLater() const { return m_vistaOrLater != 0 ? 1 : 0; }
    // The entry's content, or false when the package has no such entry.
    bool FindEntry(const char* entry, PackedFile* file) const;
    // For an edition whose table has such rows (CEdition): binds the present devices of each
    // device row with a driver to it (a root device where there is none); places file into
    // folder only when Windows lacks it there, its failure no failure; records the MD5 of
    // each such file this run placed in the uninstall entry.
    void BindTableDevices();
    void PlaceIfMissing(const EditionFile& file, const std::string& folder, const PackedFile& content);
    void RecordProvidedFiles();
    // String 44 filled in for error; empty when even that cannot be had (out of memory).
    std::string ErrorTextOrNothing(const CExceptionEx& error) const;
    // A string-table text with %.8x placeholders filled with the error's code and arg0.
    std::string FormatErrorText(std::uint32_t stringId, const CExceptionEx& error) const;

private:
    // Whether a table row with this condition applies on this Windows.
    bool Applies(EditionWhen when) const;
    // The system folder; its failure raises location with the last error.
    std::string GetSystemFolder(std::uint16_t location) const;
    // The edition's kernel-driver services for this Windows, images in driverFolder; with
    // onlyMissing those that exist are left as they are. Raises the driver's location.
    void InstallDriverServices(const std::string& driverFolder, bool onlyMissing = false);
    // The file rows of step, in their order, with the system folder the step found (empty
    // for a step that needs none). A row whose entry is missing fails at its location or,
    // without one, is skipped; a Wow64 row is skipped where there is no such folder.
    void InstallStepFiles(EditionStep step, const std::string& systemFolder);
    // Takes back dir\name when this run created it, after a failure the step absorbs:
    // deleted and dropped from the journal. A file that was there before is left alone.
    void ForgetCreatedFile(const char* dir, const char* name);

    // Stops what this run started, reports error (null: already reported) and rolls back;
    // returns the value for the failed flag.
    std::int32_t FailAndRollBack(const CExceptionEx* error, os::HWND owner);

    // The previous installation back in service after a rollback: the services this run
    // stopped, and the Citrix support registration its program had made.
    void RestorePreviousInstallation(bool citrixProgramRestored);
    std::string CitrixProgramPath() const;
    std::string ResumeValueName() const;  // the RunOnce value: "<display name> setup"
    // When this program is the copy ScheduleResume made: its file goes with the next start.
    void ForgetResumeCopy();

    // How far the installation got, for a caller that meets an exception.
    enum class Stage { Ready, Installing, Committed, RollingBack, RolledBack, Abandoned };
    Stage m_stage = Stage::Ready;
    bool m_citrixProgramBefore = false;  // a previous installation's support installer was there
    bool m_resumeScheduled = false;

    IInstallHost* m_pApp;
    std::uint32_t m_vistaOrLater;
    const CEdition& m_edition;
};
