// Every fallible call of a whole installation, failed in turn on a fresh machine: the run
// either still ends as a good installation or is rolled back to the machine it started on.
//
// Leftovers a rolled-back run may keep (and why):
// - "store oemN.inf": the INF this run installed, staged in the driver store. Staging is not
//   journalled; Windows keeps the package until it is uninstalled on purpose, and nothing
//   else points at it.
// - a device that was present before keeps the driver of that INF: updating it is not
//   journalled, only its service's registry values are saved and written back.
//
// What a successful run may lack against a clean one, each only where the fault struck (a
// run of its own stops at the faulted call and shows which call it was and what had been
// logged before it), because the step absorbs that failure:
// - a Start Menu, desktop or Quick Launch link other than the main one: one, the link whose
//   creation failed, or whose folder could not be found (a warning only, or skipped);
// - values of the uninstall entry, when their write failed (written without checking): the
//   one value whose write failed, all of them when the key could not be made, and the ones
//   not yet written when the write threw;
// - the service's description, when setting it failed (set without checking);
// - "usbd.sys" of the server edition, when placing it failed (never an error), or another
//   variant of it when the version query failed (the engine then takes Windows for the XP
//   kind); and with it the uninstall entry's record of what was placed;
// - the 32-bit system folder's files when that folder cannot be found (those rows are skipped);
// - the size the uninstall entry gives, when the files placed differ as above;
// - the driver store entry and the driver of the devices, which take the INF as it stands:
//   an INF whose replacement waits for the next start is staged in its old form;
// - a backup of an overwritten file whose deletion at the commit failed.
// Services that a failed start or a restart requirement left stopped are compared after a
// restart, when the automatic ones run again.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <set>
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
        // Whatever the older build left for the next start has happened; the run logs anew.
        rig->RestartMachine();
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

// Where a fault struck: the call, and the clean run's log around it. Found by a run that
// throws at the call what nothing of the installer catches; a part that goes on whatever it
// meets (the uninstall entry, the commit, a log line) goes on past it.
struct FaultSite {
    std::string call;
    bool inAbsorbingPart = false;
    std::string lineBefore;  // the last line logged before the call
    std::string lineAfter;   // the line the clean run logged next
};

FaultSite Locate(const SweepConfig& config, unsigned nth, const std::vector<std::string>& cleanLog) {
    auto rig = Arrange(config);
    rig->machine.Faults().ThrowNth(nth, fake::FaultKind::Foreign);
    bool escaped = false;
    try {
        rig->Create();
        if (rig->process->CheckPackage() == PACK_OK) rig->Install();
    } catch (const fake::FaultPlanForeignException&) {
        escaped = true;
    }
    FaultSite site;
    const std::vector<std::string>& calls = rig->machine.Faults().Calls();
    site.call = nth <= calls.size() ? calls[nth - 1] : "?";
    site.inAbsorbingPart = !escaped;
    std::vector<std::string> lines = rig->LogLines();
    if (!lines.empty() && !EndsWith(rig->LogText(), "\r\n")) lines.pop_back();  // cut short by the fault
    if (!site.inAbsorbingPart && !lines.empty()) site.lineBefore = lines.back();
    if (!site.inAbsorbingPart && lines.size() < cleanLog.size()) site.lineAfter = cleanLog[lines.size()];
    return site;
}

