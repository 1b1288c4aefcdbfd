#include <string>
#include <vector>

#include "engine_test_support.h"
#include "fake/fake_shell.h"

using namespace enginetest;

namespace {

const char* const APP_DIR = "C:\\Program Files\\Tessaport RDP";
const char* const MENU_DIR =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Tessaport RDP Edition - Workstation";
const char* const UNINSTALL_KEY =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}";

class ShortcutTest : public EngineTest {
protected:
    ShortcutTest() {
        machine.files.MakeDirectory(APP_DIR);
        machine.files.MakeDirectory(MENU_DIR);
    }

    std::string MenuLink(const std::string& name) const { return std::string(MENU_DIR) + "\\" + name + ".lnk"; }

    // Every COM initialisation balanced, every interface released, no misuse on the way.
    void ExpectComCleanedUp() const {
        EXPECT_EQ(machine.shell.ComDepth(), 0);
        EXPECT_EQ(machine.shell.coInitializeCalls, machine.shell.coUninitializeCalls);
        EXPECT_EQ(machine.shell.LiveInterfaceCount(), 0u);
        EXPECT_EQ(machine.shell.LiveObjectCount(), 0u);
        EXPECT_EQ(machine.shell.misuse, std::vector<std::string>{});
    }
};

// ---- shell shortcuts ----------------------------------------------------------------

using EngineShortcut = ShortcutTest;

TEST_F(EngineShortcut, SavesTheLinkJournalsItAndReleasesEverything) {
    CTestInstaller& engine = Make();
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Tessaport RDP", nullptr);

    const std::string link = MenuLink("Tessaport RDP");
    EXPECT_EQ(machine.files.Text(link),
              "[ShellLink]\r\n"
              "Target=C:\\Program Files\\Tessaport RDP\\tsport_user.exe\r\n"
              "WorkingDirectory=C:\\Program Files\\Tessaport RDP\r\n"
              "Description=Tessaport RDP\r\n"
              "Icon=C:\\Program Files\\Tessaport RDP\\tsport_user.exe,0\r\n");
    EXPECT_EQ(engine.GetJournal(), (CInstaller::Journal{{link, JOURNAL_FILE}}));
    EXPECT_EQ(LogText(), "CreateShortcuts: " + link + "\r\n");
    EXPECT_EQ(machine.shell.objectsCreated, 1u);
    ExpectComCleanedUp();
    installer.reset();
    ExpectNothingOpen();
}

TEST_F(EngineShortcut, ArgumentsAreSetOnlyWhenGivenEvenWhenEmpty) {
    CTestInstaller& engine = Make();
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "With", "-tray");
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Empty", "");
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Without", nullptr);

    EXPECT_NE(machine.files.Text(MenuLink("With")).find("\r\nArguments=-tray\r\n"), std::string::npos);
    EXPECT_NE(machine.files.Text(MenuLink("Empty")).find("\r\nArguments=\r\n"), std::string::npos);
    EXPECT_EQ(machine.files.Text(MenuLink("Without")).find("Arguments="), std::string::npos);
    EXPECT_EQ(engine.GetJournal().size(), 3u);
    ExpectComCleanedUp();
}

TEST_F(EngineShortcut, AFailedSetArgumentsDoesNotStopTheShortcut) {
    CTestInstaller& engine = Make();
    machine.Faults().FailCall("IShellLinkA::SetArguments", 1, 0x80004005u);
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Tessaport RDP", "-tray");

    EXPECT_TRUE(machine.files.FileExists(MenuLink("Tessaport RDP")));
    EXPECT_EQ(machine.files.Text(MenuLink("Tessaport RDP")).find("Arguments="), std::string::npos);
    EXPECT_EQ(engine.GetJournal().count(MenuLink("Tessaport RDP")), 1u);
    ExpectComCleanedUp();
}

