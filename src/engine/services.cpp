// Services and kernel drivers: create or reconfigure them through the service control
// manager, start and stop them, and take them away again in a rollback.
#include <cstring>
#include <memory>
#include <new>

#include "engine/installer.h"
#include "platform/constants.h"

namespace {

// Where starting a service fails (module 19).
constexpr std::uint16_t LOCATION_START_NO_MANAGER = 2168;
constexpr std::uint16_t LOCATION_START_OPEN = 2175;

// Query, start, stop and reconfigure; deletion needs SERVICE_ALL_ACCESS.
constexpr os::DWORD SERVICE_CONTROL_ACCESS = os::STANDARD_RIGHTS_REQUIRED | os::SERVICE_QUERY_CONFIG |
                                             os::SERVICE_CHANGE_CONFIG | os::SERVICE_QUERY_STATUS |
                                             os::SERVICE_ENUMERATE_DEPENDENTS | os::SERVICE_START | os::SERVICE_STOP;
static_assert(SERVICE_CONTROL_ACCESS == 0xF003F, "the access of every service operation but deletion");

constexpr int STOP_POLLS = 40;       // 20 s
constexpr int UNINSTALL_POLLS = 20;  // 10 s
constexpr int DELETION_POLLS = 20;   // 10 s for a service marked for deletion to go
constexpr os::DWORD POLL_INTERVAL = 500;

const char* const SERVICES_KEY = "System\\CurrentControlSet\\Services\\";

// Values that creating or reconfiguring a service may add to its key.
const char* const CONFIG_VALUES[] = {"Type",  "Start",           "ErrorControl",  "ImagePath",  "DisplayName",
                                     "Group", "DependOnService", "DependOnGroup", "ObjectName", "Description"};

bool IsStopped(os::SC_HANDLE service, bool* queried = nullptr) {
    os::ServiceStatus status;
    const bool ok = os::Services().QueryServiceStatus(service, &status) != 0;
    if (queried != nullptr) *queried = ok;
    return ok && status.currentState == os::SERVICE_STOPPED;
}

bool IsRunning(os::SC_HANDLE service) {
    os::ServiceStatus status;
    return os::Services().QueryServiceStatus(service, &status) != 0 && status.currentState != os::SERVICE_STOPPED;
}

// Sleeps and queries up to polls times; leaves once the service is stopped or cannot be queried.
void WaitForStop(os::SC_HANDLE service, int polls) {
    for (int i = 0; i < polls; ++i) {
        os::Kernel().Sleep(POLL_INTERVAL);
        bool queried = false;
        if (IsStopped(service, &queried) || !queried) return;
    }
}

bool SameValueName(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

int CInstaller::ServiceExists(const char* name, int* markedForDelete) {
    if (!m_hSCManager.IsValid()) return 0;
    os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, SERVICE_CONTROL_ACCESS));
    if (service.IsValid()) {
        if (markedForDelete != nullptr) *markedForDelete = 0;
        return 1;
    }
    if (os::Kernel().GetLastError() == os::ERROR_SERVICE_MARKED_FOR_DELETE) {
        if (markedForDelete != nullptr) *markedForDelete = 1;
        return 1;
    }
    return 0;
}

int CInstaller::IsServiceRunning(const char* name) {
    if (!m_hSCManager.IsValid()) return 0;
    os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, SERVICE_CONTROL_ACCESS));
    if (!service.IsValid()) return 0;
    return IsRunning(service.Get()) ? 1 : 0;
}

int CInstaller::StopInstalledService(const char* name) {
    Log("Stop Installed Service: ", name);
    if (!m_hSCManager.IsValid()) {
        RequireReboot();
        return 0;
    }
    os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, SERVICE_CONTROL_ACCESS));
    if (!service.IsValid()) {
        if (os::Kernel().GetLastError() == os::ERROR_SERVICE_DOES_NOT_EXIST) return 1;
        RequireReboot();
        return 0;
    }
    if (IsStopped(service.Get())) return 1;

    os::ServiceStatus status;
    if (!os::Services().ControlService(service.Get(), os::SERVICE_CONTROL_STOP, &status)) {
        service.Reset();
        RequireReboot();
        return 0;
    }
    // A service of the previous installation that a failed run stopped is started again.
    if (!m_journal.Holds(name)) m_services.RecordStopped(name);
    // Still stopping after the last poll counts as stopped: it ends on its own.
    WaitForStop(service.Get(), STOP_POLLS);
    return 1;
}

