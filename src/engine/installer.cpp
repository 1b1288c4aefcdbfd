#include "engine/installer.h"

#include <cstddef>
#include <new>
#include <utility>

#include "platform/constants.h"

namespace {

// Where the engine's construction fails (module 19).
constexpr std::uint16_t LOCATION_LOG_WRITER = 50;
constexpr std::uint16_t LOCATION_NOT_ADMIN = 62;
constexpr std::uint16_t LOCATION_SERVICE_MANAGER = 71;
constexpr std::uint16_t LOCATION_PACKAGE_READER = 105;

// The token-groups buffer, from VirtualAlloc.
struct VirtualBlockTraits {
    using Handle = void*;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { os::Kernel().VirtualFree(h); }
};
// A SID from AllocateAndInitializeSid.
struct SidTraits {
    using Handle = os::PSID;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { os::Security().FreeSid(h); }
};
using VirtualBlock = os::UniqueHandle<VirtualBlockTraits>;
using Sid = os::UniqueHandle<SidTraits>;

constexpr os::DWORD TOKEN_GROUPS_BUFFER_SIZE = 65536;

// A package status that is not PACK_OK, raised as (upper half, lower half, internal error).
[[noreturn]] void ThrowPackageStatus(int status) {
    const auto value = static_cast<std::uint32_t>(status);
    ThrowException(static_cast<std::uint16_t>(value >> 16), static_cast<std::uint16_t>(value & 0xFFFF),
                   os::ERROR_INTERNAL_ERROR);
}

}  // namespace

CInstaller::CInstaller(os::HANDLE logFile, int openPackage, int checkAdmin, int captureSetupApiLog)
    : m_pRebootFlag(&m_rebootRequired) {
    // Members that exist when a step raises are released by their owners on the way out.
    m_pLog.reset(new (std::nothrow) CSetupLogApi(logFile));
    if (!m_pLog) ThrowEngineError(LOCATION_LOG_WRITER);

    if (captureSetupApiLog) m_pLog->StartCapture();

    if (checkAdmin && !IsUserAdmin()) {
        Log("Error: No such admin privilege");
        ThrowEngineError(LOCATION_NOT_ADMIN, os::ERROR_PRIVILEGE_NOT_HELD);
    }

    m_hSCManager.Reset(os::Services().OpenSCManagerA(os::SC_MANAGER_ALL_ACCESS));
    if (!m_hSCManager.IsValid()) {
        const os::DWORD error = os::Kernel().GetLastError();
        Log("Error: Init Service Control Manager");
        ThrowEngineError(LOCATION_SERVICE_MANAGER, error);
    }

    DetectOsKind();

    m_pPackage.reset(new (std::nothrow) CPackedTools);
    if (!m_pPackage) {
        const os::DWORD error = os::Kernel().GetLastError();
        Log("Error: Init installer");
        ThrowEngineError(LOCATION_PACKAGE_READER, error);
    }
    if (m_pPackage->GetStatus() != PACK_OK) ThrowPackageStatus(m_pPackage->GetStatus());

    if (openPackage && !m_pPackage->LoadFromSelf()) {
        Log("Error: Init installer");
        ThrowPackageStatus(m_pPackage->GetStatus());
    }

    EnsureRunOnceKey();

    m_rebootRequired = 0;
    m_pRebootFlag = &m_rebootRequired;
}

CInstaller::~CInstaller() {
    // Backups still here were never committed: the run failed before its commit, or its
    // rollback could not put them back. They may be the only copies of the user's files, so
    // they are forgotten, never deleted.
    m_journal.ForgetBackups();
    m_services.ForgetKeyBackups();
    m_hSCManager.Reset();
    m_journal.ForgetAll();
    m_services.ForgetStarted();
    // The log writer goes first: it may still append the SetupAPI capture.
    m_pLog.reset();
    m_pPackage.reset();
}

int CInstaller::OpenPackage() {
    m_pPackage->LoadFromSelf();
    return m_pPackage->GetStatus();
}

void CInstaller::Log(const char* text, const char* argument) {
    // The caller may raise with the last error right after its line: writing keeps it.
    const os::DWORD error = os::Kernel().GetLastError();
    // A line that cannot be written is lost; the installation goes on.
    try {
        if (m_pLog) m_pLog->WriteLine(text, argument);
    } catch (CExceptionEx* e) {
        delete e;
    } catch (...) {
    }
    os::Kernel().SetLastError(error);
}

