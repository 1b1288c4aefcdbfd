#include <cstdio>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "fake/fake_devices.h"

using namespace enginetest;

namespace {

const std::string STUB_ID = "VELOTRINEX\\TSPRDPSTUB";
const std::string BUS_ID = "*tspvdbusDevice";
const std::string HC_ID = "*tspvdhcDevice";
const std::string BUS_INF = "C:\\Program Files\\Tessaport\\tspvdbus.inf";
const std::string BUS_INF_TEXT =
    "; bus driver\r\n"
    "[Version]\r\n"
    "Signature=\"$WINDOWS NT$\"\r\n"
    "Class = System\r\n"
    "ClassGuid={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n"
    "CatalogFile=tspvdbus.cat\r\n"
    "[Models]\r\n"
    "%Bus%=Install,*tspvdbusDevice\r\n"
    "%Hc%=Install,*tspvdhcDevice\r\n";
const std::string REBOOT_LINE = "Reboot required to complete operation\r\n";

std::string Line(const std::string& text, const std::string& argument = "") { return text + argument + "\r\n"; }

// A hardware-id list of count ids after first, each about 40 bytes.
std::vector<std::string> LongIdList(const std::string& first, int count) {
    std::vector<std::string> ids{first};
    for (int i = 0; i < count; ++i) {
        char id[64];
        std::snprintf(id, sizeof id, "USB\\VID_1D6B&PID_%04X&REV_%04d&MI_00&COL%02d", i, i, i % 100);
        ids.push_back(id);
    }
    return ids;
}

class EngineDevices : public EngineTest {
protected:
    EngineDevices() {
        Make();
        machine.files.PutFile(BUS_INF, BUS_INF_TEXT);
    }

    fake::CFakeDevices::Device& AddUsb(const std::string& instanceId, const std::vector<std::string>& ids,
                                       bool present = true) {
        return machine.devices.AddDevice(instanceId, os::GUID_DEVCLASS_USB, ids, present);
    }
    int Remove(const std::string& id = STUB_ID) { return installer->RemoveDevicesByHardwareId(id.c_str()); }
    void InstallBus(const std::string& id = BUS_ID) {
        installer->InstallWdmDriver("tspvdbus", BUS_INF.c_str(), id.c_str());
    }
    int Flag() const { return *installer->GetRebootFlag(); }
    void ExpectNoSetOpen() const {
        EXPECT_EQ(machine.devices.OpenSetCount(), 0u);
        EXPECT_EQ(machine.kernel.liveVirtualBlocks(), 0u);
    }

