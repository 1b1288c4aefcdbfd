// The uninstaller's decisions on the in-memory machine: a whole installation and its removal
// for both editions, what stays and why, what waits for the next start, and the order of the
// last steps.
#include <algorithm>
#include <string>
#include <vector>

#include "uninstall_test_support.h"

using namespace uninstalltest;

namespace {

std::string Differences(const State& expected, const State& actual) {
    return installtest::Differences(expected, actual);
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::size_t LineIndex(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

std::string UninstallKey(const CUninstallRig& rig) {
    return std::string("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + rig.info().uninstallKeyName;
}

struct Case {
    const char* name;
    Scenario scenario;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

Scenario Make(Edition edition, Windows windows, bool usbdPresent = false) {
    Scenario s;
    s.edition = edition;
    s.windows = windows;
    s.usbdPresent = usbdPresent;
    return s;
}

class WholeRemoval : public ::testing::TestWithParam<Case> {};

TEST_P(WholeRemoval, InstallThenUninstallEndsAsTheMachineBegan) {
    CUninstallRig rig(GetParam().scenario);
    // A machine's own third-party driver package, which must stay.
    rig.machine().devices.StageInf("oem7.inf", "D:\\Drivers\\other.inf", "[Version]\r\nClass=Net\r\n");
    const State before = rig.StateNow();
    rig.Install();
    const State installed = rig.StateNow();
    ASSERT_FALSE(installed == before);

    const UninstallResult result = rig.Uninstall();
    ASSERT_FALSE(result.refused);
    EXPECT_EQ(result.code, UNINSTALL_DONE);
    EXPECT_FALSE(result.reboot);
    EXPECT_TRUE(result.stayed.empty());
    EXPECT_TRUE(rig.machine().files.PendingOperations().empty());
    const State after = rig.StateNow();
    EXPECT_TRUE(after == before) << Differences(before, after);

    const std::vector<std::string> lines = rig.UninstallLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), std::string(rig.info().displayName) + " uninstallation...");
    EXPECT_EQ(lines.back(), "=== Uninstallation complete ===");
    EXPECT_TRUE(HasLine(lines, "Delete File: " + rig.install.target + "\\" + rig.info().setupLogName));
    // Everything the uninstaller opened is closed again (the install rig's log stays open).
    EXPECT_EQ(rig.machine().files.OpenHandleCount(), 1u);
    EXPECT_EQ(rig.machine().services.OpenHandleCount(), 0u);
    EXPECT_EQ(rig.machine().registry.OpenKeyCount(), 0u);
    EXPECT_EQ(rig.machine().devices.OpenSetCount(), 0u);
    EXPECT_EQ(rig.machine().firewall.LiveInterfaceCount(), 0u);
    EXPECT_EQ(rig.machine().shell.ComDepth(), 0);
    EXPECT_TRUE(rig.machine().firewall.misuse.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Editions, WholeRemoval,
    ::testing::Values(Case{"WorkstationWin7", Make(Edition::Workstation, Windows::Seven)},
                      Case{"WorkstationXp", Make(Edition::Workstation, Windows::Xp64)},
                      Case{"ServerWin7", Make(Edition::Server, Windows::Seven)},
                      Case{"ServerXp", Make(Edition::Server, Windows::Xp64)},
                      Case{"ServerWithWindowsUsbd", Make(Edition::Server, Windows::Seven, true)}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// ---- what stays -----------------------------------------------------------------------------

TEST(Uninstall, FilesTheInstallationDidNotMakeStayWithTheirFolders) {
    CUninstallRig rig;
    rig.Install();
    const std::string target = rig.install.target, menu = rig.install.menu;
    rig.machine().files.PutFile(target + "\\my notes.txt", "the user's");
    rig.machine().files.PutFile(target + "\\settings\\device.cfg", "the user's");
    rig.machine().files.PutFile(menu + "\\My own link.lnk", "the user's");
    // A folder where a product file was: not ours either.
    rig.machine().files.Remove(target + "\\readme.txt");
    rig.machine().files.MakeDirectory(target + "\\readme.txt");

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_DONE);
    EXPECT_TRUE(result.stayed.empty());
    EXPECT_EQ(rig.machine().files.Text(target + "\\my notes.txt"), "the user's");
    EXPECT_EQ(rig.machine().files.Text(target + "\\settings\\device.cfg"), "the user's");
    EXPECT_EQ(rig.machine().files.Text(menu + "\\My own link.lnk"), "the user's");
    EXPECT_TRUE(rig.machine().files.DirectoryExists(target + "\\readme.txt"));
    // Nothing else of the product's is left in them.
    std::vector<std::string> left = rig.machine().files.ListFilesUnder(target);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left.size(), 2u) << ::testing::PrintToString(left);
    EXPECT_EQ(rig.machine().files.ListFilesUnder(menu).size(), 1u);
    const std::vector<std::string> lines = rig.UninstallLogLines();
    EXPECT_TRUE(HasLine(lines, "Warning: Folder holds other files and stays: " + target));
    EXPECT_TRUE(HasLine(lines, "Warning: Not a file, left in place: " + target + "\\readme.txt"));
    EXPECT_FALSE(rig.machine().registry.KeyExists(UninstallKey(rig)));
}

TEST(Uninstall, ReadOnlyProductFilesGoAsWell) {
    CUninstallRig rig;
    rig.Install();
    const std::string license = rig.install.target + "\\tessaport-ws-license.txt";
    ASSERT_TRUE(os::Files().SetFileAttributesA(license.c_str(), os::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    EXPECT_FALSE(rig.machine().files.FileExists(license));
    EXPECT_FALSE(rig.machine().files.DirectoryExists(rig.install.target));
}

// ---- what waits for the next start -----------------------------------------------------------

TEST(Uninstall, AFileInUseGoesAtTheNextStartAndAsksForIt) {
    CUninstallRig rig;
    const State before = rig.StateNow();
    rig.Install();
    const std::string program = rig.install.target + "\\tessaportws.exe";
    rig.machine().files.Lock(program, os::GENERIC_READ, os::FILE_SHARE_READ);  // the user program runs

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_RESTART_NEEDED);
    EXPECT_TRUE(result.reboot);
    EXPECT_TRUE(result.stayed.empty());
    EXPECT_TRUE(rig.machine().files.FileExists(program));
    const auto& pending = rig.machine().files.PendingOperations();
    ASSERT_EQ(pending.size(), 2u);
    // The file first, then its folder, which is empty by then.
    EXPECT_TRUE(fake::SamePath(pending[0].from, program));
    EXPECT_TRUE(pending[0].to.empty());
    EXPECT_TRUE(fake::SamePath(pending[1].from, rig.install.target));
    const std::vector<std::string> lines = rig.UninstallLogLines();
    const std::size_t at = LineIndex(lines, "Delete File: " + program);
    ASSERT_LT(at + 1, lines.size());
    EXPECT_EQ(lines[at + 1], "Warning: === Reboot required to complete operation ===");
    // The entry goes: what is left goes by itself.
    EXPECT_FALSE(rig.machine().registry.KeyExists(UninstallKey(rig)));

    rig.Restart();
    const State after = rig.StateNow();
    EXPECT_TRUE(after == before) << Differences(before, after);
}

TEST(Uninstall, TheRunningUninstallerMovesToTheTemporaryFolderWithoutARestart) {
    CUninstallRig rig;
    const State before = rig.StateNow();
    rig.Install();
    const std::string uninstaller = rig.install.target + "\\uninstall.exe";
    const std::vector<std::uint8_t> image = rig.machine().files.Content(uninstaller);
    rig.machine().files.MarkRunning(uninstaller);  // the uninstaller that waits for this removal

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_DONE);
    EXPECT_FALSE(result.reboot);
    EXPECT_FALSE(rig.machine().files.FileExists(uninstaller));
    EXPECT_FALSE(rig.machine().files.DirectoryExists(rig.install.target));
    // In the temporary folder, to go at the next start.
    const auto& pending = rig.machine().files.PendingOperations();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_TRUE(pending[0].to.empty());
    EXPECT_TRUE(StartsWith(Upper(pending[0].from), Upper(rig.machine().kernel.tempPath + "uninstall.exe_")));
    EXPECT_EQ(rig.machine().files.Content(pending[0].from), image);
    EXPECT_TRUE(rig.machine().files.IsRunning(pending[0].from));

    rig.Restart();
    const State after = rig.StateNow();
    EXPECT_TRUE(after == before) << Differences(before, after);
}

TEST(Uninstall, AServiceThatWillNotStopGoesWithTheNextStart) {
    CUninstallRig rig;
    rig.Install();
    ASSERT_EQ(rig.machine().services.State("tessaportwssrv"), os::SERVICE_RUNNING);
    rig.machine().services.BehaviourOf("tessaportwssrv").acceptsStop = false;
    rig.machine().files.MarkRunning(std::string(CInstallRig::SYSTEM) + "\\tessaportwssrv.exe");

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_RESTART_NEEDED);
    EXPECT_TRUE(result.stayed.empty());
    const fake::CFakeServices::Service* service = rig.machine().services.Find("tessaportwssrv");
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(service->markedForDelete);
    EXPECT_TRUE(HasLine(rig.UninstallLogLines(), "Warning: Service can't be stoped!"));
    // The driver it depends on cannot stop before it: both go with the next start.
    const fake::CFakeServices::Service* driver = rig.machine().services.Find("tsppnptls");
    ASSERT_NE(driver, nullptr);
    EXPECT_TRUE(driver->markedForDelete);
    EXPECT_FALSE(rig.machine().files.FileExists(rig.install.target + "\\tessaportws.exe"));

    rig.Restart();
    EXPECT_FALSE(rig.machine().services.Exists("tessaportwssrv"));
    EXPECT_FALSE(rig.machine().services.Exists("tsppnptls"));
    EXPECT_FALSE(rig.machine().files.FileExists(std::string(CInstallRig::SYSTEM) + "\\tessaportwssrv.exe"));
}

// ---- what cannot go ---------------------------------------------------------------------------

TEST(Uninstall, WhatCannotGoIsLoggedAndKeepsTheEntryForAnotherRun) {
    CUninstallRig rig;
    rig.Install();
    const std::string help = rig.install.target + "\\tessaport-ws-help.chm";
    rig.machine().files.Lock(help, os::GENERIC_READ, os::FILE_SHARE_READ);
    // Neither at once nor at the next start.
    rig.machine().Faults().FailCall("MoveFileExA", 0, os::ERROR_ACCESS_DENIED);

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_INCOMPLETE);
    ASSERT_EQ(result.stayed, (std::vector<std::string>{"file " + help}));
    const std::vector<std::string> lines = rig.UninstallLogLines();
    EXPECT_TRUE(HasLine(lines, "Error: Not removed: file " + help));
    EXPECT_TRUE(HasLine(lines, "Warning: The uninstall entry stays: " + std::string(rig.info().uninstallKeyName)));
    EXPECT_EQ(lines.back(), "=== Uninstallation incomplete ===");
    EXPECT_TRUE(rig.machine().registry.KeyExists(UninstallKey(rig)));
    // Everything else went.
    EXPECT_FALSE(rig.machine().services.Exists("tessaportwssrv"));
    EXPECT_FALSE(rig.machine().files.FileExists(rig.install.target + "\\tessaportws.exe"));

    // Once the file is free, a second run finishes the removal and takes the entry.
    rig.machine().Faults().Clear();
    rig.machine().files.Unlock(help);
    const UninstallResult again = rig.Uninstall();
    EXPECT_EQ(again.code, UNINSTALL_DONE);
    EXPECT_FALSE(rig.machine().files.DirectoryExists(rig.install.target));
    EXPECT_FALSE(rig.machine().registry.KeyExists(UninstallKey(rig)));
}

TEST(Uninstall, TheEntryGoesLast) {
    CUninstallRig rig(Make(Edition::Server, Windows::Seven));
    rig.Install();
    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    const std::vector<std::string> lines = rig.UninstallLogLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "Delete Uninstall Entry: {961AE5EE-E9BB-427e-BF8B-0C83AB73959F}");
    // The target folder went just before it.
    EXPECT_LT(LineIndex(lines, "Remove Directory: " + rig.install.target), lines.size() - 2);
}

TEST(Uninstall, WithoutAnEntryOnlyWhatLiesInFixedPlacesGoes) {
    CUninstallRig rig;
    rig.Install();
    rig.machine().registry.DeleteTree(UninstallKey(rig));
    const std::size_t launches = rig.machine().processes.Launches().size();

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_DONE);
    EXPECT_TRUE(HasLine(rig.UninstallLogLines(), "Warning: No uninstall entry: " +
                                                     std::string(rig.info().uninstallKeyName)));
    EXPECT_FALSE(rig.machine().services.Exists("tessaportwssrv"));
    EXPECT_FALSE(rig.machine().files.FileExists(std::string(CInstallRig::SYSTEM) + "\\tessaportwssrv.exe"));
    // Where the program files are is not known: nothing there is touched.
    EXPECT_TRUE(rig.machine().files.FileExists(rig.install.target + "\\tessaportws.exe"));
    EXPECT_EQ(rig.machine().processes.Launches().size(), launches);  // no Citrix support installer to run
}

