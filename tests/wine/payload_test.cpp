// The payload's stand-ins installed for real: the service program under the service
// manager, the kernel drivers as driver services, and the bus driver's INF through SetupAPI
// and newdev. Plain Win32 calls, so the files are proven apart from the installer's code.
// The programs and files under test lie beside this program.
#include <windows.h>
#include <cfgmgr32.h>
#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "tspvdbus_interface.h"

namespace {

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

DeviceSet OwnSet(HDEVINFO set) { return DeviceSet(set == INVALID_HANDLE_VALUE ? nullptr : set); }
KernelHandle OwnFile(HANDLE file) { return KernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file); }

const DWORD STATE_WAIT_MS = 15000;
const DWORD PROCESS_WAIT_MS = 20000;
const DWORD CLASS_NAME_SIZE = 32;  // SetupAPI's limit for a class name
const char* const BUS_SERVICE = "tspvdbus";
const char* const BUS_HARDWARE_IDS[] = {"*tspvdbusDevice", "*tspvdhcDevice"};
const GUID BUS_INTERFACE = TSPVDBUS_INTERFACE_GUID_INIT;

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// What Wine did, for the record (shown by ctest -V).
void Measured(const std::string& what, const std::string& value) {
    std::printf("measured: %s = %s\n", what.c_str(), value.c_str());
    std::fflush(stdout);
}

std::string Beside(const char* name) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return name;
    std::string text(path, n);
    return text.substr(0, text.find_last_of('\\') + 1) + name;
}

std::string SystemFolder() {
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

std::string WindowsFolder() {
    char path[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadWholeFile(const std::string& path) {
    KernelHandle file = OwnFile(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "<missing>";
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE || size > 16 * 1024 * 1024) return "<unreadable>";
    std::string text(size, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), size, &read, nullptr)) return "<unreadable>";
    text.resize(read);
    return text;
}

ServiceHandle OpenManager() { return ServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

// Polls until the service reaches the state, at most timeoutMs; the last status comes back.
bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS* status) {
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

std::string ServiceBinary(SC_HANDLE service, DWORD* type, DWORD* startType) {
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed)) return "<no config>";
    *type = config->dwServiceType;
    *startType = config->dwStartType;
    return config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
}

// Stops and deletes a service left by a failed check, so later cases start clean.
void RemoveService(const char* name) {
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

class CServiceRemover {
public:
    explicit CServiceRemover(const char* name) : m_name(name) {}
    ~CServiceRemover() { RemoveService(m_name); }

private:
    const char* m_name;
};

ServiceHandle CreateOwnProcessService(SC_HANDLE manager, const char* name, const std::string& program) {
    const std::string command = "\"" + program + "\"";
    return ServiceHandle(CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                        nullptr, nullptr, nullptr));
}

// ---- the service program ----

TEST(PayloadService, RunsUnderTheManagerAndStopsCleanly) {
    const char* name = "tsp_payload_service";
    CServiceRemover remover(name);
    ServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager) << GetLastError();
    ServiceHandle service = CreateOwnProcessService(manager.get(), name, Beside("tsp_service.exe"));
    ASSERT_TRUE(service) << GetLastError();

    Clock::time_point start = Clock::now();
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    Measured("service StartServiceA returned after ms", std::to_string(MsSince(start)));
    SERVICE_STATUS_PROCESS status = {};
    ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, STATE_WAIT_MS, &status)) << status.dwCurrentState;
    Measured("service running after ms", std::to_string(MsSince(start)));
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_TRUE(status.dwControlsAccepted & SERVICE_ACCEPT_STOP);
    ASSERT_NE(status.dwProcessId, 0u);
    KernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId));
    ASSERT_TRUE(process) << GetLastError();

    // A running service refuses a second start and controls it does not accept.
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    SERVICE_STATUS plain = {};
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_PAUSE, &plain));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &plain)) << GetLastError();

    start = Clock::now();
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &plain)) << GetLastError();
    ASSERT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, STATE_WAIT_MS, &status)) << status.dwCurrentState;
    Measured("service stopped after ms", std::to_string(MsSince(start)));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
    ASSERT_EQ(WaitForSingleObject(process.get(), PROCESS_WAIT_MS), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &exitCode));
    EXPECT_EQ(exitCode, 0u);
    Measured("service process ended after ms", std::to_string(MsSince(start)));

    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &plain));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

    ASSERT_TRUE(DeleteService(service.get())) << GetLastError();
    service.reset();
    EXPECT_FALSE(ServiceHandle(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST(PayloadService, OneProgramRunsUnderEitherEditionsName) {
    const char* const names[] = {"tessaportwssrv", "tessaporttssrv"};
    CServiceRemover removeFirst(names[0]);
    CServiceRemover removeSecond(names[1]);
    ServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager) << GetLastError();

    DWORD processIds[2] = {};
    ServiceHandle services[2];
    for (int i = 0; i < 2; ++i) {
        services[i] = CreateOwnProcessService(manager.get(), names[i], Beside("tsp_service.exe"));
        ASSERT_TRUE(services[i]) << names[i] << " " << GetLastError();
        ASSERT_TRUE(StartServiceA(services[i].get(), 0, nullptr)) << names[i] << " " << GetLastError();
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(WaitForState(services[i].get(), SERVICE_RUNNING, STATE_WAIT_MS, &status)) << names[i];
        processIds[i] = status.dwProcessId;
    }
    EXPECT_NE(processIds[0], processIds[1]);

    for (int i = 0; i < 2; ++i) {
        SERVICE_STATUS plain = {};
        ASSERT_TRUE(ControlService(services[i].get(), SERVICE_CONTROL_STOP, &plain))
            << names[i] << " " << GetLastError();
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(WaitForState(services[i].get(), SERVICE_STOPPED, STATE_WAIT_MS, &status)) << names[i];
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR)) << names[i];
        EXPECT_TRUE(DeleteService(services[i].get())) << names[i] << " " << GetLastError();
    }
}

