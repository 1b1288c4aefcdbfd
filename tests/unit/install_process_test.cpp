#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "install_process_test_support.h"
#include "package/md5.h"

using namespace installtest;
using Progress = CRecordingHost::Progress;

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// What the run added, changed and removed, by state key.
struct Change {
    std::set<std::string> added, changed, removed;
};
Change Compare(const std::map<std::string, std::string>& before, const std::map<std::string, std::string>& after) {
    Change change;
    for (const auto& [k, v] : after) {
        const auto it = before.find(k);
        if (it == before.end()) {
            change.added.insert(k);
        } else if (it->second != v) {
            change.changed.insert(k);
        }
    }
    for (const auto& [k, v] : before) {
        if (after.count(k) == 0) change.removed.insert(k);
    }
    return change;
}

std::set<std::string> Only(const std::set<std::string>& keys, const std::string& prefix) {
    std::set<std::string> out;
    for (const std::string& k : keys) {
        if (k.compare(0, prefix.size(), prefix) == 0) out.insert(k);
    }
    return out;
}

std::string FileKey(const std::string& path) { return "file " + Upper(path); }

// KiB, rounded up, of the files named by the state keys as they are now (a folder counts
// nothing); shell links aside: the shell writes those.
std::uint32_t KiBNow(const fake::CFakeMachine& machine, const std::set<std::string>& keys) {
    std::uint64_t bytes = 0;
    for (const std::string& key : keys) {
        if (key.size() > 4 && key.compare(key.size() - 4, 4, ".LNK") == 0) continue;
        bytes += machine.files.Content(key.substr(std::string("file ").size())).size();
    }
    return static_cast<std::uint32_t>((bytes + 1023) / 1024);
}

std::string LinkRecord(const std::string& target, const std::string& file, const std::string& name) {
    fake::CFakeShell::LinkSettings link;
    link.path = target + "\\" + file;
    link.workingDirectory = target;
    link.description = name;
    link.iconPath = target + "\\" + file;
    return fake::CFakeShell::LinkRecord(link);
}

const std::vector<Progress> FORWARD_WORKSTATION = {
    {'S', 1, 13}, {'S', 10, 0}, {'S', 20, 0}, {'S', 30, 0}, {'S', 70, 1}, {'S', 80, 2},
    {'S', 85, 3}, {'S', 86, 3}, {'P', 87, 0}, {'S', 90, 4}, {'S', 95, 5}, {'S', 100, 5},
};
const std::vector<Progress> FORWARD_SERVER = {
    {'S', 1, 13}, {'S', 10, 0}, {'S', 20, 0}, {'S', 30, 0}, {'S', 70, 1},  {'S', 80, 2},
    {'S', 85, 3}, {'P', 87, 0}, {'S', 90, 4}, {'S', 95, 5}, {'S', 100, 5},
};
const std::vector<Progress> ROLLBACK = {
    {'P', 50, 0}, {'S', 50, 6}, {'D', 0, 0},   {'S', 40, 7}, {'P', 40, 0},  {'S', 35, 7}, {'P', 27, 0},
    {'S', 25, 8}, {'P', 16, 0}, {'S', 15, 10}, {'P', 11, 0}, {'S', 10, 11}, {'S', 1, 12}, {'S', 0, 5},
};

class InstallProcessTest : public ::testing::Test {
protected:
    // The package entry's bytes are exactly what landed at path.
    void ExpectInstalled(const CInstallRig& rig, const std::string& path, const std::string& entry) {
        EXPECT_EQ(rig.machine.files.Content(path), EntryContent(rig.entries, entry)) << path << " from " << entry;
    }
    void ExpectShortcut(const CInstallRig& rig, const std::string& dir, const std::string& file,
                        const std::string& name) {
        EXPECT_EQ(rig.machine.files.Text(dir + "\\" + name + ".lnk"), LinkRecord(rig.target, file, name)) << name;
    }
    // extra: values an edition records beyond the entry's own (the server's usbd.sys digest).
    void ExpectUninstallEntry(const CInstallRig& rig, const std::string& key, std::uint32_t estimatedKiB,
                              const std::vector<std::string>& extra = {}) {
        const std::string path = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + key;
        const fake::CFakeRegistry& reg = rig.machine.registry;
        const std::string name = rig.edition.Info().displayName;
        std::vector<std::string> names = {"InstallLocation",      "UninstallString", "StartMenuLocation",
                                          "DisplayName",          "QuietUninstallString", "DisplayVersion",
                                          "Publisher",            "DisplayIcon",     "NoModify",
                                          "NoRepair",             "EstimatedSize",   "InstallDate",
                                          "URLInfoAbout",         "HelpLink",        "VersionMajor",
                                          "VersionMinor"};
        names.insert(names.end(), extra.begin(), extra.end());
        EXPECT_EQ(reg.ValueNames(path), names);
        EXPECT_EQ(reg.GetString(path, "InstallLocation"), rig.target);
        EXPECT_EQ(reg.GetString(path, "UninstallString"), "\"" + rig.target + "\\uninstall.exe\"");
        EXPECT_EQ(reg.GetString(path, "StartMenuLocation"), name);
        EXPECT_EQ(reg.GetString(path, "DisplayName"), name);
        EXPECT_EQ(reg.GetString(path, "QuietUninstallString"), "\"" + rig.target + "\\uninstall.exe\" -silent");
        EXPECT_EQ(reg.GetString(path, "DisplayVersion"), "3.7");
        EXPECT_EQ(reg.GetString(path, "Publisher"), "Velotrinex LLC");
        EXPECT_EQ(reg.GetString(path, "DisplayIcon"), rig.target + "\\" + rig.edition.Info().programName);
        EXPECT_EQ(reg.GetDword(path, "NoModify"), 1u);
        EXPECT_EQ(reg.GetDword(path, "NoRepair"), 1u);
        EXPECT_GT(estimatedKiB, 0u);
        EXPECT_EQ(reg.GetDword(path, "EstimatedSize"), estimatedKiB);
        EXPECT_EQ(reg.GetString(path, "InstallDate"), "20240305");  // the machine's local date
        EXPECT_EQ(reg.GetString(path, "URLInfoAbout"), "http://www.velotrinex.com/tessaport-rdp/");
        EXPECT_EQ(reg.GetString(path, "HelpLink"), "http://www.velotrinex.com/tessaport-rdp/");
        EXPECT_EQ(reg.GetDword(path, "VersionMajor"), 3u);
        EXPECT_EQ(reg.GetDword(path, "VersionMinor"), 7u);
    }
    void ExpectService(const CInstallRig& rig, const std::string& name, os::DWORD type, os::DWORD start,
                       const std::string& image, const std::string& display, os::DWORD state) {
        const fake::CFakeServices::Service* s = rig.machine.services.Find(name);
        ASSERT_NE(s, nullptr) << name;
        EXPECT_EQ(s->config.type, type) << name;
        EXPECT_EQ(s->config.startType, start) << name;
        EXPECT_EQ(s->config.imagePath, image) << name;
        EXPECT_EQ(s->config.displayName, display) << name;
        EXPECT_EQ(s->state, state) << name;
        EXPECT_FALSE(s->markedForDelete) << name;
    }
    void ExpectNothingOpen(const CInstallRig& rig) {
        EXPECT_EQ(rig.machine.files.OpenHandleCount(), 1u);  // the setup log
        EXPECT_EQ(rig.machine.services.OpenHandleCount(), 0u);
        EXPECT_EQ(rig.machine.registry.OpenKeyCount(), 0u);
        EXPECT_EQ(rig.machine.devices.OpenSetCount(), 0u);
        EXPECT_EQ(rig.machine.shell.LiveInterfaceCount(), 0u);
        EXPECT_EQ(rig.machine.shell.ComDepth(), 0);
        EXPECT_EQ(rig.machine.kernel.liveVirtualBlocks(), 0u);
    }
};

