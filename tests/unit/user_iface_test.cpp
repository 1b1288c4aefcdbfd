#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "fake/fake_processes.h"
#include "platform/constants.h"
#include "product/user_iface.h"

namespace {

using Server = fake::CFakeProcesses::PipeServer;
using Words = std::vector<os::DWORD>;

const char* const PRESENCE = "Global\\E524B22C-E6D7-4350-9864-55A30C96ED04";
const char* const PIPE = "\\\\.\\pipe\\C9833C64-5102-4878-A513-AF5D0BC397EA";
const char* const STRING_59 =
    "You are trying to install older version of the software on your computer. Before installing version %s you "
    "need to uninstall %s first.\n";
const RunningProductQuery QUERY = {PRESENCE, PIPE, 0x00037000, "3.7"};

std::string Refusal(const std::string& received) {
    return "You are trying to install older version of the software on your computer. Before installing version 3.7 "
           "you need to uninstall " +
           received + " first.\n";
}

class InstalledVersionCheck : public ::testing::Test {
protected:
    // A running product: its presence event and its pipe server.
    Server& RunningProduct(os::DWORD version, const std::string& text = "3.8") {
        processes.AddEvent(PRESENCE, true, true);
        Server& server = processes.AddPipeServer(PIPE);
        server.version = version;
        server.versionText = text;
        return server;
    }
    int Check() {
        message = "untouched";
        return CheckInstalledVersion(QUERY, STRING_59, &message);
    }
    std::int32_t Connect() {
        CUserIface client;
        return client.Connect(PIPE);
    }
    os::DWORD Elapsed() const { return machine.kernel.tickCount - startTick; }
    // Nothing left open, and no wait that only the end of the process could have ended.
    void ExpectClean() const {
        EXPECT_EQ(processes.OpenHandleCount(), 0u);
        EXPECT_EQ(machine.files.OpenHandleCount(), 0u);
        EXPECT_EQ(processes.foreverWaits, 0u);
    }

    fake::CFakeMachine machine;
    fake::CFakeProcesses& processes = machine.processes;
    const os::DWORD startTick = machine.kernel.tickCount;
    std::string message;
};

TEST_F(InstalledVersionCheck, WithoutThePresenceEventThePipeIsNotTouched) {
    Server& server = processes.AddPipeServer(PIPE);
    server.version = 0x00040000;

    EXPECT_EQ(Check(), 0);

    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(server.connections, 0u);
    const auto& calls = machine.Faults().Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "WaitNamedPipeA"), 0);
    ExpectClean();
}

TEST_F(InstalledVersionCheck, ANewerProductRefusesWithItsTextAndGetsTheWholeExchange) {
    Server& server = RunningProduct(0x00037001, "3.7.1");

    EXPECT_EQ(Check(), 1);

    EXPECT_EQ(message, Refusal("3.7.1"));
    // Abilities, then the session id, then the process id, then the request.
    EXPECT_EQ(server.ReceivedWords(), (Words{3, processes.sessionId, processes.currentProcessId, 0x3007}));
    EXPECT_EQ(server.received.size(), 16u);
    // The product's service may identify the elevated client, never act as it.
    EXPECT_EQ(processes.pipeOpenFlags.back(), os::SECURITY_SQOS_PRESENT | os::SECURITY_IDENTIFICATION);
    ExpectClean();
    // The single pipe instance was given back: a second check gets through as well.
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(server.connections, 2u);
}

