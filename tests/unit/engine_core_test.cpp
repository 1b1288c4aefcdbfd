#include <cstring>
#include <string>
#include <vector>

#include "engine_test_support.h"

using namespace enginetest;

namespace {

const char* const RUN_ONCE = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// ---- construction ---------------------------------------------------------------------

using EngineConstruction = EngineTest;

TEST_F(EngineConstruction, StartsEmptyWithItsOwnRestartFlagAndReleasesEverythingAtTheEnd) {
    CTestInstaller& engine = Make();
    EXPECT_TRUE(engine.GetJournal().empty());
    EXPECT_TRUE(engine.GetStartedServices().empty());
    EXPECT_TRUE(engine.GetFileBackups().empty());
    EXPECT_TRUE(engine.GetServiceKeyBackups().empty());
    ASSERT_NE(engine.GetRebootFlag(), nullptr);
    EXPECT_EQ(*engine.GetRebootFlag(), 0);
    EXPECT_NE(engine.GetServiceManager(), nullptr);
    EXPECT_EQ(machine.services.OpenHandleCount(), 1u);
    EXPECT_EQ(engine.GetOsKind(), OS_KIND_VISTA);
    EXPECT_EQ(engine.GetPackage().GetStatus(), PACK_OK);
    EXPECT_EQ(LogText(), "");

    installer.reset();
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, StandardUserIsRefusedBeforeTheServiceManagerIsOpened) {
    machine.security.MakeStandardUser();
    machine.Faults().FailCall("OpenSCManagerA", 0, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(MakeFails(), (Raised{19, 62, 1313}));
    EXPECT_EQ(LogText(), "Error: No such admin privilege\r\n");
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, AFailureAfterTheSetupApiCaptureStartedPutsTheLogLevelBack) {
    const char* const setupKey = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup";
    machine.registry.SetDword(setupKey, "LogLevel", 0x20);
    machine.Faults().FailCall("OpenSCManagerA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(RaisedBy([&] { Make(0, 1, 1); }), (Raised{19, 71, os::ERROR_ACCESS_DENIED}));
    EXPECT_EQ(machine.registry.GetDword(setupKey, "LogLevel"), std::optional<os::DWORD>(0x20));
    EXPECT_EQ(LogText(), "Error: Init Service Control Manager\r\n");
    ExpectNothingOpen();

    // The same capture while the engine lives: raised until the engine goes.
    Make(0, 1, 1);
    EXPECT_NE(machine.registry.GetDword(setupKey, "LogLevel"), std::optional<os::DWORD>(0x20));
    installer.reset();
    EXPECT_EQ(machine.registry.GetDword(setupKey, "LogLevel"), std::optional<os::DWORD>(0x20));
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, WithoutTheAdminCheckTheTokenIsNeverOpened) {
    machine.security.MakeStandardUser();
    machine.Faults().FailCall("OpenProcessToken", 0, os::ERROR_ACCESS_DENIED);
    Make(0, 0);
    for (const std::string& call : machine.Faults().Calls()) EXPECT_NE(call, "OpenProcessToken");
    EXPECT_EQ(LogText(), "");
}

TEST_F(EngineConstruction, ATokenThatCannotBeOpenedCountsAsNoAdmin) {
    machine.Faults().FailCall("OpenProcessToken", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(MakeFails(), (Raised{19, 62, 1313}));
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, ServiceManagerFailureIsLocation71WithItsError) {
    machine.Faults().FailCall("OpenSCManagerA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(MakeFails(), (Raised{19, 71, os::ERROR_ACCESS_DENIED}));
    EXPECT_EQ(LogText(), "Error: Init Service Control Manager\r\n");
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, UnreadablePackageRaisesItsStatusAndClosesTheServiceManager) {
    // No program file at the module path: PACK_E_READ, split into module and location.
    EXPECT_EQ(MakeFails(1), (Raised{0xFFFF, 0xFFFF, 1359}));
    EXPECT_EQ(LogText(), "Error: Init installer\r\n");
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, DamagedPackageRaisesMinusTwo) {
    machine.files.PutFile(machine.kernel.modulePath, std::string(4096, 'M'));
    EXPECT_EQ(MakeFails(1), (Raised{0xFFFF, 0xFFFE, 1359}));
    EXPECT_EQ(LogText(), "Error: Init installer\r\n");
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, PackageIsNotReadUnlessAsked) {
    CTestInstaller& engine = Make(0);
    EXPECT_EQ(engine.GetPackage().GetFileCount(), 0u);
    // Later, on request: the reader's status comes back without raising.
    EXPECT_EQ(engine.OpenPackage(), PACK_E_READ);
    machine.files.PutFile(machine.kernel.modulePath, std::string(100, 'M'));
    EXPECT_EQ(engine.OpenPackage(), PACK_E_DAMAGED);
}

TEST_F(EngineConstruction, CreatesTheRunOnceKeyAndSaysSoOnlyWhenItWasMissing) {
    machine.registry.DeleteTree(RUN_ONCE);
    Make();
    EXPECT_TRUE(machine.registry.KeyExists(RUN_ONCE));
    EXPECT_TRUE(machine.registry.ValueNames(RUN_ONCE).empty());
    EXPECT_EQ(LogText(), "Create 'RunOnce' registry key entry\r\n");
    installer.reset();

    Make();
    EXPECT_EQ(LogText(), "Create 'RunOnce' registry key entry\r\n");  // nothing added
    installer.reset();
    ExpectNothingOpen();
}

TEST_F(EngineConstruction, ARunOnceKeyThatCannotBeWrittenIsNoFailure) {
    machine.registry.DeleteTree(RUN_ONCE);
    machine.registry.DenyWrite("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    Make();
    EXPECT_FALSE(machine.registry.KeyExists(RUN_ONCE));
    EXPECT_EQ(LogText(), "");
    installer.reset();
    ExpectNothingOpen();
}

// ---- administrator check ----------------------------------------------------------------

using EngineAdminCheck = EngineTest;

TEST_F(EngineAdminCheck, DenyOnlyAdministratorsGroupStillCounts) {
    CTestInstaller& engine = Make(0, 0);
    machine.security.groups = {{"S-1-1-0", os::SE_GROUP_ENABLED},
                               {"S-1-5-32-544", os::SE_GROUP_USE_FOR_DENY_ONLY},
                               {"S-1-5-32-545", os::SE_GROUP_ENABLED}};
    EXPECT_EQ(engine.IsUserAdmin(), 1);
    machine.security.groups[1].attributes = 0;
    EXPECT_EQ(engine.IsUserAdmin(), 1);
    installer.reset();
    ExpectNothingOpen();
}

TEST_F(EngineAdminCheck, LooksAtEveryGroupAndMatchesOnlyTheAdministratorsAlias) {
    CTestInstaller& engine = Make(0, 0);
    machine.security.groups.clear();
    for (int i = 0; i < 200; ++i) {
        machine.security.groups.push_back({"S-1-5-21-1000-2000-3000-" + std::to_string(1000 + i), 0});
    }
    machine.security.groups.push_back({"S-1-5-32-545", os::SE_GROUP_ENABLED});
    machine.security.groups.push_back({"S-1-5-21-544", os::SE_GROUP_ENABLED});    // another authority's 544
    machine.security.groups.push_back({"S-1-5-32-544-1", os::SE_GROUP_ENABLED});  // longer SID
    EXPECT_EQ(engine.IsUserAdmin(), 0);
    machine.security.groups.push_back({"S-1-5-32-544", os::SE_GROUP_ENABLED});
    EXPECT_EQ(engine.IsUserAdmin(), 1);
}

TEST_F(EngineAdminCheck, EveryFailingStepAnswersNoAndFreesWhatItHad) {
    for (const char* call : {"OpenProcessToken", "VirtualAlloc", "GetTokenInformation", "AllocateAndInitializeSid"}) {
        CTestInstaller& engine = Make(0, 0);
        machine.Faults().Clear();
        machine.Faults().FailCall(call, 1, os::ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(engine.IsUserAdmin(), 0) << call;
        EXPECT_EQ(machine.security.OpenTokenCount(), 0u) << call;
        EXPECT_EQ(machine.security.LiveSidCount(), 0u) << call;
        EXPECT_EQ(machine.kernel.liveVirtualBlocks(), 0u) << call;
        machine.Faults().Clear();
        EXPECT_EQ(engine.IsUserAdmin(), 1) << call;
        installer.reset();
    }
}

// ---- Windows version ----------------------------------------------------------------------

using EngineOsKind = EngineTest;

TEST_F(EngineOsKind, MajorSixSplitsByProductTypeEverythingElseIsXp) {
    struct Case {
        os::DWORD major, minor;
        os::BYTE productType;
        std::int32_t kind;
    };
    const Case cases[] = {
        {5, 1, os::VER_NT_WORKSTATION, OS_KIND_XP},
        {5, 2, os::VER_NT_SERVER, OS_KIND_XP},
        {6, 0, os::VER_NT_WORKSTATION, OS_KIND_VISTA},
        {6, 1, os::VER_NT_WORKSTATION, OS_KIND_VISTA},
        {6, 0, os::VER_NT_SERVER, OS_KIND_VISTA_SERVER},
        {6, 1, os::VER_NT_SERVER, OS_KIND_VISTA_SERVER},
        {6, 1, os::VER_NT_DOMAIN_CONTROLLER, OS_KIND_VISTA_SERVER},
        {10, 0, os::VER_NT_WORKSTATION, OS_KIND_XP},
        {10, 0, os::VER_NT_SERVER, OS_KIND_XP},
    };
    for (const Case& c : cases) {
        machine.kernel.version.major = c.major;
        machine.kernel.version.minor = c.minor;
        machine.kernel.version.productType = c.productType;
        CTestInstaller& engine = Make();
        EXPECT_EQ(engine.GetOsKind(), c.kind) << c.major << "." << c.minor << " type " << int(c.productType);
        EXPECT_EQ(engine.DetectOsKind(), 1);
        EXPECT_EQ(engine.GetOsKind(), c.kind);
        installer.reset();
    }
}

TEST_F(EngineOsKind, AFailedVersionQueryLeavesXp) {
    machine.kernel.version.major = 6;
    machine.Faults().FailCall("GetVersionExA", 0, os::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Make().GetOsKind(), OS_KIND_XP);
}

// ---- journal, started services, restart flag ------------------------------------------------

using EngineJournal = EngineTest;

TEST_F(EngineJournal, KeysOrderByteWiseAndRecordingAgainReplacesTheKind) {
    CTestInstaller& engine = Make();
    engine.RecordInstalledFile("C:\\a\\c.sys");
    engine.RecordInstalledFile("C:\\a\\b.dll");
    engine.RecordCreatedDirectory("C:\\a");
    engine.RecordInstalledFile("C:\\X\\z.dll");
    engine.RecordInstalledFile("C:\\a\\b");
    engine.RecordInstalledFile("C:\\a\\b.dll");
    engine.RecordCreatedDirectory("C:\\a\\c.sys");

    std::vector<std::pair<std::string, std::int32_t>> records(engine.GetJournal().begin(), engine.GetJournal().end());
    const std::vector<std::pair<std::string, std::int32_t>> expected = {
        {"C:\\X\\z.dll", JOURNAL_FILE}, {"C:\\a", JOURNAL_DIRECTORY},        {"C:\\a\\b", JOURNAL_FILE},
        {"C:\\a\\b.dll", JOURNAL_FILE}, {"C:\\a\\c.sys", JOURNAL_DIRECTORY},
    };
    EXPECT_EQ(records, expected);
}

TEST_F(EngineJournal, RemovalWalksTheFilesInByteOrderNotInRecordingOrder) {
    for (const char* path : {"C:\\a\\c.sys", "C:\\a\\b.dll", "C:\\a\\b", "C:\\X\\z.dll"}) {
        machine.files.PutFile(path, "x");
    }
    CTestInstaller& engine = Make();
    engine.RecordInstalledFile("C:\\a\\c.sys");
    engine.RecordInstalledFile("C:\\a\\b.dll");
    engine.RecordInstalledFile("C:\\X\\z.dll");
    engine.RecordInstalledFile("C:\\a\\b");
    engine.RemoveInstallFiles();
    EXPECT_EQ(LogText(),
              "RemoveInstallFiles: C:\\X\\z.dll\r\n"
              "RemoveInstallFiles: C:\\a\\b\r\n"
              "RemoveInstallFiles: C:\\a\\b.dll\r\n"
              "RemoveInstallFiles: C:\\a\\c.sys\r\n");
    EXPECT_TRUE(machine.files.ListFilesUnder("C:\\a").empty());
    EXPECT_FALSE(machine.files.FileExists("C:\\X\\z.dll"));
    EXPECT_FALSE(engine.IsRebootRequired());
    EXPECT_EQ(engine.GetJournal().size(), 4u);  // the phase leaves the journal as it was
}

TEST_F(EngineJournal, StartedServicesMatchExactly) {
    CTestInstaller& engine = Make();
    engine.RecordStartedService("TspRdpSvc");
    engine.RecordStartedService("TspRdpSvc");
    EXPECT_EQ(engine.WasServiceStarted("TspRdpSvc"), 1);
    EXPECT_EQ(engine.WasServiceStarted("tsprdpsvc"), 0);
    EXPECT_EQ(engine.WasServiceStarted("TspRdpSvc "), 0);
    EXPECT_EQ(engine.GetStartedServices().size(), 1u);
    EXPECT_EQ(engine.GetStartedServices().at("TspRdpSvc"), JOURNAL_STARTED_SERVICE);
    EXPECT_TRUE(engine.GetJournal().empty());
}

TEST_F(EngineJournal, LogLinesAreByteExactAndLeaveTheLastErrorAlone) {
    CTestInstaller& engine = Make();
    os::Kernel().SetLastError(os::ERROR_SHARING_VIOLATION);
    engine.Log("Install File: ", "C:\\A b\\x.sys");
    engine.Log("=== Rollback process ===");
    engine.Log("Empty argument: ", "");
    EXPECT_EQ(os::Kernel().GetLastError(), os::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(LogText(), "Install File: C:\\A b\\x.sys\r\n=== Rollback process ===\r\nEmpty argument: \r\n");

    // A log that cannot be written loses its lines and nothing else.
    machine.Faults().FailCall("WriteFile", 0, os::ERROR_DISK_FULL);
    engine.Log("lost");
    EXPECT_EQ(os::Kernel().GetLastError(), os::ERROR_SHARING_VIOLATION);
    machine.Faults().Clear();
    installer = std::make_unique<CTestInstaller>(os::InvalidHandle(), 0, 1, 0);
    installer->Log("nowhere");
    installer->RequireReboot();
    EXPECT_TRUE(installer->IsRebootRequired());
    EXPECT_EQ(LogText(), "Install File: C:\\A b\\x.sys\r\n=== Rollback process ===\r\nEmpty argument: \r\n");
}

TEST_F(EngineJournal, RestartFlagLandsWhereItPointsAndIsLoggedEachTime) {
    CTestInstaller& engine = Make();
    std::int32_t applicationFlag = 0;
    engine.SetRebootFlag(&applicationFlag);
    engine.RequireReboot();
    engine.RequireReboot();
    EXPECT_EQ(applicationFlag, 1);
    EXPECT_TRUE(engine.IsRebootRequired());
    EXPECT_EQ(LogText(), std::string(WARNING_LINE) + WARNING_LINE);

    engine.SetRebootFlag(nullptr);  // back at the engine's own flag, which nothing set
    EXPECT_FALSE(engine.IsRebootRequired());
}

TEST_F(EngineJournal, CommitDeletesBackupsAndForgetsSavedServiceValuesButKeepsTheJournal) {
    machine.files.PutFile("C:\\Program Files\\Tsp\\a.dll", "old a");
    machine.files.PutFile("C:\\Program Files\\Tsp\\b.dll", "old b");
    CTestInstaller& engine = Make();
    engine.BackupFile("a.dll", "C:\\Program Files\\Tsp");
    engine.BackupFile("b.dll", "C:\\Program Files\\Tsp");
    engine.RecordInstalledFile("C:\\Program Files\\Tsp\\c.dll");
    engine.RecordStartedService("TspRdpSvc");
    engine.m_services.SaveKey("SYSTEM\\CurrentControlSet\\Services\\TspRdpSvc",
                              {{"Start", std::string("\x02\0\0\0", 4), 4}});
    ASSERT_EQ(machine.files.ListFilesUnder("C:\\Program Files\\Tsp").size(), 4u);

    engine.DiscardBackups();
    EXPECT_EQ(machine.files.ListFilesUnder("C:\\Program Files\\Tsp"),
              (std::vector<std::string>{"C:\\Program Files\\Tsp\\a.dll", "C:\\Program Files\\Tsp\\b.dll"}));
    EXPECT_TRUE(engine.GetFileBackups().empty());
    EXPECT_TRUE(engine.GetServiceKeyBackups().empty());
    EXPECT_EQ(engine.GetJournal().size(), 1u);
    EXPECT_EQ(engine.WasServiceStarted("TspRdpSvc"), 1);
}

TEST_F(EngineJournal, DestructionWithoutCommitKeepsEveryBackup) {
    // A run that ends before its commit (a fault, a rollback cut short) may hold the only
    // copy of a replaced file in its backup.
    machine.files.PutFile("C:\\Program Files\\Tsp\\a.dll", "old a");
    Make().BackupFile("a.dll", "C:\\Program Files\\Tsp");
    const auto files = machine.files.ListFilesUnder("C:\\Program Files\\Tsp");
    ASSERT_EQ(files.size(), 2u);
    installer.reset();
    EXPECT_EQ(machine.files.ListFilesUnder("C:\\Program Files\\Tsp"), files);
    ExpectNothingOpen();
}

// ---- rollback phase 1 ------------------------------------------------------------------------

TEST_F(EngineJournal, PhaseOneTakesAwayCreatedServicesAndRootDevicesOnly) {
    fake::CFakeServices::Config config;
    config.imagePath = "C:\\Windows\\system32\\drivers\\tspvdbus.sys";
    machine.services.AddService("tspvdbus", config);
    machine.services.AddService("TspRdpSvc", config, 4 /* SERVICE_RUNNING */);
    machine.services.AddService("Foreign", config);
    machine.devices.AddDevice("ROOT\\SYSTEM\\0000", os::GUID_DEVCLASS_SYSTEM, {"*tspvdbusDevice"});
    machine.devices.AddDevice("ROOT\\SYSTEM\\0001", os::GUID_DEVCLASS_SYSTEM, {"*otherDevice"});
    machine.files.PutFile("C:\\Tsp\\tspusb.dll", "kept");
    const auto filesBefore = MachineState();

    CTestInstaller& engine = Make();
    engine.m_journal.Record("TspRdpSvc", JOURNAL_SERVICE);
    engine.m_journal.Record("tspvdbus", JOURNAL_SERVICE);
    engine.m_journal.Record("*tspvdbusDevice", JOURNAL_WDM_DEVICE);
    engine.RecordInstalledFile("C:\\Tsp\\tspusb.dll");
    engine.RecordCreatedDirectory("C:\\Tsp");
    const CInstaller::Journal journal = engine.GetJournal();

    engine.UninstallServicesAndDevices();
    EXPECT_EQ(engine.GetJournal(), journal);
    installer.reset();
    EXPECT_EQ(machine.services.Names(), std::vector<std::string>{"Foreign"});
    EXPECT_EQ(machine.devices.InstanceIds(), std::vector<std::string>{"ROOT\\SYSTEM\\0001"});
    EXPECT_EQ(MachineState(), filesBefore);
    // Byte order: '*' before 'T' before 't'.
    EXPECT_EQ(LogText(),
              "Uninstall WDM Driver: *tspvdbusDevice\r\n"
              "Uninstall Service: TspRdpSvc\r\n"
              "Uninstall Service: tspvdbus\r\n");
    ExpectNothingOpen();
    EXPECT_EQ(machine.devices.OpenSetCount(), 0u);
}

}  // namespace
