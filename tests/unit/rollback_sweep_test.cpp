// Every fallible call of a whole installation, failed in turn on a fresh machine: the run
// either still ends as a good installation or is rolled back to the machine it started on.
//
// Leftovers a rolled-back run may keep (and why):
// - "store oemN.inf": the INF staged in the driver store. Staging is not journalled; Windows
//   keeps the package until it is uninstalled on purpose, and nothing else points at it.
// - a device that was present before keeps the driver of the new INF: updating it is not
//   journalled, only its service's registry values are saved and written back.
//
// What a successful run may lack against a clean one, because the step absorbs the failure:
// - a Start Menu, desktop or Quick Launch link other than the main one (a warning only);
// - values of the uninstall entry (written without checking);
// - the service's description (set without checking);
// - "usbd.sys" of the server edition (placing it is never an error, and a failed version
//   query makes the engine take Windows for the XP kind), and with it the uninstall entry's
//   record of what was placed;
// - the 32-bit system folder's files when that folder cannot be found (those rows are skipped);
// - the driver store entry and the driver of the devices, which take the INF as it stands:
//   an INF whose replacement waits for the next start is staged in its old form;
// - a backup of an overwritten file whose deletion at the commit failed.
// Services that a failed start or a restart requirement left stopped are compared after a
// restart, when the automatic ones run again.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "install_process_test_support.h"

using namespace installtest;

