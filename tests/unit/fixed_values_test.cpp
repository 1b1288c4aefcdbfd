// The installer's fixed numbers, each written out here as a literal: every failure location
// with the fault that reaches it, the pauses on the clock, the extract order, the Citrix
// support step's event, time limit and command lines, the firewall values, and the flags and
// values handed to SetupAPI, newdev and the service manager. None of the expected values is
// taken from the product's own tables or constants, so a number changed in the product
// cannot carry its test along with it.
#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "fake/fake_firewall.h"
#include "install_process_test_support.h"

namespace fake {
// Comparison and output of the fake's records (only these tests compare them).
inline bool operator==(const CFakeProcesses::EventRequest& a, const CFakeProcesses::EventRequest& b) {
    return a.name == b.name && a.manualReset == b.manualReset && a.initialState == b.initialState &&
           a.security == b.security;
}
inline std::ostream& operator<<(std::ostream& out, const CFakeProcesses::EventRequest& e) {
    return out << "{" << e.name << " manual " << e.manualReset << " initial " << e.initialState << " security "
               << e.security << "}";
}
inline bool operator==(const CFakeProcesses::WaitRequest& a, const CFakeProcesses::WaitRequest& b) {
    return a.object == b.object && a.milliseconds == b.milliseconds;
}
inline std::ostream& operator<<(std::ostream& out, const CFakeProcesses::WaitRequest& w) {
    return out << "{" << w.object << " " << w.milliseconds << " ms}";
}
}  // namespace fake

using namespace installtest;
using enginetest::Raised;
using enginetest::RaisedBy;

namespace {

constexpr Edition WS = Edition::Workstation;
constexpr Edition SV = Edition::Server;
constexpr Windows W7 = Windows::Seven;
constexpr Windows XP = Windows::Xp64;

constexpr os::DWORD DENIED = 5;      // the error most faults below fail with
constexpr os::DWORD DISK_FULL = 112;  // a write's
constexpr std::uint32_t ANY_CODE = 0xFFFFFFFFu;  // the last error of a lookup that sets none

const std::string WS_TARGET = "C:\\Program Files\\Tessaport RDP Edition - Workstation";
const std::string SV_TARGET = "C:\\Program Files\\Tessaport RDP Edition - Server";
const std::string CITRIX_PROGRAM = WS_TARGET + "\\tsport_rde_installer.exe";
const std::string RESTART_EVENT = "Global\\{3448EDF9-E4FA-4C0F-8137-13EE6B9D972E}";

std::string Hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.8x", static_cast<unsigned>(value));
    return text;
}

std::string InstallErrorText(std::uint32_t code, std::uint32_t arg0) {
    return "Error during installation.\nError code = 0x" + Hex8(code) + "\nError arg0 = 0x" + Hex8(arg0);
}

std::string FirewallErrorText(std::uint32_t code, std::uint32_t arg0) {
    return "Error occured while creating firewall rules.\nError code = 0x" + Hex8(code) + "\nError arg0 = 0x" +
           Hex8(arg0);
}

const char* ServiceProgram(Edition edition) {
    return edition == WS ? "tessaportwssrv.exe" : "tessaporttssrv.exe";
}

// Forgets what the rig and its machine recorded so far.
void Forget(CInstallRig& rig) {
    rig.host.progress.clear();
    rig.host.boxes.clear();
    rig.rebootFlag = 0;
    rig.failed = 0;
    rig.machine.Faults().Clear();
    rig.machine.kernel.sleeps.clear();
    rig.machine.devices.calls.clear();
    rig.machine.services.requests.clear();
    rig.machine.processes.eventRequests.clear();
    rig.machine.processes.waitRequests.clear();
    rig.machine.firewall.valuesSet.clear();
}

// An older build of the edition installed and the machine restarted: what an upgrade finds.
void InstallOlderBuild(CInstallRig& rig) {
    rig.SetPackage(PackageEntries(rig.scenario.edition, 2));
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    ASSERT_EQ(rig.failed, 0);
    rig.SetPackage(rig.entries);
    rig.RestartMachine();
    Forget(rig);
}

// What the machine holds before the installation starts.
enum class Before {
    Nothing,              // it never had the product
    OlderBuild,           // an upgrade
    ServiceProgram,       // the service program's file is in the system folder already
    ServiceProgramInUse,  // the same, held open by a running process without write sharing
};

// A rig arranged as before says, without missingEntry in its package, its process created
// and its package checked, nothing recorded yet: the next call the fault plan counts is the
// installation's first.
std::unique_ptr<CInstallRig> Prepare(Edition edition, Windows windows, Before before,
                                     const char* missingEntry = nullptr) {
    Scenario scenario;
    scenario.edition = edition;
    scenario.windows = windows;
    auto rig = std::make_unique<CInstallRig>(scenario);
    const std::string program = std::string(CInstallRig::SYSTEM) + "\\" + ServiceProgram(edition);
    switch (before) {
        case Before::Nothing:
            break;
        case Before::OlderBuild:
            InstallOlderBuild(*rig);
            break;
        case Before::ServiceProgram:
            rig->machine.files.PutFile(program, "a service program left behind");
            break;
        case Before::ServiceProgramInUse:
            rig->machine.files.PutFile(program, "a service program that runs");
            rig->machine.files.Lock(program, os::GENERIC_READ, os::FILE_SHARE_READ);
            break;
    }
    if (missingEntry != nullptr) {
        std::vector<package::PackEntry> entries;
        for (const package::PackEntry& entry : rig->entries) {
            if (entry.name != missingEntry) entries.push_back(entry);
        }
        EXPECT_EQ(entries.size() + 1, rig->entries.size()) << missingEntry;
        rig->SetPackage(entries);
    }
    rig->Create();
    EXPECT_EQ(rig->process->CheckPackage(), PACK_OK);
    Forget(*rig);
    return rig;
}

// Runs the installation and ends the run as the application does.
void InstallAndEnd(CInstallRig& rig) {
    rig.Install();
    rig.process.reset();
}

// ---- failure locations of whole installations ------------------------------------------------

// The fault that reaches a location: the nth call of a seam call since the installation
// began fails (or runs out of memory); with after, the first such call that follows the
// nth call of after.
struct Fault {
    const char* call = nullptr;  // none: the missing entry alone fails the step
    unsigned nth = 1;
    const char* after = nullptr;
    os::DWORD error = DENIED;
    bool outOfMemory = false;
};

struct LocationRow {
    std::uint32_t arg0;
    std::uint32_t code;  // ANY_CODE: whatever the last error was
    Edition edition;
    Windows windows;
    Before before;
    const char* missingEntry;
    Fault fault;
};