// ---- whole installations ---------------------------------------------------------------

TEST_F(InstallProcessTest, WorkstationOnWindows7InstallsEverythingItListsAndNothingElse) {
    CInstallRig rig;
    const auto before = rig.State();
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    const auto after = rig.State();

    EXPECT_EQ(rig.failed, 0);
    EXPECT_EQ(rig.rebootFlag, 0);
    EXPECT_TRUE(rig.host.boxes.empty());
    EXPECT_EQ(rig.host.progress, FORWARD_WORKSTATION);

    const std::string S = CInstallRig::SYSTEM, W = CInstallRig::WOW64, D = CInstallRig::DRIVERS, T = rig.target,
                      M = rig.menu, Q = CInstallRig::QUICK_LAUNCH, name = "Tessaport RDP Edition - Workstation";
    const Change change = Compare(before, after);
    const std::set<std::string> files = {
        FileKey(S + "\\tessaportwssrv.exe"),
        FileKey(S + "\\tsprdpclnt.dll"),
        FileKey(W + "\\tspctxclnt.dll"),
        FileKey(W + "\\tsprdpclnt.dll"),
        FileKey(D + "\\tsppnptls.sys"),
        FileKey(D + "\\tspvd.sys"),
        FileKey(T),
        FileKey(T + "\\tessaportws.exe"),
        FileKey(T + "\\tsport_rde_installer.exe"),
        FileKey(T + "\\tessaport-ws-license.txt"),
        FileKey(T + "\\readme.txt"),
        FileKey(T + "\\tessaport-ws-help.chm"),
        FileKey(T + "\\uninstall.exe"),
        FileKey(T + "\\tspvd.sys"),
        FileKey(T + "\\tspvd.cat"),
        FileKey(T + "\\tspvd.inf"),
        FileKey(M),
        FileKey(M + "\\" + name + ".lnk"),
        FileKey(M + "\\" + name + " Help.lnk"),
        FileKey(M + "\\" + name + " License.lnk"),
        FileKey(M + "\\" + name + " Uninstall Wizard.lnk"),
        FileKey(M + "\\" + name + " on Web.url"),
        FileKey(M + "\\Install Cirtix support for " + name + ".lnk"),
        FileKey(std::string(CInstallRig::DESKTOP) + "\\" + name + ".lnk"),
        FileKey(Q + "\\" + name + ".lnk"),
    };
    EXPECT_EQ(Only(change.added, "file "), files);
    EXPECT_TRUE(change.changed.empty() && change.removed.empty()) << Differences(before, after);
    EXPECT_EQ(Only(change.added, "service "), (std::set<std::string>{"service TSPPNPTLS", "service TESSAPORTWSSRV"}));
    EXPECT_EQ(Only(change.added, "device "), std::set<std::string>{});
    EXPECT_EQ(Only(change.added, "store "), std::set<std::string>{"store oem0.inf"});

    ExpectInstalled(rig, S + "\\tessaportwssrv.exe", "tessaportwssrv.exe");
    ExpectInstalled(rig, S + "\\tsprdpclnt.dll", "tsprdpclnt.dll");
    ExpectInstalled(rig, W + "\\tspctxclnt.dll", "tspctxclnt.dll");
    ExpectInstalled(rig, W + "\\tsprdpclnt.dll", "tsprdpclnt_x86_64.dll");
    ExpectInstalled(rig, D + "\\tsppnptls.sys", "tsppnptls.sys");
    ExpectInstalled(rig, D + "\\tspvd.sys", "tspvd_vista.sys");
    ExpectInstalled(rig, T + "\\tspvd.sys", "tspvd_vista.sys");
    ExpectInstalled(rig, T + "\\tspvd.cat", "tspvd_vista.cat");
    ExpectInstalled(rig, T + "\\tspvd.inf", "tspvd.inf");
    for (const char* entry : {"tessaportws.exe", "tsport_rde_installer.exe", "tessaport-ws-license.txt", "readme.txt",
                              "tessaport-ws-help.chm", "uninstall.exe"}) {
        ExpectInstalled(rig, T + "\\" + entry, entry);
    }
    EXPECT_EQ(rig.machine.devices.DriverStore()[0].source, T + "\\tspvd.inf");

    ExpectService(rig, "tsppnptls", os::SERVICE_KERNEL_DRIVER, 2, D + "\\tsppnptls.sys",
                  "Tessaport RDP Edition PnP Device", os::SERVICE_RUNNING);
    ExpectService(rig, "tessaportwssrv", os::SERVICE_WIN32_OWN_PROCESS, 2, S + "\\tessaportwssrv.exe",
                  "Tessaport RDP Edition Workstation Service", os::SERVICE_RUNNING);
    const fake::CFakeServices::Service* service = rig.machine.services.Find("tessaportwssrv");
    EXPECT_EQ(service->config.description, "Tessaport RDP Edition Workstation - helps to share USB devices over IP");
    EXPECT_EQ(service->config.group, "PlugPlay");
    EXPECT_EQ(service->config.dependencies, std::vector<std::string>{"tsppnptls"});
    EXPECT_FALSE(rig.machine.services.Exists("tspvd"));

    ExpectShortcut(rig, M, "tessaportws.exe", name);
    ExpectShortcut(rig, M, "tessaport-ws-help.chm", name + " Help");
    ExpectShortcut(rig, M, "tessaport-ws-license.txt", name + " License");
    ExpectShortcut(rig, M, "uninstall.exe", name + " Uninstall Wizard");
    ExpectShortcut(rig, M, "tsport_rde_installer.exe", "Install Cirtix support for " + name);
    ExpectShortcut(rig, CInstallRig::DESKTOP, "tessaportws.exe", name);
    ExpectShortcut(rig, Q, "tessaportws.exe", name);
    EXPECT_EQ(rig.machine.files.Text(M + "\\" + name + " on Web.url"),
              "[InternetShortcut]\r\nURL=http://www.velotrinex.com/tessaport-rdp/");
    ExpectUninstallEntry(rig, "{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}",
                         KiBNow(rig.machine, Only(change.added, "file ")));

    const std::string citrix = "\"" + T + "\\tsport_rde_installer.exe\" RegisterCitrixDllEx";
    const auto& launches = rig.machine.processes.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].commandLine, citrix);

    EXPECT_EQ(rig.LogLines(), (std::vector<std::string>{
                                  name + " installation...",
                                  "Install File: " + S + "\\tessaportwssrv.exe",
                                  "Install File: " + S + "\\tsprdpclnt.dll",
                                  "Install File: " + W + "\\tspctxclnt.dll",
                                  "Install File: " + W + "\\tsprdpclnt.dll",
                                  "Install File: " + D + "\\tsppnptls.sys",
                                  "Install File: " + D + "\\tspvd.sys",
                                  "CreateDirectory: " + T,
                                  "Install File: " + T + "\\tessaportws.exe",
                                  "Install File: " + T + "\\tsport_rde_installer.exe",
                                  "Install File: " + T + "\\tessaport-ws-license.txt",
                                  "Install File: " + T + "\\readme.txt",
                                  "Install File: " + T + "\\tessaport-ws-help.chm",
                                  "Install File: " + T + "\\uninstall.exe",
                                  "Install Driver: " + D + "\\tsppnptls.sys",
                                  "Install File: " + T + "\\tspvd.sys",
                                  "Install File: " + T + "\\tspvd.cat",
                                  "Install File: " + T + "\\tspvd.inf",
                                  "Install Service: tessaportwssrv",
                                  "Start Installed Service: tsppnptls",
                                  "Start Installed Service: tessaportwssrv",
                                  "Start Citrix installation process: " + citrix,
                                  "Finish Citrix installation process",
                                  "CreateDirectory: " + M,
                                  "CreateShortcuts: " + M + "\\" + name + ".lnk",
                                  "CreateShortcuts: " + M + "\\" + name + " Help.lnk",
                                  "CreateShortcuts: " + M + "\\" + name + " License.lnk",
                                  "CreateShortcuts: " + M + "\\" + name + " Uninstall Wizard.lnk",
                                  "Install File: " + M + "\\" + name + " on Web.url",
                                  "CreateShortcuts: " + M + "\\Install Cirtix support for " + name + ".lnk",
                                  "CreateShortcuts: " + std::string(CInstallRig::DESKTOP) + "\\" + name + ".lnk",
                                  "CreateShortcuts: " + Q + "\\" + name + ".lnk",
                              }));
    // Pauses of the forward rows: four of 200 ms and the last 1000 ms, on the fake clock.
    EXPECT_GE(rig.machine.kernel.sleptMilliseconds, 1800u);
    ExpectNothingOpen(rig);
}

