#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "fake/fake_machine.h"
#include "fake/fake_registry.h"
#include "log/setup_log.h"
#include "platform/constants.h"

using namespace os;

namespace {

constexpr const char* LOG_PATH = "C:\\Users\\setup\\AppData\\Local\\Temp\\tessaport-rdp-workstation-setup.log";
constexpr const char* SETUP_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
constexpr const char* DEV_LOG = "C:\\Windows\\inf\\setupapi.dev.log";
constexpr const char* XP_LOG = "C:\\Windows\\setupapi.log";
const std::string BEGIN_LINE = "==== SetupApi log begin ====\r\n";
const std::string END_LINE = "===== SetupApi log end =====\r\n";

class SetupLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        log.Reset(Files().CreateFileA(LOG_PATH, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(log.IsValid());
        writer = std::make_unique<CSetupLogApi>(log.Get());
    }
    std::string LogText() const { return machine.files.Text(LOG_PATH); }

    fake::CFakeMachine machine;
    KernelHandle log;
    std::unique_ptr<CSetupLogApi> writer;
};

// ---- log lines ----------------------------------------------------------------------

using SetupLogLines = SetupLogTest;

TEST_F(SetupLogLines, TextArgumentAndLineEnd) {
    writer->WriteLine("Install File: ", "C:\\Program Files\\Tessaport\\tsport.exe");
    writer->WriteLine("Restart System", nullptr);
    writer->WriteLine("Create Firewall rules", "");
    writer->WriteLine(nullptr, "never written");
    writer->WriteLine("Error text\nsecond line", nullptr);
    EXPECT_EQ(LogText(),
              "Install File: C:\\Program Files\\Tessaport\\tsport.exe\r\n"
              "Restart System\r\n"
              "Create Firewall rules\r\n"
              "Error text\nsecond line\r\n");
}

TEST_F(SetupLogLines, LinesGoToTheEndWhereverThePointerStands) {
    machine.files.PutFile(LOG_PATH, "earlier\r\n");
    Files().SetFilePointer(log.Get(), 0, FILE_BEGIN);
    writer->WriteLine("Restart System", nullptr);
    EXPECT_EQ(LogText(), "earlier\r\nRestart System\r\n");
}

TEST_F(SetupLogLines, FailedWriteCutsTheLineAndTheNextFollowsDirectly) {
    // Second write: the argument of the first line.
    machine.Faults().FailCall("WriteFile", 2, ERROR_DISK_FULL);
    writer->WriteLine("Install File: ", "C:\\a.sys");
    writer->WriteLine("Restart System", nullptr);
    EXPECT_EQ(LogText(), "Install File: Restart System\r\n");

    // First write of a line: nothing of it at all; third: no line end.
    machine.Faults().Clear();
    machine.Faults().FailCall("WriteFile", 1, ERROR_DISK_FULL);
    writer->WriteLine("lost ", "entirely");
    machine.Faults().Clear();
    machine.Faults().FailCall("WriteFile", 3, ERROR_DISK_FULL);
    writer->WriteLine("Install Service: ", "tsport");
    writer->WriteLine("End", nullptr);
    EXPECT_EQ(LogText(), "Install File: Restart System\r\nInstall Service: tsportEnd\r\n");
}

TEST_F(SetupLogLines, NoLogFileWritesNothing) {
    const auto before = machine.files.Snapshot();
    for (HANDLE none : {InvalidHandle(), static_cast<HANDLE>(nullptr)}) {
        CSetupLogApi quiet(none);
        quiet.WriteLine("Restart System", "x");
    }
    EXPECT_EQ(machine.files.Snapshot(), before);
    for (const std::string& call : machine.Faults().Calls()) {
        EXPECT_NE(call, "WriteFile");
        EXPECT_NE(call, "FlushFileBuffers");
    }
}

TEST_F(SetupLogLines, DestructorFlushesAndLeavesTheHandleToItsOwner) {
    writer->WriteLine("Restart System", nullptr);
    writer.reset();
    const auto& calls = machine.Faults().Calls();
    EXPECT_EQ(calls.back(), "FlushFileBuffers");
    EXPECT_EQ(machine.files.OpenHandleCount(), 1u);  // the application still holds the log
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
    EXPECT_EQ(LogText(), "Restart System\r\n");
}

// ---- SetupAPI log capture -------------------------------------------------------------

class SetupApiCapture : public SetupLogTest {
protected:
    void SetUp() override {
        SetupLogTest::SetUp();
        machine.registry.CreateKey(SETUP_KEY);
    }
    // The setup log after the writer is gone: what the lines and the capture left.
    std::string Finish() {
        writer.reset();
        EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
        EXPECT_EQ(machine.kernel.liveVirtualBlocks(), 0u);
        EXPECT_EQ(machine.files.OpenHandleCount(), 1u);
        return LogText();
    }
    static std::string Block(const std::string& bytes) { return BEGIN_LINE + bytes + END_LINE; }
};

TEST_F(SetupApiCapture, LevelRaisedForTheRunAndRestoredAfter) {
    machine.registry.SetDword(SETUP_KEY, "LogLevel", 0x2000FFFF);
    const auto before = machine.registry.Snapshot();
    machine.files.PutFile(DEV_LOG, "old\r\n");
    ASSERT_EQ(writer->StartCapture(), 1);
    EXPECT_EQ(machine.registry.GetDword(SETUP_KEY, "LogLevel"), 0x5050u);
    writer->WriteLine("Install WDM Driver: ", "ROOT\\TSPORT");
    machine.files.PutFile(DEV_LOG, std::string("old\r\nnew\0line\r\n", 15));
    EXPECT_EQ(Finish(), "Install WDM Driver: ROOT\\TSPORT\r\n" + Block(std::string("new\0line\r\n", 10)));
    EXPECT_EQ(machine.registry.Snapshot(), before);
}

TEST_F(SetupApiCapture, OlderWindowsUsesItsOwnLogAndLevel) {
    machine.kernel.version.major = 5;
    machine.registry.SetDword(SETUP_KEY, "LogLevel", 0);
    machine.files.PutFile(XP_LOG, "xp\r\n");
    machine.files.PutFile(DEV_LOG, "vista\r\n");
    ASSERT_EQ(writer->StartCapture(), 1);
    EXPECT_EQ(machine.registry.GetDword(SETUP_KEY, "LogLevel"), 0xFFFFu);
    machine.files.PutFile(XP_LOG, "xp\r\nmore\r\n");
    machine.files.PutFile(DEV_LOG, "vista\r\nignored\r\n");
    EXPECT_EQ(Finish(), Block("more\r\n"));
    EXPECT_EQ(machine.registry.GetDword(SETUP_KEY, "LogLevel"), 0u);
}

TEST_F(SetupApiCapture, NoLogLevelValueIsNeitherCreatedNorLeft) {
    machine.files.PutFile(DEV_LOG, "");
    const auto before = machine.registry.Snapshot();
    ASSERT_EQ(writer->StartCapture(), 1);
    EXPECT_FALSE(machine.registry.GetValue(SETUP_KEY, "LogLevel").has_value());
    machine.files.PutFile(DEV_LOG, "grown\r\n");
    EXPECT_EQ(Finish(), Block("grown\r\n"));
    EXPECT_EQ(machine.registry.Snapshot(), before);
}

TEST_F(SetupApiCapture, LogLevelOfAnotherShapeIsLeftAlone) {
    machine.registry.SetValue(SETUP_KEY, "LogLevel", REG_BINARY, {0x01, 0x02});
    const auto before = machine.registry.Snapshot();
    ASSERT_EQ(writer->StartCapture(), 1);
    EXPECT_EQ(machine.registry.Snapshot(), before);
    Finish();
    EXPECT_EQ(machine.registry.Snapshot(), before);
}

TEST_F(SetupApiCapture, LogPathChoosesTheFolder) {
    machine.registry.SetString(SETUP_KEY, "LogPath", "D:\\Logs");
    machine.files.PutFile("D:\\Logs\\setupapi.dev.log", "a\r\n");
    machine.files.PutFile(DEV_LOG, "default\r\n");
    ASSERT_EQ(writer->StartCapture(), 1);
    machine.files.PutFile("D:\\Logs\\setupapi.dev.log", "a\r\nb\r\n");
    machine.files.PutFile(DEV_LOG, "default\r\nnot this\r\n");
    EXPECT_EQ(Finish(), Block("b\r\n"));
}

TEST_F(SetupApiCapture, LogPathUpTo260BytesIsUsedLongerIsNot) {
    // 259 characters and the terminator: the longest value taken.
    const std::string folder = "D:\\" + std::string(256, 'L');
    const std::string devLog = folder + "\\setupapi.dev.log";
    machine.registry.SetString(SETUP_KEY, "LogPath", folder);
    machine.registry.SetDword(SETUP_KEY, "LogLevel", 3);
    machine.files.PutFile(devLog, "");
    ASSERT_EQ(writer->StartCapture(), 1);
    machine.files.PutFile(devLog, "taken\r\n");
    EXPECT_EQ(Finish(), Block("taken\r\n"));

    // One byte more: no path at all, though the level is still raised for the run.
    machine.files.PutFile(LOG_PATH, "");
    machine.registry.SetString(SETUP_KEY, "LogPath", folder + "L");
    machine.files.PutFile(folder + "L\\setupapi.dev.log", "");
    machine.files.PutFile(DEV_LOG, "");
    writer = std::make_unique<CSetupLogApi>(log.Get());
    ASSERT_EQ(writer->StartCapture(), 1);
    EXPECT_EQ(machine.registry.GetDword(SETUP_KEY, "LogLevel"), 0x5050u);
    machine.files.PutFile(folder + "L\\setupapi.dev.log", "grown\r\n");
    machine.files.PutFile(DEV_LOG, "grown\r\n");
    EXPECT_EQ(Finish(), "");
    EXPECT_EQ(machine.registry.GetDword(SETUP_KEY, "LogLevel"), 3u);
}

TEST_F(SetupApiCapture, LogCreatedDuringTheRunIsCopiedWhole) {
    ASSERT_FALSE(machine.files.FileExists(DEV_LOG));
    ASSERT_EQ(writer->StartCapture(), 1);
    machine.files.PutFile(DEV_LOG, "[Device Install]\r\nall of it\r\n");
    EXPECT_EQ(Finish(), Block("[Device Install]\r\nall of it\r\n"));
}

TEST_F(SetupApiCapture, UnchangedShrunkOrMissingLogGivesNoBlock) {
    for (const char* end : std::initializer_list<const char*>{"same\r\n", "s", nullptr}) {
        machine.files.PutFile(LOG_PATH, "");
        machine.files.PutFile(DEV_LOG, "same\r\n");
        writer = std::make_unique<CSetupLogApi>(log.Get());
        ASSERT_EQ(writer->StartCapture(), 1);
        if (end != nullptr) {
            machine.files.PutFile(DEV_LOG, end);
        } else {
            machine.files.Remove(DEV_LOG);
        }
        writer->WriteLine("Restart System", nullptr);
        EXPECT_EQ(Finish(), "Restart System\r\n") << (end ? end : "(removed)");
    }
}

TEST_F(SetupApiCapture, GrowthBelowTwoMebibytesOnly) {
    const std::string start = "start\r\n";
    machine.files.PutFile(DEV_LOG, start);
    ASSERT_EQ(writer->StartCapture(), 1);
    const std::string largest(2097151, 'g');
    machine.files.PutFile(DEV_LOG, start + largest);
    EXPECT_EQ(Finish(), Block(largest));

    machine.files.PutFile(LOG_PATH, "");
    machine.files.PutFile(DEV_LOG, start);
    writer = std::make_unique<CSetupLogApi>(log.Get());
    ASSERT_EQ(writer->StartCapture(), 1);
    machine.files.PutFile(DEV_LOG, start + largest + "g");
    EXPECT_EQ(Finish(), "");
}

TEST_F(SetupApiCapture, SetupKeyWithoutFullAccessChangesNothing) {
    machine.registry.SetDword(SETUP_KEY, "LogLevel", 0);
    machine.registry.DenyWrite(SETUP_KEY);
    machine.files.PutFile(DEV_LOG, "");
    const auto before = machine.registry.Snapshot();
    EXPECT_EQ(writer->StartCapture(), 0);
    EXPECT_EQ(machine.registry.Snapshot(), before);
    machine.files.PutFile(DEV_LOG, "grown\r\n");
    EXPECT_EQ(Finish(), "");
    EXPECT_EQ(machine.registry.Snapshot(), before);
}

TEST_F(SetupApiCapture, NoMemoryForTheBlockGivesNoMarkers) {
    machine.registry.SetDword(SETUP_KEY, "LogLevel", 7);
    machine.files.PutFile(DEV_LOG, "");
    ASSERT_EQ(writer->StartCapture(), 1);
    machine.files.PutFile(DEV_LOG, "grown\r\n");
    machine.Faults().FailCall("VirtualAlloc", 0, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Finish(), "");
    EXPECT_EQ(machine.registry.GetDword(SETUP_KEY, "LogLevel"), 7u);
}

TEST_F(SetupApiCapture, FailedReadOrSeekGivesNoMarkers) {
    for (const char* call : {"ReadFile", "SetFilePointer"}) {
        machine.files.PutFile(LOG_PATH, "");
        machine.files.PutFile(DEV_LOG, "old\r\n");
        writer = std::make_unique<CSetupLogApi>(log.Get());
        ASSERT_EQ(writer->StartCapture(), 1);
        machine.files.PutFile(DEV_LOG, "old\r\nnew\r\n");
        machine.Faults().Clear();
        machine.Faults().FailCall(call, 1, ERROR_READ_FAULT);
        EXPECT_EQ(Finish(), "") << call;
    }
}

// A registry that throws from a chosen call, as a fault raised inside the system would.
class CThrowingRegistry final : public IRegistry {
public:
    explicit CThrowingRegistry(IRegistry& inner) : m_inner(inner) {}
    std::string throwOn;