// Locations no fault can reach, and why:
//   module 4096, 673: "tspvd_vista.sys" is looked up by the system-files step first (427);
//   module 4096, 706: "tspvdbus.sys" is looked up by the system-files step first (442);
//   module 19, 50 and 105: the log writer and the package reader are allocated without
//     throwing and only fail when the heap is exhausted, which no seam call can arrange;
//   module 19, 2168: an engine without a service manager handle is never made (71 first).
const LocationRow INSTALL_LOCATIONS[] = {
    // The workstation edition's steps (module 4096).
    {0x10000165, DENIED, WS, W7, Before::Nothing, nullptr, {"GetSystemDirectoryA", 1}},
    {0x10000168, ANY_CODE, WS, W7, Before::Nothing, "tessaportwssrv.exe", {}},
    {0x10000171, ANY_CODE, WS, W7, Before::Nothing, "tsprdpclnt.dll", {}},
    {0x10000176, ANY_CODE, WS, W7, Before::Nothing, "tspctxclnt.dll", {}},
    {0x100001a4, ANY_CODE, WS, W7, Before::Nothing, "tsppnptls.sys", {}},
    {0x100001ab, ANY_CODE, WS, W7, Before::Nothing, "tspvd_vista.sys", {}},
    {0x100001b0, ANY_CODE, WS, XP, Before::Nothing, "tspvd.sys", {}},
    {0x1000022c, ANY_CODE, WS, W7, Before::Nothing, "tessaportws.exe", {}},
    {0x1000023d, ANY_CODE, WS, W7, Before::Nothing, "tsport_rde_installer.exe", {}},
    {0x10000245, ANY_CODE, WS, W7, Before::Nothing, "tessaport-ws-license.txt", {}},
    {0x1000024a, ANY_CODE, WS, W7, Before::Nothing, "readme.txt", {}},
    {0x1000024f, ANY_CODE, WS, W7, Before::Nothing, "tessaport-ws-help.chm", {}},
    {0x10000254, ANY_CODE, WS, W7, Before::Nothing, "uninstall.exe", {}},
    {0x10000274, DENIED, WS, W7, Before::Nothing, nullptr, {"GetSystemDirectoryA", 2}},
    {0x10000288, DENIED, WS, XP, Before::Nothing, nullptr, {"CreateServiceA", 1}},
    {0x10000297, DENIED, WS, W7, Before::Nothing, nullptr, {"CreateServiceA", 1}},
    {0x10000297, DENIED, WS, XP, Before::Nothing, nullptr, {"CreateServiceA", 2}},
    {0x100002a7, ANY_CODE, WS, W7, Before::Nothing, "tspvd_vista.cat", {}},
    {0x100002ac, ANY_CODE, WS, W7, Before::Nothing, "tspvd.inf", {}},
    {0x100002b4, DENIED, WS, W7, Before::Nothing, nullptr, {"SetupCopyOEMInfA", 1}},
    {0x10000347, DENIED, WS, W7, Before::Nothing, nullptr, {"GetSystemDirectoryA", 3}},
    {0x10000358, DENIED, WS, W7, Before::Nothing, nullptr, {"CreateServiceA", 2}},
    {0x1000038e, DENIED, WS, W7, Before::Nothing, nullptr, {"SHGetSpecialFolderPathA", 1}},
    // Running out of memory in a step.
    {0x1000000e, 0x8007000e, WS, W7, Before::Nothing, nullptr, {"CreateServiceA", 1, nullptr, 0, true}},
    // The server edition's steps (module 4096).
    {0x10000165, DENIED, SV, W7, Before::Nothing, nullptr, {"GetSystemDirectoryA", 1}},
    {0x10000168, ANY_CODE, SV, W7, Before::Nothing, "tessaporttssrv.exe", {}},
    {0x100001ba, ANY_CODE, SV, W7, Before::Nothing, "tspvdbus.sys", {}},
    {0x1000022c, ANY_CODE, SV, W7, Before::Nothing, "tessaportts.exe", {}},
    {0x10000245, ANY_CODE, SV, W7, Before::Nothing, "tessaport-ts-license.txt", {}},
    {0x1000024a, ANY_CODE, SV, XP, Before::Nothing, "readme.txt", {}},
    {0x1000024f, ANY_CODE, SV, W7, Before::Nothing, "tessaport-ts-help.chm", {}},
    {0x10000254, ANY_CODE, SV, W7, Before::Nothing, "uninstall.exe", {}},
    {0x10000274, DENIED, SV, W7, Before::Nothing, nullptr, {"GetSystemDirectoryA", 2}},
    {0x100002c7, ANY_CODE, SV, W7, Before::Nothing, "tspvdbus.inf", {}},
    {0x100002cc, ANY_CODE, SV, W7, Before::Nothing, "tspvdbus.cat", {}},
    {0x100002ea, DENIED, SV, W7, Before::Nothing, nullptr, {"SetupCopyOEMInfA", 1}},
    {0x10000347, DENIED, SV, W7, Before::Nothing, nullptr, {"GetSystemDirectoryA", 3}},
    {0x10000358, DENIED, SV, W7, Before::Nothing, nullptr, {"CreateServiceA", 1}},
    {0x1000038e, DENIED, SV, W7, Before::Nothing, nullptr, {"SHGetSpecialFolderPathA", 1}},
    // The engine's files and directories (module 19).
    {0x001301a7, DENIED, WS, W7, Before::ServiceProgram, nullptr, {"CopyFileA", 1}},
    {0x0013026a, DENIED, WS, W7, Before::Nothing, nullptr, {"CreateFileA", 1}},
    {0x00130280, DENIED, WS, W7, Before::ServiceProgramInUse, nullptr, {"CreateFileA", 2}},
    {0x0013028a, DISK_FULL, WS, W7, Before::ServiceProgramInUse, nullptr, {"WriteFile", 1, "SetEndOfFile", DISK_FULL}},
    {0x00130293, DENIED, SV, W7, Before::ServiceProgramInUse, nullptr, {"MoveFileExA", 1}},
    {0x001302a4, DISK_FULL, SV, W7, Before::Nothing, nullptr, {"WriteFile", 1, "SetEndOfFile", DISK_FULL}},
    {0x001302d3, DENIED, WS, W7, Before::Nothing, nullptr, {"CreateDirectoryA", 1}},
    // Services (module 19).
    {0x0013087f, DENIED, SV, W7, Before::Nothing, nullptr, {"OpenServiceA", 2}},
    // Devices (module 19); 1880 is a device search that stopped before it saw every device.
    {0x001306fc, DENIED, SV, W7, Before::Nothing, nullptr, {"SetupDiGetINFClassA", 1}},
    {0x00130706, DENIED, SV, W7, Before::Nothing, nullptr, {"SetupDiCreateDeviceInfoList", 1}},
    {0x00130717, DENIED, SV, W7, Before::Nothing, nullptr, {"SetupDiCreateDeviceInfoA", 1}},
    {0x00130724, DENIED, SV, W7, Before::Nothing, nullptr, {"SetupDiSetDeviceRegistryPropertyA", 1}},
    {0x00130730, DENIED, SV, W7, Before::Nothing, nullptr, {"SetupDiCallClassInstaller", 1}},
    {0x00130742, DENIED, SV, W7, Before::Nothing, nullptr, {"UpdateDriverForPlugAndPlayDevicesA", 1}},
    {0x00130742, DENIED, SV, XP, Before::Nothing, nullptr, {"UpdateDriverForPlugAndPlayDevicesA", 2}},
    {0x00130758, 8, SV, W7, Before::Nothing, nullptr, {"SetupDiEnumDeviceInfo", 1, nullptr, 8}},
    {0x0013076a, DENIED, SV, W7, Before::OlderBuild, nullptr, {"UpdateDriverForPlugAndPlayDevicesA", 1}},
    // Shortcuts (module 19): the main Start Menu link is the first made.
    {0x00130327, DENIED, WS, W7, Before::Nothing, nullptr, {"CoInitialize", 1}},
    {0x0013032f, DENIED, WS, W7, Before::Nothing, nullptr, {"CoCreateInstance", 1}},
    {0x00130333, DENIED, SV, W7, Before::Nothing, nullptr, {"IShellLinkA::QueryInterface", 1}},
    {0x00130337, DENIED, WS, W7, Before::Nothing, nullptr, {"IShellLinkA::SetPath", 1}},
    {0x0013033d, DENIED, SV, W7, Before::Nothing, nullptr, {"IShellLinkA::SetDescription", 1}},
    {0x00130349, DENIED, WS, XP, Before::Nothing, nullptr, {"IShellLinkA::SetWorkingDirectory", 1}},
    {0x0013034e, DENIED, WS, W7, Before::Nothing, nullptr, {"IShellLinkA::SetIconLocation", 1}},
    {0x00130359, DENIED, WS, W7, Before::OlderBuild, nullptr, {"IPersistFile::Save", 1}},
};