// Differences between a clean install and a successful faulted one that the fault's site does
// not explain (see the list at the top); "" when there are none.
std::string UnabsorbedDifferences(const CInstallRig& rig, const State& cleanState, const State& runState,
                                  const FaultSite& site, bool throwing) {
    const State clean = WithoutRunFolders(cleanState);
    const State run = WithoutRunFolders(runState);
    const EditionInfo& info = rig.edition.Info();
    const std::string mainLink =
        "file " + Upper(rig.menu + "\\" + Link(info, EditionLinkPlace::MenuMain).name + ".lnk");
    const std::string entry = "reg " + Upper("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                             std::string(info.uninstallKeyName));
    const std::string usbd = "file " + Upper(std::string(CInstallRig::DRIVERS) + "\\usbd.sys");
    std::string digestValue = "-";
    for (const EditionFile& file : info.files) {
        if (file.digestValue != nullptr) digestValue = file.digestValue;
    }
    const std::string usbdRecord = entry + "|" + Upper(digestValue);
    const std::string before = Upper(site.lineBefore), after = Upper(site.lineAfter);

    // Where the fault struck, and so what it may leave out.
    const bool noWow64 = site.call == "GetSystemWow64DirectoryA";
    const bool usbdPlacement = before == "INSTALL FILE: " + usbd.substr(5);
    // The check for a usbd.sys of Windows' own, right after the driver folder's files: a
    // failed one places the edition's.
    const bool usbdLookup = site.call == "FindFirstFileA" &&
                            StartsWith(before, "INSTALL FILE: " + Upper(std::string(CInstallRig::DRIVERS) + "\\"));
    const bool osKindGuessed = site.call == "GetVersionExA";
    // The parts that go on past a fault: the commit, a log line, and the uninstall entry with
    // its record of the files placed.
    const bool commit = site.inAbsorbingPart && site.call == "DeleteFileA";
    const bool logLine = site.inAbsorbingPart && (site.call == "SetFilePointer" || site.call == "WriteFile");
    const bool inEntry = site.inAbsorbingPart && !commit && !logLine;
    const bool entryWrite = inEntry && (site.call == "RegCreateKeyExA" || site.call == "RegSetValueExA");
    const std::string describing =  // the service whose description could not be set
        site.call == "ChangeServiceConfig2A" && StartsWith(before, "INSTALL SERVICE: ") ? before.substr(17) : "-";
    auto linkAtFault = [&](const std::string& key) {
        const std::string title = "CREATESHORTCUTS: " + key.substr(5);
        const bool folderLookup = site.call == "SHGetSpecialFolderPathA" || site.call == "FindFirstFileA";
        return key != mainLink && EndsWith(key, ".LNK") && (before == title || (after == title && folderLookup));
    };
    const bool placedDiffer = noWow64 || usbdPlacement || usbdLookup || osKindGuessed;
    // The INF's replacement waits for the next start when its installation met the fault.
    const bool oldInfStaged = StartsWith(before, "INSTALL FILE: ") && EndsWith(before, ".INF");
    const std::string wow64 = "file " + Upper(std::string(CInstallRig::WOW64) + "\\");

    std::string out;
    unsigned links = 0, entryValues = 0, backups = 0;
    for (const auto& [key, value] : clean) {
        const auto it = run.find(key);
        if (it != run.end() && it->second == value) continue;
        if (noWow64 && StartsWith(key, wow64)) continue;  // missing, or an earlier installation's
        if (it == run.end()) {
            if (StartsWith(key, "file ") && linkAtFault(key) && ++links == 1) continue;
            if ((key == entry || StartsWith(key, entry + "|")) && entryWrite &&
                (throwing || site.call == "RegCreateKeyExA" || ++entryValues == 1)) {
                continue;
            }
            if (key == usbdRecord && (usbdPlacement || inEntry)) continue;
            if (key == usbd && usbdPlacement) continue;
            if (key == "reg " + Upper("HKLM\\System\\CurrentControlSet\\Services\\") + describing + "|DESCRIPTION") {
                continue;
            }
            if (StartsWith(key, "store ") && oldInfStaged) continue;
            out += "  missing: " + key + "\n";
            continue;
        }
        const std::string& now = it->second;
        if (key == "service " + describing && WithoutDescription(now) == WithoutDescription(value)) continue;
        if ((key == usbd || key == usbdRecord) && osKindGuessed) continue;
        if (key == usbd && usbdLookup) continue;
        if (key == entry + "|ESTIMATEDSIZE" && placedDiffer) continue;
        if (oldInfStaged && (StartsWith(key, "store ") ||
                             (StartsWith(key, "device ") && WithoutDriver(now) == WithoutDriver(value)))) {
            continue;
        }
        out += "  changed: " + key + "\n";
    }
    for (const auto& [key, value] : run) {
        if (clean.count(key) != 0) continue;
        if (StartsWith(key, "file ") && EndsWith(key, ".TMP.BACKUP") && commit && ++backups == 1) continue;
        out += "  added:   " + key + "\n";
    }
    return out;
}

// A rolled-back machine against its start, the documented leftovers taken out: an INF of the
// target folder left in the driver store, and a device that was there before keeping the
// driver staged from it. Services the run stopped run again.
std::string RollbackDifferences(const CInstallRig& rig, const State& start, State run) {
    std::set<std::string> leftInStore;
    for (const auto& [key, source] : run) {
        if (StartsWith(key, "store ") && start.count(key) == 0 && StartsWith(Upper(source), Upper(rig.target + "\\")) &&
            EndsWith(Upper(source), ".INF")) {
            leftInStore.insert(key);
        }
    }
    for (auto it = run.begin(); it != run.end();) {
        const auto before = start.find(it->first);
        if (before == start.end()) {
            it = leftInStore.count(it->first) != 0 ? run.erase(it) : std::next(it);
            continue;
        }
        const std::size_t at = it->second.find(" driver=");
        if (StartsWith(it->first, "device ") && at != std::string::npos &&
            WithoutDriver(before->second) == WithoutDriver(it->second) &&
            leftInStore.count("store " + it->second.substr(at + 8, it->second.find(' ', at + 8) - at - 8)) != 0) {
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
    std::vector<std::string> cleanLog;
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
        cleanLog = rig->LogLines();
        clean = Restarted(*rig);
    }
    {
        auto rig = Arrange(config);
        startRestarted = Restarted(*rig);
    }
    ASSERT_GT(calls, 100u);
    const State cleanWithoutRunFolders = WithoutRunFolders(clean);

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
            if (WithoutRunFolders(run) == cleanWithoutRunFolders) continue;
            const FaultSite site = Locate(config, nth, cleanLog);
            const std::string diff =
                UnabsorbedDifferences(*rig, clean, run, site, config.fault != fake::FaultKind::Error);
            EXPECT_EQ(diff, "") << where << " ended as an installation that differs (the fault came after \""
                                << site.lineBefore << "\"):\n" << diff;
            continue;
        }
        (result.refused || result.status != PACK_OK ? refused : rolledBack) += 1;
        const bool deferred = HasDeferrals(*rig, result);
        const State run = deferred ? Restarted(*rig) : rig->State();
        const std::string diff = RollbackDifferences(*rig, deferred ? startRestarted : start, run);
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
