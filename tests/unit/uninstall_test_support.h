// An installation on the in-memory machine as the setup application leaves it (the install,
// the firewall step, the setup log copied into the target folder), then the uninstaller's
// work on the same machine, and the machine-state view both are compared in.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake/fake_firewall.h"
#include "fake/fake_security.h"
#include "install_process_test_support.h"
#include "product/uninstall_process.h"

namespace uninstalltest {

using installtest::CInstallRig;
using installtest::Edition;
using installtest::Scenario;
using installtest::Windows;
using State = std::map<std::string, std::string>;

inline std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
inline bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

struct UninstallResult {
    bool refused = false;  // the constructor raised (its code in refusedCode)
    std::uint32_t refusedCode = 0;
    int code = 0;
    bool reboot = false;
    std::vector<std::string> stayed;
};

class CUninstallRig {
public:
    explicit CUninstallRig(const Scenario& scenario = Scenario()) : install(scenario) {
        const EditionInfo& info = install.edition.Info();
        uninstallLogPath = machine().kernel.tempPath + info.uninstallLogName;
    }

    fake::CFakeMachine& machine() { return install.machine; }
    const fake::CFakeMachine& machine() const { return install.machine; }
    const EditionInfo& info() const { return install.edition.Info(); }

    // The whole setup run: install, firewall rules, the setup log copied into the target.
    void Install() {
        install.Create();
        ASSERT_EQ(install.process->CheckPackage(), PACK_OK);
        install.Install();
        ASSERT_EQ(install.failed, 0);
        if (install.host.options.firewallRules) install.process->CreateFirewallRules();
        install.process.reset();
        machine().files.PutFile(install.target + "\\" + info().setupLogName, install.LogText());
        install.rebootFlag = 0;
    }

    UninstallResult Uninstall() {
        UninstallResult result;
        os::HANDLE log = os::Files().CreateFileA(uninstallLogPath.c_str(), os::GENERIC_WRITE, os::FILE_SHARE_READ,
                                                 os::CREATE_ALWAYS, os::FILE_ATTRIBUTE_NORMAL);
        try {
            CUninstallProcess process(log, install.edition);
            result.code = process.Uninstall();
            result.reboot = process.IsRebootRequired();
            result.stayed = process.GetStayed();
        } catch (CExceptionEx* e) {
            std::unique_ptr<CExceptionEx> owner(e);
            result.refused = true;
            result.refusedCode = e->GetCode();
        }
        if (os::IsValidHandle(log)) os::Kernel().CloseHandle(log);
        return result;
    }

    std::string UninstallLog() const { return machine().files.Text(uninstallLogPath); }
    std::vector<std::string> UninstallLogLines() const {
        std::vector<std::string> lines;
        const std::string text = UninstallLog();
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }

    // The installer's view plus the firewall, without the two logs in the temporary folder.
    State StateNow() const {
        State state = install.State();
        state.erase("file " + Upper(uninstallLogPath));
        const fake::CFakeFirewall& firewall = machine().firewall;
        for (const fake::CFakeFirewall::Rule& rule : firewall.rules) {
            state["firewall rule " + Narrow(rule.name) + " dir=" + std::to_string(rule.direction)] =
                Narrow(rule.applicationName);
        }
        for (const auto& [profile, list] : firewall.authorizedApplications) {
            for (const fake::CFakeFirewall::AuthorizedApplication& app : list) {
                state["firewall application " + std::to_string(profile) + " " + Narrow(app.imageFileName)] =
                    Narrow(app.name);
            }
        }
        return state;
    }

    // What Windows does at the next start.
    void Restart() {
        machine().files.Restart();
        machine().services.Restart();
    }

    static std::string Narrow(const std::u16string& text) {
        std::string out;
        for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
        return out;
    }

    CInstallRig install;
    std::string uninstallLogPath;
};

}  // namespace uninstalltest