// The position (1-based, among all calls) of the first call named call that follows the
// nth call named after; 0 when there is none.
unsigned Following(const std::vector<std::string>& calls, const char* after, unsigned nth, const char* call) {
    unsigned seen = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (seen < nth) {
            if (calls[i] == after) ++seen;
            continue;
        }
        if (calls[i] == call) return static_cast<unsigned>(i + 1);
    }
    return 0;
}

TEST(FixedValues, EveryLocationOfAWholeInstallationIsShownWithItsArg0AndCode) {
    for (const LocationRow& row : INSTALL_LOCATIONS) {
        const std::string name = std::string(row.edition == WS ? "workstation" : "server") +
                                 (row.windows == W7 ? " 7 " : " XP ") + "arg0 0x" + Hex8(row.arg0) + " " +
                                 (row.missingEntry != nullptr ? row.missingEntry : row.fault.call);
        SCOPED_TRACE(name);
        unsigned position = 0;
        if (row.fault.after != nullptr) {
            // The same run without the fault tells which call is the one.
            std::unique_ptr<CInstallRig> probe = Prepare(row.edition, row.windows, row.before, row.missingEntry);
            InstallAndEnd(*probe);
            ASSERT_EQ(probe->failed, 0);
            position = Following(probe->machine.Faults().Calls(), row.fault.after, row.fault.nth, row.fault.call);
            ASSERT_NE(position, 0u);
        }
        std::unique_ptr<CInstallRig> rig = Prepare(row.edition, row.windows, row.before, row.missingEntry);
        fake::CFaultPlan& plan = rig->machine.Faults();
        if (position != 0) {
            plan.FailNth(position, row.fault.error);
        } else if (row.fault.call != nullptr && row.fault.outOfMemory) {
            plan.ThrowCall(row.fault.call, row.fault.nth);
        } else if (row.fault.call != nullptr) {
            plan.FailCall(row.fault.call, row.fault.nth, row.fault.error);
        }
        InstallAndEnd(*rig);

        EXPECT_EQ(rig->failed, 1);
        ASSERT_EQ(rig->host.boxes.size(), 1u);
        const std::string& text = rig->host.boxes[0].text;
        if (row.code == ANY_CODE) {
            const std::string arg0 = "\nError arg0 = 0x" + Hex8(row.arg0);
            EXPECT_EQ(text.rfind("Error during installation.\nError code = 0x", 0), 0u) << text;
            ASSERT_GE(text.size(), arg0.size());
            EXPECT_EQ(text.substr(text.size() - arg0.size()), arg0) << text;
        } else {
            EXPECT_EQ(text, InstallErrorText(row.code, row.arg0));
        }
        const std::vector<std::string> lines = rig->LogLines();
        const auto shown = std::find(lines.begin(), lines.end(), text);
        ASSERT_NE(shown, lines.end());
        ASSERT_NE(shown + 1, lines.end());
        EXPECT_EQ(*(shown + 1), "=== Rollback process ===");
    }
}

