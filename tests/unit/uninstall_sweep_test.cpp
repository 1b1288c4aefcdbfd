// Every fallible call of a whole removal, failed in turn on a freshly installed machine: no
// fault stops the removal half-way. It ends removed (the machine as before the installation,
// after the next start when it asked for one), or incomplete (-10) with every piece that is
// still there named in the log; nothing is left unnamed, and nothing ends in any other way.
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "uninstall_test_support.h"

using namespace uninstalltest;

namespace {

struct SweepConfig {
    const char* name;
    Scenario scenario;
    bool ruleInterface;  // false: a Windows with only the authorized-applications interface
};

std::unique_ptr<CUninstallRig> Arrange(const SweepConfig& config, State* before) {
    auto rig = std::make_unique<CUninstallRig>(config.scenario);
    rig->machine().firewall.ruleInterface = config.ruleInterface;
    if (before != nullptr) *before = rig->StateNow();
    rig->Install();
    rig->machine().Faults().Clear();
    return rig;
}

std::string Path(const std::string& key) {
    const std::size_t space = key.find(' ');
    return space == std::string::npos ? key : key.substr(space + 1);
}

// Whether an item the removal named as staying accounts for a piece still on the machine.
bool Explains(const CUninstallRig& rig, const std::string& item, const std::string& key, const std::string& value) {
    const std::string upperKey = Upper(key), upperValue = Upper(value);
    auto under = [&](const std::string& folder) {
        const std::string path = Upper(folder);
        const std::string file = Upper(Path(key));
        return StartsWith(upperKey, "FILE ") && (file == path || StartsWith(file, path + "\\"));
    };
    const std::string kind = item.substr(0, item.find(' '));
    const std::string what = item.substr(kind.size() + 1);
    if (kind == "file") return upperKey == "FILE " + Upper(what);
    if (kind == "service") {
        return upperKey == "SERVICE " + Upper(what) ||
               StartsWith(upperKey, "REG HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\" + Upper(what));
    }
    if (kind == "devices") return StartsWith(upperKey, "DEVICE ") && upperValue.find(Upper(what)) != std::string::npos;
    if (kind == "driver") {
        const std::string inf = Upper(what.substr(what.find(' ') + 1));  // "package x.inf"
        return StartsWith(upperKey, "STORE ") && upperValue.size() >= inf.size() &&
               upperValue.compare(upperValue.size() - inf.size(), inf.size(), inf) == 0;
    }
    if (kind == "firewall") {
        const std::string name = Upper(what.substr(what.find(' ') + 1));  // "rules <name>"
        return StartsWith(upperKey, "FIREWALL ") &&
               (upperKey.find(name) != std::string::npos || upperValue.find(name) != std::string::npos ||
                upperKey.find(Upper(std::string(rig.info().serviceProgramName))) != std::string::npos);
    }
    if (kind == "folder") {
        if (what == "system") return under(CInstallRig::SYSTEM);
        if (what == "Wow64") return under(CInstallRig::WOW64);
        if (what == "Drivers") return under(CInstallRig::DRIVERS);
        if (what == "Programs") return under(rig.install.menu);
        if (what == "Desktop") return under(CInstallRig::DESKTOP);
        if (what == "Quick Launch") return under(CInstallRig::QUICK_LAUNCH);
        if (StartsWith(what, "target and Start Menu")) return under(rig.install.target) || under(rig.install.menu);
        if (StartsWith(what, "target")) return under(rig.install.target);
        if (StartsWith(what, "Start Menu")) return under(rig.install.menu);
        return under(what);
    }
    return false;
}

// What is still there against the machine before the installation, each piece that no
// named item accounts for; the kept uninstall entry is by design.
std::string Unexplained(const CUninstallRig& rig, const State& before, const State& after,
                        const std::vector<std::string>& stayed) {
    const std::string entry =
        Upper("reg HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
              std::string(rig.info().uninstallKeyName));
    auto explained = [&](const std::string& key, const std::string& value) {
        if (StartsWith(Upper(key), entry)) return true;
        for (const std::string& item : stayed) {
            if (Explains(rig, item, key, value)) return true;
        }
        return false;
    };
    std::string out;
    for (const auto& [key, value] : after) {
        const auto it = before.find(key);
        if (it != before.end() && it->second == value) continue;
        if (!explained(key, value)) out += "  left:    " + key + "\n";
    }
    for (const auto& [key, value] : before) {
        if (after.count(key) == 0) out += "  missing: " + key + "\n";
    }
    return out;
}

class UninstallSweep : public ::testing::TestWithParam<SweepConfig> {};

TEST_P(UninstallSweep, EveryFailingCallEndsRemovedOrNamesWhatStayed) {
    const SweepConfig& config = GetParam();
    const auto began = std::chrono::steady_clock::now();

    State before;
    unsigned calls = 0;
    {
        auto rig = Arrange(config, &before);
        const UninstallResult result = rig->Uninstall();
        ASSERT_FALSE(result.refused);
        ASSERT_EQ(result.code, UNINSTALL_DONE);
        calls = rig->machine().Faults().CallCount();
        const State after = rig->StateNow();
        ASSERT_TRUE(after == before) << installtest::Differences(before, after);
    }
    ASSERT_GT(calls, 100u);

    unsigned removed = 0, restart = 0, incomplete = 0, refused = 0;
    for (unsigned nth = 1; nth <= calls; ++nth) {
        auto rig = Arrange(config, nullptr);
        const State installed = rig->StateNow();
        rig->machine().Faults().FailNth(nth, os::ERROR_ACCESS_DENIED);
        const UninstallResult result = rig->Uninstall();
        const auto& names = rig->machine().Faults().Calls();
        const std::string where = std::string(config.name) + ": call " + std::to_string(nth) + " (" +
                                  (nth <= names.size() ? names[nth - 1] : std::string("?")) + ")";

        if (result.refused) {
            // The engine could not start: nothing was touched.
            ++refused;
            const State now = rig->StateNow();
            EXPECT_TRUE(now == installed) << where << " changed:\n" << installtest::Differences(installed, now);
            continue;
        }
        ASSERT_TRUE(result.code == UNINSTALL_DONE || result.code == UNINSTALL_RESTART_NEEDED ||
                    result.code == UNINSTALL_INCOMPLETE)
            << where << " ended with " << result.code;
        EXPECT_EQ(result.code == UNINSTALL_RESTART_NEEDED, result.reboot && result.stayed.empty()) << where;
        rig->Restart();
        const State after = rig->StateNow();
        if (result.code == UNINSTALL_INCOMPLETE) {
            ++incomplete;
            EXPECT_FALSE(result.stayed.empty()) << where;
            const std::string left = Unexplained(*rig, before, after, result.stayed);
            EXPECT_EQ(left, "") << where << " left pieces it did not name:\n"
                                << left << "named: " << ::testing::PrintToString(result.stayed);
            // Each is in the log as well.
            const std::string log = rig->UninstallLog();
            for (const std::string& item : result.stayed) {
                EXPECT_NE(log.find("Error: Not removed: " + item), std::string::npos) << where << ": " << item;
            }
            continue;
        }
        (result.code == UNINSTALL_DONE ? removed : restart) += 1;
        EXPECT_TRUE(after == before) << where << " reported removal but left:\n"
                                     << installtest::Differences(before, after);
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << "[ sweep    ] " << config.name << ": " << calls << " fallible calls; " << removed << " removed, "
              << restart << " removed at the next start, " << incomplete << " incomplete, " << refused
              << " refused; " << seconds << " s\n";
}

Scenario Make(Edition edition, Windows windows, bool usbdPresent = false) {
    Scenario s;
    s.edition = edition;
    s.windows = windows;
    s.usbdPresent = usbdPresent;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Editions, UninstallSweep,
    ::testing::Values(SweepConfig{"workstation_win7", Make(Edition::Workstation, Windows::Seven), true},
                      SweepConfig{"workstation_xp", Make(Edition::Workstation, Windows::Xp64), false},
                      SweepConfig{"server_win7", Make(Edition::Server, Windows::Seven), true},
                      SweepConfig{"server_with_windows_usbd", Make(Edition::Server, Windows::Seven, true), true}),
    [](const ::testing::TestParamInfo<SweepConfig>& info) { return std::string(info.param.name); });

}  // namespace