TEST(PayloadService, SaysSoAndFailsWhenStartedDirectly) {
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    ASSERT_TRUE(n > 0 && n < sizeof temp);
    const std::string errorPath = std::string(temp) + "tsp_service_direct.err";
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        KernelHandle errors = OwnFile(CreateFileA(errorPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(errors) << GetLastError();
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = errors.get();
        startup.hStdError = errors.get();
        PROCESS_INFORMATION info = {};
        std::string command = "\"" + Beside("tsp_service.exe") + "\"";
        const Clock::time_point start = Clock::now();
        ASSERT_TRUE(
            CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
            << GetLastError();
        KernelHandle process(info.hProcess);
        KernelHandle thread(info.hThread);
        ASSERT_EQ(WaitForSingleObject(process.get(), PROCESS_WAIT_MS), WAIT_OBJECT_0);
        Measured("service program started directly ended after ms", std::to_string(MsSince(start)));
        DWORD exitCode = 0;
        ASSERT_TRUE(GetExitCodeProcess(process.get(), &exitCode));
        EXPECT_EQ(exitCode, 2u);
    }
    EXPECT_EQ(ReadWholeFile(errorPath),
              "This program is a Windows service; the service control manager starts it.\r\n");
    DeleteFileA(errorPath.c_str());
}

// ---- kernel drivers ----

TEST(KernelDriver, StartsStopsRestartsAndIsDeleted) {
    const char* name = "tsp_payload_driver";
    CServiceRemover remover(name);
    const std::string target = SystemFolder() + "\\drivers\\tsp_legacy.sys";
    ASSERT_TRUE(CopyFileA(Beside("tsp_legacy.sys").c_str(), target.c_str(), FALSE)) << GetLastError();
    ServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager) << GetLastError();
    ServiceHandle service(CreateServiceA(manager.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, target.c_str(), nullptr, nullptr,
                                         nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << GetLastError();

    for (int round = 0; round < 2; ++round) {
        Clock::time_point start = Clock::now();
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << "round " << round << ": " << GetLastError();
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, STATE_WAIT_MS, &status)) << status.dwCurrentState;
        Measured("driver round " + std::to_string(round) + " running after ms", std::to_string(MsSince(start)));
        EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
        EXPECT_TRUE(status.dwControlsAccepted & SERVICE_ACCEPT_STOP);

        start = Clock::now();
        SERVICE_STATUS plain = {};
        ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &plain)) << GetLastError();
        ASSERT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, STATE_WAIT_MS, &status)) << status.dwCurrentState;
        Measured("driver round " + std::to_string(round) + " stopped after ms", std::to_string(MsSince(start)));
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
    }

    ASSERT_TRUE(DeleteService(service.get())) << GetLastError();
    service.reset();
    EXPECT_FALSE(ServiceHandle(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(DeleteFileA(target.c_str())) << GetLastError();
}

// ---- the bus driver's INF and its root devices ----

struct FoundDevice {
    std::string instanceId;
    std::string service;
};

std::string DeviceText(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property) {
    char buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, data, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - 2, nullptr))
        return std::string();
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