    const std::string devicesLog = "Install WDM Driver: " + BUS_ID + "\r\n";
};

// ---- staging INF files ---------------------------------------------------------------------

TEST_F(EngineDevices, CopyOemInfStagesEachPackageOnceUnderOemNamesAndJournalsNothing) {
    const std::string other = "C:\\Program Files\\Tessaport\\tspvd.inf";
    machine.files.PutFile(other, "[Version]\r\nClass=USB\r\n");

    EXPECT_EQ(installer->CopyOemInf(BUS_INF.c_str()), 1);
    EXPECT_EQ(installer->CopyOemInf(other.c_str()), 1);
    EXPECT_EQ(installer->CopyOemInf(BUS_INF.c_str()), 1);  // the same package is found again

    const auto& store = machine.devices.DriverStore();
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ(store[0].name, "oem0.inf");
    EXPECT_EQ(store[0].source, BUS_INF);
    EXPECT_EQ(store[0].content, BUS_INF_TEXT);
    EXPECT_EQ(store[1].name, "oem1.inf");
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_EQ(LogText(), "");
}

TEST_F(EngineDevices, CopyOemInfReportsAMissingFileOrAFailedCopyAsZero) {
    EXPECT_EQ(installer->CopyOemInf("C:\\Program Files\\Tessaport\\missing.inf"), 0);
    EXPECT_EQ(os::Kernel().GetLastError(), os::ERROR_FILE_NOT_FOUND);
    machine.Faults().FailCall("SetupCopyOEMInfA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(installer->CopyOemInf(BUS_INF.c_str()), 0);
    EXPECT_TRUE(machine.devices.DriverStore().empty());
}

// ---- removing device records by hardware id ---------------------------------------------------

TEST_F(EngineDevices, RemovesPresentAndPhantomUsbDevicesWhoseFirstIdMatchesIgnoringCase) {
    AddUsb("USB\\VID_0001\\1", LongIdList("velotrinex\\tsprdpstub", 30));
    AddUsb("USB\\VID_0002\\2", {"VELOTRINEX\\TspRdpStub"}, false);  // phantom of an earlier install
    AddUsb("USB\\VID_0003\\3", {"USB\\VID_0003", STUB_ID});         // matching id second: stays
    AddUsb("USB\\VID_0004\\4", {"VELOTRINEX\\TSPRDPSTUB2"});        // a longer id: stays
    AddUsb("USB\\VID_0005\\5", {});                                 // no ids at all: stays
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {STUB_ID});  // not USB: stays

    EXPECT_EQ(Remove(), 1);

    EXPECT_EQ(machine.devices.InstanceIds(), (std::vector<std::string>{"USB\\VID_0003\\3", "USB\\VID_0004\\4",
                                                                       "USB\\VID_0005\\5", "ROOT\\SYSTEM\\0000"}));
    EXPECT_EQ(LogText(),
              Line("Cleanup record... ", "USB\\VID_0001\\1") + Line("Cleanup record... ", "USB\\VID_0002\\2"));
    EXPECT_EQ(Flag(), 0);
    ExpectNoSetOpen();
}

TEST_F(EngineDevices, IdListsLongerThanTheBufferAreReadAgainAndCompared) {
    const std::vector<std::string> longList = LongIdList(STUB_ID, 400);  // about 16 KB
    std::size_t bytes = 1;
    for (const std::string& id : longList) bytes += id.size() + 1;
    ASSERT_GT(bytes, 8192u);
    AddUsb("USB\\BIG\\1", LongIdList("USB\\OTHER", 400));
    AddUsb("USB\\BIG\\2", longList);
    AddUsb("USB\\SMALL\\3", {STUB_ID});

    EXPECT_EQ(Remove(), 1);

    EXPECT_EQ(machine.devices.InstanceIds(), std::vector<std::string>{"USB\\BIG\\1"});
    EXPECT_EQ(LogText(), Line("Cleanup record... ", "USB\\BIG\\2") + Line("Cleanup record... ", "USB\\SMALL\\3"));
    ExpectNoSetOpen();
}

TEST_F(EngineDevices, RemovalsThatNeedARestartSetTheFlagAndDoNotCountAsRemoved) {
    AddUsb("USB\\A\\1", {STUB_ID}).removeFlags = os::DI_NEEDREBOOT;
    AddUsb("USB\\A\\2", {STUB_ID}, false).removeFlags = os::DI_NEEDRESTART;

    EXPECT_EQ(Remove(), 0);

    EXPECT_EQ(Flag(), 1);
    EXPECT_TRUE(machine.devices.InstanceIds().empty());
    EXPECT_EQ(LogText(), Line("Cleanup record... ", "USB\\A\\1") + REBOOT_LINE +
                             Line("Cleanup record... ", "USB\\A\\2") + REBOOT_LINE);
}

TEST_F(EngineDevices, OneRemovalWithoutRestartIsEnoughForSuccess) {
    AddUsb("USB\\A\\1", {STUB_ID}).removeFlags = os::DI_NEEDREBOOT;
    AddUsb("USB\\A\\2", {STUB_ID});
    EXPECT_EQ(Remove(), 1);
    EXPECT_EQ(Flag(), 1);
}

TEST_F(EngineDevices, NoMatchingDeviceRemovesNothingAndLogsNothing) {
    AddUsb("USB\\A\\1", {"USB\\ROOT_HUB"});
    EXPECT_EQ(Remove(), 0);
    EXPECT_EQ(machine.devices.InstanceIds().size(), 1u);
    EXPECT_EQ(LogText(), "");
    ExpectNoSetOpen();
}

struct RemovalFailure {
    const char* call;
    os::DWORD error;
    std::string log;  // what the removal logs
    bool deviceStays;
};

class EngineDeviceRemovalFailures : public EngineDevices, public ::testing::WithParamInterface<RemovalFailure> {};

TEST_P(EngineDeviceRemovalFailures, AreLoggedWithTheErrorInHexAndEndOrSkipAsTheyMust) {
    AddUsb("USB\\A\\1", {STUB_ID});
    machine.Faults().FailCall(GetParam().call, 1, GetParam().error);

    EXPECT_EQ(Remove(), 0);

    EXPECT_EQ(LogText(), GetParam().log);
    EXPECT_EQ(machine.devices.FindDevice("USB\\A\\1") != nullptr, GetParam().deviceStays);
    ExpectNoSetOpen();
}

INSTANTIATE_TEST_SUITE_P(
    EachCall, EngineDeviceRemovalFailures,
    ::testing::Values(
        RemovalFailure{"VirtualAlloc", os::ERROR_NOT_ENOUGH_MEMORY, "failed on alloc()(0x8)\r\n", true},
        RemovalFailure{"SetupDiGetClassDevsExA", os::ERROR_ACCESS_DENIED, "failed on SetupDiGetClassDevsEx()(0x5)\r\n",
                       true},
        RemovalFailure{"SetupDiGetDeviceInfoListDetailA", os::ERROR_INVALID_HANDLE,
                       "failed on SetupDiGetDeviceInfoListDetail()(0x6)\r\n", true},
        RemovalFailure{"SetupDiSetClassInstallParamsA", os::ERROR_INVALID_PARAMETER,
                       "Cleanup record... USB\\A\\1\r\nfailed on SetupDiSetClassInstallParams()(0x57)\r\n", true},
        RemovalFailure{"SetupDiCallClassInstaller", os::ERROR_NO_SUCH_DEVINST,
                       "Cleanup record... USB\\A\\1\r\nfailed on SetupDiCallClassInstaller()(0xe000020b)\r\n", true},
        // A device whose ids cannot be read is skipped without a word.
        RemovalFailure{"SetupDiGetDeviceRegistryPropertyA", os::ERROR_ACCESS_DENIED, "", true}));

TEST_F(EngineDevices, AFailedRemovalGoesOnWithTheNextDevice) {
    AddUsb("USB\\A\\1", {STUB_ID});
    AddUsb("USB\\A\\2", {STUB_ID});
    machine.Faults().FailCall("SetupDiCallClassInstaller", 1, os::ERROR_ACCESS_DENIED);

    EXPECT_EQ(Remove(), 1);

    EXPECT_EQ(machine.devices.InstanceIds(), std::vector<std::string>{"USB\\A\\1"});
    EXPECT_EQ(LogText(),
              "Cleanup record... USB\\A\\1\r\nfailed on SetupDiCallClassInstaller()(0x5)\r\n"
              "Cleanup record... USB\\A\\2\r\n");
}

TEST_F(EngineDevices, AnUnreadableInstanceIdLeavesTheCleanupLineEmptyAndStillRemoves) {
    AddUsb("USB\\A\\1", {STUB_ID});
    machine.Faults().FailCall("SetupDiGetDeviceInstanceIdA", 1, os::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Remove(), 1);
    EXPECT_EQ(LogText(), "Cleanup record... \r\n");
    EXPECT_TRUE(machine.devices.InstanceIds().empty());
}

// ---- root devices ----------------------------------------------------------------------------

TEST_F(EngineDevices, InstallWdmDriverCreatesAJournalledRootDeviceWithTheInfDriver) {
    InstallBus();
    InstallBus(HC_ID);

    EXPECT_EQ(machine.devices.InstanceIds(), (std::vector<std::string>{"ROOT\\SYSTEM\\0000", "ROOT\\SYSTEM\\0001"}));
    const auto* bus = machine.devices.FindDevice("ROOT\\SYSTEM\\0000");
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(bus->hardwareIds, std::vector<std::string>{BUS_ID});
    EXPECT_TRUE(bus->compatibleIds.empty());
    EXPECT_TRUE(bus->classGuid == os::GUID_DEVCLASS_SYSTEM);
    EXPECT_TRUE(bus->present);
    EXPECT_EQ(bus->driverInf, "oem0.inf");
    EXPECT_EQ(machine.devices.FindDevice("ROOT\\SYSTEM\\0001")->hardwareIds, std::vector<std::string>{HC_ID});
    EXPECT_EQ(installer->GetJournal(),
              (CInstaller::Journal{{BUS_ID, JOURNAL_WDM_DEVICE}, {HC_ID, JOURNAL_WDM_DEVICE}}));
    EXPECT_EQ(LogText(), devicesLog + Line("Install WDM Driver: ", HC_ID));
    EXPECT_EQ(Flag(), 0);
    EXPECT_TRUE(installer->GetServiceKeyBackups().empty());
    ExpectNoSetOpen();
}

TEST_F(EngineDevices, APhantomOrDifferentlyCasedDeviceDoesNotCountAsExisting) {
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {BUS_ID}, false);
    machine.devices.AddDevice("ROOT\\SYSTEM\\0001", os::GUID_DEVCLASS_SYSTEM, {"*TSPVDBUSDEVICE"});

