// The payload's stand-ins installed for real: the service program under the service
// manager, every driver image as a driver service, both INF files through SetupAPI and
// newdev, and the client libraries through the loader. Plain Win32 calls, so the files are
// proven apart from the installer's code. The files under test lie beside this program.
#include <windows.h>
#include <cfgmgr32.h>
#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload_test_support.h"
#include "tspvd_interface.h"
#include "tspvdbus_interface.h"

namespace {

using namespace payload_test;

const DWORD CLASS_NAME_SIZE = 32;  // SetupAPI's limit for a class name
const char* const BUS_SERVICE = "tspvdbus";
const char* const BUS_HARDWARE_IDS[] = {"*tspvdbusDevice", "*tspvdhcDevice"};
const GUID BUS_INTERFACE = TSPVDBUS_INTERFACE_GUID_INIT;
const char* const STUB_SERVICE = "tspvd";
const char* const STUB_HARDWARE_ID = "VELOTRINEX\\TSPRDPSTUB";
const GUID STUB_INTERFACE = TSPVD_INTERFACE_GUID_INIT;

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
    // The manager lets go of the service once no handle is left, the ended process's
    // included; Wine notices that process's end a moment later.
    start = Clock::now();
    DWORD openError = NO_ERROR;
    while (MsSince(start) < STATE_WAIT_MS) {
        ServiceHandle again(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
        openError = GetLastError();
        if (!again) break;
        Sleep(10);
    }
    Measured("service gone after delete, after ms", std::to_string(MsSince(start)));
    EXPECT_EQ(openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
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

// Every driver image of the two packages, and the engine tests' plain driver, loaded as a
// kernel-driver service under a name of the test's own.
const char* const DRIVER_FILES[] = {"tsp_legacy.sys", "tsppnptls.sys", "tspvd.sys", "tspvd_vista.sys",
                                    "tspvdbus.sys",   "usblibvista",   "usblibxp"};

class KernelDriver : public ::testing::TestWithParam<const char*> {};

TEST_P(KernelDriver, StartsStopsRestartsAndIsDeleted) {
    const std::string file = GetParam();
    const std::string name = "tsp_test_" + file.substr(0, file.find('.'));
    CServiceRemover remover(name.c_str());
    const std::string target = SystemFolder() + "\\drivers\\" + name + ".sys";
    ASSERT_TRUE(CopyFileA(Beside(file).c_str(), target.c_str(), FALSE)) << GetLastError();
    ServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager) << GetLastError();
    ServiceHandle service(CreateServiceA(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         target.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << GetLastError();

    for (int round = 0; round < 2; ++round) {
        Clock::time_point start = Clock::now();
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << "round " << round << ": " << GetLastError();
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, STATE_WAIT_MS, &status)) << status.dwCurrentState;
        Measured(file + " round " + std::to_string(round) + " running after ms", std::to_string(MsSince(start)));
        EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
        EXPECT_TRUE(status.dwControlsAccepted & SERVICE_ACCEPT_STOP);

        start = Clock::now();
        SERVICE_STATUS plain = {};
        ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &plain)) << GetLastError();
        ASSERT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, STATE_WAIT_MS, &status)) << status.dwCurrentState;
        Measured(file + " round " + std::to_string(round) + " stopped after ms", std::to_string(MsSince(start)));
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
    }

    ASSERT_TRUE(DeleteService(service.get())) << GetLastError();
    service.reset();
    EXPECT_FALSE(ServiceHandle(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(DeleteFileA(target.c_str())) << GetLastError();
}

INSTANTIATE_TEST_SUITE_P(Payload, KernelDriver, ::testing::ValuesIn(DRIVER_FILES),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '.') c = '_';
                             return name;
                         });