// The present devices, of every class, that carry the hardware id.
std::vector<FoundDevice> PresentDevicesWithId(const char* hardwareId) {
    std::vector<FoundDevice> found;
    DeviceSet set = OwnSet(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    if (!set) return found;
    for (DWORD index = 0; index < 100000; ++index) {
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set.get(), index, &data)) break;
        char ids[1024] = {};
        DWORD type = 0;
        DWORD size = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set.get(), &data, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(ids),
                                               sizeof ids - 2, &size))
            continue;
        if (size > sizeof ids - 2) size = sizeof ids - 2;
        // A list of zero-terminated ids; the two spare zero bytes end it in any case.
        for (const char* id = ids; id < ids + size && *id != '\0'; id += strnlen(id, ids + size - id) + 1) {
            if (lstrcmpiA(id, hardwareId) != 0) continue;
            char instance[MAX_DEVICE_ID_LEN] = {};
            SetupDiGetDeviceInstanceIdA(set.get(), &data, instance, sizeof instance, nullptr);
            found.push_back({instance, DeviceText(set.get(), &data, SPDRP_SERVICE)});
            break;
        }
    }
    return found;
}

// The devices on which the bus driver has enabled its interface: those it has started.
std::vector<std::string> StartedBusDevices() {
    std::vector<std::string> started;
    DeviceSet set =
        OwnSet(SetupDiGetClassDevsA(&BUS_INTERFACE, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT));
    if (!set) return started;
    for (DWORD index = 0; index < 100000; ++index) {
        SP_DEVICE_INTERFACE_DATA item = {};
        item.cbSize = sizeof item;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &BUS_INTERFACE, index, &item)) break;
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        // Only the owning device is wanted; the detail buffer stays unasked for.
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set.get(), &item, nullptr, 0, &needed, &data);
        char instance[MAX_DEVICE_ID_LEN] = {};
        if (SetupDiGetDeviceInstanceIdA(set.get(), &data, instance, sizeof instance, nullptr))
            started.push_back(instance);
    }
    return started;
}

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    for (const std::string& each : ids)
        if (SameText(each, id)) return true;
    return false;
}

void CreateRootDevice(const GUID& classGuid, const char* className, const char* hardwareId, std::string* instanceId) {
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
// removal itself decides.
bool RemoveDevice(const std::string& instanceId, DWORD* paramsError) {
    DeviceSet set = OwnSet(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set) return false;
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (!SetupDiOpenDeviceInfoA(set.get(), instanceId.c_str(), nullptr, 0, &data)) return false;
    SP_REMOVEDEVICE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    *paramsError = SetupDiSetClassInstallParamsA(set.get(), &data, &params.ClassInstallHeader, sizeof params)
                       ? NO_ERROR
                       : GetLastError();
    return SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &data) != FALSE;
}

class BusDriverInf : public ::testing::Test {
protected:
    void SetUp() override { m_driverFile = SystemFolder() + "\\drivers\\tspvdbus.sys"; }

    void TearDown() override {
        DWORD ignored = 0;
        for (const char* id : BUS_HARDWARE_IDS)
            for (const FoundDevice& device : PresentDevicesWithId(id)) RemoveDevice(device.instanceId, &ignored);
        RemoveService(BUS_SERVICE);
        DeleteFileA(m_driverFile.c_str());
    }

    std::string m_driverFile;
};

TEST_F(BusDriverInf, ClassIsSystem) {
    GUID classGuid = {};
    char className[CLASS_NAME_SIZE] = {};
    DWORD needed = 0;
    ASSERT_TRUE(SetupDiGetINFClassA(Beside("tspvdbus.inf").c_str(), &classGuid, className, sizeof className, &needed))
        << GetLastError();
    EXPECT_STREQ(className, "System");
    EXPECT_TRUE(IsEqualGUID(classGuid, GUID_DEVCLASS_SYSTEM));
}