TEST_F(InstallProcessTest, WorkstationOnXpTakesTheLegacyStubDriverAndNoInf) {
    Scenario scenario;
    scenario.windows = Windows::Xp64;
    scenario.quickLaunchFolder = false;
    CInstallRig rig(scenario);
    const auto before = rig.State();
    rig.host.options.desktopIcon = 0;
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    const Change change = Compare(before, rig.State());

    EXPECT_EQ(rig.failed, 0);
    EXPECT_EQ(rig.host.progress, FORWARD_WORKSTATION);
    const std::string D = CInstallRig::DRIVERS, T = rig.target, name = "Tessaport RDP Edition - Workstation";
    ExpectInstalled(rig, D + "\\tspvd.sys", "tspvd.sys");
    for (const char* file : {"tspvd.sys", "tspvd.cat", "tspvd.inf"}) {
        EXPECT_FALSE(rig.machine.files.FileExists(T + "\\" + file)) << file;
    }
    EXPECT_EQ(Only(change.added, "store "), std::set<std::string>{});
    EXPECT_EQ(Only(change.added, "service "),
              (std::set<std::string>{"service TSPVD", "service TSPPNPTLS", "service TESSAPORTWSSRV"}));
    ExpectService(rig, "tspvd", os::SERVICE_KERNEL_DRIVER, 3, D + "\\tspvd.sys", "Tessaport RDP Edition Stub Device",
                  os::SERVICE_STOPPED);
    // Neither the desktop (option off) nor the Quick Launch link (no such folder).
    EXPECT_FALSE(rig.machine.files.FileExists(std::string(CInstallRig::DESKTOP) + "\\" + name + ".lnk"));
    EXPECT_EQ(Only(change.added, FileKey("C:\\Users")), std::set<std::string>{});

    const std::vector<std::string> lines = rig.LogLines();
    const auto driver = std::find(lines.begin(), lines.end(), "Install Driver: " + D + "\\tspvd.sys");
    ASSERT_NE(driver, lines.end());
    EXPECT_EQ(*(driver + 1), "Install Driver: " + D + "\\tsppnptls.sys");
    EXPECT_EQ(*(driver + 2), "Install Service: tessaportwssrv");
}

TEST_F(InstallProcessTest, ServerOnAServerWindowsCreatesBothRootDevicesAndTheUsbLibrary) {
    Scenario scenario;
    scenario.edition = Edition::Server;
    CInstallRig rig(scenario);
    const auto before = rig.State();
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    const auto after = rig.State();
    const Change change = Compare(before, after);

    EXPECT_EQ(rig.failed, 0);
    EXPECT_EQ(rig.rebootFlag, 0);
    EXPECT_EQ(rig.host.progress, FORWARD_SERVER);
    EXPECT_TRUE(rig.host.boxes.empty());

    const std::string S = CInstallRig::SYSTEM, D = CInstallRig::DRIVERS, T = rig.target, M = rig.menu,
                      Q = CInstallRig::QUICK_LAUNCH, name = "Tessaport RDP Edition - Server";
    const std::set<std::string> files = {
        FileKey(S + "\\tessaporttssrv.exe"),
        FileKey(D + "\\tspvdbus.sys"),
        FileKey(D + "\\usbd.sys"),
        FileKey(T),
        FileKey(T + "\\tessaportts.exe"),
        FileKey(T + "\\tessaport-ts-license.txt"),
        FileKey(T + "\\readme.txt"),
        FileKey(T + "\\tessaport-ts-help.chm"),
        FileKey(T + "\\uninstall.exe"),
        FileKey(T + "\\tspvdbus.sys"),
        FileKey(T + "\\tspvdbus.inf"),
        FileKey(T + "\\tspvdbus.cat"),
        FileKey(M),
        FileKey(M + "\\" + name + ".lnk"),
        FileKey(M + "\\" + name + " Help.lnk"),
        FileKey(M + "\\" + name + " License.lnk"),
        FileKey(M + "\\" + name + " Uninstall Wizard.lnk"),
        FileKey(M + "\\" + name + " on Web.url"),
        FileKey(std::string(CInstallRig::DESKTOP) + "\\" + name + ".lnk"),
        FileKey(Q + "\\" + name + ".lnk"),
    };
    EXPECT_EQ(Only(change.added, "file "), files);
    EXPECT_TRUE(change.removed.empty()) << Differences(before, after);
    ExpectInstalled(rig, D + "\\usbd.sys", "usblibvista");
    ExpectInstalled(rig, D + "\\tspvdbus.sys", "tspvdbus.sys");
    ExpectInstalled(rig, T + "\\tspvdbus.inf", "tspvdbus.inf");
    ExpectInstalled(rig, S + "\\tessaporttssrv.exe", "tessaporttssrv.exe");

    EXPECT_EQ(Only(change.added, "service "), std::set<std::string>{"service TESSAPORTTSSRV"});
    // The in-memory device installation makes no service for the bus driver, so the
    // dependency keeps the service from running there; the start request is in the log.
    ExpectService(rig, "tessaporttssrv", os::SERVICE_WIN32_OWN_PROCESS, 2, S + "\\tessaporttssrv.exe",
                  "Tessaport RDP Edition Server Service", os::SERVICE_STOPPED);
    const fake::CFakeServices::Service* service = rig.machine.services.Find("tessaporttssrv");
    EXPECT_EQ(service->config.description, "Tessaport RDP Edition Server - helps to share USB devices over IP");
    EXPECT_EQ(service->config.dependencies, std::vector<std::string>{"tspvdbus"});

    EXPECT_EQ(rig.machine.devices.DevicesWithHardwareId("*tspvdbusDevice").size(), 1u);
    EXPECT_EQ(rig.machine.devices.DevicesWithHardwareId("*tspvdhcDevice").size(), 1u);
    EXPECT_EQ(Only(change.added, "device ").size(), 2u);
    EXPECT_EQ(Only(change.added, "store "), std::set<std::string>{"store oem0.inf"});
    EXPECT_EQ(rig.machine.processes.Launches().size(), 0u);

    ExpectShortcut(rig, M, "tessaportts.exe", name);
    ExpectShortcut(rig, M, "tessaport-ts-help.chm", name + " Help");
    ExpectShortcut(rig, M, "tessaport-ts-license.txt", name + " License");
    ExpectShortcut(rig, M, "uninstall.exe", name + " Uninstall Wizard");
    ExpectShortcut(rig, Q, "tessaportts.exe", name);
    ExpectUninstallEntry(rig, "{961AE5EE-E9BB-427e-BF8B-0C83AB73959F}",
                         KiBNow(rig.machine, Only(change.added, "file ")), {"UsbLibraryMD5"});
    // What the uninstaller compares before it takes usbd.sys away again.
    std::uint8_t digest[16];
    const std::vector<std::uint8_t> placed = EntryContent(rig.entries, "usblibvista");
    md5::Digest(placed.data(), placed.size(), digest);
    std::string hex;
    for (std::uint8_t b : digest) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    EXPECT_EQ(rig.machine.registry.GetString(
                  "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{961AE5EE-E9BB-427e-BF8B-0C83AB73959F}",
                  "UsbLibraryMD5"),
              hex);

    EXPECT_EQ(rig.LogLines(), (std::vector<std::string>{
                                  name + " installation...",
                                  "Install File: " + S + "\\tessaporttssrv.exe",
                                  "Install File: " + D + "\\tspvdbus.sys",
                                  "Install File: " + D + "\\usbd.sys",
                                  "CreateDirectory: " + T,
                                  "Install File: " + T + "\\tessaportts.exe",
                                  "Install File: " + T + "\\tessaport-ts-license.txt",
                                  "Install File: " + T + "\\readme.txt",
                                  "Install File: " + T + "\\tessaport-ts-help.chm",
                                  "Install File: " + T + "\\uninstall.exe",
                                  "Install File: " + T + "\\tspvdbus.sys",
                                  "Install File: " + T + "\\tspvdbus.inf",
                                  "Install File: " + T + "\\tspvdbus.cat",
                                  "Install WDM Driver: *tspvdbusDevice",
                                  "Install WDM Driver: *tspvdhcDevice",
                                  "Install Service: tessaporttssrv",
                                  "Start Installed Service: tessaporttssrv",
                                  "CreateDirectory: " + M,
                                  "CreateShortcuts: " + M + "\\" + name + ".lnk",
                                  "CreateShortcuts: " + M + "\\" + name + " Help.lnk",
                                  "CreateShortcuts: " + M + "\\" + name + " License.lnk",
                                  "CreateShortcuts: " + M + "\\" + name + " Uninstall Wizard.lnk",
                                  "Install File: " + M + "\\" + name + " on Web.url",
                                  "CreateShortcuts: " + std::string(CInstallRig::DESKTOP) + "\\" + name + ".lnk",
                                  "CreateShortcuts: " + Q + "\\" + name + ".lnk",
                              }));
    ExpectNothingOpen(rig);
}