// ---- the bus driver's INF and its root devices ----

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
        EXPECT_TRUE(Contains(DevicesWithInterface(BUS_INTERFACE), instanceIds[i]))
            << instanceIds[i] << " not started by the driver";
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
        EXPECT_FALSE(Contains(DevicesWithInterface(BUS_INTERFACE), instanceIds[i])) << instanceIds[i];
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

// ---- the stub driver's INF (workstation, Windows Vista or later) ----

// The program folder as the setup program lays it out: the INF with the Vista driver and
// catalogue under the names the INF lists.
class StubDriverInf : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = TempFolder() + "Tessaport Stub Driver Test";
        m_driverFile = SystemFolder() + "\\drivers\\tspvd.sys";
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        for (const auto& copy : COPIES)
            ASSERT_TRUE(CopyFileA(Beside(copy.entry).c_str(), (m_folder + "\\" + copy.installed).c_str(), FALSE))
                << copy.entry << " " << GetLastError();
        m_inf = m_folder + "\\tspvd.inf";
    }

    void TearDown() override {
        DWORD ignored = 0;
        for (const FoundDevice& device : PresentDevicesWithId(STUB_HARDWARE_ID))
            RemoveDevice(device.instanceId, &ignored);
        RemoveService(STUB_SERVICE);
        DeleteFileA(m_driverFile.c_str());
        DeleteFileA((WindowsFolder() + "\\inf\\tspvd.inf").c_str());
        DeleteFileA((SystemFolder() + "\\catroot\\{f750e6c3-38ee-11d1-85e5-00c04fc295ee}\\tspvd.cat").c_str());
        for (const auto& copy : COPIES) DeleteFileA((m_folder + "\\" + copy.installed).c_str());
        RemoveDirectoryA(m_folder.c_str());
    }

    struct Copy {
        const char* entry;
        const char* installed;
    };
    static constexpr Copy COPIES[] = {
        {"tspvd.inf", "tspvd.inf"}, {"tspvd_vista.sys", "tspvd.sys"}, {"tspvd_vista.cat", "tspvd.cat"}};

    std::string m_folder;
    std::string m_inf;
    std::string m_driverFile;
};

TEST_F(StubDriverInf, ClassIsUsb) {
    GUID classGuid = {};
    char className[CLASS_NAME_SIZE] = {};
    DWORD needed = 0;
    ASSERT_TRUE(SetupDiGetINFClassA(m_inf.c_str(), &classGuid, className, sizeof className, &needed))
        << GetLastError();
    EXPECT_STREQ(className, "USB");
    EXPECT_TRUE(IsEqualGUID(classGuid, GUID_DEVCLASS_USB));
}

