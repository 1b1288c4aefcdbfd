// Whole installations on the in-memory machine: a recording host, the edition's package
// appended to the installer image, and the machine-state views the tests compare.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake/fake_devices.h"
#include "fake/fake_machine.h"
#include "fake/fake_processes.h"
#include "fake/fake_registry.h"
#include "fake/fake_services.h"
#include "fake/fake_shell.h"
#include "pack/package_writer.h"
#include "package_test_support.h"
#include "platform/constants.h"
#include "product/install_process.h"
#include "product/server/server_edition.h"
#include "product/workstation/workstation_edition.h"

namespace installtest {

// The progress page's owner window, as the worker passes it.
inline os::HWND Owner() { return reinterpret_cast<os::HWND>(static_cast<std::uintptr_t>(0x10A2C)); }

const char* const INSTALL_ERROR_TEXT = "Error during installation.\nError code = 0x%.8x\nError arg0 = 0x%.8x";

// The application side: options as the wizard leaves them, every progress call and
// message box recorded in order.
class CRecordingHost final : public IInstallHost {
public:
    struct Progress {
        char kind;  // 'S' SetProgressStep(a = target, b = code), 'P' SetProgressPosition(a), 'D' direction(a)
        std::int32_t a;
        std::int32_t b;
        bool operator==(const Progress& o) const { return kind == o.kind && a == o.a && b == o.b; }
    };
    struct Box {
        os::HWND owner;
        std::string text;
        std::string caption;
        os::UINT type;
    };

    const InstallOptions& GetInstallOptions() const override { return options; }
    void SetProgressStep(std::int32_t target, std::int32_t code) override { progress.push_back({'S', target, code}); }
    void SetProgressPosition(std::int32_t value) override { progress.push_back({'P', value, 0}); }
    void SetProgressDirection(std::int32_t direction) override { progress.push_back({'D', direction, 0}); }
    std::string LoadText(std::uint32_t id) const override {
        if (id == IDS_INSTALL_ERROR) return INSTALL_ERROR_TEXT;
        if (id == IDS_FIREWALL_ERROR)
            return "Error occured while creating firewall rules.\nError code = 0x%.8x\nError arg0 = 0x%.8x";
        return "";
    }
    int ShowMessageBox(os::HWND owner, const char* text, const char* caption, os::UINT type) override {
        boxes.push_back({owner, text, caption, type});
        return 1;  // IDOK
    }
    bool MessagesShown() const override { return messagesShown; }

