// The service control manager of the in-memory machine.
//
// A database of services with their configuration and state. Service names compare
// without case. Each service's key HKLM\System\CurrentControlSet\Services\<name> is kept
// in step with the machine's registry the way Windows does it: creating or changing a
// service writes the values it changes; the database reads the keys back only at a
// restart, so values written into a key directly take effect after Restart().
//
// Stopping follows the service's behaviour: at once, after a number of status queries, or
// never; or the stop control is refused. DeleteService marks the service; it goes when it
// is stopped and its last handle is closed, or at a restart. Until then it can still be
// opened, but changing, creating, starting or deleting it again gives 1072.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fake/fake_machine.h"

namespace fake {

class CFakeServices final : public os::IServices {
public:
    explicit CFakeServices(CFakeMachine& machine);
    ~CFakeServices() override;

    os::SC_HANDLE OpenSCManagerA(os::DWORD access) override;
    os::BOOL CloseServiceHandle(os::SC_HANDLE handle) override;
    os::SC_HANDLE OpenServiceA(os::SC_HANDLE manager, const char* name, os::DWORD access) override;
    os::SC_HANDLE CreateServiceA(os::SC_HANDLE manager, const char* name, const char* displayName, os::DWORD access,
                                 os::DWORD serviceType, os::DWORD startType, os::DWORD errorControl,
                                 const char* binaryPath, const char* loadOrderGroup, os::DWORD* tagId,
                                 const char* dependencies, const char* account, const char* password) override;
    os::BOOL ChangeServiceConfigA(os::SC_HANDLE service, os::DWORD serviceType, os::DWORD startType,
                                  os::DWORD errorControl, const char* binaryPath, const char* loadOrderGroup,
                                  os::DWORD* tagId, const char* dependencies, const char* account, const char* password,
                                  const char* displayName) override;
    os::BOOL ChangeServiceConfig2A(os::SC_HANDLE service, os::DWORD infoLevel, void* info) override;
    os::BOOL QueryServiceStatus(os::SC_HANDLE service, os::ServiceStatus* status) override;
    os::BOOL ControlService(os::SC_HANDLE service, os::DWORD control, os::ServiceStatus* status) override;
    os::BOOL StartServiceA(os::SC_HANDLE service, os::DWORD argumentCount, const char** arguments) override;
    os::BOOL DeleteService(os::SC_HANDLE service) override;
    os::SC_LOCK LockServiceDatabase(os::SC_HANDLE manager) override;
    os::BOOL UnlockServiceDatabase(os::SC_LOCK lock) override;

    // What the database holds of a service.
    struct Config {
        os::DWORD type = 0x10;       // SERVICE_WIN32_OWN_PROCESS
        os::DWORD startType = 3;     // SERVICE_DEMAND_START
        os::DWORD errorControl = 1;  // SERVICE_ERROR_NORMAL
        std::string imagePath;
        std::string displayName;
        std::string group;
        std::vector<std::string> dependencies;  // service names; "+Name" for a load-order group
        std::string description;
        std::string account;  // "LocalSystem" for a process service created without one
    };
    // How the service answers start and stop requests.
    struct Behaviour {
        int stopQueries = 0;         // status queries in STOP_PENDING before STOPPED; -1: never stops
        int startQueries = 0;        // status queries in START_PENDING before RUNNING; -1: never runs
        bool acceptsStop = true;     // false: the stop control gives 1052
        os::DWORD startError = 0;    // StartServiceA fails with it (1053: no service program; 1114: bad driver)
        os::DWORD deniedAccess = 0;  // OpenServiceA asking for any of these rights gives ERROR_ACCESS_DENIED
    };
    struct Service {
        std::string name;  // as created
        Config config;
        Behaviour behaviour;
        os::DWORD state = 1;  // SERVICE_STOPPED
        bool markedForDelete = false;
        int pendingQueries = 0;     // left of the current start or stop
        unsigned starts = 0;        // accepted StartServiceA calls
        unsigned stopControls = 0;  // accepted stop controls
    };