TEST_F(StubDriverInf, StagedInfGivesAStubDeviceTheDriver) {
    // The setup program's own step: the INF into the driver store, no device yet.
    char copied[MAX_PATH] = {};
    ASSERT_TRUE(SetupCopyOEMInfA(m_inf.c_str(), nullptr, SPOST_PATH, 0, copied, sizeof copied, nullptr, nullptr))
        << GetLastError();
    Measured("stub INF staged as", copied);
    EXPECT_TRUE(PresentDevicesWithId(STUB_HARDWARE_ID).empty());

    // A stub device as the product makes it, then its driver from the INF.
    std::string instanceId;
    ASSERT_NO_FATAL_FAILURE(CreateRootDevice(GUID_DEVCLASS_USB, "USB", STUB_HARDWARE_ID, &instanceId));
    Measured("stub device instance id", instanceId);
    BOOL reboot = TRUE;
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(
        UpdateDriverForPlugAndPlayDevicesA(nullptr, STUB_HARDWARE_ID, m_inf.c_str(), INSTALLFLAG_FORCE, &reboot))
        << GetLastError();
    Measured("UpdateDriverForPlugAndPlayDevicesA for the stub device took ms", std::to_string(MsSince(start)));
    EXPECT_FALSE(reboot);

    const std::vector<FoundDevice> present = PresentDevicesWithId(STUB_HARDWARE_ID);
    ASSERT_EQ(present.size(), 1u);
    EXPECT_TRUE(SameText(present[0].service, STUB_SERVICE)) << present[0].service;
    EXPECT_TRUE(Contains(DevicesWithInterface(STUB_INTERFACE), instanceId)) << instanceId << " not started";
    EXPECT_TRUE(DevicesWithInterface(BUS_INTERFACE).empty());

    ServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager) << GetLastError();
    ServiceHandle service(OpenServiceA(manager.get(), STUB_SERVICE, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << GetLastError();
    DWORD type = 0;
    DWORD startType = 0;
    const std::string binary = ServiceBinary(service.get(), &type, &startType);
    EXPECT_TRUE(SameText(binary, m_driverFile)) << binary;
    EXPECT_EQ(type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    char displayName[256] = {};
    DWORD displaySize = sizeof displayName;
    EXPECT_TRUE(GetServiceDisplayNameA(manager.get(), STUB_SERVICE, displayName, &displaySize)) << GetLastError();
    EXPECT_STREQ(displayName, "Tessaport RDP Edition Stub Device");
    // The driver store copied the Vista driver, which the package holds as tspvd_vista.sys.
    EXPECT_EQ(ReadWholeFile(m_driverFile), ReadWholeFile(Beside("tspvd_vista.sys")));

    DWORD paramsError = 0;
    ASSERT_TRUE(RemoveDevice(instanceId, &paramsError)) << GetLastError();
    EXPECT_TRUE(PresentDevicesWithId(STUB_HARDWARE_ID).empty());
    EXPECT_FALSE(Contains(DevicesWithInterface(STUB_INTERFACE), instanceId));
}

// ---- client libraries ----

const char* const EXPORTED_NAME = "TspStandInName";

TEST(ClientLibrary, SixtyFourBitLibraryLoadsAndNamesItself) {
    const std::string path = Beside("tsprdpclnt.dll");
    const PeFacts facts = ReadPeFacts(path);
    ASSERT_TRUE(facts.valid);
    EXPECT_EQ(facts.machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_TRUE(facts.characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(facts.exports, std::vector<std::string>{EXPORTED_NAME});

    HMODULE library = LoadLibraryA(path.c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    using NameFunction = const char* (*)();
    const auto name = reinterpret_cast<NameFunction>(reinterpret_cast<void*>(GetProcAddress(library, EXPORTED_NAME)));
    ASSERT_NE(name, nullptr) << GetLastError();
    EXPECT_STREQ(name(), "tsprdpclnt.dll");
    EXPECT_TRUE(FreeLibrary(library));
}

// The libraries for the 32-bit system folder: a 64-bit process cannot run them, as on
// Windows, so they are proven as images the loader maps, with their export in place.
TEST(ClientLibrary, LibrariesForThe32BitSystemFolderAreThirtyTwoBitImages) {
    for (const char* file : {"tspctxclnt.dll", "tsprdpclnt_x86_64.dll"}) {
        const std::string path = Beside(file);
        const PeFacts facts = ReadPeFacts(path);
        ASSERT_TRUE(facts.valid) << file;
        EXPECT_EQ(facts.machine, TSP_WOW64_DLL_MACHINE) << file;
        EXPECT_TRUE(facts.characteristics & IMAGE_FILE_DLL) << file;
        EXPECT_EQ(facts.exports, std::vector<std::string>{EXPORTED_NAME}) << file;
        if (facts.machine != IMAGE_FILE_MACHINE_I386) continue;

        SetLastError(0);
        HMODULE refused = LoadLibraryA(path.c_str());
        EXPECT_EQ(refused, nullptr) << file;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT)) << file;
        if (refused != nullptr) FreeLibrary(refused);

        HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(image, nullptr) << file << " " << GetLastError();
        EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)), nullptr) << file;  // RT_VERSION
        EXPECT_TRUE(FreeLibrary(image)) << file;
    }
}

}  // namespace