TEST_F(BusDriverInf, RootDevicesGetTheDriverRunningAndAreRemoved) {
    const std::string inf = Beside("tspvdbus.inf");
    GUID classGuid = {};
    char className[CLASS_NAME_SIZE] = {};
    ASSERT_TRUE(SetupDiGetINFClassA(inf.c_str(), &classGuid, className, sizeof className, nullptr)) << GetLastError();

    std::string instanceIds[2];
    for (int i = 0; i < 2; ++i) {
        const char* id = BUS_HARDWARE_IDS[i];
        ASSERT_TRUE(PresentDevicesWithId(id).empty()) << id;
        ASSERT_NO_FATAL_FAILURE(CreateRootDevice(classGuid, className, id, &instanceIds[i]));
        Measured(std::string("instance id for ") + id, instanceIds[i]);

        BOOL reboot = TRUE;
        const Clock::time_point start = Clock::now();
        ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, id, inf.c_str(), INSTALLFLAG_FORCE, &reboot))
            << id << " " << GetLastError();
        Measured(std::string("UpdateDriverForPlugAndPlayDevicesA for ") + id + " took ms",
                 std::to_string(MsSince(start)));
        EXPECT_FALSE(reboot) << id;

        const std::vector<FoundDevice> present = PresentDevicesWithId(id);
        ASSERT_EQ(present.size(), 1u) << id;
        EXPECT_TRUE(SameText(present[0].instanceId, instanceIds[i])) << present[0].instanceId;
        EXPECT_TRUE(SameText(present[0].service, BUS_SERVICE)) << present[0].service;
        EXPECT_TRUE(Contains(StartedBusDevices(), instanceIds[i])) << instanceIds[i] << " not started by the driver";
    }
    EXPECT_FALSE(SameText(instanceIds[0], instanceIds[1]));
    Measured("INF in the inf folder after the driver updates",
             FileExists(WindowsFolder() + "\\inf\\tspvdbus.inf") ? "yes" : "no");

    // The INF's AddService made a kernel driver service with the full path, and it runs.
    ServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager) << GetLastError();
    ServiceHandle service(OpenServiceA(manager.get(), BUS_SERVICE, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << GetLastError();
    DWORD type = 0;
    DWORD startType = 0;
    const std::string binary = ServiceBinary(service.get(), &type, &startType);
    Measured("bus driver ImagePath", binary);
    EXPECT_TRUE(SameText(binary, m_driverFile)) << binary;
    EXPECT_EQ(type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    SERVICE_STATUS_PROCESS status = {};
    EXPECT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, STATE_WAIT_MS, &status)) << status.dwCurrentState;
    EXPECT_EQ(ReadWholeFile(m_driverFile), ReadWholeFile(Beside("tspvdbus.sys")));

    for (int i = 0; i < 2; ++i) {
        DWORD paramsError = 0;
        ASSERT_TRUE(RemoveDevice(instanceIds[i], &paramsError)) << instanceIds[i] << " " << GetLastError();
        Measured("SetupDiSetClassInstallParamsA error", std::to_string(paramsError));
        EXPECT_TRUE(PresentDevicesWithId(BUS_HARDWARE_IDS[i]).empty()) << BUS_HARDWARE_IDS[i];
        EXPECT_FALSE(Contains(StartedBusDevices(), instanceIds[i])) << instanceIds[i];
    }
    // Removing the devices leaves the driver's service; whether it still runs is recorded.
    DWORD statusSize = 0;
    ASSERT_TRUE(QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                     sizeof status, &statusSize));
    Measured("bus driver state after its devices are removed", std::to_string(status.dwCurrentState));
}

TEST_F(BusDriverInf, OemCopyLandsInTheInfFolder) {
    const std::string inf = Beside("tspvdbus.inf");
    char copied[MAX_PATH] = {};
    DWORD needed = 0;
    PSTR fileName = nullptr;
    ASSERT_TRUE(SetupCopyOEMInfA(inf.c_str(), nullptr, SPOST_PATH, 0, copied, sizeof copied, &needed, &fileName))
        << GetLastError();
    Measured("SetupCopyOEMInfA copy", copied);
    const std::string infFolder = WindowsFolder() + "\\inf\\";
    const std::string copy(copied);
    ASSERT_GT(copy.size(), infFolder.size());
    EXPECT_TRUE(SameText(copy.substr(0, infFolder.size()), infFolder)) << copy;
    ASSERT_NE(fileName, nullptr);
    EXPECT_EQ(copy.substr(infFolder.size()), std::string(fileName));
    EXPECT_EQ(ReadWholeFile(copy), ReadWholeFile(inf));
    Measured("catalogue beside the copy", FileExists(infFolder + "tspvdbus.cat") ? "yes" : "no");

    // Asked not to overwrite, a second copy of the same INF is refused and names the first.
    char again[MAX_PATH] = {};
    EXPECT_FALSE(
        SetupCopyOEMInfA(inf.c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, again, sizeof again, &needed, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_TRUE(SameText(again, copy)) << again;
    // Without the flag the copy is made again, under the same name.
    ASSERT_TRUE(SetupCopyOEMInfA(inf.c_str(), nullptr, SPOST_PATH, 0, again, sizeof again, &needed, nullptr))
        << GetLastError();
    EXPECT_TRUE(SameText(again, copy)) << again;
    DeleteFileA(copy.c_str());
}

}  // namespace