void CInstaller::RestartStoppedServices() {
    // Last stopped, first started: a driver a service depends on was stopped after it.
    m_services.TakeStoppedLastFirst([this](const std::string& name) {
        if (m_journal.Holds(name)) return;  // this run's own, taken away by the rollback
        try {
            Log("Start Installed Service: ", name.c_str());
            os::ServiceHandle service(
                os::Services().OpenServiceA(m_hSCManager.Get(), name.c_str(), SERVICE_CONTROL_ACCESS));
            if (service.IsValid() && !IsRunning(service.Get())) os::Services().StartServiceA(service.Get(), 0, nullptr);
        } catch (...) {
            // A rollback does its best for every service and goes on.
        }
    });
}

int CInstaller::StartInstalledService(const char* name) {
    Log("Start Installed Service: ", name);
    if (!m_hSCManager.IsValid()) ThrowEngineError(LOCATION_START_NO_MANAGER);
    os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, SERVICE_CONTROL_ACCESS));
    if (!service.IsValid()) ThrowEngineError(LOCATION_START_OPEN);

    // Starting over a running copy completes only after a restart.
    if (IsRunning(service.Get())) RequireReboot();

    int result = 0;
    if (*m_pRebootFlag != 1) result = os::Services().StartServiceA(service.Get(), 0, nullptr);
    RecordStartedService(name);
    return result;
}

template <typename Create>
int CInstaller::CreateOrDefer(const char* name, os::ServiceHandle* created, Create create) {
    created->Reset(create());
    if (created->IsValid()) return 1;
    if (os::Kernel().GetLastError() != os::ERROR_SERVICE_MARKED_FOR_DELETE) return 0;
    if (const int deferred = DeferUnlessDeleted(name)) return deferred;
    created->Reset(create());
    return created->IsValid() ? 1 : 0;
}

int CInstaller::InstallDriver(const char* imagePath, const char* name, const char* displayName, os::DWORD startType) {
    if (!m_hSCManager.IsValid()) return 0;
    Log("Install Driver: ", imagePath);

    os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, SERVICE_CONTROL_ACCESS));
    if (service.IsValid()) {
        // Not being able to lock is no reason to give up: the lock keeps nothing out.
        os::ServiceLock lock(os::Services().LockServiceDatabase(m_hSCManager.Get()));
        BackupServiceKey(name);
        const os::BOOL changed = os::Services().ChangeServiceConfigA(
            service.Get(), os::SERVICE_KERNEL_DRIVER, startType, os::SERVICE_ERROR_NORMAL, imagePath, nullptr, nullptr,
            nullptr, nullptr, nullptr, displayName);
        const os::DWORD error = os::Kernel().GetLastError();
        // A loaded driver keeps its old image until the next start.
        if (changed && IsRunning(service.Get())) RequireReboot();
        if (changed || error != os::ERROR_SERVICE_MARKED_FOR_DELETE) return changed;
        ForgetMarkedService(name);  // on its way out: made anew below
    }
    service.Reset();  // a handle of ours would keep a service marked for deletion alive

    os::ServiceHandle created;
    const int made = CreateOrDefer(name, &created, [&] {
        return os::Services().CreateServiceA(m_hSCManager.Get(), name, displayName, os::SERVICE_ALL_ACCESS,
                                             os::SERVICE_KERNEL_DRIVER, startType, os::SERVICE_ERROR_NORMAL, imagePath,
                                             nullptr, nullptr, nullptr, nullptr, nullptr);
    });
    if (made != 1) return made;
    m_journal.Record(name, JOURNAL_SERVICE);
    return 1;
}

