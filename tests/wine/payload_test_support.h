// Shared pieces of the payload's Wine tests: handle owners, the files beside the test program,
// services, processes and root devices, all with plain Win32 calls.
#ifndef TSP_PAYLOAD_TEST_SUPPORT_H
#define TSP_PAYLOAD_TEST_SUPPORT_H

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace payload_test {

struct ServiceCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceCloser>;

struct KernelCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using KernelHandle = std::unique_ptr<void, KernelCloser>;

struct DeviceSetCloser {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DeviceSet = std::unique_ptr<void, DeviceSetCloser>;

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

inline DeviceSet OwnSet(HDEVINFO set) { return DeviceSet(set == INVALID_HANDLE_VALUE ? nullptr : set); }
inline KernelHandle OwnFile(HANDLE file) { return KernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file); }

const DWORD STATE_WAIT_MS = 15000;
const DWORD PROCESS_WAIT_MS = 20000;

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// What Wine did, for the record (shown by ctest -V).
inline void Measured(const std::string& what, const std::string& value) {
    std::printf("measured: %s = %s\n", what.c_str(), value.c_str());
    std::fflush(stdout);
}

inline std::string BesideFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return ".";
    const std::string text(path, n);
    return text.substr(0, text.find_last_of('\\'));
}

inline std::string Beside(const char* name) { return BesideFolder() + "\\" + name; }
inline std::string Beside(const std::string& name) { return Beside(name.c_str()); }

inline std::string SystemFolder() {
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

inline std::string WindowsFolder() {
    char path[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

// With its trailing backslash; otherwise when the system names none.
inline std::string TempFolder(const std::string& otherwise = std::string()) {
    char path[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof path, path);
    return n > 0 && n < sizeof path ? std::string(path, n) : otherwise;
}

inline bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

inline bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string ReadWholeFile(const std::string& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    KernelHandle file = OwnFile(
        CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "<missing>";
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE || size > 16 * 1024 * 1024) return "<unreadable>";
    std::string text(size, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), size, &read, nullptr)) return "<unreadable>";
    text.resize(read);
    return text;
}

inline ServiceHandle OpenManager() { return ServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

// Polls until the service reaches the state, at most timeoutMs; the last status comes back.
inline bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS* status) {
    const Clock::time_point start = Clock::now();
    for (;;) {
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof *status,
                                  &needed))
            return false;
        if (status->dwCurrentState == state) return true;
        if (MsSince(start) > timeoutMs) return false;
        Sleep(20);
    }
}

// The same by the service's name; the last state seen comes back when last is given.
inline bool WaitForState(const char* name, DWORD state, DWORD timeoutMs, DWORD* last = nullptr) {
    ServiceHandle manager = OpenManager();
    if (!manager) return false;
    ServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    if (!service) return false;
    SERVICE_STATUS_PROCESS status = {};
    const bool reached = WaitForState(service.get(), state, timeoutMs, &status);
    if (last != nullptr) *last = status.dwCurrentState;
    return reached;
}

inline std::string ServiceBinary(SC_HANDLE service, DWORD* type, DWORD* startType) {
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed)) return "<no config>";
    *type = config->dwServiceType;
    *startType = config->dwStartType;
    return config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
}

// Stops and deletes a service left by a failed check, so later cases start clean.
inline void RemoveService(const char* name) {
    ServiceHandle manager = OpenManager();
    if (!manager) return;
    ServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return;
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    SERVICE_STATUS_PROCESS process = {};
    WaitForState(service.get(), SERVICE_STOPPED, STATE_WAIT_MS, &process);
    DeleteService(service.get());
}

// The same at the end of a scope, and a file that came with the service.
class CServiceRemover {
public:
    explicit CServiceRemover(const char* name, std::string file = std::string())
        : m_name(name), m_file(std::move(file)) {}
    ~CServiceRemover() {
        RemoveService(m_name);
        if (!m_file.empty()) DeleteFileA(m_file.c_str());
    }
    CServiceRemover(const CServiceRemover&) = delete;
    CServiceRemover& operator=(const CServiceRemover&) = delete;

private:
    const char* m_name;
    std::string m_file;
};

inline ServiceHandle CreateOwnProcessService(SC_HANDLE manager, const char* name, const std::string& program) {
    const std::string command = "\"" + program + "\"";
    return ServiceHandle(CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                        nullptr, nullptr, nullptr));
}

// ---- portable executable files ----

// What a PE file says about itself, read from its bytes with every offset checked.
struct PeFacts {
    bool valid = false;
    WORD machine = 0;
    WORD characteristics = 0;
    WORD subsystem = 0;
    std::vector<std::string> imports;  // the imported DLLs' names
    std::vector<std::string> exports;  // the exported names
};

class CPeReader {
public:
    explicit CPeReader(const std::string& bytes) : m_bytes(bytes) {}