    InstallBus();

    EXPECT_EQ(machine.devices.DevicesWithHardwareId(BUS_ID),
              (std::vector<std::string>{"ROOT\\SYSTEM\\0000", "ROOT\\SYSTEM\\0002"}));
    EXPECT_EQ(installer->GetJournal().count(BUS_ID), 1u);
}

TEST_F(EngineDevices, AnExistingDeviceGetsItsDriverUpdatedItsServiceKeySavedAndNothingJournalled) {
    fake::CFakeServices::Config config;
    config.type = 1;  // SERVICE_KERNEL_DRIVER
    config.imagePath = "System32\\drivers\\tspvdbus.sys";
    machine.services.AddService("tspvdbus", config);
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {"*other", BUS_ID}).driverInf =
        "oem7.inf";
    machine.devices.updateNeedsRestart = true;

    InstallBus();

    EXPECT_EQ(machine.devices.InstanceIds(), std::vector<std::string>{"ROOT\\SYSTEM\\0000"});
    EXPECT_EQ(machine.devices.FindDevice("ROOT\\SYSTEM\\0000")->driverInf, "oem0.inf");
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_EQ(installer->GetServiceKeyBackups().count("System\\CurrentControlSet\\Services\\tspvdbus"), 1u);
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(LogText(), devicesLog + WARNING_LINE);

    // A rollback leaves the device where it was.
    installer->UninstallServicesAndDevices();
    EXPECT_EQ(machine.devices.InstanceIds(), std::vector<std::string>{"ROOT\\SYSTEM\\0000"});
    ExpectNoSetOpen();
}