TEST(FixedValues, UnpackOnlyLocations) {
    struct Row {
        std::uint32_t arg0;
        std::uint32_t code;
        Edition edition;
        const char* failingCall;
        bool folderThere;
        const char* missingEntry;
    };
    const Row rows[] = {
        {0x100000f7, DENIED, WS, "GetCurrentDirectoryA", false, nullptr},
        {0x100000fd, 0xb7, SV, nullptr, true, nullptr},
        {0x10000105, ANY_CODE, WS, nullptr, false, "tessaportwssrv.exe"},
        {0x10000105, ANY_CODE, SV, nullptr, false, "tspvdbus.cat"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("0x" + Hex8(row.arg0));
        Scenario scenario;
        scenario.edition = row.edition;
        CInstallRig rig(scenario);
        if (row.missingEntry != nullptr) {
            std::vector<package::PackEntry> entries;
            for (const package::PackEntry& entry : rig.entries) {
                if (entry.name != row.missingEntry) entries.push_back(entry);
            }
            rig.SetPackage(entries);
        }
        const std::string folder = row.edition == WS ? "C:\\setup\\Tessaport RDP Edition - Workstation files"
                                                     : "C:\\setup\\Tessaport RDP Edition - Server files";
        if (row.folderThere) rig.machine.files.MakeDirectory(folder);
        if (row.failingCall != nullptr) rig.machine.Faults().FailCall(row.failingCall, 1, row.code);

        EXPECT_FALSE(rig.Create().UnpackOnly());

        ASSERT_EQ(rig.host.boxes.size(), 1u);
        const std::string& text = rig.host.boxes[0].text;
        if (row.code == ANY_CODE) {
            EXPECT_NE(text.find("\nError arg0 = 0x" + Hex8(row.arg0)), std::string::npos) << text;
        } else {
            EXPECT_EQ(text, InstallErrorText(row.code, row.arg0));
        }
        EXPECT_EQ(rig.LogLines().back(), "=== === ===");
    }
}

// The engine's construction failures, as the install process meets them at its creation.
TEST(FixedValues, EngineConstructionLocations) {
    {
        CInstallRig rig;
        rig.machine.security.MakeStandardUser();
        EXPECT_EQ(RaisedBy([&] { rig.Create(); }), (Raised{19, 62, 1313}));
        EXPECT_EQ(rig.LogText(), "Error: No such admin privilege\r\n");
    }
    {
        CInstallRig rig;
        rig.machine.Faults().FailCall("OpenSCManagerA", 1, DENIED);
        EXPECT_EQ(RaisedBy([&] { rig.Create(); }), (Raised{19, 71, 5}));
        EXPECT_EQ(rig.LogText(), "Error: Init Service Control Manager\r\n");
    }
    // An engine that opens its package at once raises the reader's status, split in halves.
    {
        CInstallRig rig;
        std::vector<std::uint8_t> image = rig.machine.files.Content(rig.machine.kernel.modulePath);
        image[image.size() - 10] ^= 0x55;
        rig.machine.files.PutFile(rig.machine.kernel.modulePath, image);
        EXPECT_EQ(RaisedBy([&] { enginetest::CTestInstaller engine(rig.logFile, 1, 1, 0); }),
                  (Raised{0xFFFF, 0xFFFE, 1359}));
        EXPECT_EQ(rig.LogText(), "Error: Init installer\r\n");
    }
    {
        CInstallRig rig;
        rig.machine.files.Remove(rig.machine.kernel.modulePath);
        EXPECT_EQ(RaisedBy([&] { enginetest::CTestInstaller engine(rig.logFile, 1, 1, 0); }),
                  (Raised{0xFFFF, 0xFFFF, 1359}));
    }
}

// ---- the firewall step's locations ---------------------------------------------------------

enum class Firewall {
    Rules,          // the rule interface, no rule of ours yet
    RulesThere,     // the rule interface, both rules of an earlier run there
    Older,          // only the authorized-applications interface, the program not listed
    OlderListed,    // the same, the program listed
};

// Locations no fault can reach: module 26, 430, 438, 449, 732 and 781, and module 4096, 101,
// are copies of strings in memory with no seam call on the way.
TEST(FixedValues, TheFirewallStepLogsEveryLocationWithItsArg0AndCode) {
    struct Row {
        std::uint32_t arg0;
        std::uint32_t code;
        Firewall firewall;
        const char* call;
        unsigned nth;
        os::DWORD error;
        bool outOfMemory;
    };
    const Row rows[] = {
        // The step's own (module 4096).
        {0x10000058, 0x00000005, Firewall::Rules, "GetSystemDirectoryA", 1, DENIED, false},
        {0x10000061, 0x8007000e, Firewall::Rules, "GetSystemDirectoryA", 1, 0, true},
        {0x1000006d, 0x00000459, Firewall::Rules, "MultiByteToWideChar", 1, 1113, false},
        {0x10000075, 0x00000459, Firewall::Rules, "MultiByteToWideChar", 3, 1113, false},
        // The firewall's (module 26).
        {0x001a0027, 0x80070005, Firewall::Rules, "CoInitialize", 1, DENIED, false},
        {0x001a0037, 0x80070005, Firewall::Rules, "CoCreateInstance(NetFwMgr)", 1, DENIED, false},
        {0x001a0040, 0x80070005, Firewall::Rules, "INetFwMgr::get_LocalPolicy", 1, DENIED, false},
        {0x001a0049, 0x80070005, Firewall::Older, "INetFwPolicy::get_CurrentProfile", 1, DENIED, false},
        {0x001a01a5, 0x80070005, Firewall::Rules, "INetFwPolicy2::get_Rules", 1, DENIED, false},
        {0x001a01d7, 0x80070005, Firewall::RulesThere, "INetFwRule::put_Enabled", 1, DENIED, false},
        {0x001a01df, 0x80070005, Firewall::RulesThere, "INetFwRule::put_Action", 1, DENIED, false},
        {0x001a0203, 0x8007000e, Firewall::Rules, "INetFwRules::Add", 1, DENIED, false},
        {0x001a0212, 0x80070005, Firewall::RulesThere, "INetFwRule::put_Enabled", 2, DENIED, false},
        {0x001a021a, 0x80070005, Firewall::RulesThere, "INetFwRule::put_Action", 2, DENIED, false},
        {0x001a023e, 0x8007000e, Firewall::Rules, "INetFwRules::Add", 2, DENIED, false},
        {0x001a02d3, 0x80070005, Firewall::Older, "INetFwProfile::get_AuthorizedApplications", 1, DENIED, false},
        {0x001a02e9, 0x8007000e, Firewall::OlderListed, "INetFwAuthorizedApplication::put_Enabled", 1, DENIED, false},
        {0x001a02fb, 0x80070005, Firewall::Older, "CoCreateInstance(NetFwAuthorizedApplication)", 1, DENIED, false},
        {0x001a0304, 0x80070005, Firewall::Older, "INetFwAuthorizedApplication::put_ProcessImageFileName", 1, DENIED,
         false},
        {0x001a0316, 0x80070005, Firewall::Older, "INetFwAuthorizedApplication::put_Name", 1, DENIED, false},
        {0x001a031f, 0x80070005, Firewall::Older, "INetFwAuthorizedApplications::Add", 1, DENIED, false},
    };
    const std::u16string path = u"C:\\Windows\\system32\\tessaportwssrv.exe";
    const std::u16string name = u"Tessaport RDP Edition Workstation Service";
    for (const Row& row : rows) {
        SCOPED_TRACE("0x" + Hex8(row.arg0) + " " + row.call);
        CInstallRig rig;
        rig.Create();
        fake::CFakeFirewall& firewall = rig.machine.firewall;
        firewall.ruleInterface = row.firewall == Firewall::Rules || row.firewall == Firewall::RulesThere;
        if (row.firewall == Firewall::RulesThere) {
            rig.process->CreateFirewallRules();
            ASSERT_EQ(firewall.rules.size(), 2u);
        }
        if (row.firewall == Firewall::OlderListed) {
            firewall.authorizedApplications[1] = {fake::CFakeFirewall::AuthorizedApplication{path, name, false}};
        }
        if (row.outOfMemory) {
            rig.machine.Faults().ThrowCall(row.call, row.nth);
        } else {
            rig.machine.Faults().FailCall(row.call, row.nth, row.error);
        }
        const std::size_t logged = rig.LogText().size();

        EXPECT_NO_THROW(rig.process->CreateFirewallRules());

        const std::string tail =
            "=== Error creating firewall rules ===\r\n" + FirewallErrorText(row.code, row.arg0) + "\r\n";
        const std::string log = rig.LogText().substr(logged);
        ASSERT_GE(log.size(), tail.size()) << log;
        EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
        EXPECT_EQ(log.rfind("Create Firewall rules\r\n", 0), 0u) << log;
        EXPECT_TRUE(rig.host.boxes.empty());
    }
}

// ---- pauses ----------------------------------------------------------------------------------

std::vector<os::DWORD> Repeated(std::size_t count, os::DWORD milliseconds) {
    return std::vector<os::DWORD>(count, milliseconds);
}

std::vector<os::DWORD> Joined(std::initializer_list<std::vector<os::DWORD>> parts) {
    std::vector<os::DWORD> all;
    for (const std::vector<os::DWORD>& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(FixedValues, PausesOfWholeInstallationsOnTheFakeClock) {
    for (Edition edition : {WS, SV}) {
        SCOPED_TRACE(edition == WS ? "workstation" : "server");
        std::unique_ptr<CInstallRig> rig = Prepare(edition, W7, Before::Nothing);
        InstallAndEnd(*rig);
        ASSERT_EQ(rig->failed, 0);
        EXPECT_EQ(rig->machine.kernel.sleeps, (std::vector<os::DWORD>{200, 200, 200, 200, 1000}));
    }
    // An upgrade on Windows 7: no stub driver service, the old service runs and is stopped
    // first (one poll), then the pre-step's own pause.
    std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::OlderBuild);
    ASSERT_EQ(rig->machine.services.State("tessaportwssrv"), os::SERVICE_RUNNING);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 0);
    EXPECT_EQ(rig->machine.kernel.sleeps, (std::vector<os::DWORD>{500, 200, 200, 200, 200, 200, 1000}));
}

TEST(FixedValues, PausesOfARollbackOnTheFakeClock) {
    // A failure in the driver row: nothing was started, nothing has to be waited for.
    {
        std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::Nothing);
        rig->machine.Faults().FailCall("SetupCopyOEMInfA", 1, DENIED);
        InstallAndEnd(*rig);
        ASSERT_EQ(rig->failed, 1);
        EXPECT_EQ(rig->machine.kernel.sleeps,
                  (std::vector<os::DWORD>{200, 200, 200, 200, 2000, 500, 500, 500, 500, 500, 1000}));
    }
    // A failure after the services were started: the main service (there before, stopped)
    // takes three polls to stop, the driver made by the run one.
    {
        std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::Nothing);
        fake::CFakeServices::Config config;
        config.imagePath = "C:\\Windows\\system32\\tessaportwssrv.exe";
        rig->machine.services.AddService("tessaportwssrv", config).behaviour.stopQueries = 3;
        rig->machine.Faults().FailCall("CoCreateInstance", 1, DENIED);
        InstallAndEnd(*rig);
        ASSERT_EQ(rig->failed, 1);
        EXPECT_EQ(rig->machine.kernel.sleeps,
                  Joined({{200, 200, 200, 200}, {500, 500, 500}, {500}, {2000, 500, 500, 500, 500, 500, 1000}}));
    }
}