// An older link is backed up like an overwritten file: the rollback puts it back instead
// of deleting the user's link with ours.
TEST_F(EngineShortcut, AnExistingLinkIsBackedUpAndPutBackByTheRollback) {
    const std::string link = MenuLink("Tessaport RDP");
    machine.files.PutFile(link, "an older link");
    CTestInstaller& engine = Make();
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Tessaport RDP", nullptr);

    EXPECT_EQ(machine.files.Text(link).rfind("[ShellLink]\r\n", 0), 0u);
    ASSERT_EQ(engine.GetFileBackups().size(), 1u);
    EXPECT_EQ(engine.GetFileBackups().begin()->first, link);
    EXPECT_TRUE(engine.GetJournal().empty());

    engine.RemoveInstallFiles();
    engine.RollBackInstallFiles();
    EXPECT_EQ(machine.files.ListFilesUnder(MENU_DIR), std::vector<std::string>{link});
    EXPECT_EQ(machine.files.Text(link), "an older link");
    EXPECT_EQ(*engine.GetRebootFlag(), 0);
}

// When the search for it fails for another reason, a link may be there: it is not
// overwritten without a copy.
TEST_F(EngineShortcut, AnUnsureSearchTakesABackupOrFails) {
    const std::string link = MenuLink("Tessaport RDP");
    machine.files.PutFile(link, "an older link");
    CTestInstaller& engine = Make();
    machine.Faults().FailCall("FindFirstFileA", 1, os::ERROR_ACCESS_DENIED);
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Tessaport RDP", nullptr);
    EXPECT_EQ(engine.GetFileBackups().size(), 1u);
    EXPECT_TRUE(engine.GetJournal().empty());

    machine.Faults().FailCall("FindFirstFileA", 1, os::ERROR_ACCESS_DENIED);  // counted from here
    const auto raised =
        RaisedBy([&] { engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Other", nullptr); });
    ASSERT_TRUE(raised.has_value());
    EXPECT_EQ(*raised, (Raised{19, 423, os::ERROR_FILE_NOT_FOUND}));
    EXPECT_FALSE(machine.files.FileExists(MenuLink("Other")));
}

TEST_F(EngineShortcut, AnApartmentAlreadyOpenOnTheThreadIsLeftAsItWas) {
    ASSERT_EQ(os::Shell().CoInitialize(), os::S_OK);
    CTestInstaller& engine = Make();
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Tessaport RDP", nullptr);

    EXPECT_EQ(engine.GetJournal().size(), 1u);
    EXPECT_EQ(machine.shell.ComDepth(), 1);
    EXPECT_EQ(machine.shell.LiveObjectCount(), 0u);
    os::Shell().CoUninitialize();
    ExpectComCleanedUp();
}

// Names Windows refuses, a missing folder and a path too long for the wide form all fail
// the Save with the file system's reason.
TEST_F(EngineShortcut, SaveFailuresRaise857WithTheFileErrorAndJournalNothing) {
    CTestInstaller& engine = Make();
    struct Case {
        const char* folder;
        std::string name;
        std::uint32_t error;
    };
    const std::vector<Case> cases = {
        {MENU_DIR, "What?", os::ERROR_INVALID_NAME},
        {MENU_DIR, "All*", os::ERROR_INVALID_NAME},
        {"C:\\ProgramData\\Missing", "Tessaport RDP", os::ERROR_PATH_NOT_FOUND},
        {MENU_DIR, std::string(260 - std::string(MENU_DIR).size() - 5, 'x'), os::ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            RaisedBy([&] { engine.CreateShortcut("tsport_user.exe", APP_DIR, c.folder, c.name.c_str(), nullptr); }),
            (Raised{19, 857, c.error}));
        ExpectComCleanedUp();
    }
    EXPECT_TRUE(engine.GetJournal().empty());
    EXPECT_TRUE(machine.files.ListFilesUnder(MENU_DIR).empty());

    // One character shorter, the same long name fits.
    const std::string fits(260 - std::string(MENU_DIR).size() - 6, 'x');
    engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, fits.c_str(), nullptr);
    EXPECT_TRUE(machine.files.FileExists(MenuLink(fits)));
}

struct StepFailure {
    const char* call;
    std::uint16_t location;
    std::uint32_t error;
};
void PrintTo(const StepFailure& step, std::ostream* out) { *out << step.call; }

class EngineShortcutStep : public ShortcutTest, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(EngineShortcutStep, RaisesItsLocationAfterReleasingEverythingAndJournalsNothing) {
    const StepFailure& step = GetParam();
    CTestInstaller& engine = Make();
    machine.Faults().FailCall(step.call, 1, step.error);

    EXPECT_EQ(RaisedBy([&] { engine.CreateShortcut("tsport_user.exe", APP_DIR, MENU_DIR, "Tessaport RDP", "-tray"); }),
              (Raised{19, step.location, step.error}));
    EXPECT_EQ(machine.Faults().FailuresInjected(), 1u);
    EXPECT_TRUE(engine.GetJournal().empty());
    EXPECT_FALSE(machine.files.FileExists(MenuLink("Tessaport RDP")));
    EXPECT_EQ(LogText(), "CreateShortcuts: " + MenuLink("Tessaport RDP") + "\r\n");
    ExpectComCleanedUp();
    // A failed CoInitialize is not balanced: there is nothing to balance.
    EXPECT_EQ(machine.shell.coUninitializeCalls, step.location == 807 ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, EngineShortcutStep,
    ::testing::Values(StepFailure{"CoInitialize", 807, 0x80010106u /* RPC_E_CHANGED_MODE */},
                      StepFailure{"CoCreateInstance", 815, 0x80040154u /* REGDB_E_CLASSNOTREG */},
                      StepFailure{"IShellLinkA::QueryInterface", 819, 0x80004002u /* E_NOINTERFACE */},
                      StepFailure{"IShellLinkA::SetPath", 823, os::ERROR_INVALID_PARAMETER},
                      StepFailure{"IShellLinkA::SetDescription", 829, os::ERROR_NOT_ENOUGH_MEMORY},
                      StepFailure{"IShellLinkA::SetWorkingDirectory", 841, os::ERROR_INVALID_PARAMETER},
                      StepFailure{"IShellLinkA::SetIconLocation", 846, os::ERROR_NOT_ENOUGH_MEMORY},
                      StepFailure{"IPersistFile::Save", 857, os::ERROR_DISK_FULL}),
    [](const ::testing::TestParamInfo<StepFailure>& info) { return "Location" + std::to_string(info.param.location); });

// The checks above can fail: a forgotten release or a missing CoUninitialize is noticed.
TEST(FakeShell, NoticesALeakedInterfaceAndAnUnbalancedApartment) {
    fake::CFakeMachine machine;
    os::IShell& shell = os::Shell();
    ASSERT_EQ(shell.CoInitialize(), os::S_OK);
    os::PSHELLLINK link = nullptr;
    ASSERT_EQ(shell.CreateShellLink(&link), os::S_OK);
    os::PPERSISTFILE file = nullptr;
    ASSERT_EQ(shell.QueryPersistFile(link, &file), os::S_OK);
    EXPECT_EQ(shell.ReleaseShellLink(link), 1u);  // the IPersistFile still holds the object
    EXPECT_EQ(shell.ReleaseShellLink(link), 0u);  // a second release of the same reference
    shell.CoUninitialize();
    EXPECT_EQ(machine.shell.misuse, (std::vector<std::string>{"IShellLinkA::Release of an interface that is not alive",
                                                              "CoUninitialize with 1 object(s) alive"}));
    EXPECT_EQ(shell.ReleasePersistFile(file), 0u);
    EXPECT_EQ(machine.shell.LiveObjectCount(), 0u);
    EXPECT_EQ(shell.CreateShellLink(&link), os::CO_E_NOTINITIALIZED);
}

// ---- Internet shortcuts -------------------------------------------------------------

using EngineUrlShortcut = ShortcutTest;

TEST_F(EngineUrlShortcut, IsWrittenAsAPayloadFileWithExactlyItsContent) {
    CTestInstaller& engine = Make();
    engine.CreateUrlShortcut("Quick Start.url", MENU_DIR, "https://www.tessaport.example/quickstart");
    engine.CreateUrlShortcut("Empty.url", MENU_DIR, "");

    const std::string url = std::string(MENU_DIR) + "\\Quick Start.url";
    const std::string empty = std::string(MENU_DIR) + "\\Empty.url";
    EXPECT_EQ(machine.files.Text(url), "[InternetShortcut]\r\nURL=https://www.tessaport.example/quickstart");
    EXPECT_EQ(machine.files.Text(empty), "[InternetShortcut]\r\nURL=");
    EXPECT_EQ(engine.GetJournal(), (CInstaller::Journal{{empty, JOURNAL_FILE}, {url, JOURNAL_FILE}}));
    EXPECT_EQ(LogText(), "Install File: " + url + "\r\nInstall File: " + empty + "\r\n");
    EXPECT_EQ(machine.shell.coInitializeCalls, 0u);
}

TEST_F(EngineUrlShortcut, AnExistingFileIsBackedUpLikeAnyPayloadFile) {
    const std::string url = std::string(MENU_DIR) + "\\Quick Start.url";
    machine.files.PutFile(url, "[InternetShortcut]\r\nURL=http://old");
    CTestInstaller& engine = Make();
    engine.CreateUrlShortcut("Quick Start.url", MENU_DIR, "http://new");

    EXPECT_EQ(machine.files.Text(url), "[InternetShortcut]\r\nURL=http://new");
    ASSERT_EQ(engine.GetFileBackups().count(url), 1u);
    EXPECT_EQ(machine.files.Text(engine.GetFileBackups().at(url)), "[InternetShortcut]\r\nURL=http://old");
    EXPECT_TRUE(engine.GetJournal().empty());
}

// ---- uninstall entry ------------------------------------------------------------------

using EngineUninstallEntry = ShortcutTest;

fake::CFakeRegistry::Value Sz(const std::string& text) {
    fake::CFakeRegistry::Value value;
    value.type = os::REG_SZ;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
}

TEST_F(EngineUninstallEntry, WritesFourStringsWithTheUninstallerQuoted) {
    CTestInstaller& engine = Make();
    engine.WriteUninstallEntry("{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}", APP_DIR, MENU_DIR, "tsport_uninstall.exe",
                               "Tessaport RDP Edition - Workstation");

    EXPECT_EQ(machine.registry.ValueNames(UNINSTALL_KEY),
              (std::vector<std::string>{"InstallLocation", "UninstallString", "StartMenuLocation", "DisplayName"}));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "InstallLocation"), Sz("C:\\Program Files\\Tessaport RDP"));
    // Quoted: the folder holds a space, and Windows would otherwise try C:\Program.exe first.
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "UninstallString"),
              Sz("\"C:\\Program Files\\Tessaport RDP\\tsport_uninstall.exe\""));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "StartMenuLocation"), Sz(MENU_DIR));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "DisplayName"), Sz("Tessaport RDP Edition - Workstation"));
    EXPECT_EQ(LogText(), "");
    EXPECT_TRUE(engine.GetJournal().empty());
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
}