TEST(Uninstall, AnEntryWithoutItsFolderStaysAndSaysSo) {
    CUninstallRig rig;
    rig.Install();
    rig.machine().registry.DeleteValue(UninstallKey(rig), "InstallLocation");
    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_INCOMPLETE);
    EXPECT_EQ(result.stayed, (std::vector<std::string>{"folder target (the uninstall entry names none)"}));
    EXPECT_TRUE(rig.machine().registry.KeyExists(UninstallKey(rig)));
    EXPECT_TRUE(rig.machine().files.FileExists(rig.install.target + "\\tessaportws.exe"));
}

TEST(Uninstall, AnEntryNamingADriveRootIsNotFollowed) {
    CUninstallRig rig;
    rig.Install();
    rig.machine().registry.SetString(UninstallKey(rig), "InstallLocation", "C:\\");
    rig.machine().files.PutFile("C:\\readme.txt", "not ours");

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_INCOMPLETE);
    EXPECT_EQ(rig.machine().files.Text("C:\\readme.txt"), "not ours");
    EXPECT_TRUE(rig.machine().registry.KeyExists(UninstallKey(rig)));
}

TEST(Uninstall, NotAnAdministratorIsRefusedBeforeAnythingHappens) {
    CUninstallRig rig;
    rig.Install();
    const State installed = rig.StateNow();
    rig.machine().security.MakeStandardUser();
    const UninstallResult result = rig.Uninstall();
    EXPECT_TRUE(result.refused);
    EXPECT_EQ(result.refusedCode, os::ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_TRUE(rig.StateNow() == installed);
}

// ---- the parts ------------------------------------------------------------------------------

TEST(Uninstall, TheCitrixSupportIsUnregisteredWhileItsInstallerIsStillThere) {
    CUninstallRig rig;
    rig.Install();
    const std::string program = rig.install.target + "\\tsport_rde_installer.exe";
    const std::size_t launchesBefore = rig.machine().processes.Launches().size();
    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    const auto& launches = rig.machine().processes.Launches();
    ASSERT_EQ(launches.size(), launchesBefore + 1);
    EXPECT_EQ(launches.back().commandLine, "\"" + program + "\" UnregisterCitrixDllEx");
    EXPECT_TRUE(fake::SamePath(launches.back().image, program));
    const std::vector<std::string> lines = rig.UninstallLogLines();
    EXPECT_LT(LineIndex(lines, "Finish Citrix installation process"), LineIndex(lines, "Delete File: " + program));

    // The server edition has no such step.
    CUninstallRig server(Make(Edition::Server, Windows::Seven));
    server.Install();
    ASSERT_EQ(server.Uninstall().code, UNINSTALL_DONE);
    EXPECT_TRUE(server.machine().processes.Launches().empty());
}

TEST(Uninstall, DevicesGoBeforeTheirDriverServiceAndPhantomsToo) {
    CUninstallRig rig;
    rig.Install();
    // Stub devices the product made, one of them no longer attached; and another maker's.
    rig.machine().devices.AddDevice("USB\\VID_0000&PID_0001\\1", os::GUID_DEVCLASS_USB, {"VELOTRINEX\\TSPRDPSTUB"});
    rig.machine().devices.AddDevice("USB\\VID_0000&PID_0001\\2", os::GUID_DEVCLASS_USB, {"velotrinex\\tsprdpstub"},
                                    false);
    rig.machine().devices.AddDevice("USB\\VID_1234&PID_0001\\9", os::GUID_DEVCLASS_USB, {"USB\\VID_1234&PID_0001"});

    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    EXPECT_EQ(rig.machine().devices.InstanceIds(), (std::vector<std::string>{"USB\\VID_1234&PID_0001\\9"}));
    const std::vector<std::string> lines = rig.UninstallLogLines();
    EXPECT_TRUE(HasLine(lines, "Cleanup record... USB\\VID_0000&PID_0001\\2"));
    EXPECT_LT(LineIndex(lines, "Remove Devices: VELOTRINEX\\TSPRDPSTUB"), LineIndex(lines, "Remove Service: tspvd"));
}

TEST(Uninstall, ADeviceThatGoesOnlyWithARestartAsksForIt) {
    CUninstallRig rig(Make(Edition::Server, Windows::Seven));
    rig.Install();
    for (const std::string& id : rig.machine().devices.DevicesWithHardwareId("*tspvdbusDevice")) {
        rig.machine().devices.FindDevice(id)->removeFlags = os::DI_NEEDREBOOT;
    }
    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_RESTART_NEEDED);
    EXPECT_TRUE(rig.machine().devices.DevicesWithHardwareId("*tspvdbusDevice").empty());
}