TEST_F(EngineDevices, ARestartAskedForByTheNewDeviceSetsTheFlag) {
    machine.devices.updateNeedsRestart = true;
    InstallBus();
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(LogText(), devicesLog + WARNING_LINE);
    EXPECT_EQ(installer->GetJournal().count(BUS_ID), 1u);
}

TEST_F(EngineDevices, AFailedUpdateOfAnExistingDeviceRaises1898) {
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {BUS_ID});
    machine.Faults().FailCall("UpdateDriverForPlugAndPlayDevicesA", 1, os::ERROR_ACCESS_DENIED);

    EXPECT_EQ(RaisedBy([&] { InstallBus(); }), (Raised{19, 1898, os::ERROR_ACCESS_DENIED}));

    EXPECT_EQ(machine.devices.InstanceIds(), std::vector<std::string>{"ROOT\\SYSTEM\\0000"});
    EXPECT_TRUE(installer->GetJournal().empty());
    ExpectNoSetOpen();
}

TEST_F(EngineDevices, AMissingInfFailsAt1788WithTheFileError) {
    machine.files.Remove(BUS_INF);
    EXPECT_EQ(RaisedBy([&] { InstallBus(); }), (Raised{19, 1788, os::ERROR_FILE_NOT_FOUND}));
    EXPECT_TRUE(machine.devices.InstanceIds().empty());
    EXPECT_EQ(LogText(), devicesLog);
}

struct CreationFailure {
    const char* call;
    unsigned nth;
    std::uint32_t location;
};