void CInstaller::RequireReboot(const char* line) {
    *m_pRebootFlag = 1;
    Log(line);
}

void CInstaller::RecordInstalledFile(const char* path) { m_journal.Record(path, JOURNAL_FILE); }

void CInstaller::RecordCreatedDirectory(const char* path) { m_journal.Record(path, JOURNAL_DIRECTORY); }

void CInstaller::RecordStartedService(const char* name) { m_services.RecordStarted(name); }

int CInstaller::WasServiceStarted(const char* name) const { return m_services.WasStarted(name) ? 1 : 0; }

void CInstaller::UninstallServicesAndDevices() {
    // A copy, so that a handler touching the journal cannot upset the walk.
    const Journal records = m_journal.Entries();
    for (const auto& [key, kind] : records) {
        try {
            if (kind == JOURNAL_SERVICE) {
                UninstallService(key.c_str());
            } else if (kind == JOURNAL_WDM_DEVICE) {
                UninstallWdmDriver(key.c_str());
            }
        } catch (CExceptionEx* e) {
            delete e;  // a rollback phase does its best for every record and goes on
        }
    }
}

void CInstaller::DiscardBackups() {
    // The commit never fails: a backup that cannot be deleted stays, whatever the reason.
    for (const auto& [target, backup] : m_journal.Backups()) {
        try {
            os::Files().DeleteFileA(backup.c_str());
        } catch (...) {
        }
    }
    m_journal.ForgetBackups();
    m_services.ForgetKeyBackups();
}

int CInstaller::IsUserAdmin() {
    os::KernelHandle token;
    if (!os::Security().OpenProcessToken(os::TOKEN_QUERY, token.Receive())) {
        token.Release();  // nothing was opened
        return 0;
    }

    VirtualBlock buffer(os::Kernel().VirtualAlloc(TOKEN_GROUPS_BUFFER_SIZE));
    os::DWORD needed = 0;
    const bool queried =
        buffer.IsValid() && os::Security().GetTokenGroups(token.Get(), buffer.Get(), TOKEN_GROUPS_BUFFER_SIZE, &needed);
    token.Reset();
    if (!queried) return 0;

    const os::DWORD subAuthorities[2] = {os::SECURITY_BUILTIN_DOMAIN_RID, os::DOMAIN_ALIAS_RID_ADMINS};
    Sid admins;
    if (!os::Security().AllocateAndInitializeSid(os::SECURITY_NT_AUTHORITY, 2, subAuthorities, admins.Receive())) {
        admins.Release();
        return 0;
    }

    const auto* groups = static_cast<const os::TokenGroups*>(buffer.Get());
    // The count comes from outside: never walk past the buffer.
    const std::size_t room =
        (TOKEN_GROUPS_BUFFER_SIZE - offsetof(os::TokenGroups, groups)) / sizeof(os::SidAndAttributes);
    const std::size_t count = groups->groupCount < room ? groups->groupCount : room;
    for (std::size_t i = 0; i < count; ++i) {
        // Deny-only and disabled groups count too.
        if (os::Security().EqualSid(admins.Get(), groups->groups[i].sid)) return 1;
    }
    return 0;
}

int CInstaller::DetectOsKind() {
    m_osKind = OS_KIND_NONE;
    os::OsVersion version;
    const bool known = os::Kernel().GetVersionExA(&version) != 0;
    m_osKind = OS_KIND_XP;
    if (known && version.major == 6) {
        m_osKind = version.productType == os::VER_NT_WORKSTATION ? OS_KIND_VISTA : OS_KIND_VISTA_SERVER;
    }
    return 1;
}

int CInstaller::EnsureRunOnceKey() {
    os::RegKey parent;
    if (os::Registry().RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                       os::REG_OPTION_NON_VOLATILE, os::KEY_WRITE, parent.Receive(),
                                       nullptr) != static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        parent.Release();  // nothing was opened
        return 1;
    }
    os::RegKey runOnce;
    os::DWORD disposition = 0;
    if (os::Registry().RegCreateKeyExA(parent.Get(), "RunOnce", os::REG_OPTION_NON_VOLATILE, os::KEY_WRITE,
                                       runOnce.Receive(), &disposition) == static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        runOnce.Reset();
        if (disposition == os::REG_CREATED_NEW_KEY) Log("Create 'RunOnce' registry key entry");
    } else {
        runOnce.Release();
    }
    return 1;
}
