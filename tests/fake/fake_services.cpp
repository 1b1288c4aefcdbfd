#include "fake/fake_services.h"

#include <cctype>
#include <cstring>

#include "fake/fake_registry.h"
#include "platform/constants.h"

namespace fake {

using namespace os;

namespace {

const char* const SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services";
constexpr int MAX_DEPENDENCY_DEPTH = 16;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool ValidName(const char* name) {
    if (name == nullptr || *name == '\0' || std::strlen(name) > 256) return false;
    return std::strchr(name, '\\') == nullptr && std::strchr(name, '/') == nullptr;
}

// The items of a REG_MULTI_SZ value, bounded by its size.
std::vector<std::string> SplitMultiBytes(const std::vector<std::uint8_t>& data) {
    std::vector<std::string> items;
    std::string current;
    for (std::uint8_t byte : data) {
        if (byte != 0) {
            current.push_back(static_cast<char>(byte));
            continue;
        }
        if (current.empty()) break;
        items.push_back(current);
        current.clear();
    }
    if (!current.empty()) items.push_back(current);
    return items;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += item + ",";
    return text;
}

}  // namespace

std::vector<std::string> SplitMultiString(const char* buffer) {
    std::vector<std::string> items;
    if (buffer == nullptr) return items;
    while (*buffer != '\0') {
        items.emplace_back(buffer);
        buffer += items.back().size() + 1;
    }
    return items;
}

std::vector<std::uint8_t> JoinMultiString(const std::vector<std::string>& items) {
    std::vector<std::uint8_t> data;
    for (const std::string& item : items) {
        data.insert(data.end(), item.begin(), item.end());
        data.push_back(0);
    }
    data.push_back(0);
    return data;
}

bool CFakeServices::NameLess::operator()(const std::string& a, const std::string& b) const {
    return Upper(a) < Upper(b);
}

std::string CFakeServices::KeyPath(const std::string& name) { return std::string(SERVICES_KEY) + "\\" + name; }

CFakeServices::CFakeServices(CFakeMachine& machine) : m_machine(machine) {}

CFakeServices::~CFakeServices() = default;

bool CFakeServices::Fail(const char* call) { return m_machine.Fail(call); }

bool CFakeServices::SetError(DWORD error) {
    m_machine.lastError = error;
    return false;
}

// ---- handles ------------------------------------------------------------------------

SC_HANDLE CFakeServices::NewHandle(Kind kind, DWORD access, const std::string& service) {
    const std::uintptr_t handle = m_next;
    m_next += 4;
    m_handles[handle] = Handle{kind, access, service};
    return reinterpret_cast<SC_HANDLE>(handle);
}

CFakeServices::Handle* CFakeServices::FindHandle(SC_HANDLE handle, Kind kind) {
    auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == m_handles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

CFakeServices::Service* CFakeServices::Resolve(SC_HANDLE handle, DWORD needed) {
    Handle* h = FindHandle(handle, Kind::Service);
    auto it = h != nullptr ? m_services.find(h->service) : m_services.end();
    if (it == m_services.end()) {
        // Also a handle that outlived its service across a restart.
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((h->access & needed) != needed) {
        SetError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return &it->second;
}

int CFakeServices::OpenHandlesTo(const std::string& name) const {
    int count = 0;
    for (const auto& [value, handle] : m_handles) {
        if (handle.kind == Kind::Service && Upper(handle.service) == Upper(name)) ++count;
    }
    return count;
}

void CFakeServices::RemoveIfDone(const std::string& name) {
    auto it = m_services.find(name);
    if (it == m_services.end() || !it->second.markedForDelete || it->second.state != SERVICE_STOPPED) return;
    if (OpenHandlesTo(name) != 0) return;
    m_machine.registry.DeleteTree(KeyPath(it->second.name));
    m_services.erase(it);
}

SC_HANDLE CFakeServices::OpenSCManagerA(DWORD access) {
    requests.push_back({"OpenSCManagerA", "", access, 0, 0, 0});
    if (Fail("OpenSCManagerA")) return nullptr;
    return NewHandle(Kind::Manager, access, "");
}

BOOL CFakeServices::CloseServiceHandle(SC_HANDLE handle) {
    auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == m_handles.end()) return SetError(ERROR_INVALID_HANDLE);
    const std::string service = it->second.service;
    m_handles.erase(it);
    if (!service.empty()) RemoveIfDone(service);
    return 1;
}

SC_HANDLE CFakeServices::OpenServiceA(SC_HANDLE manager, const char* name, DWORD access) {
    requests.push_back({"OpenServiceA", name != nullptr ? name : "", access, 0, 0, 0});
    if (Fail("OpenServiceA")) return nullptr;
    Handle* m = FindHandle(manager, Kind::Manager);
    if (m == nullptr) return SetError(ERROR_INVALID_HANDLE), nullptr;
    if (!(m->access & SC_MANAGER_CONNECT)) return SetError(ERROR_ACCESS_DENIED), nullptr;
    if (!ValidName(name)) return SetError(ERROR_INVALID_NAME), nullptr;
    auto it = m_services.find(name);
    if (it == m_services.end()) return SetError(ERROR_SERVICE_DOES_NOT_EXIST), nullptr;
    if (it->second.markedForDelete && openRefusesMarked) return SetError(ERROR_SERVICE_MARKED_FOR_DELETE), nullptr;
    if (access & it->second.behaviour.deniedAccess) return SetError(ERROR_ACCESS_DENIED), nullptr;
    return NewHandle(Kind::Service, access, it->second.name);
}

// ---- configuration ------------------------------------------------------------------

SC_HANDLE CFakeServices::CreateServiceA(SC_HANDLE manager, const char* name, const char* displayName, DWORD access,
                                        DWORD serviceType, DWORD startType, DWORD errorControl, const char* binaryPath,
                                        const char* loadOrderGroup, DWORD* tagId, const char* dependencies,
                                        const char* account, const char*) {
    requests.push_back({"CreateServiceA", name != nullptr ? name : "", access, serviceType, startType, errorControl});
    if (Fail("CreateServiceA")) return nullptr;
    Handle* m = FindHandle(manager, Kind::Manager);
    if (m == nullptr) return SetError(ERROR_INVALID_HANDLE), nullptr;
    if (!(m->access & SC_MANAGER_CREATE_SERVICE)) return SetError(ERROR_ACCESS_DENIED), nullptr;
    if (!ValidName(name)) return SetError(ERROR_INVALID_NAME), nullptr;
    const DWORD baseType = serviceType & ~SERVICE_INTERACTIVE_PROCESS;
    const bool driver = baseType == SERVICE_KERNEL_DRIVER || baseType == SERVICE_FILE_SYSTEM_DRIVER;
    if ((!driver && baseType != SERVICE_WIN32_OWN_PROCESS && baseType != SERVICE_WIN32_SHARE_PROCESS) ||
        startType > SERVICE_DISABLED || (!driver && startType < SERVICE_AUTO_START) ||
        errorControl > SERVICE_ERROR_CRITICAL || binaryPath == nullptr || *binaryPath == '\0' ||
        (tagId != nullptr && (loadOrderGroup == nullptr || *loadOrderGroup == '\0'))) {
        return SetError(ERROR_INVALID_PARAMETER), nullptr;
    }
    auto existing = m_services.find(name);
    if (existing != m_services.end()) {
        return SetError(existing->second.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS),
               nullptr;
    }
    const std::string display = displayName != nullptr ? displayName : name;
    for (const auto& [key, other] : m_services) {
        if (Upper(other.config.displayName) == Upper(display) || Upper(other.name) == Upper(display)) {
            return SetError(ERROR_DUPLICATE_SERVICE_NAME), nullptr;
        }
    }
    Service service;
    service.name = name;
    service.config.type = serviceType;
    service.config.startType = startType;
    service.config.errorControl = errorControl;
    service.config.imagePath = binaryPath;
    service.config.displayName = display;
    service.config.group = loadOrderGroup != nullptr ? loadOrderGroup : "";
    service.config.dependencies = SplitMultiString(dependencies);
    if (createGarblesDependencies && !service.config.dependencies.empty()) {
        service.config.dependencies.resize(1);
        service.config.dependencies.push_back("ll");
        service.config.dependencies.push_back(" Files");
    }
    if (!driver) service.config.account = account != nullptr ? account : "LocalSystem";
    if (tagId != nullptr) *tagId = 1;
    m_services[name] = service;
    WriteKey(service);
    return NewHandle(Kind::Service, access, service.name);
}

BOOL CFakeServices::ChangeServiceConfigA(SC_HANDLE handle, DWORD serviceType, DWORD startType, DWORD errorControl,
                                         const char* binaryPath, const char* loadOrderGroup, DWORD* tagId,
                                         const char* dependencies, const char* account, const char*,
                                         const char* displayName) {
    {
        const auto known = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
        requests.push_back({"ChangeServiceConfigA", known != m_handles.end() ? known->second.service : "", 0,
                            serviceType, startType, errorControl});
    }
    if (Fail("ChangeServiceConfigA")) return 0;
    Service* service = Resolve(handle, SERVICE_CHANGE_CONFIG);
    if (service == nullptr) return 0;
    if (service->markedForDelete) return SetError(ERROR_SERVICE_MARKED_FOR_DELETE);
    const DWORD type = serviceType == SERVICE_NO_CHANGE ? service->config.type : serviceType;
    const DWORD baseType = type & ~SERVICE_INTERACTIVE_PROCESS;
    const bool driver = baseType == SERVICE_KERNEL_DRIVER || baseType == SERVICE_FILE_SYSTEM_DRIVER;
    const DWORD start = startType == SERVICE_NO_CHANGE ? service->config.startType : startType;
    if ((!driver && baseType != SERVICE_WIN32_OWN_PROCESS && baseType != SERVICE_WIN32_SHARE_PROCESS) ||
        start > SERVICE_DISABLED || (!driver && start < SERVICE_AUTO_START) ||
        (errorControl != SERVICE_NO_CHANGE && errorControl > SERVICE_ERROR_CRITICAL) ||
        (binaryPath != nullptr && *binaryPath == '\0')) {
        return SetError(ERROR_INVALID_PARAMETER);
    }
    if (displayName != nullptr) {
        for (const auto& [key, other] : m_services) {
            if (&other == service) continue;
            if (Upper(other.config.displayName) == Upper(displayName) || Upper(other.name) == Upper(displayName)) {
                return SetError(ERROR_DUPLICATE_SERVICE_NAME);
            }
        }
    }
    // Windows writes only what the call changes.
    Config& c = service->config;
    if (serviceType != SERVICE_NO_CHANGE) {
        c.type = serviceType;
        WriteDword(*service, "Type", c.type);
    }
    if (startType != SERVICE_NO_CHANGE) {
        c.startType = startType;
        WriteDword(*service, "Start", c.startType);
    }
    if (errorControl != SERVICE_NO_CHANGE) {
        c.errorControl = errorControl;
        WriteDword(*service, "ErrorControl", c.errorControl);
    }
    if (binaryPath != nullptr) {
        c.imagePath = binaryPath;
        WriteString(*service, "ImagePath", c.imagePath, REG_EXPAND_SZ);
    }
    if (loadOrderGroup != nullptr) {
        c.group = loadOrderGroup;
        WriteString(*service, "Group", c.group, REG_SZ);
    }
    if (tagId != nullptr) *tagId = c.group.empty() ? 0 : 1;
    if (dependencies != nullptr) {
        c.dependencies = SplitMultiString(dependencies);
        WriteDependencies(*service);
    }
    if (account != nullptr) {
        c.account = account;
        WriteString(*service, "ObjectName", c.account, REG_SZ);
    }
    if (displayName != nullptr) {
        c.displayName = displayName;
        WriteString(*service, "DisplayName", c.displayName, REG_SZ);
    }
    return 1;
}

BOOL CFakeServices::ChangeServiceConfig2A(SC_HANDLE handle, DWORD infoLevel, void* info) {
    if (Fail("ChangeServiceConfig2A")) return 0;
    Service* service = Resolve(handle, SERVICE_CHANGE_CONFIG);
    if (service == nullptr) return 0;
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION) return SetError(ERROR_INVALID_LEVEL);
    if (info == nullptr) return SetError(ERROR_INVALID_PARAMETER);
    if (service->markedForDelete) return SetError(ERROR_SERVICE_MARKED_FOR_DELETE);
    const char* text = static_cast<const ServiceDescription*>(info)->description;
    if (text == nullptr) return 1;  // no change
    service->config.description = text;
    WriteString(*service, "Description", service->config.description, REG_SZ);
    return 1;
}

// ---- state --------------------------------------------------------------------------

void CFakeServices::Report(const Service& service, ServiceStatus* status) const {
    if (status == nullptr) return;
    *status = ServiceStatus{};
    status->serviceType = service.config.type;
    status->currentState = service.state;
    status->controlsAccepted =
        service.state == SERVICE_RUNNING && service.behaviour.acceptsStop ? SERVICE_ACCEPT_STOP : 0;
    status->checkPoint = service.state == SERVICE_START_PENDING || service.state == SERVICE_STOP_PENDING ? 1 : 0;
    status->waitHint = status->checkPoint != 0 ? 2000 : 0;
}

BOOL CFakeServices::QueryServiceStatus(SC_HANDLE handle, ServiceStatus* status) {
    if (Fail("QueryServiceStatus")) return 0;
    Service* service = Resolve(handle, SERVICE_QUERY_STATUS);
    if (service == nullptr) return 0;
    if (status == nullptr) return SetError(ERROR_INVALID_PARAMETER);
    // A pending start or stop moves on with every query that watches it.
    if ((service->state == SERVICE_START_PENDING || service->state == SERVICE_STOP_PENDING) &&
        service->pendingQueries >= 0) {
        if (service->pendingQueries > 0) --service->pendingQueries;
        if (service->pendingQueries == 0) {
            service->state = service->state == SERVICE_START_PENDING ? SERVICE_RUNNING : SERVICE_STOPPED;
        }
    }
    Report(*service, status);
    return 1;
}

bool CFakeServices::HasRunningDependents(const Service& service) const {
    for (const auto& [key, other] : m_services) {
        if (other.state == SERVICE_STOPPED) continue;
        for (const std::string& dependency : other.config.dependencies) {
            if (Upper(dependency) == Upper(service.name)) return true;
        }
    }
    return false;
}

BOOL CFakeServices::ControlService(SC_HANDLE handle, DWORD control, ServiceStatus* status) {
    if (Fail("ControlService")) return 0;
    if (control == SERVICE_CONTROL_INTERROGATE) {
        Service* service = Resolve(handle, SERVICE_INTERROGATE);
        if (service == nullptr) return 0;
        Report(*service, status);
        return service->state == SERVICE_STOPPED ? SetError(ERROR_SERVICE_NOT_ACTIVE) : 1;
    }
    if (control != SERVICE_CONTROL_STOP) {
        if (Resolve(handle, 0) == nullptr) return 0;
        return SetError(ERROR_INVALID_SERVICE_CONTROL);
    }
    Service* service = Resolve(handle, SERVICE_STOP);
    if (service == nullptr) return 0;
    Report(*service, status);
    if (service->state == SERVICE_STOPPED) return SetError(ERROR_SERVICE_NOT_ACTIVE);
    if (service->state != SERVICE_RUNNING) return SetError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (!service->behaviour.acceptsStop) return SetError(ERROR_INVALID_SERVICE_CONTROL);
    if (HasRunningDependents(*service)) return SetError(ERROR_DEPENDENT_SERVICES_RUNNING);
    ++service->stopControls;
    service->pendingQueries = service->behaviour.stopQueries;
    service->state = service->pendingQueries == 0 ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
    Report(*service, status);
    return 1;
}

bool CFakeServices::ImageExists(const std::string& imagePath) const {
    std::string path = imagePath;
    if (!path.empty() && path[0] == '"') {
        const std::size_t end = path.find('"', 1);
        return end != std::string::npos && m_machine.files.FileExists(path.substr(1, end - 1));
    }
    // Only full paths are checked; arguments may follow the program after a space.
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return true;
    for (std::size_t cut = path.find(' '); cut != std::string::npos; cut = path.find(' ', cut + 1)) {
        if (m_machine.files.FileExists(path.substr(0, cut))) return true;
    }
    return m_machine.files.FileExists(path);
}

BOOL CFakeServices::Start(Service& service, int depth) {
    if (service.markedForDelete) return SetError(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (service.config.startType == SERVICE_DISABLED) return SetError(ERROR_SERVICE_DISABLED);
    if (service.state != SERVICE_STOPPED) return SetError(ERROR_SERVICE_ALREADY_RUNNING);
    // Services it depends on are started first.
    for (const std::string& dependency : service.config.dependencies) {
        if (!dependency.empty() && dependency[0] == SC_GROUP_IDENTIFIER) continue;
        auto it = m_services.find(dependency);
        if (it == m_services.end() || it->second.markedForDelete) return SetError(ERROR_SERVICE_DEPENDENCY_DELETED);
        if (it->second.state != SERVICE_STOPPED) continue;
        if (depth >= MAX_DEPENDENCY_DEPTH || !Start(it->second, depth + 1)) {
            return SetError(ERROR_SERVICE_DEPENDENCY_FAIL);
        }
    }
    if (!ImageExists(service.config.imagePath)) return SetError(ERROR_FILE_NOT_FOUND);
    if (service.behaviour.startError != 0) return SetError(service.behaviour.startError);
    ++service.starts;
    service.pendingQueries = service.behaviour.startQueries;
    service.state = service.pendingQueries == 0 ? SERVICE_RUNNING : SERVICE_START_PENDING;
    return 1;
}

BOOL CFakeServices::StartServiceA(SC_HANDLE handle, DWORD, const char**) {
    if (Fail("StartServiceA")) return 0;
    Service* service = Resolve(handle, SERVICE_START);
    if (service == nullptr) return 0;
    return Start(*service, 0);
}

BOOL CFakeServices::DeleteService(SC_HANDLE handle) {
    if (Fail("DeleteService")) return 0;
    Service* service = Resolve(handle, DELETE);
    if (service == nullptr) return 0;
    if (service->markedForDelete) return SetError(ERROR_SERVICE_MARKED_FOR_DELETE);
    service->markedForDelete = true;
    WriteDword(*service, "DeleteFlag", 1);
    return 1;
}

SC_LOCK CFakeServices::LockServiceDatabase(SC_HANDLE manager) {
    if (Fail("LockServiceDatabase")) return nullptr;
    Handle* m = FindHandle(manager, Kind::Manager);
    if (m == nullptr) return SetError(ERROR_INVALID_HANDLE), nullptr;
    if (!(m->access & SC_MANAGER_LOCK)) return SetError(ERROR_ACCESS_DENIED), nullptr;
    if (!m_locks.empty()) return SetError(ERROR_SERVICE_DATABASE_LOCKED), nullptr;
    const std::uintptr_t lock = m_next;
    m_next += 4;
    m_locks[lock] = true;
    ++m_lockCount;
    return reinterpret_cast<SC_LOCK>(lock);
}

BOOL CFakeServices::UnlockServiceDatabase(SC_LOCK lock) {
    if (m_locks.erase(reinterpret_cast<std::uintptr_t>(lock)) == 0) return SetError(ERROR_INVALID_SERVICE_LOCK);
    return 1;
}

// ---- service keys -------------------------------------------------------------------

void CFakeServices::WriteDword(const Service& service, const char* value, DWORD data) {
    m_machine.registry.SetDword(KeyPath(service.name), value, data);
}

void CFakeServices::WriteString(const Service& service, const char* value, const std::string& text, DWORD type) {
    // An empty text takes the value away.
    if (text.empty()) {
        m_machine.registry.DeleteValue(KeyPath(service.name), value);
        return;
    }
    m_machine.registry.SetString(KeyPath(service.name), value, text, type);
}

void CFakeServices::WriteDependencies(const Service& service) {
    std::vector<std::string> services, groups;
    for (const std::string& dependency : service.config.dependencies) {
        if (!dependency.empty() && dependency[0] == SC_GROUP_IDENTIFIER) {
            groups.push_back(dependency.substr(1));
        } else {
            services.push_back(dependency);
        }
    }
    const std::string key = KeyPath(service.name);
    if (services.empty()) {
        m_machine.registry.DeleteValue(key, "DependOnService");
    } else {
        m_machine.registry.SetValue(key, "DependOnService", REG_MULTI_SZ, JoinMultiString(services));
    }
    if (groups.empty()) {
        m_machine.registry.DeleteValue(key, "DependOnGroup");
    } else {
        m_machine.registry.SetValue(key, "DependOnGroup", REG_MULTI_SZ, JoinMultiString(groups));
    }
}

void CFakeServices::WriteKey(const Service& service) {
    m_machine.registry.CreateKey(KeyPath(service.name));
    WriteDword(service, "Type", service.config.type);
    WriteDword(service, "Start", service.config.startType);
    WriteDword(service, "ErrorControl", service.config.errorControl);
    WriteString(service, "ImagePath", service.config.imagePath, REG_EXPAND_SZ);
    WriteString(service, "DisplayName", service.config.displayName, REG_SZ);
    WriteString(service, "Group", service.config.group, REG_SZ);
    WriteDependencies(service);
    WriteString(service, "ObjectName", service.config.account, REG_SZ);
    WriteString(service, "Description", service.config.description, REG_SZ);
    if (service.markedForDelete) WriteDword(service, "DeleteFlag", 1);
}

void CFakeServices::ReadKey(Service& service) const {
    const CFakeRegistry& registry = m_machine.registry;
    const std::string key = KeyPath(service.name);
    Config& c = service.config;
    c.type = registry.GetDword(key, "Type").value_or(0);
    c.startType = registry.GetDword(key, "Start").value_or(SERVICE_DEMAND_START);
    c.errorControl = registry.GetDword(key, "ErrorControl").value_or(SERVICE_ERROR_IGNORE);
    c.imagePath = registry.GetString(key, "ImagePath").value_or("");
    c.displayName = registry.GetString(key, "DisplayName").value_or("");
    c.group = registry.GetString(key, "Group").value_or("");
    c.description = registry.GetString(key, "Description").value_or("");
    c.account = registry.GetString(key, "ObjectName").value_or("");
    c.dependencies.clear();
    for (const char* name : {"DependOnService", "DependOnGroup"}) {
        const auto value = registry.GetValue(key, name);
        if (!value || value->type != REG_MULTI_SZ) continue;
        for (const std::string& item : SplitMultiBytes(value->data)) {
            c.dependencies.push_back(name[8] == 'G' ? SC_GROUP_IDENTIFIER + item : item);
        }
    }
}

// ---- arranging and inspecting -------------------------------------------------------

CFakeServices::Service& CFakeServices::AddService(const std::string& name, const Config& config, DWORD state) {
    Service& service = m_services[name];
    service = Service{};
    service.name = name;
    service.config = config;
    if (service.config.displayName.empty()) service.config.displayName = name;
    service.state = state;
    WriteKey(service);
    return service;
}

bool CFakeServices::Exists(const std::string& name) const { return m_services.count(name) != 0; }

const CFakeServices::Service* CFakeServices::Find(const std::string& name) const {
    auto it = m_services.find(name);
    return it == m_services.end() ? nullptr : &it->second;
}

CFakeServices::Behaviour& CFakeServices::BehaviourOf(const std::string& name) { return m_services.at(name).behaviour; }

void CFakeServices::SetState(const std::string& name, DWORD state) {
    Service& service = m_services.at(name);
    service.state = state;
    service.pendingQueries = 0;
    RemoveIfDone(name);
}

DWORD CFakeServices::State(const std::string& name) const {
    const Service* service = Find(name);
    return service == nullptr ? 0 : service->state;
}

std::vector<std::string> CFakeServices::Names() const {
    std::vector<std::string> names;
    for (const auto& [key, service] : m_services) names.push_back(service.name);
    return names;
}

void CFakeServices::Restart() {
    for (auto it = m_services.begin(); it != m_services.end();) {
        if (it->second.markedForDelete) {
            m_machine.registry.DeleteTree(KeyPath(it->second.name));
            it = m_services.erase(it);
        } else if (!m_machine.registry.KeyExists(KeyPath(it->second.name))) {
            it = m_services.erase(it);
        } else {
            ++it;
        }
    }
    for (const std::string& name : m_machine.registry.SubKeyNames(SERVICES_KEY)) {
        if (m_services.count(name) != 0 || !m_machine.registry.GetDword(KeyPath(name), "Type")) continue;
        m_services[name].name = name;
    }
    m_locks.clear();
    for (auto& [key, service] : m_services) {
        ReadKey(service);
        service.state = SERVICE_STOPPED;
        service.pendingQueries = 0;
    }
    for (auto& [key, service] : m_services) {
        if (service.config.startType <= SERVICE_AUTO_START && service.state == SERVICE_STOPPED) {
            const DWORD error = m_machine.lastError;
            Start(service, 0);
            m_machine.lastError = error;
            // A restart does not wait for services that take their time.
            if (service.state == SERVICE_START_PENDING && service.pendingQueries >= 0) {
                service.state = SERVICE_RUNNING;
            }
        }
    }
}

std::map<std::string, std::string> CFakeServices::Snapshot() const {
    std::map<std::string, std::string> out;
    for (const auto& [key, s] : m_services) {
        const Config& c = s.config;
        out[Upper(s.name)] = "type=" + std::to_string(c.type) + " start=" + std::to_string(c.startType) +
                             " error=" + std::to_string(c.errorControl) + " image=" + c.imagePath +
                             " display=" + c.displayName + " group=" + c.group + " depends=" + Joined(c.dependencies) +
                             " description=" + c.description + " account=" + c.account +
                             " state=" + std::to_string(s.state) + (s.markedForDelete ? " marked" : "");
    }
    return out;
}

}  // namespace fake