class EngineRootDeviceFailures : public EngineDevices, public ::testing::WithParamInterface<CreationFailure> {};

TEST_P(EngineRootDeviceFailures, RaiseTheirLocationAndLeaveNoDeviceBehind) {
    const os::DWORD error = 0xE0000219u;
    machine.Faults().FailCall(GetParam().call, GetParam().nth, error);

    EXPECT_EQ(RaisedBy([&] { InstallBus(); }), (Raised{19, GetParam().location, error}));

    EXPECT_TRUE(machine.devices.InstanceIds().empty());
    EXPECT_TRUE(machine.devices.DriverStore().empty());
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_EQ(LogText(), devicesLog);
    EXPECT_EQ(Flag(), 0);
    ExpectNoSetOpen();
}

INSTANTIATE_TEST_SUITE_P(EachStep, EngineRootDeviceFailures,
                         ::testing::Values(CreationFailure{"SetupDiGetINFClassA", 1, 1788},
                                           CreationFailure{"SetupDiCreateDeviceInfoList", 1, 1798},
                                           CreationFailure{"SetupDiCreateDeviceInfoA", 1, 1815},
                                           CreationFailure{"SetupDiSetDeviceRegistryPropertyA", 1, 1828},
                                           CreationFailure{"SetupDiCallClassInstaller", 1, 1840},
                                           // The device was registered: it is removed again.
                                           CreationFailure{"UpdateDriverForPlugAndPlayDevicesA", 1, 1858}));

TEST_F(EngineDevices, CreateRootDeviceReturnsTheFailureWithoutRaising) {
    machine.Faults().FailCall("UpdateDriverForPlugAndPlayDevicesA", 1, os::ERROR_NO_SUCH_DEVINST);
    os::BOOL restart = 0;
    std::unique_ptr<CExceptionEx> failure = installer->CreateRootDevice(BUS_ID.c_str(), BUS_INF.c_str(), &restart);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->GetArg0(), 0x00130742u);  // 19 * 65536 + 1858
    EXPECT_EQ(failure->GetCode(), os::ERROR_NO_SUCH_DEVINST);
    EXPECT_TRUE(machine.devices.InstanceIds().empty());
    EXPECT_EQ(LogText(), "");
}

// ---- rollback --------------------------------------------------------------------------------

TEST_F(EngineDevices, RollbackRemovesEveryPresentDeviceCarryingTheIdExactly) {
    InstallBus();
    machine.devices.AddDevice("ROOT\\SYSTEM\\0005", os::GUID_DEVCLASS_SYSTEM, {"*a", "*b", BUS_ID});
    machine.devices.AddDevice("ROOT\\SYSTEM\\0006", os::GUID_DEVCLASS_SYSTEM, {"*TSPVDBUSDEVICE"});
    machine.devices.AddDevice("ROOT\\SYSTEM\\0007", os::GUID_DEVCLASS_SYSTEM, {BUS_ID}, false);
    machine.devices.AddDevice("ROOT\\SYSTEM\\0008", os::GUID_DEVCLASS_SYSTEM, {});
    AddUsb("USB\\VID_0001\\1", LongIdList("USB\\HUB", 300)).hardwareIds.push_back(BUS_ID);

    installer->UninstallServicesAndDevices();

    EXPECT_EQ(machine.devices.InstanceIds(),
              (std::vector<std::string>{"ROOT\\SYSTEM\\0006", "ROOT\\SYSTEM\\0007", "ROOT\\SYSTEM\\0008"}));
    EXPECT_EQ(LogText(), devicesLog + Line("Uninstall WDM Driver: ", BUS_ID));
    ExpectNoSetOpen();
}

TEST_F(EngineDevices, RollbackEndsItsScanAtAnUnreadableDevice) {
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {"*x"});
    machine.devices.AddDevice("ROOT\\SYSTEM\\0001", os::GUID_DEVCLASS_SYSTEM, {BUS_ID});
    machine.Faults().FailCall("SetupDiGetDeviceRegistryPropertyA", 1, os::ERROR_ACCESS_DENIED);

    installer->UninstallWdmDriver(BUS_ID.c_str());

    EXPECT_EQ(machine.devices.InstanceIds().size(), 2u);
    ExpectNoSetOpen();

    machine.Faults().FailCall("SetupDiGetClassDevsA", 1, os::ERROR_ACCESS_DENIED);
    installer->UninstallWdmDriver(BUS_ID.c_str());
    EXPECT_EQ(machine.devices.InstanceIds().size(), 2u);
    EXPECT_EQ(LogText(), Line("Uninstall WDM Driver: ", BUS_ID) + Line("Uninstall WDM Driver: ", BUS_ID));
}