TEST(Uninstall, OnlyTheEditionsDriverPackagesLeaveTheStore) {
    CUninstallRig rig(Make(Edition::Server, Windows::Seven));
    rig.machine().devices.StageInf("oem3.inf", "E:\\vendor\\other.inf", "[Version]\r\nClass=Net\r\n");
    rig.Install();
    // An older build's package of the same INF, staged under a name of its own.
    rig.machine().devices.StageInf("oem9.inf", "C:\\old\\tspvdbus.inf", "[Version]\r\nDriverVer=01/01/2011,3.6\r\n");
    ASSERT_EQ(rig.machine().devices.DriverStore().size(), 3u);

    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    ASSERT_EQ(rig.machine().devices.DriverStore().size(), 1u);
    EXPECT_EQ(rig.machine().devices.DriverStore()[0].name, "oem3.inf");
}

TEST(Uninstall, ALongDriverStoreListIsReadWhole) {
    for (bool shortListSucceeds : {false, true}) {
        CUninstallRig rig(Make(Edition::Server, Windows::Seven));
        rig.Install();
        // More names than a first read takes; the product's package comes last.
        const std::vector<fake::CFakeDevices::StagedInf> ours = rig.machine().devices.DriverStore();
        for (int i = 0; i < 6000; ++i) {
            rig.machine().devices.StageInf("machine_" + std::to_string(10000 + i) + ".inf", "", "");
        }
        rig.machine().devices.StageInf("oem5.inf", ours[0].source, ours[0].content);
        rig.machine().devices.shortListSucceeds = shortListSucceeds;
        ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE) << shortListSucceeds;
        for (const auto& staged : rig.machine().devices.DriverStore()) {
            EXPECT_EQ(staged.name.compare(0, 8, "machine_"), 0) << staged.name;
        }
        EXPECT_EQ(rig.machine().devices.DriverStore().size(), 6000u);
    }
}