TEST_F(EngineUninstallEntry, ASecondWriteReplacesTheValues) {
    CTestInstaller& engine = Make();
    engine.WriteUninstallEntry("{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}", APP_DIR, MENU_DIR, "old.exe", "Old");
    engine.WriteUninstallEntry("{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}", "D:\\Tessaport", "D:\\Menu", "new.exe", "New");

    EXPECT_EQ(machine.registry.ValueNames(UNINSTALL_KEY).size(), 4u);
    EXPECT_EQ(machine.registry.GetString(UNINSTALL_KEY, "InstallLocation"), "D:\\Tessaport");
    EXPECT_EQ(machine.registry.GetString(UNINSTALL_KEY, "UninstallString"), "\"D:\\Tessaport\\new.exe\"");
    EXPECT_EQ(machine.registry.GetString(UNINSTALL_KEY, "StartMenuLocation"), "D:\\Menu");
    EXPECT_EQ(machine.registry.GetString(UNINSTALL_KEY, "DisplayName"), "New");
}

TEST_F(EngineUninstallEntry, FailuresAreSilent) {
    CTestInstaller& engine = Make();
    machine.Faults().FailCall("RegCreateKeyExA", 1, os::ERROR_ACCESS_DENIED);
    engine.WriteUninstallEntry("{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}", APP_DIR, MENU_DIR, "u.exe", "Name");
    EXPECT_FALSE(machine.registry.KeyExists(UNINSTALL_KEY));

    // A value that cannot be written is skipped; the others still are.
    machine.Faults().FailCall("RegSetValueExA", 1, os::ERROR_DISK_FULL);
    engine.WriteUninstallEntry("{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}", APP_DIR, MENU_DIR, "u.exe", "Name");
    EXPECT_EQ(machine.registry.ValueNames(UNINSTALL_KEY),
              (std::vector<std::string>{"UninstallString", "StartMenuLocation", "DisplayName"}));
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
}