namespace {

struct SweepConfig {
    const char* name;
    Scenario scenario;
    bool upgrade;  // an older build of the edition is installed and running
    // How the chosen call goes wrong: an error, out of memory, or an exception only the
    // application's guard catches (then recovered the way the guard does).
    fake::FaultKind fault = fake::FaultKind::Error;
    // An uninstallation just before could not stop the main service: it is still marked for
    // deletion, and the installation arranges a run of its own after the restart.
    bool serviceMarkedForDeletion = false;
};

struct RunResult {
    bool refused = false;  // the constructor raised
    int status = PACK_OK;
    std::int32_t failed = 0;
    std::int32_t reboot = 0;
};

using State = std::map<std::string, std::string>;

std::unique_ptr<CInstallRig> Arrange(const SweepConfig& config) {
    auto rig = std::make_unique<CInstallRig>(config.scenario);
    if (config.upgrade) {
        rig->SetPackage(PackageEntries(config.scenario.edition, 2));
        rig->RunAll();
        rig->SetPackage(rig->entries);
        rig->host.progress.clear();
        rig->rebootFlag = 0;
        // Whatever the older build left for the next start has happened.
        rig->machine.files.Restart();
        rig->machine.services.Restart();
    }
    if (config.serviceMarkedForDeletion) {
        const char* name = rig->edition.Info().serviceName;
        fake::CFakeServices::Config old;
        old.imagePath = std::string(CInstallRig::SYSTEM) + "\\" + rig->edition.Info().serviceProgramName;
        old.startType = os::SERVICE_AUTO_START;
        rig->machine.services.AddService(name, old, os::SERVICE_RUNNING).behaviour.acceptsStop = false;
        os::ServiceHandle manager(os::Services().OpenSCManagerA(os::SC_MANAGER_ALL_ACCESS));
        os::ServiceHandle service(os::Services().OpenServiceA(manager.Get(), name, os::SERVICE_ALL_ACCESS));
        os::Services().DeleteService(service.Get());
    }
    rig->machine.Faults().Clear();
    return rig;
}

RunResult RunInstaller(CInstallRig& rig) {
    RunResult result;
    try {
        rig.Create();
    } catch (CExceptionEx* e) {
        delete e;
        result.refused = true;
        return result;
    } catch (const std::bad_alloc&) {
        result.refused = true;  // the application ends with its initialisation error
        return result;
    }
    result.status = rig.process->CheckPackage();
    if (result.status == PACK_OK) {
        try {
            rig.Install();
        } catch (const fake::FaultPlanForeignException&) {
            // What the install worker's guard does once it has reported the exception.
            rig.failed = rig.process->RecoverFromFault(true);
        }
    }
    rig.process.reset();
    result.failed = rig.failed;
    result.reboot = rig.rebootFlag;
    return result;
}

bool HasDeferrals(CInstallRig& rig, const RunResult& result) {
    if (result.reboot != 0 || !rig.machine.files.PendingOperations().empty()) return true;
    for (const std::string& name : rig.machine.services.Names()) {
        if (rig.machine.services.Find(name)->markedForDelete) return true;
    }
    return false;
}

State Restarted(CInstallRig& rig) {
    rig.machine.files.Restart();
    rig.machine.services.Restart();
    return rig.State();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
std::string WithoutDescription(const std::string& service) {
    const std::size_t from = service.find(" description=");
    const std::size_t to = service.find(" account=");
    if (from == std::string::npos || to == std::string::npos) return service;
    return service.substr(0, from) + service.substr(to);
}

// A device's line without the INF its driver came from.
std::string WithoutDriver(const std::string& device) {
    const std::size_t from = device.find(" driver=");
    if (from == std::string::npos) return device;
    const std::size_t to = device.find(' ', from + 1);
    return device.substr(0, from) + (to == std::string::npos ? "" : device.substr(to));
}

// The random name of a run's own folder in the temporary folder ("\\TEMP\\54791575", in a
// registry value "\\x5CTemp\\x5C54791575") as one name: a run that drew more random numbers
// before has another.
std::string WithoutRunFolder(std::string text) {
    for (const std::string temp : {"\\TEMP\\", "\\X5CTEMP\\X5C"}) {
        for (std::size_t at = Upper(text).find(temp); at != std::string::npos; at = Upper(text).find(temp, at + 1)) {
            const std::size_t digits = at + temp.size();
            std::size_t end = digits;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
            if (end - digits == 8) text.replace(digits, 8, "<run>");
        }
    }
    return text;
}
State WithoutRunFolders(const State& state) {
    State out;
    for (const auto& [key, value] : state) out[WithoutRunFolder(key)] = WithoutRunFolder(value);
    return out;
}

// Differences between a clean install and a successful faulted one that the steps absorb
// by design (see the list at the top); "" when there are none other.
std::string UnabsorbedDifferences(const CInstallRig& rig, const State& cleanState, const State& runState) {
    const State clean = WithoutRunFolders(cleanState);
    const State run = WithoutRunFolders(runState);
    const EditionInfo& info = rig.edition.Info();
    const std::string mainLink =
        "file " + Upper(rig.menu + "\\" + Link(info, EditionLinkPlace::MenuMain).name + ".lnk");
    const std::string uninstallKey = "reg " + Upper("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                                    std::string(info.uninstallKeyName));
    const std::string usbd = "file " + Upper(std::string(CInstallRig::DRIVERS) + "\\usbd.sys");
    const std::string wow64 = "file " + Upper(std::string(CInstallRig::WOW64) + "\\");
    // Skipped or left as they were, by design: the 32-bit system folder's files when that
    // folder cannot be found, usbd.sys (and with these the size the entry gives), and the
    // driver store, which takes an INF as it stands.
    std::string digestValue = "-";
    for (const EditionFile& file : info.files) {
        if (file.digestValue != nullptr) digestValue = file.digestValue;
    }
    const std::string usbdRecord = uninstallKey + "|" + Upper(digestValue);
    const std::string size = uninstallKey + "|ESTIMATEDSIZE";
    bool placedDiffers = false;  // files come before "reg " keys: known by the time the size is
    auto skippable = [&](const std::string& key) {
        const bool file = key == usbd || StartsWith(key, wow64);
        placedDiffers = placedDiffers || file;
        return file || key == usbdRecord || StartsWith(key, "store ") || (key == size && placedDiffers);
    };
    std::string out;
    for (const auto& [key, value] : clean) {
        const auto it = run.find(key);
        if (it != run.end() && it->second == value) continue;
        if (it == run.end()) {
            const bool optionalLink = StartsWith(key, "file ") && EndsWith(key, ".LNK") && key != mainLink;
            const bool uninstallValue = StartsWith(key, uninstallKey);
            const bool description = StartsWith(key, "reg ") && EndsWith(key, "|DESCRIPTION");
            if (optionalLink || uninstallValue || description || skippable(key)) continue;
            out += "  missing: " + key + "\n";
            continue;
        }
        if (StartsWith(key, "service ") && WithoutDescription(it->second) == WithoutDescription(value)) continue;
        if (skippable(key)) continue;
        if (StartsWith(key, "device ") && WithoutDriver(it->second) == WithoutDriver(value)) continue;
        out += "  changed: " + key + "\n";
    }
    for (const auto& [key, value] : run) {
        if (clean.count(key) != 0) continue;
        if ((StartsWith(key, "file ") && EndsWith(key, ".TMP.BACKUP")) || StartsWith(key, "store ")) continue;
        out += "  added:   " + key + "\n";
    }
    return out;
}

// A rolled-back machine against its start, the documented leftovers taken out: an INF
// left in the driver store and a device that was there before keeping the new driver.
// Services the run stopped run again.
std::string RollbackDifferences(const State& start, State run) {
    for (auto it = run.begin(); it != run.end();) {
        const auto before = start.find(it->first);
        if (before == start.end()) {
            it = StartsWith(it->first, "store ") ? run.erase(it) : std::next(it);
            continue;
        }
        if (StartsWith(it->first, "device ") && WithoutDriver(before->second) == WithoutDriver(it->second)) {
            it->second = before->second;
        }
        ++it;
    }
    return run == start ? std::string() : Differences(start, run);
}

class RollbackSweep : public ::testing::TestWithParam<SweepConfig> {};

TEST_P(RollbackSweep, EveryFailingCallEndsInAGoodInstallOrTheStartingMachine) {
    const SweepConfig& config = GetParam();
    const auto began = std::chrono::steady_clock::now();

    // The clean run: how many fallible calls, and what a good installation leaves.
    State start, startRestarted, clean;
    unsigned calls = 0, callsBeforeInstall = 0;
    {
        auto rig = Arrange(config);
        start = rig->State();
        rig->Create();
        ASSERT_EQ(rig->process->CheckPackage(), PACK_OK);
        callsBeforeInstall = rig->machine.Faults().CallCount();
        rig->process.reset();
    }
    {
        auto rig = Arrange(config);
        const RunResult result = RunInstaller(*rig);
        ASSERT_FALSE(result.refused);
        ASSERT_EQ(result.status, PACK_OK);
        ASSERT_EQ(result.failed, 0);
        calls = rig->machine.Faults().CallCount();
        clean = Restarted(*rig);
    }
    {
        auto rig = Arrange(config);
        startRestarted = Restarted(*rig);
    }
    ASSERT_GT(calls, 100u);

    unsigned good = 0, rolledBack = 0, refused = 0;
    const bool foreign = config.fault == fake::FaultKind::Foreign;
    // Only the install runs under the guard; before it nothing throws such an exception.
    for (unsigned nth = foreign ? callsBeforeInstall + 1 : 1; nth <= calls; ++nth) {
        auto rig = Arrange(config);
        if (config.fault == fake::FaultKind::Error) {
            rig->machine.Faults().FailNth(nth, os::ERROR_ACCESS_DENIED);
        } else {
            rig->machine.Faults().ThrowNth(nth, config.fault);
        }
        const RunResult result = RunInstaller(*rig);
        const std::string call =
            nth <= rig->machine.Faults().Calls().size() ? rig->machine.Faults().Calls()[nth - 1] : "?";
        const std::string where = std::string(config.name) + ": call " + std::to_string(nth) + " (" + call + ")";

        if (!result.refused && result.status == PACK_OK && result.failed == 0) {
            ++good;
            const State run = Restarted(*rig);
            const std::string diff = UnabsorbedDifferences(*rig, clean, run);
            EXPECT_EQ(diff, "") << where << " ended as an installation that differs:\n" << diff;
            continue;
        }
        (result.refused || result.status != PACK_OK ? refused : rolledBack) += 1;
        const bool deferred = HasDeferrals(*rig, result);
        const State run = deferred ? Restarted(*rig) : rig->State();
        const std::string diff = RollbackDifferences(deferred ? startRestarted : start, run);
        EXPECT_EQ(diff, "") << where << " was not undone:\n" << diff;
        if (!result.refused && result.status == PACK_OK) {
            // The whole rollback ran: a claim of a restored machine is true.
            EXPECT_EQ(result.failed, INSTALL_FAILED) << where;
            // The guard reports its exception itself; the install process shows its own error.
            ASSERT_EQ(rig->host.boxes.size(), foreign ? 0u : 1u) << where;
            EXPECT_EQ(rig->host.progress.back(), (CRecordingHost::Progress{'S', 0, 5})) << where;
        }
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << "[ sweep    ] " << config.name << ": " << calls << " fallible calls; " << good << " good, "
              << rolledBack << " rolled back, " << refused << " stopped before installing; " << seconds << " s\n";
    RecordProperty("fallible_calls", static_cast<int>(calls));
}

Scenario Make(Edition edition, Windows windows) {
    Scenario s;
    s.edition = edition;
    s.windows = windows;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Editions, RollbackSweep,
    ::testing::Values(SweepConfig{"workstation_win7", Make(Edition::Workstation, Windows::Seven), false},
                      SweepConfig{"workstation_xp", Make(Edition::Workstation, Windows::Xp64), false},
                      SweepConfig{"workstation_upgrade", Make(Edition::Workstation, Windows::Seven), true},
                      SweepConfig{"server_win7", Make(Edition::Server, Windows::Seven), false},
                      SweepConfig{"server_upgrade", Make(Edition::Server, Windows::Seven), true},
                      SweepConfig{"workstation_after_uninstall", Make(Edition::Workstation, Windows::Seven), false,
                                  fake::FaultKind::Error, true}),
    [](const ::testing::TestParamInfo<SweepConfig>& info) { return std::string(info.param.name); });

// The same sweeps with the chosen call throwing: out of memory, which the install turns into
// its own error, and an exception only the install worker's guard catches.
INSTANTIATE_TEST_SUITE_P(
    Throwing, RollbackSweep,
    ::testing::Values(
        SweepConfig{"workstation_win7_nomem", Make(Edition::Workstation, Windows::Seven), false,
                    fake::FaultKind::OutOfMemory},
        SweepConfig{"workstation_upgrade_nomem", Make(Edition::Workstation, Windows::Seven), true,
                    fake::FaultKind::OutOfMemory},
        SweepConfig{"server_win7_nomem", Make(Edition::Server, Windows::Seven), false, fake::FaultKind::OutOfMemory},
        SweepConfig{"server_upgrade_nomem", Make(Edition::Server, Windows::Seven), true, fake::FaultKind::OutOfMemory},
        SweepConfig{"workstation_upgrade_guard", Make(Edition::Workstation, Windows::Seven), true,
                    fake::FaultKind::Foreign},
        SweepConfig{"server_upgrade_guard", Make(Edition::Server, Windows::Seven), true, fake::FaultKind::Foreign}),
    [](const ::testing::TestParamInfo<SweepConfig>& info) { return std::string(info.param.name); });

}  // namespace