TEST(Uninstall, APackageThatOnlyGoesWhenForcedIsForcedOnceTheDevicesAreGone) {
    CUninstallRig rig(Make(Edition::Server, Windows::Seven));
    rig.Install();
    rig.machine().devices.uninstallNeedsForce = true;  // as Wine's SetupAPI
    const std::string precompiled = rig.machine().kernel.windowsDirectory + "\\INF\\oem0.pnf";
    rig.machine().files.PutFile(precompiled, "precompiled");
    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    EXPECT_TRUE(rig.machine().devices.DriverStore().empty());
    EXPECT_FALSE(rig.machine().files.FileExists(precompiled));
}

TEST(Uninstall, APackageADeviceStillUsesStaysAndIsNamed) {
    CUninstallRig rig(Make(Edition::Server, Windows::Seven));
    rig.Install();
    // A device of another id bound to the product's INF: not the uninstaller's to take.
    fake::CFakeDevices::Device& other =
        rig.machine().devices.AddDevice("ROOT\\SYSTEM\\0042", os::GUID_DEVCLASS_SYSTEM, {"*otherDevice"});
    other.driverInf = rig.machine().devices.DriverStore().back().name;

    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_INCOMPLETE);
    EXPECT_EQ(result.stayed, (std::vector<std::string>{"driver package tspvdbus.inf"}));
    EXPECT_TRUE(HasLine(rig.UninstallLogLines(), "failed on SetupUninstallOEMInf()(0xe000023d)"));
}