TEST_F(InstallProcessTest, ServerUsbLibraryFollowsTheOsKindAndNeverReplacesWindowsOwn) {
    {
        Scenario scenario;
        scenario.edition = Edition::Server;
        scenario.windows = Windows::Xp64;
        CInstallRig rig(scenario);
        const auto before = rig.State();
        ASSERT_EQ(rig.RunAll(), PACK_OK);
        EXPECT_EQ(rig.failed, 0);
        EXPECT_EQ(rig.host.progress, FORWARD_SERVER);
        ExpectInstalled(rig, std::string(CInstallRig::DRIVERS) + "\\usbd.sys", "usblibxp");
        // The same files, devices and service as on a newer Windows.
        const Change change = Compare(before, rig.State());
        EXPECT_EQ(Only(change.added, "file ").size(), 20u);
        EXPECT_EQ(Only(change.added, "device ").size(), 2u);
        EXPECT_EQ(Only(change.added, "service "), std::set<std::string>{"service TESSAPORTTSSRV"});
    }
    {
        Scenario scenario;
        scenario.edition = Edition::Server;
        scenario.usbdPresent = true;
        CInstallRig rig(scenario);
        ASSERT_EQ(rig.RunAll(), PACK_OK);
        EXPECT_EQ(rig.failed, 0);
        EXPECT_EQ(rig.machine.files.Text(std::string(CInstallRig::DRIVERS) + "\\usbd.sys"), "Windows' own usbd.sys");
    }
    // A library whose content cannot be written is no failure, and no half-written copy
    // stays: try each write in turn until it is the library's that fails.
    bool seen = false;
    for (unsigned nth = 1; nth < 40 && !seen; ++nth) {
        Scenario scenario;
        scenario.edition = Edition::Server;
        CInstallRig rig(scenario);
        rig.Create();
        ASSERT_EQ(rig.process->CheckPackage(), PACK_OK);
        rig.machine.Faults().FailCall("WriteFile", nth, os::ERROR_DISK_FULL);
        rig.Install();
        rig.process.reset();
        const std::string usbd = std::string(CInstallRig::DRIVERS) + "\\usbd.sys";
        const std::vector<std::string> lines = rig.LogLines();
        if (rig.failed != 0 || std::find(lines.begin(), lines.end(), "Install File: " + usbd) == lines.end()) continue;
        if (rig.machine.files.FileExists(usbd)) {
            ExpectInstalled(rig, usbd, "usblibvista");  // a log line's write failed instead
            continue;
        }
        seen = true;
        ExpectInstalled(rig, std::string(CInstallRig::DRIVERS) + "\\tspvdbus.sys", "tspvdbus.sys");
        EXPECT_EQ(rig.host.progress.back(), (Progress{'S', 100, 5}));
    }
    EXPECT_TRUE(seen);
}

TEST_F(InstallProcessTest, SecondServerInstallUpdatesThePresentDevicesInsteadOfAddingNew) {
    Scenario scenario;
    scenario.edition = Edition::Server;
    CInstallRig rig(scenario);
    const auto before = rig.State();
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    const auto devices = Only(Compare({}, rig.State()).added, "device ");
    const std::set<std::string> placed = Only(Compare(before, rig.State()).added, "file ");
    rig.SetPackage(PackageEntries(Edition::Server, 2));
    rig.host.progress.clear();
    rig.machine.kernel.localTime.day = 6;
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    EXPECT_EQ(rig.failed, 0);
    // The entry is written again: what the second run placed over the first, and its date.
    const std::string entry =
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{961AE5EE-E9BB-427e-BF8B-0C83AB73959F}";
    EXPECT_EQ(rig.machine.registry.GetDword(entry, "EstimatedSize"), KiBNow(rig.machine, placed));
    EXPECT_EQ(rig.machine.registry.GetString(entry, "InstallDate"), "20240306");
    EXPECT_EQ(Only(Compare({}, rig.State()).added, "device ").size(), devices.size());
    for (const char* id : {"*tspvdbusDevice", "*tspvdhcDevice"}) {
        const auto found = rig.machine.devices.DevicesWithHardwareId(id);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(rig.machine.devices.FindDevice(found[0])->driverInf, "oem1.inf") << "the second INF's driver";
    }
}

// ---- restart requirements ------------------------------------------------------------------

TEST_F(InstallProcessTest, RunningMainServiceRequiresARestartAndSkipsTheStartRow) {
    for (Edition edition : {Edition::Workstation, Edition::Server}) {
        Scenario scenario;
        scenario.edition = edition;
        CInstallRig rig(scenario);
        const EditionInfo& info = rig.edition.Info();
        fake::CFakeServices::Config config;
        config.imagePath = std::string(CInstallRig::SYSTEM) + "\\" + info.serviceProgramName;
        rig.machine.files.PutFile(config.imagePath, "the running version");
        rig.machine.services.AddService(info.serviceName, config, os::SERVICE_RUNNING);
        if (edition == Edition::Workstation) {
            // With a usable stub driver the pre-step leaves the running service alone.
            fake::CFakeServices::Config stub;
            stub.type = os::SERVICE_KERNEL_DRIVER;
            rig.machine.services.AddService("tspvd", stub);
        }
        ASSERT_EQ(rig.RunAll(), PACK_OK);

        EXPECT_EQ(rig.failed, 0);
        EXPECT_EQ(rig.rebootFlag, 1);
        std::vector<Progress> expected = edition == Edition::Workstation ? FORWARD_WORKSTATION : FORWARD_SERVER;
        expected.erase(std::find(expected.begin(), expected.end(), Progress{'S', 85, 3}));
        EXPECT_EQ(rig.host.progress, expected);
        const std::vector<std::string> lines = rig.LogLines();
        for (const std::string& line : lines) EXPECT_EQ(line.find("Start Installed Service"), std::string::npos);
        EXPECT_NE(std::find(lines.begin(), lines.end(), "Warning: === Reboot required to complete operation ==="),
                  lines.end());
        if (edition == Edition::Workstation) {
            EXPECT_EQ(lines[1], "Checking to exist 'usb.stub' service - complete.");
            EXPECT_EQ(rig.machine.services.State("tsppnptls"), os::SERVICE_STOPPED);
        }
        EXPECT_EQ(rig.machine.services.State(info.serviceName), os::SERVICE_RUNNING);
    }
}