const UninstallEntryDetails DETAILS = {"3.7", "Velotrinex LLC", "tessaportws.exe", "http://www.velotrinex.com/ts/",
                                       3,     7};

TEST_F(EngineUninstallEntry, DetailsAddWhatDeploymentToolsRead) {
    CTestInstaller& engine = Make();
    machine.kernel.localTime = {2031, 1, 4, 9, 23, 59, 59, 999};
    engine.WriteUninstallEntry("{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}", APP_DIR, MENU_DIR, "uninstall.exe",
                               "Tessaport RDP Edition - Workstation", &DETAILS);

    // The four basic values come first and stay as they are without details.
    EXPECT_EQ(machine.registry.ValueNames(UNINSTALL_KEY),
              (std::vector<std::string>{"InstallLocation", "UninstallString", "StartMenuLocation", "DisplayName",
                                        "QuietUninstallString", "DisplayVersion", "Publisher", "DisplayIcon",
                                        "NoModify", "NoRepair", "EstimatedSize", "InstallDate", "URLInfoAbout",
                                        "HelpLink", "VersionMajor", "VersionMinor"}));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "UninstallString"),
              Sz("\"C:\\Program Files\\Tessaport RDP\\uninstall.exe\""));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "QuietUninstallString"),
              Sz("\"C:\\Program Files\\Tessaport RDP\\uninstall.exe\" -silent"));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "DisplayVersion"), Sz("3.7"));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "Publisher"), Sz("Velotrinex LLC"));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "DisplayIcon"),
              Sz("C:\\Program Files\\Tessaport RDP\\tessaportws.exe"));
    const fake::CFakeRegistry::Value one{os::REG_DWORD, {1, 0, 0, 0}};
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "NoModify"), one);
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "NoRepair"), one);
    // Nothing was placed: no size to show.
    EXPECT_EQ(machine.registry.GetDword(UNINSTALL_KEY, "EstimatedSize"), 0u);
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "InstallDate"), Sz("20310109"));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "URLInfoAbout"), Sz("http://www.velotrinex.com/ts/"));
    EXPECT_EQ(machine.registry.GetValue(UNINSTALL_KEY, "HelpLink"), Sz("http://www.velotrinex.com/ts/"));
    EXPECT_EQ(machine.registry.GetDword(UNINSTALL_KEY, "VersionMajor"), 3u);
    EXPECT_EQ(machine.registry.GetDword(UNINSTALL_KEY, "VersionMinor"), 7u);
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
}