TEST(Uninstall, FirewallRulesOfTheProgramGoButNotTheUsersOwn) {
    CUninstallRig rig;
    rig.Install();
    fake::CFakeFirewall& firewall = rig.machine().firewall;
    ASSERT_EQ(firewall.rules.size(), 2u);
    const std::u16string program = fake::CFakeFirewall::Utf16(std::string(CInstallRig::SYSTEM) + "\\tessaportwssrv.exe");
    fake::CFakeFirewall::Rule own;
    own.name = u"My rule for the service";
    own.applicationName = program;
    own.direction = os::NET_FW_RULE_DIR_IN;
    firewall.rules.insert(firewall.rules.begin(), own);
    fake::CFakeFirewall::Rule other;
    other.name = fake::CFakeFirewall::Utf16("Tessaport RDP Edition Workstation Service");
    other.applicationName = u"C:\\Other\\program.exe";
    firewall.rules.push_back(other);

    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    ASSERT_EQ(firewall.rules.size(), 2u);
    EXPECT_EQ(firewall.rules[0], own);
    EXPECT_EQ(firewall.rules[1], other);
    EXPECT_EQ(firewall.LiveInterfaceCount(), 0u);
}

TEST(Uninstall, WithoutTheRuleInterfaceTheAuthorizedApplicationGoes) {
    CUninstallRig rig;
    rig.machine().firewall.ruleInterface = false;
    rig.Install();
    auto& listed = rig.machine().firewall.authorizedApplications[os::NET_FW_PROFILE_STANDARD];
    ASSERT_EQ(listed.size(), 1u);
    listed.push_back({u"C:\\Other\\program.exe", u"Other", true});

    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].imageFileName, u"C:\\Other\\program.exe");
}

