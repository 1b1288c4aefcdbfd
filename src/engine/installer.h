// The installer engine: the one object through which an installation changes the
// machine. It remembers what it created and what it overwrote, so that a failed
// installation can be undone in a fixed order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/exception.h"
#include "engine/journal.h"
#include "engine/service_book.h"
#include "log/setup_log.h"
#include "package/packed_tools.h"
#include "platform/platform.h"

// The engine's classification of the running Windows.
constexpr std::int32_t OS_KIND_NONE = -1;
constexpr std::int32_t OS_KIND_XP = 5;
constexpr std::int32_t OS_KIND_VISTA = 6;
constexpr std::int32_t OS_KIND_VISTA_SERVER = 8;

// What the uninstall entry says beyond its four basic values.
struct UninstallEntryDetails {
    const char* displayVersion;  // "3.7"
    const char* publisher;
    const char* iconFileName;  // in the install folder
    const char* webAddress;    // the product's page: URLInfoAbout and HelpLink
    os::DWORD versionMajor;
    os::DWORD versionMinor;
};

class CInstaller {
public:
    using Journal = CJournal::Records;
    using FileBackups = CJournal::FileBackups;
    using ServiceKeyBackups = CServiceBook::KeyBackups;

    // logFile stays the caller's. Raises CExceptionEx; whatever was made before a failure
    // is released again.
    CInstaller(os::HANDLE logFile, int openPackage, int checkAdmin, int captureSetupApiLog);
    virtual ~CInstaller();
    CInstaller(const CInstaller&) = delete;
    CInstaller& operator=(const CInstaller&) = delete;

    // ---- engine, journal and rollback -------------------------------------------------
    int OpenPackage();  // the reader's status after loading the running program's package
    std::int32_t GetOsKind() const { return m_osKind; }
    // One setup-log line: text directly followed by argument (may be null). Never fails.
    void Log(const char* text, const char* argument = nullptr);

    void RecordInstalledFile(const char* path);
    void RecordCreatedDirectory(const char* path);
    void RecordStartedService(const char* name);
    int WasServiceStarted(const char* name) const;

    // Rollback phase 1: created services and root devices go away again.
    void UninstallServicesAndDevices();
    // The commit: deletes the backup files and forgets the saved service values. The
    // destructor does not commit: it only forgets what no commit took.
    void DiscardBackups();

    int IsUserAdmin();
    int DetectOsKind();
    int EnsureRunOnceKey();

    // The restart flag: writes 1 through the flag pointer and logs line right after.
    static constexpr const char* REBOOT_WARNING = "Warning: === Reboot required to complete operation ===";
    void RequireReboot(const char* line = REBOOT_WARNING);
    // Points the restart flag at the caller's flag (null: back at the engine's own).
    void SetRebootFlag(std::int32_t* flag) { m_pRebootFlag = flag != nullptr ? flag : &m_rebootRequired; }
    std::int32_t* GetRebootFlag() const { return m_pRebootFlag; }
    bool IsRebootRequired() const { return *m_pRebootFlag != 0; }

    const Journal& GetJournal() const { return m_journal.Entries(); }
    const Journal& GetStartedServices() const { return m_services.StartedServices(); }
    const FileBackups& GetFileBackups() const { return m_journal.Backups(); }
    const ServiceKeyBackups& GetServiceKeyBackups() const { return m_services.KeyBackupsHeld(); }
    CPackedTools& GetPackage() const { return *m_pPackage; }
    os::SC_HANDLE GetServiceManager() const { return m_hSCManager.Get(); }