// EstimatedSize: KiB, rounded up, of what InstallFile wrote, each target once with what it
// got last; a file in use counts with the content that replaces it at the next start, a
// write that failed not at all.
TEST_F(EngineUninstallEntry, EstimatedSizeIsWhatThisRunPlaced) {
    struct Write {
        const char* name;
        std::uint32_t size;
    };
    struct Case {
        const char* what;
        std::vector<Write> writes;
        std::uint32_t kib;
    };
    const std::vector<Case> cases = {
        {"one byte rounds up", {{"a.txt", 1}}, 1},
        {"exactly one KiB", {{"a.txt", 1024}}, 1},
        {"one byte more", {{"a.txt", 1024}, {"b.txt", 1}}, 2},
        {"a target written twice counts once", {{"a.txt", 5000}, {"a.txt", 1000}}, 1},
        {"a file in use and an existing one", {{"inuse.dll", 2048}, {"old.txt", 3072}}, 5},
        {"a failed write is left out", {{"a.txt", 100}, {"full.bin", 4096}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machine.files.Remove(APP_DIR);
        machine.files.MakeDirectory(APP_DIR);
        machine.files.PutFile(std::string(APP_DIR) + "\\inuse.dll", "old");
        machine.files.Lock(std::string(APP_DIR) + "\\inuse.dll", os::GENERIC_READ, os::FILE_SHARE_READ);
        machine.files.PutFile(std::string(APP_DIR) + "\\old.txt", "old");
        CTestInstaller& engine = Make();
        for (const Write& w : c.writes) {
            const std::string content(w.size, 'x');
            // Its log line's three writes come first.
            if (std::string(w.name) == "full.bin") machine.Faults().FailCall("WriteFile", 4, os::ERROR_DISK_FULL);
            RaisedBy([&] { engine.InstallFile(w.name, APP_DIR, content.data(), w.size); });
        }
        engine.WriteUninstallEntry("{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}", APP_DIR, MENU_DIR, "u.exe", "Name",
                                   &DETAILS);
        EXPECT_EQ(machine.registry.GetDword(UNINSTALL_KEY, "EstimatedSize"), c.kib);
        machine.files.Unlock(std::string(APP_DIR) + "\\inuse.dll");
    }
}

TEST_F(EngineUninstallEntry, ValuesReadBackOnlyAsBoundedTexts) {
    CTestInstaller& engine = Make();
    const char* const key = "{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}";
    std::string value = "unchanged";
    EXPECT_EQ(engine.ReadUninstallValue(key, "InstallLocation", &value), static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND));

    engine.WriteUninstallEntry(key, APP_DIR, MENU_DIR, "u.exe", "Name");
    EXPECT_EQ(engine.ReadUninstallValue(key, "InstallLocation", &value), static_cast<os::LONG>(os::ERROR_SUCCESS));
    EXPECT_EQ(value, APP_DIR);
    EXPECT_EQ(engine.ReadUninstallValue(key, "Missing", &value), static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND));

    // No terminator stored: the text ends with the data, nothing behind it is read.
    machine.registry.SetValue(UNINSTALL_KEY, "Bare", os::REG_SZ, {'C', ':', '\\', 'X'});
    EXPECT_EQ(engine.ReadUninstallValue(key, "Bare", &value), static_cast<os::LONG>(os::ERROR_SUCCESS));
    EXPECT_EQ(value, "C:\\X");
    // Other types and texts longer than a path are refused, not cut.
    machine.registry.SetDword(UNINSTALL_KEY, "Number", 7);
    EXPECT_EQ(engine.ReadUninstallValue(key, "Number", &value), static_cast<os::LONG>(os::ERROR_INVALID_DATA));
    machine.registry.SetString(UNINSTALL_KEY, "Long", "C:\\" + std::string(300, 'x'));
    EXPECT_EQ(engine.ReadUninstallValue(key, "Long", &value), static_cast<os::LONG>(os::ERROR_INVALID_DATA));
    EXPECT_EQ(value, "C:\\X");
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
}