TEST(Uninstall, RulesThatCannotBeListedGoByTheirNames) {
    CUninstallRig rig;
    rig.Install();
    fake::CFakeFirewall& firewall = rig.machine().firewall;
    ASSERT_EQ(firewall.rules.size(), 2u);
    rig.machine().Faults().FailCall("INetFwRules::get__NewEnum", 0, os::E_NOTIMPL);

    ASSERT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
    EXPECT_TRUE(firewall.rules.empty());
}

TEST(Uninstall, AFirewallThatCannotBeReachedIsNamedAsStaying) {
    CUninstallRig rig;
    rig.Install();
    rig.machine().firewall.localPolicyError = os::HResultFromWin32(1068);  // the firewall service is stopped
    const UninstallResult result = rig.Uninstall();
    EXPECT_EQ(result.code, UNINSTALL_INCOMPLETE);
    EXPECT_EQ(result.stayed,
              (std::vector<std::string>{"firewall rules Tessaport RDP Edition Workstation Service"}));
    const std::vector<std::string> lines = rig.UninstallLogLines();
    EXPECT_TRUE(HasLine(lines, "=== Error removing firewall rules ==="));
    EXPECT_TRUE(HasLine(lines, "Error code = 0x8007042c\nError arg0 = 0x001a0040"));
    EXPECT_EQ(rig.machine().firewall.rules.size(), 2u);
}

// ---- the end of a run ---------------------------------------------------------------------------