TEST_F(InstalledVersionCheck, OnlyAStrictlyGreaterUnsignedVersionRefuses) {
    const struct {
        os::DWORD version;
        int refused;
    } cases[] = {{0x00037000, 0}, {0x00036FFF, 0}, {0, 0}, {0x00037001, 1}, {0x80000000, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        RunningProduct(c.version);
        EXPECT_EQ(Check(), c.refused);
        EXPECT_EQ(message, c.refused ? Refusal("3.8") : "untouched");
        ExpectClean();
    }
}

TEST_F(InstalledVersionCheck, AnEventWithoutAPipeIsNoPipeAndPasses) {
    processes.AddEvent(PRESENCE, true, true);
    EXPECT_EQ(Connect(), USER_IFACE_NO_PIPE);
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(message, "untouched");
    ExpectClean();
}

TEST_F(InstalledVersionCheck, TheClientSendsOnlyWhatTheServerAsksFor) {
    const struct {
        os::DWORD asked;
        Words sent;
    } cases[] = {{0, {3, 0x3007}}, {1, {3, 1, 0x3007}}, {2, {3, 0x1F4C, 0x3007}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        Server& server = RunningProduct(0x00040000);
        server.askedAbilities = c.asked;
        EXPECT_EQ(Check(), 1);
        EXPECT_EQ(server.ReceivedWords(), c.sent);
    }
    ExpectClean();
}

TEST_F(InstalledVersionCheck, AHandshakeThatCannotCompleteLetsTheInstallationGoOn) {
    const struct {
        os::DWORD asked;
        std::int32_t result;
    } refusals[] = {
        {4, USER_IFACE_E_ABILITIES}, {0x80000004u, USER_IFACE_E_REFUSED}, {0x80000000u, USER_IFACE_E_REFUSED}};
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.asked);
        Server& server = RunningProduct(0x00040000);
        server.askedAbilities = r.asked;
        EXPECT_EQ(Connect(), r.result);
        EXPECT_EQ(Check(), 0);
        EXPECT_EQ(server.ReceivedWords(), (Words{3, 3}));  // one handshake each, no request
    }

    RunningProduct(0x00040000);
    machine.Faults().FailCall("ProcessIdToSessionId", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(Connect(), USER_IFACE_E_SESSION);

    machine.Faults().FailCall("WriteFile", 1, os::ERROR_NO_DATA);
    EXPECT_EQ(Connect(), USER_IFACE_E_WRITE);

    RunningProduct(0x00040000).answerLimit = 0;  // closes without a word
    EXPECT_EQ(Connect(), USER_IFACE_E_READ);
    EXPECT_EQ(Check(), 0);
    ExpectClean();
}

TEST_F(InstalledVersionCheck, ABusyPipeIsGivenUpAfterAFewSeconds) {
    Server& server = RunningProduct(0x00040000);
    server.busyMilliseconds = os::INFINITE;

    EXPECT_EQ(Connect(), USER_IFACE_E_BUSY);
    EXPECT_GE(Elapsed(), USER_IFACE_CONNECT_LIMIT);
    EXPECT_LE(Elapsed(), USER_IFACE_CONNECT_LIMIT + 1500);

    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(server.connections, 0u);
    ExpectClean();
}

TEST_F(InstalledVersionCheck, APipeThatWillNotOpenIsGivenUpAfterAFewSeconds) {
    RunningProduct(0x00040000);
    machine.Faults().FailCall("CreateFileA", 0, os::ERROR_ACCESS_DENIED);  // every time

    EXPECT_EQ(Connect(), USER_IFACE_E_BUSY);
    EXPECT_GE(Elapsed(), USER_IFACE_CONNECT_LIMIT);
    EXPECT_LE(Elapsed(), USER_IFACE_CONNECT_LIMIT + 1500);
    EXPECT_EQ(Check(), 0);
    ExpectClean();
}

TEST_F(InstalledVersionCheck, APipeBusyForAMomentIsWaitedFor) {
    Server& server = RunningProduct(0x00040000, "4.0");
    server.busyMilliseconds = 2500;

    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(message, Refusal("4.0"));
    EXPECT_GE(Elapsed(), 2500u);
    ExpectClean();
}

TEST_F(InstalledVersionCheck, TheVersionValueDecidesHoweverTheTextEnds) {
    const std::string longest(255, 'v');
    const struct {
        const char* what;
        std::string text;
        bool overrideLength;
        os::DWORD declaredLength;
        std::size_t answerLimit;
        os::DWORD answerDelay;
        int refused;
        std::string shown;  // the received text as the message carries it
    } cases[] = {
        {"text of exactly the buffer", longest, false, 0, SIZE_MAX, 0, 1, longest},
        {"text longer than the buffer: cut, the rest dropped", longest + "ww", false, 0, SIZE_MAX, 0, 1, longest},
        {"huge length, then silence", "3.8", true, 0xFFFFFFFFu, SIZE_MAX, 0, 1, "3.8"},
        {"fewer text bytes than announced, then silence", "3.8", true, 10, SIZE_MAX, 0, 1, "3.8"},
        {"closed inside the text", "3.8.1", false, 0, 4 + 4 + 4 + 2, 0, 1, "3."},
        {"closed inside the length", "3.8", false, 0, 4 + 4 + 2, 0, 1, ""},
        {"closed right after the version", "3.8", false, 0, 4 + 4, 0, 1, ""},
        {"closed after the handshake", "3.8", false, 0, 4, 0, 0, ""},
        {"never answers", "3.8", false, 0, SIZE_MAX, os::INFINITE, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Server& server = RunningProduct(0x00040000, c.text);
        server.overrideLength = c.overrideLength;
        server.declaredLength = c.declaredLength;
        server.answerLimit = c.answerLimit;
        server.answerDelay = c.answerDelay;
        const os::DWORD before = machine.kernel.tickCount;

        EXPECT_EQ(Check(), c.refused);

        EXPECT_EQ(message, c.refused ? Refusal(c.shown) : "untouched");
        // A server that stops talking is waited for a bounded time only.
        EXPECT_LE(machine.kernel.tickCount - before, USER_IFACE_READ_LIMIT + 100);
        ExpectClean();
    }
}

TEST_F(InstalledVersionCheck, ASlowAnswerIsWaitedForWithinTheLimit) {
    RunningProduct(0x00040000, "4.0").answerDelay = 1000;
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(message, Refusal("4.0"));
    ExpectClean();
}

TEST_F(InstalledVersionCheck, TextFromThePipeIsShownUnchangedAndNeverReadAsAFormat) {
    RunningProduct(0x00040000, "%s%n%%x");
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(message, Refusal("%s%n%%x"));
}

}  // namespace