    // ---- files and directories ----------------------------------------------------------
    // Writes dir\name; an existing file is backed up first, one in use is replaced at the
    // next restart. Raises CExceptionEx.
    void InstallFile(const char* name, const char* dir, const void* data, std::uint32_t size);
    void CreateInstallDirectory(const char* path);
    // dir\name_DDDDDDDD.tmp with eight digits 1..9 from the tick-seeded C runtime generator.
    std::string MakeTempFileName(const char* name, const char* dir);
    void BackupFile(const char* name, const char* dir);
    // Rollback phases 3, 4 and 5. Phase 4 forgets a backup it could not move back at once:
    // left for the next start, it is the only copy of the user's file and the commit must
    // not delete it.
    void RemoveInstallFiles();
    void RollBackInstallFiles();
    void RemoveInstallDirectories();
    // The MD5 of a file's content as 32 lower-case hex digits; false when it cannot be read
    // whole (or is larger than MAX_DIGEST_FILE_SIZE).
    bool FileDigest(const char* path, std::string* digest);
    static constexpr os::DWORD MAX_DIGEST_FILE_SIZE = 64u * 1024 * 1024;

    // ---- services and drivers -----------------------------------------------------------
    // Rollback phase 1 for a JOURNAL_SERVICE record: 1 if the service could be opened.
    int UninstallService(const char* name);
    // 1 when the service exists or is marked for deletion; markedForDelete (may be null)
    // receives 1 for the latter. Logs nothing.
    int ServiceExists(const char* name, int* markedForDelete = nullptr);
    // 1 when the service exists and is not stopped. Logs nothing.
    int IsServiceRunning(const char* name);
    // 1 when stopped (or still stopping after 20 s) or absent; 0 sets the restart flag. A
    // service this run did not create is remembered for RestartStoppedServices.
    int StopInstalledService(const char* name);
    // For a rollback: starts again, last stopped first, the services that existed before this
    // run and that it stopped. Never fails.
    void RestartStoppedServices();
    // StartServiceA's result; 0 when the restart flag keeps the start back. The service is
    // recorded as started either way. Raises CExceptionEx (2168, 2175).
    int StartInstalledService(const char* name);
    // Creates the kernel-driver service (journalled) or reconfigures an existing one (its
    // key's values saved first). Nonzero on success. A service of that name that is still
    // marked for deletion is stopped and waited for; when it does not go, nothing is made,
    // the restart flag is set, the name is kept in GetDeferredServices and the result is
    // SERVICE_DEFERRED.
    int InstallDriver(const char* imagePath, const char* name, const char* displayName, os::DWORD startType);
    // The same for an own-process service. loadOrderGroup may be null; dependencies holds
    // dependencyCount names (none: may be null).
    int InstallService(const char* imagePath, const char* name, const char* displayName, const char* description,
                       const char* loadOrderGroup, os::DWORD startType, const char* const* dependencies,
                       std::size_t dependencyCount);
    static constexpr int SERVICE_DEFERRED = 2;
    // Services that could only be made after the next start, in the order they were met.
    const std::vector<std::string>& GetDeferredServices() const { return m_services.Deferred(); }
    // Saves the values of the service's key in the service book, once per key until
    // the store is emptied. A saved entry of type SAVED_VALUE_ABSENT stands for a setting
    // the key did not have.
    void BackupServiceKey(const char* name);
    static constexpr os::DWORD SAVED_VALUE_ABSENT = 0xFFFFFFFFu;
    // Rollback phase 2: writes the saved values back (and takes away settings that were
    // absent), then empties the store.
    void RestoreServiceKeys();
    // 1 once a service marked for deletion is gone (stopped first, polled for 10 s at most).
    int AwaitServiceDeletion(const char* name);