TEST(UninstallEnd, SilentRunsShowNothingAndRestartUnlessTold) {
    using M = UninstallMessage;
    struct Row {
        int copy;
        bool silent, noRestart;
        int exitCode;
        M message;
        bool restart;
    };
    const Row rows[] = {
        {UNINSTALL_DONE, false, false, 0, M::Removed, false},
        {UNINSTALL_DONE, true, false, 0, M::None, false},
        {UNINSTALL_DONE, true, true, 0, M::None, false},
        {UNINSTALL_RESTART_NEEDED, false, false, -9, M::RestartQuestion, false},
        // Without -silent, -norestart changes nothing: the user is asked.
        {UNINSTALL_RESTART_NEEDED, false, true, -9, M::RestartQuestion, false},
        {UNINSTALL_RESTART_NEEDED, true, false, 0, M::None, true},
        {UNINSTALL_RESTART_NEEDED, true, true, -9, M::None, false},
        {UNINSTALL_NOT_ADMIN, false, false, -3, M::NotAdministrator, false},
        {UNINSTALL_NOT_ADMIN, true, false, -3, M::None, false},
        {UNINSTALL_INCOMPLETE, false, false, -10, M::Incomplete, false},
        {UNINSTALL_INCOMPLETE, true, true, -10, M::None, false},
        // A copy ended by force, or one that crashed, did not finish.
        {-1, false, false, -10, M::Incomplete, false},
        {static_cast<int>(0xC0000005u), true, false, -10, M::None, false},
        {UNINSTALL_CANCELLED, false, false, -10, M::Incomplete, false},
    };
    for (const Row& row : rows) {
        const UninstallEnd end = PlanUninstallEnd(row.copy, row.silent, row.noRestart);
        EXPECT_EQ(end.exitCode, row.exitCode) << row.copy << " " << row.silent << row.noRestart;
        EXPECT_EQ(end.message, row.message) << row.copy << " " << row.silent << row.noRestart;
        EXPECT_EQ(end.restart, row.restart) << row.copy << " " << row.silent << row.noRestart;
    }
}

// ---- usbd.sys of the server edition ------------------------------------------------------------

TEST(Uninstall, TheUsbLibraryGoesOnlyWhenItIsStillTheCopyTheInstallationPlaced) {
    const std::string usbd = std::string(CInstallRig::DRIVERS) + "\\usbd.sys";
    {
        // Windows lacked it: the installation placed it and recorded what it placed.
        CUninstallRig rig(Make(Edition::Server, Windows::Seven));
        rig.Install();
        ASSERT_TRUE(rig.machine().files.FileExists(usbd));
        const auto record = rig.machine().registry.GetString(UninstallKey(rig), "UsbLibraryMD5");
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->size(), 32u);
        EXPECT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
        EXPECT_FALSE(rig.machine().files.FileExists(usbd));
    }
    {
        // Windows had its own: nothing recorded, nothing taken.
        CUninstallRig rig(Make(Edition::Server, Windows::Seven, true));
        rig.Install();
        EXPECT_FALSE(rig.machine().registry.GetString(UninstallKey(rig), "UsbLibraryMD5").has_value());
        EXPECT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
        EXPECT_EQ(rig.machine().files.Text(usbd), "Windows' own usbd.sys");
        EXPECT_TRUE(HasLine(rig.UninstallLogLines(), "Keep File: " + usbd));
    }
    {
        // Placed by the installation, replaced by Windows since: Windows' copy stays.
        CUninstallRig rig(Make(Edition::Server, Windows::Seven));
        rig.Install();
        rig.machine().files.PutFile(usbd, "a Windows update's usbd.sys");
        EXPECT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
        EXPECT_EQ(rig.machine().files.Text(usbd), "a Windows update's usbd.sys");
    }
    {
        // A second installation over the first keeps the first one's record.
        CUninstallRig rig(Make(Edition::Server, Windows::Seven));
        rig.Install();
        const auto first = rig.machine().registry.GetString(UninstallKey(rig), "UsbLibraryMD5");
        rig.Install();
        EXPECT_EQ(rig.machine().registry.GetString(UninstallKey(rig), "UsbLibraryMD5"), first);
        EXPECT_EQ(rig.Uninstall().code, UNINSTALL_DONE);
        EXPECT_FALSE(rig.machine().files.FileExists(usbd));
    }
}

}  // namespace