// ---- failure and rollback ------------------------------------------------------------------

TEST_F(InstallProcessTest, FailureInTheDriverRowShowsTheErrorAndRollsEverythingBack) {
    CInstallRig rig;
    const auto before = rig.State();
    rig.machine.Faults().FailCall("SetupCopyOEMInfA", 1, os::ERROR_ACCESS_DENIED);
    rig.failed = 7;
    ASSERT_EQ(rig.RunAll(), PACK_OK);

    EXPECT_EQ(rig.failed, 1);
    EXPECT_EQ(rig.rebootFlag, 0);
    std::vector<Progress> expected(FORWARD_WORKSTATION.begin(), FORWARD_WORKSTATION.begin() + 5);
    expected.insert(expected.end(), ROLLBACK.begin(), ROLLBACK.end());
    EXPECT_EQ(rig.host.progress, expected);

    const std::string text = "Error during installation.\nError code = 0x00000005\nError arg0 = 0x100002b4";
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].owner, Owner());
    EXPECT_EQ(rig.host.boxes[0].text, text);
    EXPECT_EQ(rig.host.boxes[0].caption, "Tessaport RDP Edition - Workstation");
    EXPECT_EQ(rig.host.boxes[0].type, 0x10u);

    const auto after = rig.State();
    EXPECT_TRUE(after == before) << Differences(before, after);

    const std::vector<std::string> lines = rig.LogLines();
    const auto message = std::find(lines.begin(), lines.end(), text);
    ASSERT_NE(message, lines.end());
    EXPECT_EQ(*(message + 1), "=== Rollback process ===");
    EXPECT_EQ(*(message + 2), "Uninstall Service: tsppnptls");
    const std::string T = rig.target;
    EXPECT_EQ(*(message + 3),
              "Start Citrix installation process: \"" + T + "\\tsport_rde_installer.exe\" UnregisterCitrixDllEx");
    EXPECT_EQ(*(message + 4), "Finish Citrix installation process");
    // Files go in the journal's byte order, the target folder's first.
    EXPECT_EQ(*(message + 5), "RemoveInstallFiles: " + T + "\\readme.txt");
    EXPECT_EQ(lines.back(), "RemoveInstallFiles: C:\\Windows\\system32\\tsprdpclnt.dll");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("RemoveInstallFiles: ", 0) == 0; }),
              15);
    // The pauses of the rollback rows: 2000, five of 500, and 1000 ms.
    EXPECT_GE(rig.machine.kernel.sleptMilliseconds, 800u + 5500u);
    ExpectNothingOpen(rig);
}

TEST_F(InstallProcessTest, FailureAfterServicesStartedStopsThemInListOrderBeforeRollingBack) {
    Scenario scenario;
    scenario.edition = Edition::Workstation;
    CInstallRig rig(scenario);
    const auto before = rig.State();
    // The Start Menu folder's parent does not exist: the directory step fails in row 10.
    rig.host.options.startMenuFolder = "Velotrinex\\Tessaport";
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    const std::size_t staged = rig.machine.devices.DriverStore().size();

    EXPECT_EQ(rig.failed, 1);
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error during installation.\nError code = 0x00000003\nError arg0 = 0x001302d3");
    const std::vector<std::string> lines = rig.LogLines();
    const auto stop = std::find(lines.begin(), lines.end(), "Stop Installed Service: tessaportwssrv");
    ASSERT_NE(stop, lines.end());
    EXPECT_EQ(*(stop + 1), "Stop Installed Service: tsppnptls");
    EXPECT_EQ(*(stop + 2), rig.host.boxes[0].text);
    auto after = rig.State();
    EXPECT_EQ(staged, 1u);
    after.erase("store oem0.inf");
    EXPECT_TRUE(after == before) << Differences(before, after);
}

TEST_F(InstallProcessTest, ServerRollbackRemovesTheRootDevicesItCreated) {
    Scenario scenario;
    scenario.edition = Edition::Server;
    CInstallRig rig(scenario);
    const auto before = rig.State();
    rig.machine.Faults().FailCall("CreateServiceA", 1, os::ERROR_ACCESS_DENIED);
    ASSERT_EQ(rig.RunAll(), PACK_OK);

    EXPECT_EQ(rig.failed, 1);
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error during installation.\nError code = 0x00000005\nError arg0 = 0x10000358");
    EXPECT_TRUE(rig.machine.devices.DevicesWithHardwareId("*tspvdbusDevice").empty());
    EXPECT_TRUE(rig.machine.devices.DevicesWithHardwareId("*tspvdhcDevice").empty());
    // The staged INF stays in the driver store: the journal does not know it.
    auto after = rig.State();
    EXPECT_EQ(after.erase("store oem0.inf"), 1u);
    EXPECT_TRUE(after == before) << Differences(before, after);
}

TEST_F(InstallProcessTest, AFileThatCannotBeLookedForIsNeverOverwrittenWithoutACopy) {
    Scenario scenario;
    scenario.edition = Edition::Server;
    CInstallRig rig(scenario);
    const std::string service = std::string(CInstallRig::SYSTEM) + "\\tessaporttssrv.exe";
    rig.machine.files.PutFile(service, "the user's own file");
    const auto before = rig.State();
    rig.machine.Faults().FailCall("FindFirstFileA", 1, os::ERROR_ACCESS_DENIED);
    ASSERT_EQ(rig.RunAll(), PACK_OK);

    EXPECT_EQ(rig.failed, 1);
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error during installation.\nError code = 0x00000050\nError arg0 = 0x0013026a");
    EXPECT_EQ(rig.machine.files.Text(service), "the user's own file");
    const auto after = rig.State();
    EXPECT_TRUE(after == before) << Differences(before, after);
}