    PeFacts Read() {
        PeFacts facts;
        DWORD header = 0;
        if (m_bytes.size() < 64 || m_bytes.compare(0, 2, "MZ") != 0 || !U32(0x3c, &header)) return facts;
        if (header > m_bytes.size() || m_bytes.size() - header < 24 ||
            m_bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0)
            return facts;
        WORD sections = 0, optionalSize = 0, magic = 0;
        if (!U16(header + 4, &facts.machine) || !U16(header + 6, &sections) || !U16(header + 20, &optionalSize) ||
            !U16(header + 22, &facts.characteristics))
            return facts;
        const size_t optional = header + 24;
        if (!U16(optional, &magic) || !U16(optional + 68, &facts.subsystem)) return facts;
        const size_t directories = optional + (magic == 0x20b ? 112 : 96);
        DWORD directoryCount = 0;
        if ((magic != 0x10b && magic != 0x20b) || !U32(directories - 4, &directoryCount)) return facts;
        m_sections = optional + optionalSize;
        m_sectionCount = sections;
        DWORD exportRva = 0, importRva = 0;
        if (directoryCount > 0 && !U32(directories, &exportRva)) return facts;
        if (directoryCount > 1 && !U32(directories + 8, &importRva)) return facts;
        if (importRva != 0 && !Imports(importRva, &facts.imports)) return facts;
        if (exportRva != 0 && !Exports(exportRva, &facts.exports)) return facts;
        facts.valid = true;
        return facts;
    }

private:
    bool U16(size_t at, WORD* value) const {
        if (at > m_bytes.size() || m_bytes.size() - at < 2) return false;
        *value = static_cast<WORD>(static_cast<BYTE>(m_bytes[at]) | static_cast<BYTE>(m_bytes[at + 1]) << 8);
        return true;
    }
    bool U32(size_t at, DWORD* value) const {
        WORD low = 0, high = 0;
        if (!U16(at, &low) || !U16(at + 2, &high)) return false;
        *value = static_cast<DWORD>(low) | static_cast<DWORD>(high) << 16;
        return true;
    }
    // The file offset of an address in the loaded image.
    bool Offset(DWORD rva, size_t* offset) const {
        for (WORD i = 0; i < m_sectionCount; ++i) {
            const size_t section = m_sections + 40u * i;
            DWORD virtualSize = 0, address = 0, rawSize = 0, raw = 0;
            if (!U32(section + 8, &virtualSize) || !U32(section + 12, &address) || !U32(section + 16, &rawSize) ||
                !U32(section + 20, &raw))
                return false;
            if (rva >= address && rva - address < rawSize) {
                *offset = static_cast<size_t>(raw) + (rva - address);
                return *offset < m_bytes.size();
            }
        }
        return false;
    }
    bool Text(DWORD rva, std::string* text) const {
        size_t at = 0;
        if (!Offset(rva, &at)) return false;
        const size_t end = m_bytes.find('\0', at);
        if (end == std::string::npos || end - at > 256) return false;
        *text = m_bytes.substr(at, end - at);
        return true;
    }
    bool Imports(DWORD rva, std::vector<std::string>* names) const {
        size_t at = 0;
        if (!Offset(rva, &at)) return false;
        for (int i = 0; i < 256; ++i, at += 20) {
            DWORD name = 0, thunks = 0;
            if (!U32(at + 12, &name) || !U32(at + 16, &thunks)) return false;
            if (name == 0 && thunks == 0) return true;
            std::string text;
            if (!Text(name, &text)) return false;
            names->push_back(text);
        }
        return false;
    }
    bool Exports(DWORD rva, std::vector<std::string>* names) const {
        size_t at = 0;
        DWORD count = 0, table = 0;
        if (!Offset(rva, &at) || !U32(at + 24, &count) || !U32(at + 32, &table) || count > 4096) return false;
        size_t entries = 0;
        if (count > 0 && !Offset(table, &entries)) return false;
        for (DWORD i = 0; i < count; ++i) {
            DWORD name = 0;
            std::string text;
            if (!U32(entries + 4u * i, &name) || !Text(name, &text)) return false;
            names->push_back(text);
        }
        return true;
    }

    const std::string& m_bytes;
    size_t m_sections = 0;
    WORD m_sectionCount = 0;
};

inline PeFacts ReadPeFacts(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    return CPeReader(bytes).Read();
}

// A string of the file's version resource (US English, Unicode block), or "<none>".
inline std::string VersionString(const std::string& path, const char* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0 || size > 1024 * 1024) return "<none>";
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return "<none>";
    const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
        return "<none>";
    return std::string(value, strnlen(value, length));
}

// ---- processes ----

struct ProcessRun {
    bool started = false;
    bool ended = false;
    DWORD exitCode = 0;
    long long ms = 0;
};

