#include <string>
#include <vector>

#include "engine_test_support.h"
#include "fake/fake_processes.h"
#include "product/citrix.h"

using namespace enginetest;

namespace {

const std::string TARGET = "C:\\Program Files\\Tessaport RDP Edition - Workstation";
const std::string PROGRAM = TARGET + "\\tsport_rde_installer.exe";
const std::string REGISTER_LINE = "\"" + PROGRAM + "\" RegisterCitrixDllEx";
const std::string UNREGISTER_LINE = "\"" + PROGRAM + "\" UnregisterCitrixDllEx";
const std::string FINISH = "Finish Citrix installation process\r\n";

std::string StartLine(const std::string& commandLine) {
    return "Start Citrix installation process: " + commandLine + "\r\n";
}

class CitrixSupport : public EngineTest {
protected:
    CitrixSupport() {
        Make();
        installer->SetRebootFlag(&rebootFlag);
        logBefore = LogText().size();
        startTick = machine.kernel.tickCount;
    }

    void AddInstaller(const fake::CFakeProcesses::Program& program) { machine.processes.AddProgram(PROGRAM, program); }
    void Run(int registerSupport, const std::string& target = TARGET) {
        RunCitrixSupportInstaller(*installer, target.c_str(), CitrixKeyword(registerSupport));
    }
    std::string NewLog() const { return LogText().substr(logBefore); }
    os::DWORD Elapsed() const { return machine.kernel.tickCount - startTick; }

    // Nothing of the step stays open; the restart event went with its last handle.
    void ExpectClosed() {
        EXPECT_EQ(machine.processes.OpenHandleCount(), 0u);
        EXPECT_FALSE(machine.processes.EventExists(CITRIX_RESTART_EVENT));
        EXPECT_EQ(machine.processes.foreverWaits, 0u);
        EXPECT_EQ(machine.files.OpenHandleCount(), 1u);  // the setup log
    }

    std::int32_t rebootFlag = 0;
    std::size_t logBefore = 0;
    os::DWORD startTick = 0;
};

TEST_F(CitrixSupport, ARestartRequestSetsTheFlagWithTheWarningBetweenStartAndFinish) {
    AddInstaller({4000, 0, false, CITRIX_RESTART_EVENT});

    Run(1);

    EXPECT_EQ(rebootFlag, 1);
    EXPECT_EQ(NewLog(), StartLine(REGISTER_LINE) + WARNING_LINE + FINISH);
    const auto& launches = machine.processes.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_TRUE(fake::SamePath(launches[0].image, PROGRAM));
    EXPECT_EQ(launches[0].currentDirectory, machine.processes.currentDirectory);
    EXPECT_EQ(launches[0].inheritHandles, 0);
    EXPECT_EQ(launches[0].creationFlags, 0u);
    EXPECT_FALSE(launches[0].terminated);
    EXPECT_EQ(Elapsed(), 4000u);
    ExpectClosed();
}

TEST_F(CitrixSupport, AProgramThatHangsIsEndedAtTheLimitWithTheForcedExitCode) {
    fake::CFakeProcesses::Program hangs;
    hangs.hangs = true;
    AddInstaller(hangs);

    Run(1);

    const auto& launches = machine.processes.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_FALSE(launches[0].running);
    EXPECT_TRUE(launches[0].terminated);
    EXPECT_EQ(launches[0].exitCode, 0xFFFFFFFFu);
    // The limit on the fake clock, plus the 1 ms look at the event; nothing slept for real.
    EXPECT_EQ(Elapsed(), CITRIX_TIME_LIMIT + 1);
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 0u);
    EXPECT_EQ(rebootFlag, 0);
    EXPECT_EQ(NewLog(), StartLine(REGISTER_LINE) + FINISH);
    ExpectClosed();
}

TEST_F(CitrixSupport, AProgramEndingInTimeKeepsItsExitCodeAndAsksNoRestart) {
    AddInstaller({CITRIX_TIME_LIMIT - 1000, 7, false, ""});

    Run(0);

    const auto& launches = machine.processes.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_FALSE(launches[0].terminated);
    EXPECT_EQ(launches[0].exitCode, 7u);
    EXPECT_EQ(rebootFlag, 0);
    EXPECT_EQ(NewLog(), StartLine(UNREGISTER_LINE) + FINISH);
    ExpectClosed();
}