TEST_F(InstallProcessTest, DevicesThatCannotBeListedAreNotCreatedASecondTime) {
    Scenario scenario;
    scenario.edition = Edition::Server;
    CInstallRig rig(scenario);
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    ASSERT_EQ(rig.failed, 0);
    const auto installed = rig.State();

    rig.host.progress.clear();
    rig.host.boxes.clear();
    rig.machine.Faults().FailCall("SetupDiEnumDeviceInfo", 1, os::ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    EXPECT_EQ(rig.failed, 1);
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error during installation.\nError code = 0x00000008\nError arg0 = 0x00130758");
    for (const char* id : {"*tspvdbusDevice", "*tspvdhcDevice"}) {
        EXPECT_EQ(rig.machine.devices.DevicesWithHardwareId(id).size(), 1u) << id;
    }
    auto after = rig.State();
    EXPECT_TRUE(after == installed) << Differences(installed, after);
}

TEST_F(InstallProcessTest, MissingEntriesFailAtTheirOwnLocations) {
    struct Case {
        Edition edition;
        Windows windows;
        const char* entry;
        unsigned location;
    };
    const Case cases[] = {
        {Edition::Workstation, Windows::Seven, "tspctxclnt.dll", 374},
        {Edition::Workstation, Windows::Seven, "tspvd_vista.sys", 427},
        {Edition::Workstation, Windows::Xp64, "tspvd.sys", 432},
        {Edition::Workstation, Windows::Seven, "tsport_rde_installer.exe", 573},
        {Edition::Workstation, Windows::Seven, "tspvd_vista.cat", 679},
        {Edition::Server, Windows::Seven, "tspvdbus.sys", 442},
        {Edition::Server, Windows::Seven, "tessaport-ts-help.chm", 591},
        {Edition::Server, Windows::Seven, "tspvdbus.cat", 716},
    };
    for (const Case& c : cases) {
        Scenario scenario;
        scenario.edition = c.edition;
        scenario.windows = c.windows;
        CInstallRig rig(scenario);
        const auto before = rig.State();
        std::vector<package::PackEntry> entries = rig.entries;
        entries.erase(std::find_if(entries.begin(), entries.end(),
                                   [&c](const package::PackEntry& e) { return e.name == c.entry; }));
        rig.SetPackage(entries);
        const auto start = rig.State();
        ASSERT_EQ(rig.RunAll(), PACK_OK);
        EXPECT_EQ(rig.failed, 1) << c.entry;
        ASSERT_EQ(rig.host.boxes.size(), 1u) << c.entry;
        char arg0[16];
        std::snprintf(arg0, sizeof arg0, "0x%.8x", 0x10000000u + c.location);
        EXPECT_NE(rig.host.boxes[0].text.find(std::string("Error arg0 = ") + arg0), std::string::npos)
            << c.entry << ": " << rig.host.boxes[0].text;
        auto after = rig.State();
        after.erase("store oem0.inf");
        EXPECT_TRUE(after == start) << c.entry << "\n" << Differences(start, after);
        (void)before;
    }
}

TEST_F(InstallProcessTest, FailingOptionalShortcutIsAWarningAndTheInstallationCompletes) {
    CInstallRig rig;
    rig.machine.Faults().FailCall("CoCreateInstance", 2, 0x80004005u);  // the help link
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    EXPECT_EQ(rig.failed, 0);
    EXPECT_TRUE(rig.host.boxes.empty());
    const std::vector<std::string> lines = rig.LogLines();
    const auto warning = std::find(lines.begin(), lines.end(), "Warning: ");
    ASSERT_NE(warning, lines.end());
    EXPECT_EQ(*(warning - 1), "CreateShortcuts: " + rig.menu + "\\Tessaport RDP Edition - Workstation Help.lnk");
    EXPECT_EQ(*(warning + 1), "Error during installation.\nError code = 0x80004005\nError arg0 = 0x0013032f");
    EXPECT_FALSE(rig.machine.files.FileExists(rig.menu + "\\Tessaport RDP Edition - Workstation Help.lnk"));
    EXPECT_TRUE(rig.machine.files.FileExists(rig.menu + "\\Tessaport RDP Edition - Workstation License.lnk"));
    EXPECT_EQ(rig.host.progress.back(), (Progress{'S', 100, 5}));
}

TEST_F(InstallProcessTest, FailingMainShortcutFailsTheInstallation) {
    Scenario scenario;
    scenario.edition = Edition::Server;
    CInstallRig rig(scenario);
    rig.machine.Faults().FailCall("CoCreateInstance", 1, 0x80004005u);
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    EXPECT_EQ(rig.failed, 1);
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error during installation.\nError code = 0x80004005\nError arg0 = 0x0013032f");
    // Stopped before rolling back: the only service started in this run.
    const std::vector<std::string> lines = rig.LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Stop Installed Service: tessaporttssrv"), lines.end());
    EXPECT_FALSE(rig.machine.services.Exists("tessaporttssrv"));
}

TEST_F(InstallProcessTest, WorkstationWithoutA32BitSystemFolderSkipsItsClientDlls) {
    CInstallRig rig;
    rig.machine.kernel.wow64Directory = "";
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    EXPECT_EQ(rig.failed, 0);
    EXPECT_TRUE(rig.machine.files.ListFilesUnder(CInstallRig::WOW64).empty());
}

// ---- unpack only ---------------------------------------------------------------------------

TEST_F(InstallProcessTest, UnpackOnlyExtractsTheListInOrderAndRefusesAnExistingFolder) {
    for (Edition edition : {Edition::Workstation, Edition::Server}) {
        Scenario scenario;
        scenario.edition = edition;
        CInstallRig rig(scenario);
        const EditionInfo& info = rig.edition.Info();
        const std::string folder = std::string("C:\\setup\\") + info.displayName + " files";
        const auto before = rig.State();

        EXPECT_TRUE(rig.Create().UnpackOnly());
        EXPECT_TRUE(rig.host.boxes.empty());
        std::vector<std::string> expectedLines = {"=== unpack files process ==="};
        std::vector<std::string> traced;
        const std::vector<const char*> extractList = ExtractedNames(info);
        for (const char* name : extractList) {
            expectedLines.push_back("Install File: " + folder + "\\" + name);
            ExpectInstalled(rig, folder + "\\" + name, name);
            traced.push_back(name);
        }
        EXPECT_EQ(extractList.size(), edition == Edition::Workstation ? 16u : 10u);
        EXPECT_EQ(rig.LogLines(), expectedLines);
        EXPECT_EQ(rig.machine.kernel.debugOutput, traced);
        EXPECT_EQ(rig.machine.files.ListFilesUnder(folder).size(), extractList.size());
        // Nothing but the folder and its files.
        const Change change = Compare(before, rig.State());
        EXPECT_EQ(change.added.size(), extractList.size() + 1);
        EXPECT_TRUE(change.changed.empty());

        // A second run in the same folder writes nothing.
        EXPECT_FALSE(rig.process->UnpackOnly());
        ASSERT_EQ(rig.host.boxes.size(), 1u);
        const std::string text = "Error during installation.\nError code = 0x000000b7\nError arg0 = 0x100000fd";
        EXPECT_EQ(rig.host.boxes[0].text, text);
        EXPECT_EQ(rig.host.boxes[0].owner, nullptr);
        EXPECT_EQ(rig.host.boxes[0].caption, info.displayName);
        const std::vector<std::string> lines = rig.LogLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[lines.size() - 3], "=== unpack files process ===");
        EXPECT_EQ(lines[lines.size() - 2], text);
        EXPECT_EQ(lines[lines.size() - 1], "=== === ===");
    }
}

TEST_F(InstallProcessTest, UnpackOnlyOfADamagedPackageFailsAtTheFirstName) {
    CInstallRig rig;
    std::vector<std::uint8_t> image = rig.machine.files.Content(rig.machine.kernel.modulePath);
    image[image.size() - 10] ^= 0x55;
    rig.machine.files.PutFile(rig.machine.kernel.modulePath, image);
    rig.Create().UnpackOnly();
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_NE(rig.host.boxes[0].text.find("Error arg0 = 0x10000105"), std::string::npos) << rig.host.boxes[0].text;
    EXPECT_EQ(rig.machine.kernel.debugOutput, std::vector<std::string>{"tessaportwssrv.exe"});
    EXPECT_TRUE(rig.machine.files.ListFilesUnder("C:\\setup\\Tessaport RDP Edition - Workstation files").empty());
}

TEST_F(InstallProcessTest, UnpackOnlyWithoutACurrentDirectoryFailsAt247) {
    CInstallRig rig;
    rig.machine.Faults().FailCall("GetCurrentDirectoryA", 1, os::ERROR_ACCESS_DENIED);
    rig.Create().UnpackOnly();
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error during installation.\nError code = 0x00000005\nError arg0 = 0x100000f7");
}

// ---- failure paths ------------------------------------------------------------------------

// Every file that was there before the run, with its content, is at its place or in a
// backup beside it: whatever went wrong, nothing of the user's is lost.
std::string LostFiles(const std::map<std::string, std::string>& before, const CInstallRig& rig) {
    const auto now = rig.machine.files.Snapshot();
    std::set<std::string> backups;
    for (const auto& [path, content] : now) {
        if (path.size() > 11 && path.compare(path.size() - 11, 11, ".TMP.BACKUP") == 0) backups.insert(content);
    }
    std::string lost;
    for (const auto& [key, content] : before) {
        if (key.rfind("file ", 0) != 0) continue;
        const auto it = now.find(key.substr(5));
        if ((it == now.end() || it->second != content) && backups.count(content) == 0) lost += key + "\n";
    }
    return lost;
}