// ---- the device tree itself --------------------------------------------------------------------

TEST(FakeDevices, UpdateDriverFailsAsWindowsDoesWhenNoPresentDeviceCarriesTheId) {
    fake::CFakeMachine machine;
    machine.files.PutFile(BUS_INF, BUS_INF_TEXT);
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {BUS_ID}, false);
    os::BOOL restart = 1;
    EXPECT_EQ(os::Devices().UpdateDriverForPlugAndPlayDevicesA(BUS_ID.c_str(), BUS_INF.c_str(), os::INSTALLFLAG_FORCE,
                                                               &restart),
              0);
    EXPECT_EQ(os::Kernel().GetLastError(), os::ERROR_NO_SUCH_DEVINST);
    EXPECT_TRUE(machine.devices.DriverStore().empty());
}

TEST(FakeDevices, ShortPropertyBuffersReportTheSizeAndTypeAndUnregisteredElementsDieWithTheirSet) {
    fake::CFakeMachine machine;
    os::DeviceInfoSet set(os::Devices().SetupDiCreateDeviceInfoList(&os::GUID_DEVCLASS_SYSTEM));
    os::DeviceInfoData device;
    ASSERT_TRUE(os::Devices().SetupDiCreateDeviceInfoA(set.Get(), "System", &os::GUID_DEVCLASS_SYSTEM, nullptr,
                                                       os::DICD_GENERATE_ID, &device));
    os::DWORD type = 0, required = 0;
    EXPECT_FALSE(os::Devices().SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, os::SPDRP_HARDWAREID, &type,
                                                                 nullptr, 0, &required));
    EXPECT_EQ(os::Kernel().GetLastError(), os::ERROR_INVALID_DATA);

    const char ids[] = "*a\0*bc\0";  // with the final zero of the literal: two ids and the empty string
    ASSERT_TRUE(os::Devices().SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, os::SPDRP_HARDWAREID,
                                                                reinterpret_cast<const os::BYTE*>(ids), sizeof ids));
    os::BYTE buffer[16] = {};
    EXPECT_FALSE(os::Devices().SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, os::SPDRP_HARDWAREID, &type,
                                                                 buffer, 4, &required));
    EXPECT_EQ(os::Kernel().GetLastError(), os::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(type, os::REG_MULTI_SZ);
    EXPECT_EQ(required, 8u);
    EXPECT_TRUE(machine.devices.InstanceIds().empty());  // not registered yet

    set.Reset();
    EXPECT_EQ(machine.devices.OpenSetCount(), 0u);
    os::DeviceInfoSet again(os::Devices().SetupDiCreateDeviceInfoList(&os::GUID_DEVCLASS_SYSTEM));
    ASSERT_TRUE(os::Devices().SetupDiCreateDeviceInfoA(again.Get(), "system", &os::GUID_DEVCLASS_SYSTEM, nullptr,
                                                       os::DICD_GENERATE_ID, &device));
    char id[32] = {};
    ASSERT_TRUE(os::Devices().SetupDiGetDeviceInstanceIdA(again.Get(), &device, id, sizeof id, nullptr));
    EXPECT_STREQ(id, "ROOT\\SYSTEM\\0000");  // the number of the discarded element is free again
}

}  // namespace

// ---- removing an edition's devices and driver packages (the uninstaller) ------------------------

