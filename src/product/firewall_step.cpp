// The install process's firewall step: lets the edition's service program through
// Windows Firewall. Its failure is only logged; the installation stays successful.
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/constants.h"
#include "product/firewall.h"
#include "product/install_process.h"

std::u16string ToUtf16(const char* text, std::uint16_t module, std::uint16_t noMemoryLocation,
                       std::uint16_t failedLocation) {
    os::IFirewall& firewall = os::Firewall();
    const int needed = firewall.MultiByteToWideChar(os::CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0) ThrowException(module, failedLocation);
    std::u16string wide;
    try {
        wide.resize(static_cast<std::size_t>(needed));
    } catch (const std::bad_alloc&) {
        ThrowException(module, noMemoryLocation, EXCEPTION_CODE_NO_MEMORY);
    } catch (const std::length_error&) {
        ThrowException(module, noMemoryLocation, EXCEPTION_CODE_NO_MEMORY);
    }
    const int written = firewall.MultiByteToWideChar(os::CP_ACP, 0, text, -1, &wide[0], needed);
    if (written <= 0 || written > needed) ThrowException(module, failedLocation);
    wide.resize(static_cast<std::size_t>(written));
    if (!wide.empty() && wide.back() == u'\0') wide.pop_back();
    return wide;
}

void CInstallProcess::CreateFirewallRules() {
    Log("Create Firewall rules");
    // Lives until the step's last line is logged; its destructor leaves the apartment.
    std::unique_ptr<CFirewall> firewall;
    std::unique_ptr<CExceptionEx> error;
    try {
        firewall = std::make_unique<CFirewall>();
        const EditionInfo& edition = GetEditionInfo();
        std::string path;
        try {
            path = GetSystemFolder(88) + "\\" + edition.serviceProgramName;
        } catch (const std::bad_alloc&) {
            ThrowException(INSTALL_PROCESS_MODULE, 97, EXCEPTION_CODE_NO_MEMORY);
        }
        Log("Authorized appication: ", path.c_str());
        const std::u16string widePath = ToUtf16(path.c_str(), INSTALL_PROCESS_MODULE, 97, 109);
        const std::u16string wideName = ToUtf16(edition.serviceDisplayName, INSTALL_PROCESS_MODULE, 101, 117);
        firewall->AllowApplication(widePath, wideName);
        Log("Firewall rules was created succesful");
        return;
    } catch (CExceptionEx* e) {
        error.reset(e);
    } catch (const std::bad_alloc&) {
        // Memory ran out where no location of its own was left to report.
        Log("=== Error creating firewall rules ===");
        return;
    }
    Log("=== Error creating firewall rules ===");
    try {
        Log(FormatErrorText(IDS_FIREWALL_ERROR, *error).c_str());
    } catch (const std::bad_alloc&) {
        // The message cannot be formed; the header line above stands for it.
    }
}