// Stopping polls every 500 ms: at most 40 times before a rollback, at most 20 times when
// the rollback deletes the service; a service that stops sooner ends the polls at once.
TEST(FixedValues, ServiceStopPolls) {
    struct Row {
        int stopQueries;  // -1: never stops
        bool uninstall;
        std::size_t polls;
    };
    const Row rows[] = {{-1, false, 40}, {-1, true, 20}, {2, false, 2}, {5, true, 5}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.stopQueries) + (row.uninstall ? " uninstall" : " stop"));
        CInstallRig rig;
        fake::CFakeServices::Config config;
        config.imagePath = "C:\\Windows\\system32\\tessaportwssrv.exe";
        rig.machine.services.AddService("tessaportwssrv", config, os::SERVICE_RUNNING).behaviour.stopQueries =
            row.stopQueries;
        CInstallProcess& process = rig.Create();
        rig.machine.kernel.sleeps.clear();
        const std::uint32_t tick = rig.machine.kernel.tickCount;
        if (row.uninstall) {
            EXPECT_EQ(process.UninstallService("tessaportwssrv"), 1);
        } else {
            EXPECT_EQ(process.StopInstalledService("tessaportwssrv"), 1);
        }
        EXPECT_EQ(rig.machine.kernel.sleeps, Repeated(row.polls, 500));
        EXPECT_EQ(rig.machine.kernel.tickCount - tick, 500u * row.polls);
    }
}

// ---- the stop list before a rollback ---------------------------------------------------------

TEST(FixedValues, AServiceThatCannotBeStoppedKeepsTheRestOfTheStopListAlone) {
    // The main service was there before and refuses to stop; the driver it depends on would
    // be next in the list.
    std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::Nothing);
    fake::CFakeServices::Config config;
    config.imagePath = "C:\\Windows\\system32\\tessaportwssrv.exe";
    rig->machine.services.AddService("tessaportwssrv", config).behaviour.acceptsStop = false;
    rig->machine.Faults().FailCall("CoCreateInstance", 1, DENIED);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 1);

    const std::vector<std::string> lines = rig->LogLines();
    const auto first = std::find(lines.begin(), lines.end(), "Stop Installed Service: tessaportwssrv");
    ASSERT_NE(first, lines.end());
    const auto shown = std::find(first, lines.end(), InstallErrorText(5, 0x0013032f));
    ASSERT_NE(shown, lines.end());
    EXPECT_EQ(std::vector<std::string>(first, shown),
              (std::vector<std::string>{"Stop Installed Service: tessaportwssrv",
                                        "Warning: === Reboot required to complete operation ==="}));
}

TEST(FixedValues, TheStopListsOrderAndMembers) {
    struct Row {
        Edition edition;
        std::vector<std::string> stops;
    };
    const Row rows[] = {
        {WS, {"Stop Installed Service: tessaportwssrv", "Stop Installed Service: tsppnptls"}},
        {SV, {"Stop Installed Service: tessaporttssrv"}},
    };
    for (const Row& row : rows) {
        std::unique_ptr<CInstallRig> rig = Prepare(row.edition, W7, Before::Nothing);
        rig->machine.Faults().FailCall("CoCreateInstance", 1, DENIED);
        InstallAndEnd(*rig);
        ASSERT_EQ(rig->failed, 1);
        std::vector<std::string> stops;
        for (const std::string& line : rig->LogLines()) {
            if (line.rfind("Stop Installed Service: ", 0) == 0) stops.push_back(line);
        }
        EXPECT_EQ(stops, row.stops);
    }
}

// ---- the extract order of the unpack-only mode --------------------------------------------

TEST(FixedValues, UnpackOnlyExtractsTheDefinedNamesInTheirOrder) {
    struct Row {
        Edition edition;
        const char* folder;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {WS,
         "C:\\setup\\Tessaport RDP Edition - Workstation files",
         {"tessaportwssrv.exe", "tessaportws.exe", "tessaport-ws-license.txt", "tessaport-ws-license.rtf",
          "uninstall.exe", "readme.txt", "tessaport-ws-help.chm", "tspvd.inf", "tspvd.cat", "tspvd_vista.cat",
          "tspvd.sys", "tspvd_vista.sys", "tsppnptls.sys", "tsprdpclnt.dll", "tspctxclnt.dll",
          "tsprdpclnt_x86_64.dll"}},
        {SV,
         "C:\\setup\\Tessaport RDP Edition - Server files",
         {"tessaporttssrv.exe", "tessaportts.exe", "tessaport-ts-license.txt", "tessaport-ts-license.rtf",
          "uninstall.exe", "readme.txt", "tessaport-ts-help.chm", "tspvdbus.sys", "tspvdbus.inf", "tspvdbus.cat"}},
    };
    for (const Row& row : rows) {
        Scenario scenario;
        scenario.edition = row.edition;
        CInstallRig rig(scenario);
        EXPECT_TRUE(rig.Create().UnpackOnly());
        EXPECT_EQ(rig.machine.kernel.debugOutput, row.names);
        std::vector<std::string> lines = {"=== unpack files process ==="};
        for (const std::string& name : row.names) {
            lines.push_back("Install File: " + std::string(row.folder) + "\\" + name);
        }
        EXPECT_EQ(rig.LogLines(), lines);
        EXPECT_EQ(rig.machine.files.ListFilesUnder(row.folder).size(), row.names.size());
        for (const std::string& name : row.names) {
            EXPECT_EQ(rig.machine.files.Content(std::string(row.folder) + "\\" + name), EntryContent(rig.entries, name))
                << name;
        }
    }
}

// ---- the Citrix support step ---------------------------------------------------------------

using EventRequest = fake::CFakeProcesses::EventRequest;
using WaitRequest = fake::CFakeProcesses::WaitRequest;