namespace {

using EngineRemoval = EngineDevices;

TEST_F(EngineRemoval, EveryDeviceCarryingTheIdGoesAndAFailedOneIsNamedButDoesNotStopTheRest) {
    // Any class, present or not, the id anywhere in the list and in any case.
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {BUS_ID});
    AddUsb("USB\\VID_0000&PID_0000\\1", {"USB\\OTHER", "*TSPVDBUSDEVICE"}, false);
    machine.devices.AddDevice("ROOT\\SYSTEM\\0001", os::GUID_DEVCLASS_SYSTEM, {BUS_ID});
    AddUsb("USB\\VID_1234&PID_0001\\9", {"USB\\VID_1234&PID_0001"});
    machine.Faults().FailCall("SetupDiCallClassInstaller", 1, os::ERROR_ACCESS_DENIED);

    EXPECT_EQ(installer->RemoveDevicesCarryingId(BUS_ID.c_str()), 0);
    EXPECT_EQ(machine.devices.InstanceIds(),
              (std::vector<std::string>{"ROOT\\SYSTEM\\0000", "USB\\VID_1234&PID_0001\\9"}));
    EXPECT_EQ(LogText(), Line("Remove Devices: ", BUS_ID) + Line("Cleanup record... ", "ROOT\\SYSTEM\\0000") +
                             Line("failed on SetupDiCallClassInstaller()", "(0x5)") +
                             Line("Cleanup record... ", "USB\\VID_0000&PID_0000\\1") +
                             Line("Cleanup record... ", "ROOT\\SYSTEM\\0001"));
    EXPECT_EQ(Flag(), 0);
    ExpectNoSetOpen();

    // Nothing left to remove is success.
    EXPECT_EQ(installer->RemoveDevicesCarryingId(BUS_ID.c_str()), 1);
    EXPECT_TRUE(machine.devices.DevicesWithHardwareId(BUS_ID).empty());
}

TEST_F(EngineRemoval, ADeviceWhoseIdsCannotBeReadCountsAsStaying) {
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {BUS_ID});
    machine.Faults().FailCall("SetupDiGetDeviceRegistryPropertyA", 1, os::ERROR_GEN_FAILURE);
    EXPECT_EQ(installer->RemoveDevicesCarryingId(BUS_ID.c_str()), 0);
    ExpectNoSetOpen();
}

TEST_F(EngineRemoval, OnlyPackagesStagedFromTheINFsNameLeaveTheStore) {
    machine.devices.StageInf("oem0.inf", "D:\\drivers\\tspvdbus.inf", BUS_INF_TEXT);
    machine.devices.StageInf("oem1.inf", "D:\\drivers\\other.inf", "[Version]\r\n");
    machine.devices.StageInf("machine.inf", "C:\\Windows\\INF\\machine.inf", "[Version]\r\n");
    // Some SetupAPI versions stage under the INF's own name.
    machine.devices.StageInf("TSPVDBUS.INF", "E:\\TSPVDBUS.INF", BUS_INF_TEXT + "; older\r\n");

    EXPECT_EQ(installer->RemoveDriverPackages("tspvdbus.inf"), 1);
    ASSERT_EQ(machine.devices.DriverStore().size(), 2u);
    EXPECT_EQ(machine.devices.DriverStore()[0].name, "oem1.inf");
    EXPECT_EQ(machine.devices.DriverStore()[1].name, "machine.inf");
    EXPECT_EQ(LogText(), Line("Remove Driver Package: ", "tspvdbus.inf") + Line("Uninstall OEM INF: ", "oem0.inf") +
                             Line("Uninstall OEM INF: ", "TSPVDBUS.INF"));
}

TEST_F(EngineRemoval, AStoreThatCannotBeListedOrAnINFThatCannotBeReadIsNoSuccess) {
    machine.devices.StageInf("oem0.inf", "D:\\drivers\\tspvdbus.inf", BUS_INF_TEXT);
    machine.Faults().FailCall("SetupGetInfFileListA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(installer->RemoveDriverPackages("tspvdbus.inf"), 0);
    machine.Faults().FailCall("SetupQueryInfOriginalFileNameA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(installer->RemoveDriverPackages("tspvdbus.inf"), 0);
    EXPECT_EQ(machine.devices.DriverStore().size(), 1u);
    EXPECT_EQ(installer->RemoveDriverPackages("tspvdbus.inf"), 1);
    EXPECT_TRUE(machine.devices.DriverStore().empty());
}

}  // namespace