    LONG RegCreateKeyExA(HKEY k, const char* s, DWORD o, DWORD a, HKEY* r, DWORD* d) override {
        return m_inner.RegCreateKeyExA(k, s, o, a, r, d);
    }
    LONG RegOpenKeyExA(HKEY k, const char* s, DWORD a, HKEY* r) override { return m_inner.RegOpenKeyExA(k, s, a, r); }
    LONG RegQueryInfoKeyA(HKEY k, DWORD* a, DWORD* b, DWORD* c, DWORD* d, DWORD* e) override {
        return m_inner.RegQueryInfoKeyA(k, a, b, c, d, e);
    }
    LONG RegEnumKeyExA(HKEY k, DWORD i, char* n, DWORD* s) override { return m_inner.RegEnumKeyExA(k, i, n, s); }
    LONG RegEnumValueA(HKEY k, DWORD i, char* n, DWORD* ns, DWORD* t, BYTE* d, DWORD* ds) override {
        return m_inner.RegEnumValueA(k, i, n, ns, t, d, ds);
    }
    LONG RegQueryValueExA(HKEY k, const char* n, DWORD* t, BYTE* d, DWORD* s) override {
        Check("RegQueryValueExA");
        return m_inner.RegQueryValueExA(k, n, t, d, s);
    }
    LONG RegSetValueExA(HKEY k, const char* n, DWORD t, const BYTE* d, DWORD s) override {
        Check("RegSetValueExA");
        return m_inner.RegSetValueExA(k, n, t, d, s);
    }
    LONG RegDeleteValueA(HKEY k, const char* n) override { return m_inner.RegDeleteValueA(k, n); }
    LONG RegDeleteKeyA(HKEY k, const char* s) override { return m_inner.RegDeleteKeyA(k, s); }
    LONG RegCloseKey(HKEY k) override { return m_inner.RegCloseKey(k); }

private:
    void Check(const char* call) const {
        if (throwOn == call) throw std::runtime_error(call);
    }
    IRegistry& m_inner;
};

TEST_F(SetupApiCapture, FaultsInsideTheCaptureStayInside) {
    machine.registry.SetDword(SETUP_KEY, "LogLevel", 9);
    CThrowingRegistry throwing(machine.registry);
    Platform platform = Current();
    platform.registry = &throwing;
    Install(platform);

    throwing.throwOn = "RegQueryValueExA";
    EXPECT_EQ(writer->StartCapture(), 0);
    writer.reset();
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
    EXPECT_EQ(machine.registry.GetDword(SETUP_KEY, "LogLevel"), 9u);

    // A fault while the level is put back at the end does not leave the destructor.
    throwing.throwOn.clear();
    writer = std::make_unique<CSetupLogApi>(log.Get());
    ASSERT_EQ(writer->StartCapture(), 1);
    throwing.throwOn = "RegSetValueExA";
    EXPECT_NO_THROW(writer.reset());
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
    machine.Install();
}

// ---- debug trace ----------------------------------------------------------------------

TEST(DebugTraceOutput, FormatsAndKeepsAtMost511Characters) {
    fake::CFakeMachine machine;
    DebugTrace("tsport.sys");
    DebugTrace("%s-%d", "entry", 42);
    const std::string exact(511, 'x');
    DebugTrace("%s", exact.c_str());
    DebugTrace("%s", (exact + "yz").c_str());
    ASSERT_EQ(machine.kernel.debugOutput.size(), 4u);
    EXPECT_EQ(machine.kernel.debugOutput[0], "tsport.sys");
    EXPECT_EQ(machine.kernel.debugOutput[1], "entry-42");
    EXPECT_EQ(machine.kernel.debugOutput[2], exact);
    EXPECT_EQ(machine.kernel.debugOutput[3], exact);
}

}  // namespace