const std::string REGISTER_LINE =
    "\"C:\\Program Files\\Tessaport RDP Edition - Workstation\\tsport_rde_installer.exe\" RegisterCitrixDllEx";
const std::string UNREGISTER_LINE =
    "\"C:\\Program Files\\Tessaport RDP Edition - Workstation\\tsport_rde_installer.exe\" UnregisterCitrixDllEx";

TEST(FixedValues, CitrixStepEventTimeLimitAndCommandLines) {
    // Registration in the install row, removal in the rollback row.
    std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::Nothing);
    rig->machine.Faults().FailCall("CoCreateInstance", 1, DENIED);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 1);

    // Manual reset, not signalled, for SYSTEM and administrators only.
    const EventRequest event{RESTART_EVENT, 1, 0, "D:P(A;;GA;;;SY)(A;;GA;;;BA)"};
    EXPECT_EQ(rig->machine.processes.eventRequests, (std::vector<EventRequest>{event, event}));
    const WaitRequest program{"process " + CITRIX_PROGRAM, 25000};
    const WaitRequest restart{"event " + RESTART_EVENT, 1};
    EXPECT_EQ(rig->machine.processes.waitRequests, (std::vector<WaitRequest>{program, restart, program, restart}));
    const auto& launches = rig->machine.processes.Launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].commandLine, REGISTER_LINE);
    EXPECT_EQ(launches[1].commandLine, UNREGISTER_LINE);
    for (const auto& launch : launches) {
        EXPECT_EQ(launch.inheritHandles, 0);
        EXPECT_EQ(launch.creationFlags, 0u);
    }
}

TEST(FixedValues, CitrixProgramThatHangsIsEndedAfter25SecondsWithExitCodeFFFFFFFF) {
    std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::Nothing);
    fake::CFakeProcesses::Program hangs;
    hangs.hangs = true;
    rig->machine.processes.AddProgram(CITRIX_PROGRAM, hangs);
    rig->machine.files.Remove(CITRIX_PROGRAM);  // only the installation puts it there
    const std::uint32_t tick = rig->machine.kernel.tickCount;
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 0);

    const auto& launches = rig->machine.processes.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_TRUE(launches[0].terminated);
    EXPECT_EQ(launches[0].exitCode, 0xFFFFFFFFu);
    // The pauses of the rows, the limit and the 1 ms look at the event: nothing else waited.
    EXPECT_EQ(rig->machine.kernel.tickCount - tick, 200u * 4 + 25000 + 1 + 1000);
}

TEST(FixedValues, CitrixRestartRequestReachesTheRestartFlagThroughTheManualResetEvent) {
    std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::Nothing);
    fake::CFakeProcesses::Program asks;
    asks.runMilliseconds = 3000;
    asks.signalsEvent = RESTART_EVENT;
    rig->machine.processes.AddProgram(CITRIX_PROGRAM, asks);
    rig->machine.files.Remove(CITRIX_PROGRAM);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 0);
    EXPECT_EQ(rig->rebootFlag, 1);
    const std::vector<std::string> lines = rig->LogLines();
    const auto start = std::find(lines.begin(), lines.end(), "Start Citrix installation process: " + REGISTER_LINE);
    ASSERT_NE(start, lines.end());
    ASSERT_LT(start + 2, lines.end());
    EXPECT_EQ(*(start + 1), "Warning: === Reboot required to complete operation ===");
    EXPECT_EQ(*(start + 2), "Finish Citrix installation process");
}

// ---- the firewall values at the seam -------------------------------------------------------

using ValueSet = fake::CFakeFirewall::ValueSet;
std::vector<std::string> Values(const std::vector<ValueSet>& values) {
    std::vector<std::string> out;
    for (const ValueSet& v : values) out.push_back(v.call + " " + std::to_string(v.value));
    return out;
}

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

TEST(FixedValues, FirewallRuleValuesOfBothInterfaceGenerations) {
    struct Row {
        Edition edition;
        const char* path;
        const char* name;
    };
    const Row rows[] = {
        {WS, "C:\\Windows\\system32\\tessaportwssrv.exe", "Tessaport RDP Edition Workstation Service"},
        {SV, "C:\\Windows\\system32\\tessaporttssrv.exe", "Tessaport RDP Edition Server Service"},
    };
    const std::vector<std::string> newRule = {
        "INetFwRule::put_Protocol 6", "INetFwRule::put_Direction 1", "INetFwRule::put_Profiles 2147483647",
        "INetFwRule::put_Action 1",   "INetFwRule::put_Enabled -1",  "INetFwRule::put_Protocol 6",
        "INetFwRule::put_Direction 2", "INetFwRule::put_Profiles 2147483647", "INetFwRule::put_Action 1",
        "INetFwRule::put_Enabled -1"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<CInstallRig> rig = Prepare(row.edition, W7, Before::Nothing);
        fake::CFakeFirewall& firewall = rig->machine.firewall;

        // The rule interface: one inbound and one outbound rule.
        rig->process->CreateFirewallRules();
        std::vector<std::string> expected = {"CoInitializeEx 6"};
        expected.insert(expected.end(), newRule.begin(), newRule.end());
        EXPECT_EQ(Values(firewall.valuesSet), expected);
        ASSERT_EQ(firewall.rules.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            const fake::CFakeFirewall::Rule& rule = firewall.rules[i];
            const std::string name = std::string(row.name) + (i == 0 ? "" : " (Out)");
            EXPECT_EQ(Narrow(rule.name), name);
            EXPECT_EQ(Narrow(rule.description), name);
            EXPECT_EQ(Narrow(rule.applicationName), row.path);
            EXPECT_EQ(rule.direction, i == 0 ? 1 : 2);
            EXPECT_EQ(rule.protocol, 6);
            EXPECT_EQ(rule.profiles, 0x7FFFFFFF);
            EXPECT_EQ(rule.action, 1);
            EXPECT_TRUE(rule.enabled);
        }

        // Found again by program and direction: enabled and allowed, nothing added.
        firewall.valuesSet.clear();
        rig->process->CreateFirewallRules();
        EXPECT_EQ(Values(firewall.valuesSet),
                  (std::vector<std::string>{"CoInitializeEx 6", "INetFwRule::put_Enabled -1",
                                            "INetFwRule::put_Action 1", "INetFwRule::put_Enabled -1",
                                            "INetFwRule::put_Action 1"}));
        EXPECT_EQ(firewall.rules.size(), 2u);

        // The authorized-applications interface: listed once by image and name, enabled.
        firewall.rules.clear();
        firewall.ruleInterface = false;
        firewall.valuesSet.clear();
        rig->process->CreateFirewallRules();
        EXPECT_EQ(Values(firewall.valuesSet), std::vector<std::string>{"CoInitializeEx 6"});
        ASSERT_EQ(firewall.authorizedApplications[1].size(), 1u);
        const fake::CFakeFirewall::AuthorizedApplication& app = firewall.authorizedApplications[1][0];
        EXPECT_EQ(Narrow(app.imageFileName), row.path);
        EXPECT_EQ(Narrow(app.name), row.name);
        EXPECT_TRUE(app.enabled);
        firewall.authorizedApplications[1][0].enabled = false;
        firewall.valuesSet.clear();
        rig->process->CreateFirewallRules();
        EXPECT_EQ(Values(firewall.valuesSet),
                  (std::vector<std::string>{"CoInitializeEx 6", "INetFwAuthorizedApplication::put_Enabled -1"}));
        EXPECT_TRUE(firewall.authorizedApplications[1][0].enabled);
        EXPECT_TRUE(firewall.rules.empty());
    }
}

