// What an elevated run may trust in folders other users can write: writes that never reach
// through a link or into someone else's file, folders of its own, and the access-list
// judgement before a program is run.
#include <string>

#include "engine/trust.h"
#include "engine_test_support.h"
#include "fake/fake_processes.h"
#include "fake/fake_security.h"
#include "platform/constants.h"
#include "product/citrix.h"

using namespace enginetest;

namespace {

const std::string TEMP = "C:\\Windows\\Temp";
const std::string LOG = TEMP + "\\setup.log";
const std::string ELSEWHERE = "C:\\Windows\\system32\\config.dat";
const std::string OTHER_USER = "S-1-5-21-1004336348-1177238915-682003330-1002";

class Trust : public EngineTest {
protected:
    // Writes "ours" through OpenForTrustedWrite; the path it went to, "" when none.
    std::string Write(WriteStart start = WriteStart::Empty) {
        TrustedFile file;
        if (!OpenForTrustedWrite(LOG, os::FILE_SHARE_READ, start, &file)) return "";
        os::DWORD written = 0;
        os::Files().WriteFile(file.handle.Get(), "ours", 4, &written);
        EXPECT_EQ(file.renamed, file.path != LOG);
        return file.path;
    }
};

TEST_F(Trust, WhatStandsAtTheNameDecidesWhereTheWriteGoes) {
    enum class Squat { None, OwnFile, HardLink, SymbolicLink, OthersFile, Folder, LockedOthersFile };
    const struct {
        Squat squat;
        bool atName;  // the write goes to the name asked for, else to a fresh name beside it
    } cases[] = {
        {Squat::None, true},       {Squat::OwnFile, true},    {Squat::HardLink, true},
        {Squat::SymbolicLink, true}, {Squat::OthersFile, true}, {Squat::Folder, false},
        {Squat::LockedOthersFile, false},
    };
    for (const auto& c : cases) {
        machine.files.Remove(TEMP);
        machine.files.MakeDirectory(TEMP);
        machine.files.PutFile(ELSEWHERE, "precious");
        switch (c.squat) {
            case Squat::None: break;
            case Squat::OwnFile: machine.files.PutFile(LOG, "earlier run"); break;
            case Squat::HardLink: machine.files.PutHardLink(LOG, ELSEWHERE); break;
            case Squat::SymbolicLink: machine.files.PutSymbolicLink(LOG, ELSEWHERE); break;
            case Squat::Folder: machine.files.MakeDirectory(LOG); break;
            case Squat::OthersFile:
            case Squat::LockedOthersFile:
                machine.files.PutFile(LOG, "theirs");
                machine.files.SetSecurity(LOG, OTHER_USER, "D:(A;;FA;;;" + OTHER_USER + ")");
                if (c.squat == Squat::LockedOthersFile) machine.files.Lock(LOG, os::GENERIC_READ, os::FILE_SHARE_READ);
                break;
        }
        const std::string path = Write();
        const int squat = static_cast<int>(c.squat);
        EXPECT_EQ(machine.files.Text(ELSEWHERE), "precious") << squat;
        EXPECT_EQ(path == LOG, c.atName) << squat << " " << path;
        EXPECT_EQ(machine.files.Text(path), "ours") << squat;
        EXPECT_EQ(path.rfind(TEMP + "\\setup", 0), 0u) << squat;
        machine.files.Unlock(LOG);
    }
}

TEST_F(Trust, AnOwnFileIsWrittenOnAtItsEndOnlyWhenAsked) {
    machine.files.PutFile(LOG, "earlier ");
    EXPECT_EQ(Write(WriteStart::End), LOG);
    EXPECT_EQ(machine.files.Text(LOG), "earlier ours");
}

TEST_F(Trust, APrivateFolderIsNewAndForAdministratorsOnly) {
    machine.files.MakeDirectory(TEMP);
    // The first name drawn is taken: the next one is used, never the taken one.
    machine.Faults().FailCall("CreateDirectoryA", 1, os::ERROR_ALREADY_EXISTS);
    std::string folder;
    ASSERT_TRUE(CreatePrivateFolder(TEMP, &folder));
    EXPECT_EQ(machine.files.AccessList(folder), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    EXPECT_EQ(folder.size(), TEMP.size() + 9);
    // Any other failure is no reason to try on.
    machine.Faults().FailCall("CreateDirectoryA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreatePrivateFolder(TEMP, &folder));
}

TEST_F(Trust, OthersCanChangeWhatAnUntrustedAccountOwnsOrMayWrite) {
    const std::string self = machine.security.user;
    const struct {
        std::string owner, accessList;
        bool othersCanChange;
    } cases[] = {
        {"BA", "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", false},  // as Program Files
        {"SY", "D:(A;;FA;;;SY)(A;;FR;;;WD)(A;;FX;;;AU)", false},
        {self, "D:(A;;FA;;;" + self + ")", false},                        // this program's own account
        {"BA", "D:(A;OICIIO;FA;;;BU)(A;OICIIO;GA;;;CO)", false},           // passed on, not its own
        {"BA", "D:(A;OICI;0x1301bf;;;AU)", true},                         // Modify for every user
        {"BA", "D:(A;;FW;;;BU)", true},
        {"BA", "D:(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;WD)", true},
        {"BA", "D:(A;;WD;;;" + OTHER_USER + ")", true},
        {"BA", "D:NO_ACCESS_CONTROL", true},
        {"BA", "D:(A;;ZZ;;;BU)", true},                                   // not understood: not trusted
        {"BU", "D:(A;;FA;;;SY)", true},                                   // an owner may change the list
    };
    const std::string folder = "C:\\Tools";
    machine.files.MakeDirectory(folder);
    for (const auto& c : cases) {
        machine.files.SetSecurity(folder, c.owner, c.accessList);
        EXPECT_EQ(OthersCanChange(folder), c.othersCanChange) << c.owner << c.accessList;
    }
    EXPECT_TRUE(OthersCanChange("C:\\Missing"));  // what cannot be judged is not trusted
}

// ---- the steps that rely on these rules ---------------------------------------------------

const std::string TARGET = "C:\\Program Files\\Tessaport RDP Edition - Workstation";
const std::string PROGRAM = TARGET + "\\tsport_rde_installer.exe";

class TrustedSteps : public EngineTest {
protected:
    TrustedSteps() {
        Make();
        installer->SetRebootFlag(&rebootFlag);
    }
    void RunCitrix() { RunCitrixSupportInstaller(*installer, TARGET.c_str(), CITRIX_UNREGISTER_KEYWORD); }
    std::int32_t rebootFlag = 0;
};

TEST_F(TrustedSteps, TheCitrixProgramIsNotRunFromWhereOthersCanChangeIt) {
    machine.processes.AddProgram(PROGRAM, {0, 0, false, CITRIX_RESTART_EVENT});
    machine.files.PutFile(PROGRAM, "program");
    for (const std::string& path : {TARGET, PROGRAM}) {
        machine.files.SetSecurity(path, "BA", "D:(A;OICI;0x1301bf;;;AU)");
        RunCitrix();
        EXPECT_TRUE(machine.processes.Launches().empty()) << path;
        EXPECT_NE(LogText().find("Warning: Others can change it, not started: " + PROGRAM), std::string::npos);
        machine.files.SetSecurity(path, "BA", SDDL_PROGRAM_FOLDER);
    }
    RunCitrix();
    EXPECT_EQ(machine.processes.Launches().size(), 1u);
    EXPECT_EQ(rebootFlag, 1);
    // The run's own event: for administrators only.
    EXPECT_EQ(machine.processes.eventRequests.back().security, SDDL_ADMIN_OBJECT);
}

TEST_F(TrustedSteps, ARestartEventThatWasThereBeforeIsNotBelieved) {
    // Another program made and signalled it first, and holds it.
    machine.processes.AddEvent(CITRIX_RESTART_EVENT, true, true);
    machine.processes.AddProgram(PROGRAM, {0, 0, false, CITRIX_RESTART_EVENT});
    machine.files.PutFile(PROGRAM, "program");
    RunCitrix();
    EXPECT_EQ(machine.processes.Launches().size(), 1u);
    EXPECT_EQ(rebootFlag, 0);
    EXPECT_NE(LogText().find("Warning: The restart event was there before, its signal is ignored: "), std::string::npos);
}

TEST_F(TrustedSteps, AFolderTheInstallationMakesHasProgramFilesProtection) {
    machine.files.MakeDirectory("C:\\Tools");
    installer->CreateInstallDirectory("C:\\Tools\\Tessaport");
    EXPECT_EQ(machine.files.AccessList("C:\\Tools\\Tessaport"), std::string(SDDL_PROGRAM_FOLDER));
}

}  // namespace
