// The installer engine on the in-memory machine: a setup log file, the engine built over
// it, and the error and machine-state helpers its tests share.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "engine/installer.h"
#include "fake/fake_devices.h"
#include "fake/fake_machine.h"
#include "fake/fake_registry.h"
#include "fake/fake_security.h"
#include "fake/fake_services.h"
#include "platform/constants.h"

namespace enginetest {

struct Raised {
    std::uint32_t module;
    std::uint32_t location;
    std::uint32_t code;
    bool operator==(const Raised& other) const {
        return module == other.module && location == other.location && code == other.code;
    }
};
inline std::ostream& operator<<(std::ostream& out, const Raised& r) {
    return out << "(" << r.module << ", " << r.location << ", " << r.code << ")";
}

// What the call raised, if anything; the error object is deleted as its catcher must.
template <typename Call>
std::optional<Raised> RaisedBy(Call&& call) {
    try {
        call();
    } catch (CExceptionEx* e) {
        std::unique_ptr<CExceptionEx> owner(e);
        return Raised{e->GetModule(), e->GetLocation(), e->GetCode()};
    }
    return std::nullopt;
}

// Gives tests the engine's parts.
class CTestInstaller : public CInstaller {
public:
    using CInstaller::CInstaller;
    using CInstaller::m_journal;
    using CInstaller::m_services;
};

class EngineTest : public ::testing::Test {
public:
    static constexpr const char* WARNING_LINE = "Warning: === Reboot required to complete operation ===\r\n";

protected:
    EngineTest() : logPath(machine.kernel.tempPath + "tessaport-rdp-workstation-setup.log") {
        // A machine that has run Windows: the RunOnce key is there.
        machine.registry.CreateKey("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
        logFile = os::Files().CreateFileA(logPath.c_str(), os::GENERIC_WRITE, os::FILE_SHARE_READ, os::CREATE_ALWAYS,
                                          os::FILE_ATTRIBUTE_NORMAL);
    }
    ~EngineTest() override {
        installer.reset();
        os::Kernel().CloseHandle(logFile);
    }

    CTestInstaller& Make(int openPackage = 0, int checkAdmin = 1, int captureSetupApiLog = 0) {
        installer = std::make_unique<CTestInstaller>(logFile, openPackage, checkAdmin, captureSetupApiLog);
        return *installer;
    }
    std::optional<Raised> MakeFails(int openPackage = 0, int checkAdmin = 1) {
        return RaisedBy([&] { Make(openPackage, checkAdmin); });
    }

    std::string LogText() const { return machine.files.Text(logPath); }

    // Every file and directory with content and attributes, the setup log left out.
    std::map<std::string, std::string> MachineState() const {
        std::map<std::string, std::string> state = machine.files.Snapshot();
        std::string key = logPath;
        for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        state.erase(key);
        return state;
    }

    // Nothing the engine opened is still open (the setup log is the test's own).
    void ExpectNothingOpen() const {
        EXPECT_EQ(machine.files.OpenHandleCount(), 1u);
        EXPECT_EQ(machine.services.OpenHandleCount(), 0u);
        EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
        EXPECT_EQ(machine.security.OpenTokenCount(), 0u);
        EXPECT_EQ(machine.security.LiveSidCount(), 0u);
        EXPECT_EQ(machine.kernel.liveVirtualBlocks(), 0u);
    }

    fake::CFakeMachine machine;
    std::string logPath;
    os::HANDLE logFile;
    std::unique_ptr<CTestInstaller> installer;
};

}  // namespace enginetest