// ---- SetupAPI and newdev -------------------------------------------------------------------

std::string GuidText(const os::Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

std::string Bytes(const std::vector<std::uint8_t>& bytes, bool text) {
    std::string out;
    for (std::uint8_t b : bytes) {
        char one[8];
        if (text) {
            std::snprintf(one, sizeof one, b == 0 ? "\\0" : "%c", b);
        } else {
            std::snprintf(one, sizeof one, out.empty() ? "%02x" : " %02x", b);
        }
        out += one;
    }
    return out;
}

// The calls that carry flags or values of their own, one line each; the others left out.
std::vector<std::string> DeviceCalls(const std::vector<fake::CFakeDevices::Call>& calls) {
    std::vector<std::string> out;
    for (const fake::CFakeDevices::Call& c : calls) {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%x", static_cast<unsigned>(c.flags));
        const std::string cls = c.hasClass ? GuidText(c.classGuid) : "none";
        const std::string size = std::to_string(c.size);
        if (c.name == "SetupDiGetClassDevsA") {
            out.push_back(c.name + " class=" + cls + " enumerator=" + c.text + " flags=" + flags);
        } else if (c.name == "SetupDiGetClassDevsExA") {
            out.push_back(c.name + " class=" + cls + " enumerator=" + c.text + " machine=" + c.text2 +
                          " flags=" + flags);
        } else if (c.name == "SetupDiGetDeviceRegistryPropertyA") {
            out.push_back(c.name + " property=" + std::to_string(c.value) + " size=" + size);
        } else if (c.name == "SetupDiSetDeviceRegistryPropertyA") {
            out.push_back(c.name + " property=" + std::to_string(c.value) + " size=" + size +
                          " bytes=" + Bytes(c.bytes, true));
        } else if (c.name == "SetupDiGetDeviceInstanceIdA") {
            out.push_back(c.name + " size=" + size);
        } else if (c.name == "SetupDiSetClassInstallParamsA") {
            out.push_back(c.name + " size=" + size + " bytes=" + Bytes(c.bytes, false));
        } else if (c.name == "SetupDiCallClassInstaller") {
            out.push_back(c.name + " function=" + flags);
        } else if (c.name == "SetupDiGetINFClassA") {
            out.push_back(c.name + " inf=" + c.text + " size=" + size);
        } else if (c.name == "SetupDiCreateDeviceInfoList") {
            out.push_back(c.name + " class=" + cls);
        } else if (c.name == "SetupDiCreateDeviceInfoA") {
            out.push_back(c.name + " name=" + c.text + " class=" + cls + " description=" + c.text2 + " flags=" + flags);
        } else if (c.name == "SetupCopyOEMInfA") {
            out.push_back(c.name + " inf=" + c.text + " media=" + c.text2 + " type=" + std::to_string(c.value) +
                          " style=" + flags + " size=" + size);
        } else if (c.name == "UpdateDriverForPlugAndPlayDevicesA") {
            out.push_back(c.name + " id=" + c.text + " inf=" + c.text2 + " flags=" + flags);
        }
    }
    return out;
}

const std::string USB_CLASS = "{36FC9E60-C465-11CF-8056-444553540000}";
const std::string SYSTEM_CLASS = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";

TEST(FixedValues, WorkstationFlagsAtSetupApi) {
    std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::Nothing);
    rig->machine.devices.AddDevice("USB\\VID_1D6B&PID_0104\\7&2C4F&0&3", os::GUID_DEVCLASS_USB,
                                   {"VELOTRINEX\\TSPRDPSTUB"}, false);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 0);
    EXPECT_TRUE(rig->machine.devices.InstanceIds().empty());
    EXPECT_EQ(DeviceCalls(rig->machine.devices.calls),
              (std::vector<std::string>{
                  "SetupDiGetClassDevsExA class=" + USB_CLASS + " enumerator= machine= flags=0x0",
                  "SetupDiGetDeviceRegistryPropertyA property=1 size=8192",
                  "SetupDiGetDeviceInstanceIdA size=200",
                  "SetupDiSetClassInstallParamsA size=16 bytes=08 00 00 00 05 00 00 00 01 00 00 00 00 00 00 00",
                  "SetupDiCallClassInstaller function=0x5",
                  "SetupCopyOEMInfA inf=" + WS_TARGET + "\\tspvd.inf media= type=0 style=0x0 size=0",
              }));
}

TEST(FixedValues, ServerFlagsAtSetupApiAndNewdev) {
    const std::string inf = SV_TARGET + "\\tspvdbus.inf";
    auto created = [&inf](const std::string& id) {
        return std::vector<std::string>{
            "SetupDiGetClassDevsA class=none enumerator= flags=0x6",
            "SetupDiGetINFClassA inf=" + inf + " size=32",
            "SetupDiCreateDeviceInfoList class=" + SYSTEM_CLASS,
            "SetupDiCreateDeviceInfoA name=System class=" + SYSTEM_CLASS + " description= flags=0x1",
            // The id, its terminator and the list's.
            "SetupDiSetDeviceRegistryPropertyA property=1 size=" + std::to_string(id.size() + 2) + " bytes=" + id +
                "\\0\\0",
            "SetupDiCallClassInstaller function=0x19",
            "UpdateDriverForPlugAndPlayDevicesA id=" + id + " inf=" + inf + " flags=0x1",
        };
    };
    std::vector<std::string> calls = {"SetupCopyOEMInfA inf=" + inf + " media= type=0 style=0x0 size=0"};
    for (const char* id : {"*tspvdbusDevice", "*tspvdhcDevice"}) {
        const std::vector<std::string> one = created(id);
        calls.insert(calls.end(), one.begin(), one.end());
    }
    auto without = [](std::vector<std::string> lines, const std::string& prefix) {
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [&prefix](const std::string& l) { return l.rfind(prefix, 0) == 0; }),
                    lines.end());
        return lines;
    };
    const std::string propertyReads = "SetupDiGetDeviceRegistryPropertyA ";

    std::unique_ptr<CInstallRig> rig = Prepare(SV, W7, Before::Nothing);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 0);
    EXPECT_EQ(without(DeviceCalls(rig->machine.devices.calls), propertyReads), calls);

    // An upgrade finds both devices and updates their driver, forced as well.
    rig.reset();  // one machine at a time is the current one
    rig = Prepare(SV, W7, Before::OlderBuild);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 0);
    EXPECT_EQ(without(DeviceCalls(rig->machine.devices.calls), propertyReads),
              (std::vector<std::string>{
                  "SetupCopyOEMInfA inf=" + inf + " media= type=0 style=0x0 size=0",
                  "SetupDiGetClassDevsA class=none enumerator= flags=0x6",
                  "UpdateDriverForPlugAndPlayDevicesA id=*tspvdbusDevice inf=" + inf + " flags=0x1",
                  "SetupDiGetClassDevsA class=none enumerator= flags=0x6",
                  "UpdateDriverForPlugAndPlayDevicesA id=*tspvdhcDevice inf=" + inf + " flags=0x1",
              }));

    // The rollback takes each device away with the class installer's removal.
    rig.reset();  // one machine at a time is the current one
    rig = Prepare(SV, W7, Before::Nothing);
    rig->machine.Faults().FailCall("CreateServiceA", 1, DENIED);
    InstallAndEnd(*rig);
    ASSERT_EQ(rig->failed, 1);
    const std::vector<std::string> all = without(DeviceCalls(rig->machine.devices.calls), propertyReads);
    ASSERT_GE(all.size(), calls.size());
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + calls.size()), calls);
    EXPECT_EQ(std::vector<std::string>(all.begin() + calls.size(), all.end()),
              (std::vector<std::string>{"SetupDiGetClassDevsA class=none enumerator= flags=0x6",
                                        "SetupDiCallClassInstaller function=0x5",
                                        "SetupDiGetClassDevsA class=none enumerator= flags=0x6",
                                        "SetupDiCallClassInstaller function=0x5"}));
    EXPECT_TRUE(rig->machine.devices.InstanceIds().empty());

    // A driver that cannot be installed on the new device: the device is removed at once.
    rig.reset();  // one machine at a time is the current one
    rig = Prepare(SV, W7, Before::Nothing);
    rig->machine.Faults().FailCall("UpdateDriverForPlugAndPlayDevicesA", 1, DENIED);
    InstallAndEnd(*rig);
    const std::vector<std::string> failed = without(DeviceCalls(rig->machine.devices.calls), propertyReads);
    const std::vector<std::string> firstDevice(calls.begin(), calls.begin() + 8);
    ASSERT_GT(failed.size(), firstDevice.size());
    EXPECT_EQ(std::vector<std::string>(failed.begin(), failed.begin() + 8), firstDevice);
    EXPECT_EQ(failed[8], "SetupDiCallClassInstaller function=0x5");
    EXPECT_TRUE(rig->machine.devices.InstanceIds().empty());
}