TEST_F(CitrixSupport, CommandLinesQuoteTheProgramAndKeepTheKeywordsLeadingSpace) {
    AddInstaller({});
    // Files an unquoted command line would start instead of the installer.
    machine.processes.AddProgram("C:\\Program.exe", {});
    machine.processes.AddProgram("C:\\Program Files\\Tessaport.exe", {});

    Run(1);
    Run(0);

    const auto& launches = machine.processes.Launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].commandLine, REGISTER_LINE);
    EXPECT_EQ(launches[1].commandLine, UNREGISTER_LINE);
    for (const auto& launch : launches) EXPECT_TRUE(fake::SamePath(launch.image, PROGRAM)) << launch.image;
    EXPECT_EQ(NewLog(), StartLine(REGISTER_LINE) + FINISH + StartLine(UNREGISTER_LINE) + FINISH);
    ExpectClosed();

    // The same line without quotes really would have run C:\Program.exe.
    std::string unquoted = PROGRAM + " RegisterCitrixDllEx";
    os::ProcessInformation started;
    ASSERT_TRUE(os::Processes().CreateProcessA(nullptr, &unquoted[0], 0, 0, nullptr, &started));
    os::KernelHandle process(started.process), thread(started.thread);
    EXPECT_EQ(machine.processes.Launches().back().image, "C:\\Program.exe");
}

TEST_F(CitrixSupport, AProgramThatCannotBeStartedLeavesOnlyTheStartLine) {
    // Rollback before the files were installed: the program is not in the folder yet.
    Run(0);
    EXPECT_EQ(NewLog(), StartLine(UNREGISTER_LINE));
    EXPECT_TRUE(machine.processes.Launches().empty());
    EXPECT_EQ(rebootFlag, 0);
    ExpectClosed();

    // The start itself fails.
    AddInstaller({0, 0, false, CITRIX_RESTART_EVENT});
    machine.Faults().FailCall("CreateProcessA", 1, os::ERROR_ACCESS_DENIED);
    Run(0);
    EXPECT_EQ(NewLog(), StartLine(UNREGISTER_LINE) + StartLine(UNREGISTER_LINE));
    EXPECT_TRUE(machine.processes.Launches().empty());
    EXPECT_EQ(rebootFlag, 0);
    ExpectClosed();
}

TEST_F(CitrixSupport, AnEmptyTargetFolderDoesNothingAtAll) {
    AddInstaller({});
    const unsigned callsBefore = machine.Faults().CallCount();

    Run(1, "");

    EXPECT_EQ(NewLog(), "");
    EXPECT_EQ(machine.Faults().CallCount(), callsBefore);
    EXPECT_TRUE(machine.processes.Launches().empty());
}

TEST_F(CitrixSupport, WithoutTheEventTheProgramStillRunsAndNoRestartIsTaken) {
    AddInstaller({100, 0, false, CITRIX_RESTART_EVENT});
    machine.Faults().FailCall("CreateEventA", 1, os::ERROR_ACCESS_DENIED);

    Run(1);

    EXPECT_EQ(machine.processes.Launches().size(), 1u);
    EXPECT_EQ(rebootFlag, 0);
    EXPECT_EQ(NewLog(), StartLine(REGISTER_LINE) + FINISH);
    ExpectClosed();
}

TEST_F(CitrixSupport, EveryFailingCallIsAbsorbedAndEverythingOpenedIsClosed) {
    fake::CFakeProcesses::Program hangs;
    hangs.hangs = true;
    hangs.signalsEvent = CITRIX_RESTART_EVENT;
    AddInstaller(hangs);
    const char* const calls[] = {"CreateEventA", "CreateProcessA", "WaitForSingleObject", "TerminateProcess",
                                 "WriteFile"};
    for (const char* call : calls) {
        for (unsigned nth : {1u, 2u}) {
            SCOPED_TRACE(std::string(call) + " #" + std::to_string(nth));
            machine.Faults().Clear();
            machine.Faults().FailCall(call, nth, os::ERROR_ACCESS_DENIED);
            const std::size_t launchesBefore = machine.processes.Launches().size();

            EXPECT_FALSE(RaisedBy([&] { Run(1); }).has_value());

            EXPECT_EQ(rebootFlag, 0);
            EXPECT_EQ(machine.processes.OpenHandleCount(), 0u);
            EXPECT_EQ(machine.files.OpenHandleCount(), 1u);  // the setup log
            const auto& launches = machine.processes.Launches();
            if (launches.size() > launchesBefore && std::string(call) != "TerminateProcess") {
                EXPECT_TRUE(launches.back().terminated);
            }
        }
    }
    EXPECT_EQ(machine.processes.foreverWaits, 0u);
}

}  // namespace