// Runs the command line as given (no quoting added), output to the file when one is named,
// and waits at most waitMs; a process still running then is ended with exit code 0xFFFFFFFF.
inline ProcessRun RunProgram(std::string commandLine, DWORD waitMs, const std::string& outputFile = std::string()) {
    ProcessRun run;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    KernelHandle output;
    if (!outputFile.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        output = OwnFile(CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output) return run;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
    }
    PROCESS_INFORMATION info = {};
    const Clock::time_point start = Clock::now();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return run;
    run.started = true;
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    run.ended = WaitForSingleObject(process.get(), waitMs) == WAIT_OBJECT_0;
    if (!run.ended) {
        TerminateProcess(process.get(), 0xFFFFFFFF);
        WaitForSingleObject(process.get(), PROCESS_WAIT_MS);
    }
    run.ms = MsSince(start);
    GetExitCodeProcess(process.get(), &run.exitCode);
    return run;
}

// ---- root devices ----

struct FoundDevice {
    std::string instanceId;
    std::string service;
};

inline std::string DeviceText(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property) {
    char buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, data, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - 2, nullptr))
        return std::string();
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

inline std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA* data) {
    char instance[MAX_DEVICE_ID_LEN] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, data, instance, sizeof instance, nullptr)) return std::string();
    return instance;
}

// The devices of the set that carry the hardware id, compared without or with case.
inline std::vector<FoundDevice> DevicesWithId(HDEVINFO set, const char* hardwareId, bool matchCase = false) {
    std::vector<FoundDevice> found;
    for (DWORD index = 0; index < 100000; ++index) {
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, index, &data)) break;
        char ids[2048] = {};
        DWORD type = 0;
        DWORD size = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(ids),
                                               sizeof ids - 2, &size))
            continue;
        if (size > sizeof ids - 2) size = sizeof ids - 2;
        // A list of zero-terminated ids; the two spare zero bytes end it in any case.
        for (const char* id = ids; id < ids + size && *id != '\0'; id += strnlen(id, ids + size - id) + 1) {
            if ((matchCase ? std::strcmp(id, hardwareId) : lstrcmpiA(id, hardwareId)) != 0) continue;
            found.push_back({InstanceId(set, &data), DeviceText(set, &data, SPDRP_SERVICE)});
            break;
        }
    }
    return found;
}

// The present devices, of every class, that carry the hardware id.
inline std::vector<FoundDevice> PresentDevicesWithId(const char* hardwareId, bool matchCase = false) {
    DeviceSet set = OwnSet(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    return set ? DevicesWithId(set.get(), hardwareId, matchCase) : std::vector<FoundDevice>();
}

inline std::vector<std::string> InstanceIds(const std::vector<FoundDevice>& devices) {
    std::vector<std::string> ids;
    for (const FoundDevice& device : devices) ids.push_back(device.instanceId);
    return ids;
}

// The devices on which a driver has enabled the interface: those it has started.
inline std::vector<std::string> DevicesWithInterface(const GUID& interfaceGuid) {
    std::vector<std::string> started;
    DeviceSet set =
        OwnSet(SetupDiGetClassDevsA(&interfaceGuid, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT));
    if (!set) return started;
    for (DWORD index = 0; index < 100000; ++index) {
        SP_DEVICE_INTERFACE_DATA item = {};
        item.cbSize = sizeof item;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &interfaceGuid, index, &item)) break;
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        // Only the owning device is wanted; the detail buffer stays unasked for.
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set.get(), &item, nullptr, 0, &needed, &data);
        const std::string instance = InstanceId(set.get(), &data);
        if (!instance.empty()) started.push_back(instance);
    }
    return started;
}

inline bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    for (const std::string& each : ids)
        if (SameText(each, id)) return true;
    return false;
}

inline void CreateRootDevice(const GUID& classGuid, const char* className, const char* hardwareId,
                             std::string* instanceId) {
    DeviceSet set = OwnSet(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    ASSERT_TRUE(set) << GetLastError();
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(set.get(), className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &data))
        << GetLastError();
    std::string ids(hardwareId);
    ids.append(2, '\0');
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(
        set.get(), &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids.data()), static_cast<DWORD>(ids.size())))
        << GetLastError();
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &data)) << GetLastError();
    char instance[MAX_DEVICE_ID_LEN] = {};
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdA(set.get(), &data, instance, sizeof instance, nullptr)) << GetLastError();
    *instanceId = instance;
}

// Removes the device; a refused parameter call that leaves error 0 is tolerated, as the
// removal itself decides. The parameter call's error comes back when paramsError is given.
inline bool RemoveDevice(const std::string& instanceId, DWORD* paramsError = nullptr) {
    DeviceSet set = OwnSet(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set) return false;
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (!SetupDiOpenDeviceInfoA(set.get(), instanceId.c_str(), nullptr, 0, &data)) return false;
    SP_REMOVEDEVICE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    const DWORD error = SetupDiSetClassInstallParamsA(set.get(), &data, &params.ClassInstallHeader, sizeof params)
                            ? NO_ERROR
                            : GetLastError();
    if (paramsError != nullptr) *paramsError = error;
    return SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &data) != FALSE;
}

}  // namespace payload_test

#endif