TEST_F(EngineUninstallEntry, DeletingIsDoneOnceTheKeyIsGone) {
    CTestInstaller& engine = Make();
    const char* const key = "{6F1C2A94-3B7E-4D25-9A61-0E8C54B7D3F2}";
    EXPECT_EQ(engine.DeleteUninstallEntry(key), 1);  // never there
    engine.WriteUninstallEntry(key, APP_DIR, MENU_DIR, "u.exe", "Name");
    machine.Faults().FailCall("RegDeleteKeyA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(engine.DeleteUninstallEntry(key), 0);
    EXPECT_TRUE(machine.registry.KeyExists(UNINSTALL_KEY));
    EXPECT_EQ(engine.DeleteUninstallEntry(key), 1);
    EXPECT_FALSE(machine.registry.KeyExists(UNINSTALL_KEY));
    EXPECT_TRUE(machine.registry.KeyExists("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
}

// ---- restart ----------------------------------------------------------------------------

using EngineRestart = ShortcutTest;

TEST_F(EngineRestart, EnablesTheShutdownPrivilegeThenAsksForAReboot) {
    CTestInstaller& engine = Make();
    ASSERT_FALSE(machine.security.PrivilegeEnabled("SeShutdownPrivilege"));
    EXPECT_NE(engine.RestartSystem(), 0);

    ASSERT_EQ(machine.shell.restartRequests.size(), 1u);
    EXPECT_EQ(machine.shell.restartRequests[0].flags, os::EWX_REBOOT);
    EXPECT_EQ(machine.shell.restartRequests[0].reason, 0u);
    ASSERT_EQ(machine.security.privilegeChanges.size(), 1u);
    EXPECT_EQ(machine.security.privilegeChanges[0].name, "SeShutdownPrivilege");
    EXPECT_TRUE(machine.security.privilegeChanges[0].enabled);
    EXPECT_EQ(LogText(), "Restart System\r\n");
    EXPECT_EQ(machine.security.OpenTokenCount(), 0u);
}

struct RefusedRestart {
    const char* what;
    const char* failingCall;  // null: the token does not hold the privilege at all
};
void PrintTo(const RefusedRestart& restart, std::ostream* out) { *out << restart.what; }

class EngineRestartRefused : public ShortcutTest, public ::testing::WithParamInterface<RefusedRestart> {};

TEST_P(EngineRestartRefused, APrivilegeLeftDisabledShowsAsARefusedRestart) {
    CTestInstaller& engine = Make();
    if (GetParam().failingCall != nullptr) {
        machine.Faults().FailCall(GetParam().failingCall, 1, os::ERROR_ACCESS_DENIED);
    } else {
        machine.security.privileges.erase("SeShutdownPrivilege");
    }
    EXPECT_EQ(engine.RestartSystem(), 0);
    EXPECT_EQ(os::Kernel().GetLastError(), 1314u);  // ERROR_PRIVILEGE_NOT_HELD, from ExitWindowsEx
    EXPECT_TRUE(machine.shell.restartRequests.empty());
    EXPECT_FALSE(machine.security.PrivilegeEnabled("SeShutdownPrivilege"));
    EXPECT_EQ(machine.security.OpenTokenCount(), 0u);
    EXPECT_EQ(LogText(), "Restart System\r\n");
}

INSTANTIATE_TEST_SUITE_P(EveryStep, EngineRestartRefused,
                         ::testing::Values(RefusedRestart{"Token", "OpenProcessToken"},
                                           RefusedRestart{"Lookup", "LookupPrivilegeValueA"},
                                           RefusedRestart{"Adjust", "AdjustTokenPrivileges"},
                                           RefusedRestart{"NotHeld", nullptr}),
                         [](const ::testing::TestParamInfo<RefusedRestart>& info) { return info.param.what; });

}  // namespace