    // ---- devices and INF files ----------------------------------------------------------
    // Rollback phase 1 for a JOURNAL_WDM_DEVICE record.
    void UninstallWdmDriver(const char* hardwareId);
    // Stages an INF file in the driver store: 1 copied, 0 failed. Not journalled.
    int CopyOemInf(const char* infPath);
    // Removes every USB device, present or not, whose first hardware id is hardwareId
    // (ignoring case). 1 if at least one went without needing a restart. Logs its failures.
    int RemoveDevicesByHardwareId(const char* hardwareId);
    // Gives the present devices carrying hardwareId the INF's driver; when there are none, a
    // root device is created for it and journalled. Raises CExceptionEx.
    void InstallWdmDriver(const char* serviceName, const char* infPath, const char* hardwareId);
    // The present devices of all classes, with device (may be null) on the first that carries
    // hardwareId (exact); an empty set when none does or the ids cannot be read. searchError
    // (may be null) receives the error that kept the search from looking at every device,
    // or 0 when it did.
    os::DeviceInfoSet FindDeviceByHardwareId(const char* hardwareId, os::DeviceInfoData* device = nullptr,
                                             os::DWORD* searchError = nullptr);
    // Creates, registers and installs a root device of the INF's class carrying hardwareId.
    // The failure, or null; a device that was registered is removed again on failure.
    std::unique_ptr<CExceptionEx> CreateRootDevice(const char* hardwareId, const char* infPath,
                                                   os::BOOL* rebootRequired);
    // Removes every device, present or not, of any class whose hardware-id list carries
    // hardwareId (ignoring case). 1 when none is left; a removal that completes only after a
    // restart sets the restart flag. 0 when a device could not be removed or the devices
    // could not all be looked at. Logs what it removes and what failed.
    int RemoveDevicesCarryingId(const char* hardwareId);
    // Takes every copy of the INF whose name before staging was infName out of the driver
    // store. 1 when none is left, 0 when one stays or the store could not be read.
    int RemoveDriverPackages(const char* infName);
    // (devices and INF files: further declarations go here)

    // ---- shortcuts, uninstall entry, restart ----------------------------------------------
    // shortcutDir\shortcutName.lnk, a shell link to targetDir\targetName that starts in
    // targetDir (arguments may be null); journalled once saved. Raises CExceptionEx.
    void CreateShortcut(const char* targetName, const char* targetDir, const char* shortcutDir,
                        const char* shortcutName, const char* arguments);
    // dir\name holding an Internet shortcut to address, written as a payload file.
    void CreateUrlShortcut(const char* name, const char* dir, const char* address);
    // The product's entry among the installed programs; not journalled, fails silently.
    // With details it also gets what deployment tools and the settings page read: the
    // silent command, version, publisher, icon, no modify or repair buttons, the size of
    // the files this run placed, the local date and the product's page.
    void WriteUninstallEntry(const char* keyName, const char* installDir, const char* startMenuDir,
                             const char* uninstallerName, const char* displayName,
                             const UninstallEntryDetails* details = nullptr);
    // A text value of the entry (REG_SZ or REG_EXPAND_SZ, shorter than MAX_PATH): ERROR_SUCCESS,
    // ERROR_FILE_NOT_FOUND when the entry or the value is missing, ERROR_INVALID_DATA when it
    // holds something else, or the registry's error.
    os::LONG ReadUninstallValue(const char* keyName, const char* valueName, std::string* value);
    // Writes one text value into an existing entry; false when it cannot.
    bool WriteUninstallValue(const char* keyName, const char* valueName, const std::string& value);
    // 1 when the entry is gone (or was never there), 0 when it stays.
    int DeleteUninstallEntry(const char* keyName);
    // Enables the shutdown privilege and asks Windows to restart; nonzero when accepted.
    int RestartSystem();

private:
    void ForgetMarkedService(const char* name);
    // 0 when the marked service went; else SERVICE_DEFERRED, with the restart flag set.
    int DeferUnlessDeleted(const char* name);
    // create() into *created; a service of that name still marked for deletion is waited for
    // and create() tried once more. 1 made, SERVICE_DEFERRED, or 0.
    template <typename Create>
    int CreateOrDefer(const char* name, os::ServiceHandle* created, Create create);

protected:
    // The engine's parts, each with its own small interface.
    CJournal m_journal;
    CServiceBook m_services;
    os::ServiceHandle m_hSCManager;

private:
    std::int32_t* m_pRebootFlag;
    std::int32_t m_osKind = OS_KIND_NONE;
    std::unique_ptr<CPackedTools> m_pPackage;
    std::unique_ptr<CSetupLogApi> m_pLog;
    std::int32_t m_rebootRequired = 0;
};