int CInstaller::InstallService(const char* imagePath, const char* name, const char* displayName,
                               const char* description, const char* loadOrderGroup, os::DWORD startType,
                               const char* const* dependencies, std::size_t dependencyCount) {
    if (!m_hSCManager.IsValid()) return 0;
    Log("Install Service: ", name);

    // Each name with its zero, in list order, then zeros: the list ends at the first empty name.
    std::unique_ptr<char[]> buffer;
    if (dependencyCount != 0) {
        std::size_t size = 16;
        for (std::size_t i = 0; i < dependencyCount; ++i) size += std::strlen(dependencies[i]) + 1;
        buffer.reset(new (std::nothrow) char[size]());
        if (!buffer) return 0;
        char* next = buffer.get();
        for (std::size_t i = 0; i < dependencyCount; ++i) {
            const std::size_t length = std::strlen(dependencies[i]) + 1;
            std::memcpy(next, dependencies[i], length);
            next += length;
        }
    }

    // ChangeServiceConfig2A wants a writable text.
    std::string descriptionText = description != nullptr ? description : "";
    os::ServiceDescription info;
    info.description = description != nullptr ? &descriptionText[0] : nullptr;

    os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, SERVICE_CONTROL_ACCESS));
    if (service.IsValid()) {
        os::ServiceLock lock(os::Services().LockServiceDatabase(m_hSCManager.Get()));
        BackupServiceKey(name);
        const os::BOOL changed = os::Services().ChangeServiceConfigA(
            service.Get(), os::SERVICE_WIN32_OWN_PROCESS, startType, os::SERVICE_ERROR_NORMAL, imagePath,
            loadOrderGroup, nullptr, buffer.get(), nullptr, nullptr, displayName);
        const os::DWORD error = os::Kernel().GetLastError();
        if (changed || error != os::ERROR_SERVICE_MARKED_FOR_DELETE) {
            if (changed && IsRunning(service.Get())) RequireReboot();
            os::Services().ChangeServiceConfig2A(service.Get(), os::SERVICE_CONFIG_DESCRIPTION, &info);
            return changed;
        }
        ForgetMarkedService(name);  // on its way out: made anew below
    }
    service.Reset();  // a handle of ours would keep a service marked for deletion alive

    os::ServiceHandle created;
    const int made = CreateOrDefer(name, &created, [&] {
        return os::Services().CreateServiceA(m_hSCManager.Get(), name, displayName, os::SERVICE_ALL_ACCESS,
                                             os::SERVICE_WIN32_OWN_PROCESS, startType, os::SERVICE_ERROR_NORMAL,
                                             imagePath, loadOrderGroup, nullptr, buffer.get(), nullptr, nullptr);
    });
    if (made != 1) return made;
    // Journalled at once: whatever happens to the calls below, the rollback knows of it.
    m_journal.Record(name, JOURNAL_SERVICE);
    // Compatibility step: some service managers (Wine's) store garbage after the first
    // dependency on create. Setting the same list once more stores it exactly; where the
    // create was right it changes nothing, and its result is not examined.
    if (buffer) {
        os::Services().ChangeServiceConfigA(created.Get(), os::SERVICE_NO_CHANGE, os::SERVICE_NO_CHANGE,
                                            os::SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, buffer.get(), nullptr,
                                            nullptr, nullptr);
    }
    os::Services().ChangeServiceConfig2A(created.Get(), os::SERVICE_CONFIG_DESCRIPTION, &info);
    return 1;
}

void CInstaller::ForgetMarkedService(const char* name) {
    // Its key goes with it: there is nothing of it for a rollback to write back.
    m_services.ForgetKey(std::string(SERVICES_KEY) + name);
}

int CInstaller::AwaitServiceDeletion(const char* name) {
    // A service marked for deletion goes once it is stopped and no handle to it is left:
    // stop it, hold no handle between the polls, and give it a few seconds.
    for (int poll = 0;; ++poll) {
        os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, os::SERVICE_ALL_ACCESS));
        if (!service.IsValid()) {
            const os::DWORD error = os::Kernel().GetLastError();
            if (error == os::ERROR_SERVICE_DOES_NOT_EXIST) return 1;
            if (error != os::ERROR_SERVICE_MARKED_FOR_DELETE) return 0;  // some Windows will not open it
        } else if (poll == 0 && IsRunning(service.Get())) {
            os::ServiceStatus status;
            os::Services().ControlService(service.Get(), os::SERVICE_CONTROL_STOP, &status);
        }
        service.Reset();
        if (poll == DELETION_POLLS) return 0;
        os::Kernel().Sleep(POLL_INTERVAL);
    }
}

int CInstaller::DeferUnlessDeleted(const char* name) {
    if (AwaitServiceDeletion(name)) return 0;
    // It goes with the next start; the installation makes it anew after that.
    Log("Warning: Service marked for delete!");
    RequireReboot();
    m_services.RecordDeferred(name);
    return SERVICE_DEFERRED;
}