    // Arranging and inspecting (never fail, never counted). AddService writes the key too.
    Service& AddService(const std::string& name, const Config& config, os::DWORD state = 1 /* SERVICE_STOPPED */);
    bool Exists(const std::string& name) const;
    const Service* Find(const std::string& name) const;  // null when there is no such service
    Behaviour& BehaviourOf(const std::string& name);     // the service must exist
    // Puts the service into a state directly (the service itself started or stopped).
    void SetState(const std::string& name, os::DWORD state);
    os::DWORD State(const std::string& name) const;  // 0 when there is no such service
    std::vector<std::string> Names() const;          // in name order

    // A restart: services marked for deletion go, every configuration is read back from
    // its key (a service whose key is gone goes too; a key with a Type value and no
    // service becomes one), and only the services that start automatically run.
    void Restart();

    // Windows versions where OpenServiceA refuses a service marked for deletion with 1072
    // (Wine and the default here open it).
    bool openRefusesMarked = false;
    // Wine's create path: only the first dependency is stored right, followed by stray names
    // from memory that happens to lie behind it. ChangeServiceConfigA stores lists exactly.
    bool createGarblesDependencies = false;

    // Every call that opens, creates or changes a service, with the rights and settings it
    // asked for, in order (recorded before the fault plan is asked).
    struct Request {
        std::string call;  // "OpenSCManagerA", "OpenServiceA", "CreateServiceA", "ChangeServiceConfigA"
        std::string name;  // the service's (for a change, the one behind the handle); empty for the manager
        os::DWORD access = 0;
        os::DWORD serviceType = 0;
        os::DWORD startType = 0;
        os::DWORD errorControl = 0;
    };
    std::vector<Request> requests;

    // Manager and service handles not yet closed.
    std::size_t OpenHandleCount() const { return m_handles.size(); }
    bool IsLocked() const { return !m_locks.empty(); }
    unsigned LockCount() const { return m_lockCount; }  // LockServiceDatabase successes so far

    // Every service with configuration, state and deletion mark, names upper-cased:
    // compare before and after.
    std::map<std::string, std::string> Snapshot() const;

    static std::string KeyPath(const std::string& name);  // "HKLM\\System\\CurrentControlSet\\Services\\<name>"

private:
    struct NameLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    enum class Kind { Manager, Service };
    struct Handle {
        Kind kind;
        os::DWORD access;
        std::string service;  // empty for the manager
    };

    bool Fail(const char* call);
    bool SetError(os::DWORD error);  // sets the last error, returns false
    Handle* FindHandle(os::SC_HANDLE handle, Kind kind);
    // The service behind a service handle; sets ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED.
    Service* Resolve(os::SC_HANDLE handle, os::DWORD needed);
    os::SC_HANDLE NewHandle(Kind kind, os::DWORD access, const std::string& service);
    int OpenHandlesTo(const std::string& name) const;
    void RemoveIfDone(const std::string& name);  // a marked service that is stopped and unused goes
    bool ImageExists(const std::string& imagePath) const;
    os::BOOL Start(Service& service, int depth);
    void Report(const Service& service, os::ServiceStatus* status) const;
    bool HasRunningDependents(const Service& service) const;

    // Keeping the service keys in step.
    void WriteKey(const Service& service);
    void WriteDword(const Service& service, const char* value, os::DWORD data);
    void WriteString(const Service& service, const char* value, const std::string& text, os::DWORD type);
    void WriteDependencies(const Service& service);
    void ReadKey(Service& service) const;

    CFakeMachine& m_machine;
    std::map<std::string, Service, NameLess> m_services;
    std::map<std::uintptr_t, Handle> m_handles;
    std::map<std::uintptr_t, bool> m_locks;
    unsigned m_lockCount = 0;
    std::uintptr_t m_next = 0x7000;
};

// The double-zero-terminated list of a dependency buffer; null gives none.
std::vector<std::string> SplitMultiString(const char* buffer);
std::vector<std::uint8_t> JoinMultiString(const std::vector<std::string>& items);

}  // namespace fake