// An older build of the edition installed, as an upgrade finds the machine.
void InstallOlderBuild(CInstallRig& rig) {
    rig.SetPackage(PackageEntries(rig.scenario.edition, 2));
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    ASSERT_EQ(rig.failed, 0);
    rig.SetPackage(rig.entries);
    rig.host.progress.clear();
    rig.RestartMachine();
    rig.machine.Faults().Clear();
}

TEST_F(InstallProcessTest, SilentRunWithoutMessagesRollsBackAtOnceAndOnlyLogsTheError) {
    CInstallRig rig;
    const auto before = rig.State();
    rig.host.messagesShown = false;
    rig.machine.Faults().FailCall("SetupCopyOEMInfA", 1, os::ERROR_ACCESS_DENIED);
    ASSERT_EQ(rig.RunAll(), PACK_OK);

    EXPECT_EQ(rig.failed, INSTALL_FAILED);
    EXPECT_TRUE(rig.host.boxes.empty());
    const std::vector<std::string> lines = rig.LogLines();
    const auto message = std::find(lines.begin(), lines.end(),
                                   "Error during installation.\nError code = 0x00000005\nError arg0 = 0x100002b4");
    ASSERT_NE(message, lines.end());
    EXPECT_EQ(*(message + 1), "=== Rollback process ===");
    const auto after = rig.State();
    EXPECT_TRUE(after == before) << Differences(before, after);

    // The same for the unpack-only road.
    rig.host.messagesShown = false;
    rig.machine.files.MakeDirectory("C:\\setup\\Tessaport RDP Edition - Workstation files");
    rig.Create();
    EXPECT_FALSE(rig.process->UnpackOnly());
    EXPECT_TRUE(rig.host.boxes.empty());
    EXPECT_EQ(rig.LogLines().back(), "=== === ===");
}

TEST_F(InstallProcessTest, RunningOutOfMemoryInAStepIsAnInstallationErrorThatRollsBack) {
    for (const char* call : {"SetupCopyOEMInfA", "CreateServiceA", "CoCreateInstance", "CreateDirectoryA"}) {
        SCOPED_TRACE(call);
        CInstallRig rig;
        const auto before = rig.State();
        rig.machine.Faults().ThrowCall(call, 1);
        ASSERT_EQ(rig.RunAll(), PACK_OK);

        EXPECT_EQ(rig.failed, INSTALL_FAILED);
        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(rig.host.boxes[0].text, "Error during installation.\nError code = 0x8007000e\nError arg0 = 0x1000000e");
        auto after = rig.State();
        after.erase("store oem0.inf");  // staged packages stay in the driver store
        EXPECT_TRUE(after == before) << Differences(before, after);
        ExpectNothingOpen(rig);
    }
}

TEST_F(InstallProcessTest, ARollbackCutShortByAnExceptionLosesNoFileAndDoesNotClaimARestoredMachine) {
    // A late failure of an upgrade (a folder stands where the web shortcut goes), then each
    // call of the run in turn throws: also every call of the rollback.
    Scenario scenario;
    CInstallRig probe(scenario);
    InstallOlderBuild(probe);
    const std::string url = probe.menu + "\\Tessaport RDP Edition - Workstation on Web.url";
    probe.machine.files.Remove(url);
    probe.machine.files.MakeDirectory(url);
    ASSERT_EQ(probe.RunAll(), PACK_OK);
    ASSERT_EQ(probe.failed, INSTALL_FAILED);
    const unsigned calls = probe.machine.Faults().CallCount();

    unsigned cutShort = 0;
    for (unsigned nth = 1; nth <= calls; ++nth) {
        CInstallRig rig(scenario);
        InstallOlderBuild(rig);
        rig.machine.files.Remove(url);
        rig.machine.files.MakeDirectory(url);
        const auto before = rig.State();
        rig.machine.Faults().ThrowNth(nth);
        try {
            if (rig.RunAll() != PACK_OK) continue;
        } catch (const std::bad_alloc&) {
            continue;  // the engine could not be made: the application ends before installing
        }
        const std::string where = "call " + std::to_string(nth) + " (" + rig.machine.Faults().Calls()[nth - 1] + ")";
        ASSERT_TRUE(rig.failed == INSTALL_FAILED || rig.failed == INSTALL_FAILED_NOT_RESTORED) << where;
        // Deferred moves happen at the next start.
        rig.machine.files.Restart();
        EXPECT_EQ(LostFiles(before, rig), "") << where;
        if (rig.failed == INSTALL_FAILED_NOT_RESTORED) {
            ++cutShort;
        } else {
            rig.machine.services.Restart();
            auto after = rig.State();
            for (auto it = after.begin(); it != after.end();) {
                it = it->first.rfind("store ", 0) == 0 && before.count(it->first) == 0 ? after.erase(it) : std::next(it);
            }
            EXPECT_TRUE(after == before) << where << Differences(before, after);
        }
    }
    EXPECT_GT(cutShort, 10u);  // the rollback's own calls were reached
}

TEST_F(InstallProcessTest, AfterAGuardCaughtExceptionTheRunRollsBackOrAtLeastKeepsEveryBackup) {
    struct Case {
        bool unwound;
        std::int32_t failed;
    };
    for (const Case c : {Case{true, INSTALL_FAILED}, Case{false, INSTALL_FAILED_NOT_RESTORED}}) {
        SCOPED_TRACE(c.unwound ? "unwound" : "abandoned");
        CInstallRig rig;
        InstallOlderBuild(rig);
        const auto before = rig.State();
        rig.Create();
        ASSERT_EQ(rig.process->CheckPackage(), PACK_OK);
        // Late in the run: the program files are replaced, their backups beside them.
        rig.machine.Faults().ThrowCall("CoCreateInstance", 1, fake::FaultKind::Foreign);
        EXPECT_THROW(rig.Install(), fake::FaultPlanForeignException);
        EXPECT_TRUE(rig.host.boxes.empty());
        EXPECT_EQ(rig.process->RecoverFromFault(c.unwound), c.failed);
        rig.process.reset();
        EXPECT_EQ(LostFiles(before, rig), "");
        if (c.unwound) {
            rig.machine.services.Restart();
            auto after = rig.State();
            after.erase("store oem1.inf");
            EXPECT_TRUE(after == before) << Differences(before, after);
            const std::vector<std::string> lines = rig.LogLines();
            EXPECT_NE(std::find(lines.begin(), lines.end(), "=== Rollback process ==="), lines.end());
        } else {
            EXPECT_FALSE(rig.machine.files.ListFilesUnder(rig.target).empty());
        }
    }
}

// ---- a previous installation and what an uninstallation left ----------------------------