void CInstaller::BackupServiceKey(const char* name) {
    const std::string subKey = std::string(SERVICES_KEY) + name;
    // The first backup of a run holds what the key had before the installation touched it;
    // a later one would only hold values this run already changed.
    if (m_services.HasKeyBackup(subKey)) return;

    os::RegKey key;
    if (os::Registry().RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, subKey.c_str(), os::KEY_QUERY_VALUE, key.Receive()) !=
        static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        key.Release();  // nothing was opened
        return;
    }
    os::DWORD count = 0, longestName = 0, longestData = 0;
    if (os::Registry().RegQueryInfoKeyA(key.Get(), nullptr, nullptr, &count, &longestName, &longestData) !=
            static_cast<os::LONG>(os::ERROR_SUCCESS) ||
        count == 0) {
        return;
    }
    const std::size_t nameRoom = static_cast<std::size_t>(longestName) + 16;
    const std::size_t dataRoom = static_cast<std::size_t>(longestData) + 16;
    std::unique_ptr<char[]> nameBuffer(new (std::nothrow) char[nameRoom]());
    std::unique_ptr<os::BYTE[]> dataBuffer(new (std::nothrow) os::BYTE[dataRoom]());
    if (!nameBuffer || !dataBuffer) return;

    std::vector<SavedRegValue> values;
    for (os::DWORD index = count; index-- > 0;) {
        os::DWORD nameLength = static_cast<os::DWORD>(nameRoom);
        os::DWORD type = 0;
        if (os::Registry().RegEnumValueA(key.Get(), index, nameBuffer.get(), &nameLength, &type, nullptr, nullptr) !=
                static_cast<os::LONG>(os::ERROR_SUCCESS) ||
            nameLength >= nameRoom) {
            continue;
        }
        const std::string valueName(nameBuffer.get(), nameLength);
        os::DWORD dataLength = static_cast<os::DWORD>(dataRoom);
        if (os::Registry().RegQueryValueExA(key.Get(), valueName.c_str(), &type, dataBuffer.get(), &dataLength) !=
                static_cast<os::LONG>(os::ERROR_SUCCESS) ||
            dataLength > dataRoom) {
            continue;
        }
        SavedRegValue saved;
        saved.name = valueName;
        saved.data.assign(reinterpret_cast<const char*>(dataBuffer.get()), dataLength);
        saved.type = type;
        values.push_back(std::move(saved));
    }

    // Settings the key lacks are remembered as absent, so that a rollback takes away what
    // the reconfiguration adds. Only a value the registry reports as missing counts.
    for (const char* valueName : CONFIG_VALUES) {
        bool known = false;
        for (const SavedRegValue& saved : values) known = known || SameValueName(saved.name, valueName);
        if (known) continue;
        if (os::Registry().RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, nullptr) ==
            static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)) {
            SavedRegValue absent;
            absent.name = valueName;
            absent.type = SAVED_VALUE_ABSENT;
            values.push_back(std::move(absent));
        }
    }
    m_services.SaveKey(subKey, std::move(values));
}

void CInstaller::RestoreServiceKeys() {
    for (const auto& [subKey, values] : m_services.KeyBackupsHeld()) {
        os::RegKey key;
        if (os::Registry().RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, subKey.c_str(), os::KEY_ALL_ACCESS, key.Receive()) !=
            static_cast<os::LONG>(os::ERROR_SUCCESS)) {
            key.Release();
            continue;
        }
        for (const SavedRegValue& saved : values) {
            if (saved.type == SAVED_VALUE_ABSENT) {
                os::Registry().RegDeleteValueA(key.Get(), saved.name.c_str());
            } else {
                os::Registry().RegSetValueExA(key.Get(), saved.name.c_str(), saved.type,
                                              reinterpret_cast<const os::BYTE*>(saved.data.data()),
                                              static_cast<os::DWORD>(saved.data.size()));
            }
        }
    }
    m_services.ForgetKeyBackups();
}

int CInstaller::UninstallService(const char* name) {
    Log("Uninstall Service: ", name);
    if (!m_hSCManager.IsValid()) return 0;
    os::ServiceHandle service(os::Services().OpenServiceA(m_hSCManager.Get(), name, os::SERVICE_ALL_ACCESS));
    if (!service.IsValid()) return 0;

    if (IsRunning(service.Get())) {
        os::ServiceStatus status;
        if (os::Services().ControlService(service.Get(), os::SERVICE_CONTROL_STOP, &status)) {
            WaitForStop(service.Get(), UNINSTALL_POLLS);
        } else {
            Log("Warning: Service can't be stoped!");
            RequireReboot();
        }
    }
    if (!os::Services().DeleteService(service.Get()) &&
        os::Kernel().GetLastError() == os::ERROR_SERVICE_MARKED_FOR_DELETE) {
        Log("Warning: Service marked for delete!");
        RequireReboot();
    }
    return 1;
}