// ---- the service manager -------------------------------------------------------------------

std::vector<std::string> ServiceRequests(const std::vector<fake::CFakeServices::Request>& requests) {
    std::vector<std::string> out;
    for (const fake::CFakeServices::Request& r : requests) {
        char line[160];
        if (r.call == "CreateServiceA") {
            std::snprintf(line, sizeof line, "%s %s access=0x%x type=0x%x start=0x%x error=0x%x", r.call.c_str(),
                          r.name.c_str(), static_cast<unsigned>(r.access), static_cast<unsigned>(r.serviceType),
                          static_cast<unsigned>(r.startType), static_cast<unsigned>(r.errorControl));
        } else if (r.call == "ChangeServiceConfigA") {
            std::snprintf(line, sizeof line, "%s %s type=0x%x start=0x%x error=0x%x", r.call.c_str(), r.name.c_str(),
                          static_cast<unsigned>(r.serviceType), static_cast<unsigned>(r.startType),
                          static_cast<unsigned>(r.errorControl));
        } else {
            std::snprintf(line, sizeof line, "%s %s access=0x%x", r.call.c_str(), r.name.c_str(),
                          static_cast<unsigned>(r.access));
        }
        out.push_back(line);
    }
    return out;
}

TEST(FixedValues, ServiceManagerAccessTypesAndStartTypes) {
    // A new installation on Windows 7: the manager with all rights, services opened with
    // 0xF003F, created with all access as a kernel driver (1) or an own-process service
    // (0x10), automatic start, normal error control.
    {
        CInstallRig rig;
        rig.Create();
        rig.process->CheckPackage();
        rig.Install();
        rig.process.reset();
        ASSERT_EQ(rig.failed, 0);
        EXPECT_EQ(ServiceRequests(rig.machine.services.requests),
                  (std::vector<std::string>{
                      "OpenSCManagerA  access=0xf003f",
                      "OpenServiceA tspvd access=0xf003f",
                      "OpenServiceA tessaportwssrv access=0xf003f",
                      "OpenServiceA tsppnptls access=0xf003f",
                      "CreateServiceA tsppnptls access=0xf01ff type=0x1 start=0x2 error=0x1",
                      "OpenServiceA tessaportwssrv access=0xf003f",
                      "CreateServiceA tessaportwssrv access=0xf01ff type=0x10 start=0x2 error=0x1",
                      // The dependencies once more, every other setting left as created.
                      "ChangeServiceConfigA tessaportwssrv type=0xffffffff start=0xffffffff error=0xffffffff",
                      "OpenServiceA tsppnptls access=0xf003f",
                      "OpenServiceA tessaportwssrv access=0xf003f",
                  }));
    }
    // The XP kind: the stub driver's service, started on demand.
    {
        std::unique_ptr<CInstallRig> rig = Prepare(WS, XP, Before::Nothing);
        InstallAndEnd(*rig);
        ASSERT_EQ(rig->failed, 0);
        const std::vector<std::string> requests = ServiceRequests(rig->machine.services.requests);
        EXPECT_NE(std::find(requests.begin(), requests.end(),
                            "CreateServiceA tspvd access=0xf01ff type=0x1 start=0x3 error=0x1"),
                  requests.end());
    }
    // An upgrade reconfigures both services with the same settings.
    {
        std::unique_ptr<CInstallRig> rig = Prepare(WS, W7, Before::OlderBuild);
        InstallAndEnd(*rig);
        ASSERT_EQ(rig->failed, 0);
        std::vector<std::string> changes;
        for (const std::string& line : ServiceRequests(rig->machine.services.requests)) {
            if (line.rfind("ChangeServiceConfigA ", 0) == 0 || line.rfind("CreateServiceA ", 0) == 0) {
                changes.push_back(line);
            }
        }
        EXPECT_EQ(changes,
                  (std::vector<std::string>{"ChangeServiceConfigA tsppnptls type=0x1 start=0x2 error=0x1",
                                            "ChangeServiceConfigA tessaportwssrv type=0x10 start=0x2 error=0x1"}));
    }
    // The rollback deletes the services it made with all access.
    {
        std::unique_ptr<CInstallRig> rig = Prepare(SV, W7, Before::Nothing);
        rig->machine.Faults().FailCall("CoCreateInstance", 1, DENIED);
        InstallAndEnd(*rig);
        ASSERT_EQ(rig->failed, 1);
        EXPECT_EQ(ServiceRequests(rig->machine.services.requests),
                  (std::vector<std::string>{
                      "OpenServiceA tessaporttssrv access=0xf003f",
                      "CreateServiceA tessaporttssrv access=0xf01ff type=0x10 start=0x2 error=0x1",
                      "ChangeServiceConfigA tessaporttssrv type=0xffffffff start=0xffffffff error=0xffffffff",
                      "OpenServiceA tessaporttssrv access=0xf003f",
                      "OpenServiceA tessaporttssrv access=0xf003f",
                      "OpenServiceA tessaporttssrv access=0xf01ff",
                  }));
        EXPECT_FALSE(rig->machine.services.Exists("tessaporttssrv"));
    }
}

}  // namespace