TEST_F(InstallProcessTest, AFailedUpgradeLeavesThePreviousInstallationRunningAndRegistered) {
    for (Edition edition : {Edition::Workstation, Edition::Server}) {
        SCOPED_TRACE(edition == Edition::Workstation ? "workstation" : "server");
        Scenario scenario;
        scenario.edition = edition;
        CInstallRig rig(scenario);
        InstallOlderBuild(rig);
        const EditionInfo& info = rig.edition.Info();
        // (The in-memory machine has no INF services: the server's service cannot run there.)
        const os::DWORD running = edition == Edition::Workstation ? os::SERVICE_RUNNING : os::SERVICE_STOPPED;
        ASSERT_EQ(rig.machine.services.State(info.serviceName), running);
        const auto before = rig.State();
        // A folder stands where the web shortcut goes: the last step fails.
        const std::string url = rig.menu + "\\" + Link(info, EditionLinkPlace::MenuWeb).name;
        rig.machine.files.Remove(url);
        rig.machine.files.MakeDirectory(url);
        const std::size_t launchesBefore = rig.machine.processes.Launches().size();
        ASSERT_EQ(rig.RunAll(), PACK_OK);

        EXPECT_EQ(rig.failed, INSTALL_FAILED);
        rig.machine.files.Remove(url);  // the obstacle itself is not ours
        auto after = rig.State();
        for (auto it = after.begin(); it != after.end();) {
            it = it->first.rfind("store ", 0) == 0 && before.count(it->first) == 0 ? after.erase(it) : std::next(it);
        }
        after[FileKey(url)] = before.at(FileKey(url));
        // Devices that were there keep the new driver: updating one is not journalled.
        for (auto& [key, value] : after) {
            if (key.rfind("device ", 0) == 0 && before.count(key) != 0) value = before.at(key);
        }
        // Every file is the old one, and the old services run as they did.
        EXPECT_TRUE(after == before) << Differences(before, after);
        EXPECT_EQ(rig.machine.services.State(info.serviceName), running);
        if (edition == Edition::Workstation) {
            EXPECT_EQ(rig.machine.services.State("tsppnptls"), os::SERVICE_RUNNING);
            // The rollback took the registration away with the new program; the old one,
            // back in place, makes it again.
            const auto& launches = rig.machine.processes.Launches();
            ASSERT_EQ(launches.size(), launchesBefore + 3);
            const std::string program = "\"" + rig.target + "\\tsport_rde_installer.exe\"";
            EXPECT_EQ(launches[launchesBefore].commandLine, program + " RegisterCitrixDllEx");
            EXPECT_EQ(launches[launchesBefore + 1].commandLine, program + " UnregisterCitrixDllEx");
            EXPECT_EQ(launches[launchesBefore + 2].commandLine, program + " RegisterCitrixDllEx");
            EXPECT_EQ(rig.machine.files.Content(rig.target + "\\tsport_rde_installer.exe"),
                      EntryContent(PackageEntries(edition, 2), "tsport_rde_installer.exe"));
        }
    }
}

TEST_F(InstallProcessTest, AFreshInstallThatFailsRegistersNoCitrixSupportAgain) {
    CInstallRig rig;
    rig.machine.Faults().FailCall("SetupCopyOEMInfA", 1, os::ERROR_ACCESS_DENIED);
    ASSERT_EQ(rig.RunAll(), PACK_OK);
    const auto& launches = rig.machine.processes.Launches();
    for (const auto& launch : launches) EXPECT_EQ(launch.commandLine.find(" RegisterCitrixDllEx"), std::string::npos);
}

TEST_F(InstallProcessTest, AServiceStillMarkedForDeletionIsMadeByTheRunResumedAfterTheRestart) {
    const std::string runOnce = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    CInstallRig rig;
    // An uninstallation just before could not stop the service: it is marked for deletion.
    fake::CFakeServices::Config old;
    old.imagePath = std::string(CInstallRig::SYSTEM) + "\\tessaportwssrv.exe";
    old.startType = os::SERVICE_AUTO_START;
    old.account = "LocalSystem";
    rig.machine.services.AddService("tessaportwssrv", old, os::SERVICE_RUNNING).behaviour.acceptsStop = false;
    {
        os::ServiceHandle manager(os::Services().OpenSCManagerA(os::SC_MANAGER_ALL_ACCESS));
        os::ServiceHandle service(os::Services().OpenServiceA(manager.Get(), "tessaportwssrv", os::SERVICE_ALL_ACCESS));
        ASSERT_TRUE(os::Services().DeleteService(service.Get()));
    }
    ASSERT_EQ(rig.RunAll(), PACK_OK);

    // Not a failure: the restart flag, and a run of this installer after the restart.
    EXPECT_EQ(rig.failed, 0);
    EXPECT_EQ(rig.rebootFlag, 1);
    EXPECT_TRUE(rig.host.boxes.empty());
    // The copy runs elevated later: from a new folder of its own that only administrators
    // can change, never from a name a user could have taken first.
    const std::string command =
        rig.machine.registry.GetString(runOnce, "Tessaport RDP Edition - Workstation setup").value_or("");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(
        command, parts,
        std::regex(R"re("(C:\\Windows\\Temp\\[1-9]{8})\\tessaport-rdp-workstation-setup\.exe" -resume -silent)re")))
        << command;
    const std::string folder = parts[1];
    const std::string copy = folder + "\\tessaport-rdp-workstation-setup.exe";
    EXPECT_EQ(rig.machine.files.Content(copy), rig.machine.files.Content(rig.machine.kernel.modulePath));
    EXPECT_EQ(rig.machine.files.AccessList(folder), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");

    // The restart takes the old service away; then Windows runs (and forgets) the command.
    rig.machine.files.Restart();
    rig.machine.services.Restart();
    ASSERT_FALSE(rig.machine.services.Exists("tessaportwssrv"));
    rig.machine.registry.DeleteValue(runOnce, "Tessaport RDP Edition - Workstation setup");
    rig.machine.kernel.modulePath = copy;
    rig.Create();
    EXPECT_TRUE(rig.process->Resume());
    rig.process.reset();

    ExpectService(rig, "tessaportwssrv", os::SERVICE_WIN32_OWN_PROCESS, os::SERVICE_AUTO_START,
                  std::string(CInstallRig::SYSTEM) + "\\tessaportwssrv.exe", "Tessaport RDP Edition Workstation Service",
                  os::SERVICE_RUNNING);
    const auto* service = rig.machine.services.Find("tessaportwssrv");
    EXPECT_EQ(service->config.dependencies, std::vector<std::string>{"tsppnptls"});
    EXPECT_EQ(service->config.group, "PlugPlay");
    EXPECT_EQ(service->config.description, "Tessaport RDP Edition Workstation - helps to share USB devices over IP");
    EXPECT_EQ(rig.machine.services.State("tsppnptls"), os::SERVICE_RUNNING);
    // The copy and its folder go with the next start.
    EXPECT_TRUE(rig.machine.files.FileExists(copy));
    rig.machine.files.Restart();
    EXPECT_FALSE(rig.machine.files.FileExists(copy));
    EXPECT_FALSE(rig.machine.files.DirectoryExists(folder));
}

// ---- the process's other operations -------------------------------------------------------

TEST_F(InstallProcessTest, CheckPackageReportsTheReadersStatusAndRestartAsksWindows) {
    CInstallRig rig;
    EXPECT_EQ(rig.Create().CheckPackage(), PACK_OK);
    rig.machine.files.Remove(rig.machine.kernel.modulePath);
    EXPECT_EQ(rig.process->CheckPackage(), PACK_E_READ);

    EXPECT_NE(rig.process->RestartComputer(), 0);
    ASSERT_EQ(rig.machine.shell.restartRequests.size(), 1u);
    EXPECT_EQ(rig.machine.shell.restartRequests[0].flags, os::EWX_REBOOT);
}

TEST_F(InstallProcessTest, ErrorTextFillsOnlyTheTwoNumbers) {
    CInstallRig rig;
    rig.Create();
    CExceptionEx error(INSTALL_PROCESS_MODULE, 253, 0xB7);
    EXPECT_EQ(rig.process->FormatErrorText(IDS_INSTALL_ERROR, error),
              "Error during installation.\nError code = 0x000000b7\nError arg0 = 0x100000fd");

    // A text with other conversions is shown as it stands, never used as a format.
    class CStrangeHost final : public IInstallHost {
    public:
        const InstallOptions& GetInstallOptions() const override { return options; }
        void SetProgressStep(std::int32_t, std::int32_t) override {}
        void SetProgressPosition(std::int32_t) override {}
        void SetProgressDirection(std::int32_t) override {}
        std::string LoadText(std::uint32_t) const override { return "%s %n 100%% %.8x %.8x %.8x"; }
        int ShowMessageBox(os::HWND, const char*, const char*, os::UINT) override { return 1; }
        bool MessagesShown() const override { return true; }
        InstallOptions options;
    } strange;
    CInstallProcess process(rig.logFile, &strange, WorkstationEdition());
    EXPECT_EQ(process.FormatErrorText(44, error), "%s %n 100% 000000b7 100000fd %.8x");
}

}  // namespace
