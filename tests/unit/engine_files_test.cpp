#include <regex>
#include <string>
#include <vector>

#include "engine_test_support.h"

using namespace enginetest;

namespace {

const std::string DIR = "C:\\Program Files\\Tessaport";
const std::string TARGET = DIR + "\\tspusb.dll";

class EngineFiles : public EngineTest {
protected:
    EngineFiles() {
        machine.files.MakeDirectory(DIR);
        machine.files.PutFile(DIR + "\\readme.txt", "not ours");
    }

    void Install(const std::string& name, const std::string& content, const std::string& dir = DIR) {
        installer->InstallFile(name.c_str(), dir.c_str(), content.data(), static_cast<std::uint32_t>(content.size()));
    }
    std::optional<Raised> InstallFails(const std::string& name, const std::string& content) {
        return RaisedBy([&] { Install(name, content); });
    }
    // The file phases of a rollback, in their order.
    void RollBack() {
        installer->RemoveInstallFiles();
        installer->RollBackInstallFiles();
        installer->RemoveInstallDirectories();
    }
    // Files in the directory other than the given ones.
    std::vector<std::string> ExtraFiles(const std::vector<std::string>& known = {}) const {
        std::vector<std::string> extra;
        for (const std::string& path : machine.files.ListFilesUnder(DIR)) {
            if (path == DIR + "\\readme.txt") continue;
            bool listed = false;
            for (const std::string& k : known) listed = listed || fake::SamePath(path, k);
            if (!listed) extra.push_back(path);
        }
        return extra;
    }
    // The in-use copy of a file: another program runs it, readable, not writable or deletable.
    void Run(const std::string& path) { machine.files.Lock(path, os::GENERIC_READ, os::FILE_SHARE_READ); }
};

bool IsTempNameOf(const std::string& path, const std::string& target, const char* suffix) {
    const std::string prefix = target + "_";
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    return std::regex_match(path.substr(prefix.size()), std::regex(std::string("[1-9]{8}\\.tmp") + suffix));
}

// ---- writing files --------------------------------------------------------------------------

TEST_F(EngineFiles, NewFileIsWrittenJournalledAndLogged) {
    Make();
    Install("tspusb.dll", "new content");
    EXPECT_EQ(machine.files.Text(TARGET), "new content");
    EXPECT_EQ(machine.files.Attributes(TARGET), os::FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(installer->GetJournal().at(TARGET), JOURNAL_FILE);
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_TRUE(ExtraFiles({TARGET}).empty());
    EXPECT_EQ(LogText(), "Install File: C:\\Program Files\\Tessaport\\tspusb.dll\r\n");
    EXPECT_FALSE(installer->IsRebootRequired());
    EXPECT_EQ(machine.files.OpenHandleCount(), 1u);
}

TEST_F(EngineFiles, ExistingFileKeepsOneBackupBesideItUntilTheCommit) {
    machine.files.PutFile(TARGET, "the user's old version");
    Make();
    Install("tspusb.dll", "new");
    EXPECT_EQ(machine.files.Text(TARGET), "new");
    EXPECT_EQ(installer->GetJournal().count(TARGET), 0u);  // restored by its backup, never deleted

    const std::vector<std::string> extra = ExtraFiles({TARGET});
    ASSERT_EQ(extra.size(), 1u);
    EXPECT_TRUE(IsTempNameOf(extra[0], TARGET, "\\.backup")) << extra[0];
    EXPECT_EQ(machine.files.Text(extra[0]), "the user's old version");
    EXPECT_EQ(installer->GetFileBackups().at(TARGET), extra[0]);

    installer->DiscardBackups();
    EXPECT_TRUE(ExtraFiles({TARGET}).empty());
    EXPECT_EQ(machine.files.Text(TARGET), "new");
}

TEST_F(EngineFiles, ALinkAtTheTargetIsReplacedNeverWrittenThrough) {
    // Planted where others could write: the file the link names must stay as it is.
    const std::string elsewhere = "C:\\Windows\\system32\\config.dat";
    for (bool symbolic : {false, true}) {
        machine.files.PutFile(elsewhere, "precious");
        symbolic ? machine.files.PutSymbolicLink(TARGET, elsewhere) : machine.files.PutHardLink(TARGET, elsewhere);
        Make();
        Install("tspusb.dll", "new");
        EXPECT_EQ(machine.files.Text(elsewhere), "precious") << symbolic;
        EXPECT_EQ(machine.files.Text(TARGET), "new") << symbolic;
        machine.files.Remove(TARGET);
    }
}

TEST_F(EngineFiles, ZeroBytesTruncateAnExistingFile) {
    machine.files.PutFile(TARGET, "something long");
    Make();
    Install("tspusb.dll", "");
    EXPECT_TRUE(machine.files.FileExists(TARGET));
    EXPECT_EQ(machine.files.Text(TARGET), "");
}

TEST_F(EngineFiles, TemporaryNamesComeFromTheCryptographicGenerator) {
    Make();
    // Nothing a local user can foresee: the same tick gives other digits each time.
    const std::string name = installer->MakeTempFileName("x.sys", "D:\\Files");
    EXPECT_TRUE(IsTempNameOf(name, "D:\\Files\\x.sys", "")) << name;
    EXPECT_NE(installer->MakeTempFileName("x.sys", "D:\\Files"), name);
    // Without the generator the name still has its shape (every user creates it new).
    machine.Faults().FailCall("GenRandom", 1, os::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(IsTempNameOf(installer->MakeTempFileName("a", "C:\\"), "C:\\\\a", ""));
}

TEST_F(EngineFiles, FileInUseIsReplacedAtTheNextStartAndTheInstallationGoesOn) {
    machine.files.PutFile(TARGET, "running version");
    Run(TARGET);
    std::int32_t applicationFlag = 0;
    Make().SetRebootFlag(&applicationFlag);

    Install("tspusb.dll", "new version");
    EXPECT_EQ(applicationFlag, 1);
    EXPECT_EQ(machine.files.Text(TARGET), "running version");
    std::string temp, backup;
    for (const std::string& path : ExtraFiles({TARGET})) (IsTempNameOf(path, TARGET, "") ? temp : backup) = path;
    ASSERT_FALSE(temp.empty());
    ASSERT_TRUE(IsTempNameOf(backup, TARGET, "\\.backup")) << backup;
    EXPECT_EQ(ExtraFiles({TARGET}).size(), 2u);
    EXPECT_EQ(machine.files.Text(temp), "new version");
    EXPECT_EQ(machine.files.Text(backup), "running version");
    EXPECT_EQ(installer->GetJournal().at(temp), JOURNAL_FILE);
    EXPECT_EQ(installer->GetJournal().count(TARGET), 0u);
    ASSERT_EQ(machine.files.PendingOperations().size(), 1u);
    EXPECT_TRUE(fake::SamePath(machine.files.PendingOperations()[0].from, temp));
    EXPECT_TRUE(fake::SamePath(machine.files.PendingOperations()[0].to, TARGET));
    EXPECT_EQ(machine.files.PendingOperations()[0].flags,
              os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_DELAY_UNTIL_REBOOT);

    Install("tspusbhub.dll", "next file");
    EXPECT_EQ(machine.files.Text(DIR + "\\tspusbhub.dll"), "next file");
    EXPECT_EQ(LogText(), "Install File: C:\\Program Files\\Tessaport\\tspusb.dll\r\n" + std::string(WARNING_LINE) +
                             "Install File: C:\\Program Files\\Tessaport\\tspusbhub.dll\r\n");
    EXPECT_EQ(machine.files.OpenHandleCount(), 1u);

    installer->DiscardBackups();
    installer.reset();
    machine.files.Restart();
    EXPECT_EQ(machine.files.Text(TARGET), "new version");
    EXPECT_TRUE(ExtraFiles({TARGET, DIR + "\\tspusbhub.dll"}).empty());
}

TEST_F(EngineFiles, ReadOnlyFileTakesTheSameRoadAsAFileInUse) {
    machine.files.PutFile(TARGET, std::vector<std::uint8_t>{'o', 'l', 'd'}, os::FILE_ATTRIBUTE_READONLY);
    Make();
    Install("tspusb.dll", "new");
    EXPECT_TRUE(installer->IsRebootRequired());
    EXPECT_EQ(machine.files.Text(TARGET), "old");
    EXPECT_EQ(machine.files.PendingOperations().size(), 1u);
    EXPECT_EQ(installer->GetFileBackups().size(), 1u);
}

TEST_F(EngineFiles, SameNewNameTwiceThenRollbackBringsBackTheFirstContent) {
    Make();
    Install("tspusb.dll", "first");
    Install("tspusb.dll", "second");
    EXPECT_EQ(machine.files.Text(TARGET), "second");
    EXPECT_EQ(machine.files.Text(installer->GetFileBackups().at(TARGET)), "first");
    RollBack();
    EXPECT_EQ(machine.files.Text(TARGET), "first");
    EXPECT_TRUE(ExtraFiles({TARGET}).empty());
    EXPECT_FALSE(installer->IsRebootRequired());
}

// ---- failures and what each leaves -----------------------------------------------------------

TEST_F(EngineFiles, DirectoryWhereTheFileShouldBeFailsAt423AndChangesNothing) {
    machine.files.MakeDirectory(TARGET);
    Make();
    const auto before = MachineState();
    EXPECT_EQ(InstallFails("tspusb.dll", "new"), (Raised{19, 423, os::ERROR_ACCESS_DENIED}));
    EXPECT_EQ(MachineState(), before);
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_EQ(machine.files.OpenHandleCount(), 1u);
}

struct FailureCase {
    const char* name;
    bool existing;                                         // the target is there before
    bool inUse;                                            // ... and running
    std::vector<std::pair<const char*, unsigned>> faults;  // call, nth
    Raised raised;
    std::size_t journalled;  // JOURNAL_FILE records left
    std::size_t backups;
    std::size_t pending;
    bool reboot;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class EngineFileFailures : public EngineFiles, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EngineFileFailures, LeavesWhatItsRowSaysAndTheRollbackUndoesIt) {
    const FailureCase& c = GetParam();
    if (c.existing) machine.files.PutFile(TARGET, "the user's version");
    if (c.inUse) Run(TARGET);
    CTestInstaller& engine = Make();
    const auto before = MachineState();
    // Counted from here on. A WriteFile rule hits the setup log's writes too, which the log absorbs.
    for (const auto& [call, nth] : c.faults) machine.Faults().FailCall(call, nth, os::ERROR_DISK_FULL);

    EXPECT_EQ(InstallFails("tspusb.dll", "new"), c.raised);
    std::size_t files = 0;
    for (const auto& [key, kind] : engine.GetJournal()) files += kind == JOURNAL_FILE ? 1 : 0;
    EXPECT_EQ(files, c.journalled);
    EXPECT_EQ(engine.GetFileBackups().size(), c.backups);
    EXPECT_EQ(machine.files.PendingOperations().size(), c.pending);
    EXPECT_EQ(engine.IsRebootRequired(), c.reboot);
    EXPECT_EQ(machine.files.OpenHandleCount(), 1u);
    if (c.existing && c.raised.location != 676) {
        EXPECT_EQ(machine.files.Text(TARGET), "the user's version");
    }

    machine.Faults().Clear();
    RollBack();
    installer.reset();
    machine.files.Restart();
    EXPECT_EQ(MachineState(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, EngineFileFailures,
    ::testing::Values(
        FailureCase{"NewTargetCannotBeCreated618", false, false, {{"CreateFileA", 1}}, {19, 618, 112}, 0, 0, 0, false},
        FailureCase{"ShortWriteIntoANewFile676", false, false, {{"WriteFile", 0}}, {19, 676, 112}, 1, 0, 0, false},
        FailureCase{"ShortWriteOverAnOldFile676", true, false, {{"WriteFile", 0}}, {19, 676, 112}, 0, 1, 0, false},
        FailureCase{"BackupCannotBeTaken423", true, false, {{"CopyFileA", 1}}, {19, 423, 112}, 0, 0, 0, false},
        FailureCase{"NeitherTargetNorTemporary640", true, false, {{"CreateFileA", 0}}, {19, 640, 112}, 0, 1, 0, false},
        FailureCase{"TemporaryCannotBeCreated640", true, true, {{"CreateFileA", 2}}, {19, 640, 112}, 0, 1, 0, false},
        FailureCase{"ShortWriteIntoTheTemporary650", true, true, {{"WriteFile", 0}}, {19, 650, 112}, 1, 1, 1, true},
        FailureCase{"MoveCannotBeRegistered659", true, true, {{"MoveFileExA", 1}}, {19, 659, 112}, 1, 1, 0, true},
        FailureCase{"BothWriteAndMoveFail659",
                    true,
                    true,
                    {{"WriteFile", 0}, {"MoveFileExA", 1}},
                    {19, 659, 112},
                    1,
                    1,
                    0,
                    true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(EngineFiles, DirectoryCreationRecordsOnlyWhatItCreated) {
    Make();
    installer->CreateInstallDirectory((DIR + "\\Drivers").c_str());
    installer->CreateInstallDirectory(DIR.c_str());
    EXPECT_EQ(installer->GetJournal().size(), 1u);
    EXPECT_EQ(installer->GetJournal().at(DIR + "\\Drivers"), JOURNAL_DIRECTORY);
    EXPECT_TRUE(machine.files.DirectoryExists(DIR + "\\Drivers"));
    EXPECT_EQ(RaisedBy([&] { installer->CreateInstallDirectory("C:\\Missing\\Child"); }),
              (Raised{19, 723, os::ERROR_PATH_NOT_FOUND}));
    EXPECT_FALSE(machine.files.DirectoryExists("C:\\Missing"));
    EXPECT_EQ(LogText(),
              "CreateDirectory: C:\\Program Files\\Tessaport\\Drivers\r\n"
              "CreateDirectory: C:\\Program Files\\Tessaport\r\n"
              "CreateDirectory: C:\\Missing\\Child\r\n");
}

// ---- rollback -------------------------------------------------------------------------------------

TEST_F(EngineFiles, RollbackOfAMixReturnsTheMachineToItsStart) {
    machine.files.PutFile(DIR + "\\old.dll", "old");
    machine.files.PutFile(DIR + "\\busy.exe", "busy old");
    machine.files.PutFile(DIR + "\\locked.sys", std::vector<std::uint8_t>{'r', 'o'}, os::FILE_ATTRIBUTE_READONLY);
    Run(DIR + "\\busy.exe");
    Make();
    const auto before = MachineState();
    machine.kernel.tickStep = 7;  // distinct temporary names

    installer->CreateInstallDirectory(DIR.c_str());
    installer->CreateInstallDirectory((DIR + "\\Help").c_str());
    installer->CreateInstallDirectory("C:\\Tessaport Data");
    Install("new.dll", "n");
    Install("old.dll", "replaced");
    Install("busy.exe", "busy new");
    Install("locked.sys", "ro new");
    Install("manual.chm", "help", DIR + "\\Help");
    Install("data.bin", "data", "C:\\Tessaport Data");
    machine.files.PutFile("C:\\Tessaport Data\\service.log", "written by the product");  // not ours
    EXPECT_TRUE(installer->IsRebootRequired());

    RollBack();
    installer.reset();
    machine.files.Restart();
    auto after = MachineState();
    // A folder the engine created keeps what others wrote into it.
    EXPECT_EQ(after.erase("C:\\TESSAPORT DATA\\SERVICE.LOG"), 1u);
    EXPECT_EQ(after.erase("C:\\TESSAPORT DATA"), 1u);
    EXPECT_EQ(after, before);
}

TEST_F(EngineFiles, RollbackRemovesJournalledFilesItCannotDeleteAtTheNextStart) {
    Make();
    Install("tspusb.dll", "new");
    Install("gone.dll", "new");
    machine.files.Remove(DIR + "\\gone.dll");
    Run(TARGET);
    const std::string logBefore = LogText();

    installer->RemoveInstallFiles();
    EXPECT_TRUE(installer->IsRebootRequired());
    EXPECT_EQ(LogText().substr(logBefore.size()),
              "RemoveInstallFiles: C:\\Program Files\\Tessaport\\gone.dll\r\n" + std::string(WARNING_LINE) +
                  "RemoveInstallFiles: C:\\Program Files\\Tessaport\\tspusb.dll\r\n" + WARNING_LINE);
    EXPECT_TRUE(machine.files.FileExists(TARGET));
    machine.files.Restart();
    EXPECT_FALSE(machine.files.FileExists(TARGET));
}

TEST_F(EngineFiles, RestoreDeferredToTheNextStartKeepsItsBackupThroughTheCommit) {
    machine.files.PutFile(TARGET, "the user's version");
    Make();
    Install("tspusb.dll", "new");
    const std::string backup = installer->GetFileBackups().at(TARGET);
    Run(TARGET);  // the new version started and cannot be stopped
    const std::string logBefore = LogText();

    installer->RemoveInstallFiles();
    installer->RollBackInstallFiles();
    EXPECT_TRUE(installer->IsRebootRequired());
    EXPECT_EQ(LogText().substr(logBefore.size()),
              "RollBackInstallFiles: C:\\Program Files\\Tessaport\\tspusb.dll\r\n" + std::string(WARNING_LINE));
    ASSERT_EQ(machine.files.PendingOperations().size(), 1u);
    EXPECT_TRUE(fake::SamePath(machine.files.PendingOperations()[0].from, backup));

    installer.reset();  // the commit at destruction must not take the only copy
    EXPECT_EQ(machine.files.Text(backup), "the user's version");
    machine.files.Restart();
    EXPECT_EQ(machine.files.Text(TARGET), "the user's version");
    EXPECT_TRUE(ExtraFiles({TARGET}).empty());
}

TEST_F(EngineFiles, RestoreWhoseDeferralFailsStillKeepsTheBackup) {
    machine.files.PutFile(TARGET, "the user's version");
    Make();
    Install("tspusb.dll", "new");
    const std::string backup = installer->GetFileBackups().at(TARGET);
    Run(TARGET);
    machine.Faults().FailCall("MoveFileExA", 2, os::ERROR_ACCESS_DENIED);
    installer->RollBackInstallFiles();
    EXPECT_TRUE(installer->IsRebootRequired());
    EXPECT_TRUE(machine.files.PendingOperations().empty());
    installer.reset();
    EXPECT_EQ(machine.files.Text(backup), "the user's version");
}

TEST_F(EngineFiles, SecondRollbackRepeatsTheFilePhasesHarmlessly) {
    machine.files.PutFile(TARGET, "old");
    Make();
    const auto before = MachineState();
    Install("tspusb.dll", "new");
    Install("other.dll", "new");
    RollBack();
    EXPECT_EQ(MachineState(), before);
    EXPECT_FALSE(installer->IsRebootRequired());
    // The journalled file is gone now: its removal is scheduled and asks for a restart.
    RollBack();
    EXPECT_TRUE(installer->IsRebootRequired());
    installer.reset();
    machine.files.Restart();
    EXPECT_EQ(MachineState(), before);
}

}  // namespace