    InstallOptions options;
    bool messagesShown = true;
    std::vector<Progress> progress;
    std::vector<Box> boxes;
};

inline std::ostream& operator<<(std::ostream& out, const CRecordingHost::Progress& p) {
    if (p.kind == 'S') return out << "S(" << p.a << "," << p.b << ")";
    return out << p.kind << "(" << p.a << ")";
}

enum class Edition { Workstation, Server };
enum class Windows { Seven, Xp64 };  // Vista or later / the XP kind (major version 5)

struct Scenario {
    Edition edition = Edition::Workstation;
    Windows windows = Windows::Seven;
    bool quickLaunchFolder = true;  // the user's Quick Launch folder exists
    bool usbdPresent = false;       // the driver folder already holds usbd.sys
};

inline const EditionInfo& Table(Edition edition) {
    return edition == Edition::Workstation ? WORKSTATION_TABLE : SERVER_TABLE;
}

// The names the unpack-only mode writes, in its order.
inline std::vector<const char*> ExtractedNames(const EditionInfo& info) {
    std::vector<const char*> names;
    for (std::size_t place = 1; place <= info.package.size(); ++place) {
        for (const EditionEntry& entry : info.package) {
            if (entry.extractAt == place) names.push_back(entry.name);
        }
    }
    return names;
}

// Every entry of the edition's package (names exact: the extracted ones in their order, then
// the others in stored order), each with its own content; the driver package's INF is one
// Windows accepts.
inline std::vector<package::PackEntry> PackageEntries(Edition edition, unsigned seed = 1) {
    const EditionInfo& table = Table(edition);
    const std::string inf = table.driverPackages[0].inf;
    std::vector<const char*> names = ExtractedNames(table);
    for (const EditionEntry& row : table.package) {
        if (row.extractAt == 0) names.push_back(row.name);
    }
    std::vector<package::PackEntry> entries;
    unsigned n = 0;
    for (const char* name : names) {
        package::PackEntry entry;
        entry.name = name;
        if (entry.name == inf) {
            const std::string text =
                "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=System\r\n"
                "ClassGuid={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\nDriverVer=01/02/2024,3.7." +
                std::to_string(seed) + "\r\n";
            entry.content.assign(text.begin(), text.end());
        } else {
            entry.content = testpkg::MakeContent(300 + 37 * n, seed * 100 + n);
        }
        ++n;
        entries.push_back(entry);
    }
    return entries;
}

// The first link of the table that goes to place.
inline const EditionLink& Link(const EditionInfo& info, EditionLinkPlace place) {
    for (const EditionLink& link : info.links) {
        if (link.place == place) return link;
    }
    ADD_FAILURE() << "no link for that place";
    return info.links[0];
}

inline std::vector<std::uint8_t> EntryContent(const std::vector<package::PackEntry>& entries, const std::string& name) {
    for (const package::PackEntry& e : entries) {
        if (e.name == name) return e.content;
    }
    ADD_FAILURE() << "no entry " << name;
    return {};
}

// One installer run on its own machine.
class CInstallRig {
public:
    static constexpr const char* SYSTEM = "C:\\Windows\\system32";
    static constexpr const char* WOW64 = "C:\\Windows\\SysWOW64";
    static constexpr const char* DRIVERS = "C:\\Windows\\system32\\Drivers";
    static constexpr const char* PROGRAMS = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    static constexpr const char* DESKTOP = "C:\\Users\\Public\\Desktop";
    static constexpr const char* QUICK_LAUNCH =
        "C:\\Users\\setup\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";

    explicit CInstallRig(const Scenario& scenario = Scenario())
        : scenario(scenario),
          edition(scenario.edition == Edition::Workstation ? WorkstationEdition() : ServerEdition()),
          entries(PackageEntries(scenario.edition)) {
        const EditionInfo& info = edition.Info();
        target = std::string("C:\\Program Files\\") + info.displayName;
        menu = std::string(PROGRAMS) + "\\" + info.displayName;
        host.options.targetFolder = target;
        host.options.startMenuFolder = info.displayName;

        // A machine that has run Windows for a while.
        machine.registry.CreateKey("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
        machine.registry.CreateKey("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
        machine.registry.CreateKey("HKLM\\System\\CurrentControlSet\\Services");
        machine.files.MakeDirectory("C:\\Windows\\Temp");
        machine.files.MakeDirectory(PROGRAMS);
        machine.files.MakeDirectory(DESKTOP);
        machine.files.MakeDirectory("C:\\Users\\setup\\AppData\\Roaming");
        if (scenario.quickLaunchFolder) machine.files.MakeDirectory(QUICK_LAUNCH);
        if (scenario.usbdPresent) machine.files.PutFile(std::string(DRIVERS) + "\\usbd.sys", "Windows' own usbd.sys");
        if (scenario.windows == Windows::Xp64) {
            machine.kernel.version.major = 5;
            machine.kernel.version.minor = 2;
            machine.kernel.version.build = 3790;
        }
        if (scenario.edition == Edition::Server) machine.kernel.version.productType = os::VER_NT_SERVER;
        SetPackage(entries);

        logPath = machine.kernel.tempPath + info.setupLogName;
        logFile = os::Files().CreateFileA(logPath.c_str(), os::GENERIC_WRITE, os::FILE_SHARE_READ, os::CREATE_ALWAYS,
                                          os::FILE_ATTRIBUTE_NORMAL);
    }
    ~CInstallRig() {
        process.reset();
        os::Kernel().CloseHandle(logFile);
    }
    CInstallRig(const CInstallRig&) = delete;
    CInstallRig& operator=(const CInstallRig&) = delete;

    // The installer's own file: an image with the package behind it.
    void SetPackage(const std::vector<package::PackEntry>& packed) {
        machine.files.PutFile(machine.kernel.modulePath,
                              testpkg::Concat(testpkg::FakeImage(), package::BuildPackage(packed)));
    }

    bool VistaOrLater() const { return scenario.windows == Windows::Seven; }

    // The application's sequence: create the process, check the package, install.
    CInstallProcess& Create() {
        InstallProcessOptions options;
        options.vistaOrLater = VistaOrLater();
        process = std::make_unique<CInstallProcess>(logFile, &host, edition, options);
        return *process;
    }
    void Install(os::HWND owner = Owner()) { process->Install(&rebootFlag, &failed, owner); }
    int RunAll() {
        Create();
        const int status = process->CheckPackage();
        if (status == PACK_OK) Install();
        process.reset();
        return status;
    }

    // The machine restarts between two runs: the operations left for the restart are
    // carried out and the services read back. The restart closed the setup log, so it is
    // started anew, as the next run does.
    void RestartMachine() {
        machine.files.Restart();
        machine.services.Restart();
        logFile = os::Files().CreateFileA(logPath.c_str(), os::GENERIC_WRITE, os::FILE_SHARE_READ, os::CREATE_ALWAYS,
                                          os::FILE_ATTRIBUTE_NORMAL);
    }

    std::string LogText() const { return machine.files.Text(logPath); }
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        const std::string text = LogText();
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                lines.push_back(text.substr(at));
                break;
            }
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }

    // Files (the setup log left out), registry, services and devices, each entry a line.
    std::map<std::string, std::string> State() const {
        std::map<std::string, std::string> state;
        std::string log = logPath;
        for (char& c : log) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const auto& [k, v] : machine.files.Snapshot()) {
            if (k != log) state["file " + k] = v;
        }
        for (const auto& [k, v] : machine.registry.Snapshot()) state["reg " + k] = v;
        for (const auto& [k, v] : machine.services.Snapshot()) state["service " + k] = v;
        for (const std::string& id : machine.devices.InstanceIds()) {
            const fake::CFakeDevices::Device* d = machine.devices.FindDevice(id);
            std::string ids;
            for (const std::string& h : d->hardwareIds) ids += h + ";";
            state["device " + id] = ids + " driver=" + d->driverInf + (d->present ? "" : " phantom");
        }
        for (const fake::CFakeDevices::StagedInf& inf : machine.devices.DriverStore()) {
            state["store " + inf.name] = inf.source;
        }
        return state;
    }

    std::string File(const char* dir, const char* name) const { return std::string(dir) + "\\" + name; }

    Scenario scenario;
    fake::CFakeMachine machine;
    CRecordingHost host;
    const CEdition& edition;
    std::vector<package::PackEntry> entries;
    std::string target;
    std::string menu;
    std::string logPath;
    os::HANDLE logFile = nullptr;
    std::unique_ptr<CInstallProcess> process;
    std::int32_t rebootFlag = 0;
    std::int32_t failed = 0;
};

// The differences between two states, one line each, for failure messages.
inline std::string Differences(const std::map<std::string, std::string>& expected,
                               const std::map<std::string, std::string>& actual) {
    std::string out;
    for (const auto& [k, v] : expected) {
        const auto it = actual.find(k);
        if (it == actual.end()) {
            out += "  missing: " + k + "\n";
        } else if (it->second != v) {
            out +=
                "  changed: " + k + "\n    was: " + v.substr(0, 200) + "\n    now: " + it->second.substr(0, 200) + "\n";
        }
    }
    for (const auto& [k, v] : actual) {
        if (expected.count(k) == 0) out += "  added:   " + k + "\n";
    }
    return out;
}

}  // namespace installtest
