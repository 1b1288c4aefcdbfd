// Shows the wizard with a stand-in application: the package check, the licence and the
// installation are simulated, so that the pages can be driven and looked at on their own.
// Switches: -fail (the installation fails; with -unrestored its rollback fell short),
// -restart (it asks for a restart), -refuse (the version check refuses), -server (the
// server edition's product name), -contrast (a high-contrast theme is on).
// Writes what the wizard left in the options to wizard_host_result.txt and exits with
// RunWizard's result. The pages answer the driver's fit check (wizard_fit.h).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ui/wizard.h"
#include "wizard_fit.h"

namespace {

// Long enough to need the scroll bar.
#define LICENSE_PARAGRAPH "This paragraph of the test host's licence text makes the text longer than its control. \\par\\par "
const char LICENSE_RTF[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\fs18 {\\b Licence agreement for the test host}\\par\\par "
    "This is the licence text the test host hands to the licence page. It is streamed into "
    "the text control as RTF every time the page opens.\\par\\par " LICENSE_PARAGRAPH LICENSE_PARAGRAPH
    LICENSE_PARAGRAPH LICENSE_PARAGRAPH LICENSE_PARAGRAPH LICENSE_PARAGRAPH LICENSE_PARAGRAPH "}";

// The driver sets it once it has looked at the progress page; the simulated installation
// waits for it (bounded) before it ends, so the page is there to be looked at.
const char PROGRESS_SHOWN_EVENT[] = "TessaportWizardProgressShown";

class CTestHost : public IWizardHost {
public:
    bool m_fail = false;
    bool m_unrestored = false;  // the rollback could not bring the machine back
    bool m_restart = false;
    bool m_refuse = false;
    const char* m_product = "Tessaport RDP Edition - Workstation";
    HANDLE m_progressShown = nullptr;
    InstallOptions m_options;
    std::int32_t m_restartFlag = 0;
    std::int32_t m_failed = 0;
    int m_restartCalls = 0;

    std::int32_t* m_target = nullptr;
    std::int32_t* m_value = nullptr;
    std::int32_t* m_direction = nullptr;
    HWND m_label = nullptr;
    HANDLE m_worker = nullptr;

    InstallOptions& WizardOptions() override { return m_options; }
    const char* ProductDisplayName() const override { return m_product; }
    const char* VersionText() const override { return "Version 3.7"; }
    int CheckInstalledVersion(std::string* message) override
    {
        if (!m_refuse)
            return 0;
        *message = "A newer version 100% of the product is running.";  // carries a '%' on purpose
        return 1;
    }
    int InitSetupModules(std::string*) override { return 0; }
    bool LoadLicenseText(const void** data, std::uint32_t* size) override
    {
        *data = LICENSE_RTF;
        *size = sizeof(LICENSE_RTF) - 1;
        return true;
    }
    void AttachProgress(std::int32_t* target, std::int32_t* value, std::int32_t* direction, HWND label) override
    {
        m_target = target;
        m_value = value;
        m_direction = direction;
        m_label = label;
    }
    static DWORD WINAPI Worker(void* param)
    {
        auto* self = static_cast<CTestHost*>(param);
        const char* tasks[] = {"Copying files...", "Installing kernel mode drivers...", "Finishing installation..."};
        for (int i = 0; i < 3; ++i) {
            *self->m_target = 10 + i * 15;
            ::SetWindowTextA(self->m_label, tasks[i]);
            ::Sleep(300);
        }
        if (self->m_progressShown)
            ::WaitForSingleObject(self->m_progressShown, 15000);
        if (self->m_restart)
            self->m_restartFlag = 1;
        if (self->m_fail) {
            self->m_failed = self->m_unrestored ? INSTALL_FAILED_NOT_RESTORED : INSTALL_FAILED;
            *self->m_value = 120;
        } else {
            *self->m_value = 95;
            ::Sleep(500);
            *self->m_value = 100;
        }
        return 0;
    }
    int StartInstallThread(HWND) override
    {
        DWORD id = 0;
        m_worker = ::CreateThread(nullptr, 0, &CTestHost::Worker, this, 0, &id);
        return m_worker ? 0 : -1;
    }
    void EndInstallThread() override
    {
        if (!m_worker)
            return;
        if (::WaitForSingleObject(m_worker, 10000) != WAIT_OBJECT_0)
            ::TerminateThread(m_worker, static_cast<DWORD>(-1));
        ::CloseHandle(m_worker);
        m_worker = nullptr;
        m_target = m_value = m_direction = nullptr;
        m_label = nullptr;
    }
    std::int32_t& RestartFlag() override { return m_restartFlag; }
    std::int32_t Failed() const override { return m_failed; }
    void StartInstalledProgram() override {}
    void OpenQuickStart() override {}
    void RestartComputer() override { ++m_restartCalls; }
};

// Wine has no high-contrast switch (SPI_GETHIGHCONTRAST answers off): -contrast makes the
// program's import of SystemParametersInfoA answer it on, as Windows does with a
// high-contrast theme, whose colours the test sets in the prefix.
using ParametersInfo = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT);
ParametersInfo g_parametersInfo = nullptr;

BOOL WINAPI InContrast(UINT action, UINT param, PVOID data, UINT update)
{
    if (action != SPI_GETHIGHCONTRAST)
        return g_parametersInfo(action, param, data, update);
    static_cast<HIGHCONTRASTA*>(data)->dwFlags = HCF_HIGHCONTRASTON | HCF_AVAILABLE;
    return TRUE;
}

}  // namespace

extern "C" ParametersInfo __imp_SystemParametersInfoA;  // the import's address slot

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    CTestHost host;
    if (std::strstr(commandLine, "-server"))
        host.m_product = "Tessaport RDP Edition - Server";
    host.m_fail = std::strstr(commandLine, "-fail") != nullptr;
    host.m_unrestored = std::strstr(commandLine, "-unrestored") != nullptr;
    host.m_restart = std::strstr(commandLine, "-restart") != nullptr;
    host.m_refuse = std::strstr(commandLine, "-refuse") != nullptr;
    host.m_options.targetFolder = std::string("C:\\Program Files\\") + host.m_product;
    host.m_options.startMenuFolder = host.m_product;
    host.m_options.openQuickStart = 0;  // nothing to open in a test prefix
    host.m_progressShown = ::CreateEventA(nullptr, TRUE, FALSE, PROGRESS_SHOWN_EVENT);
    DWORD protection = 0;
    if (std::strstr(commandLine, "-contrast") &&
        ::VirtualProtect(&__imp_SystemParametersInfoA, sizeof(ParametersInfo), PAGE_READWRITE, &protection)) {
        g_parametersInfo = __imp_SystemParametersInfoA;
        __imp_SystemParametersInfoA = &InContrast;
    }

    CFitCheck fit(host.m_product, host.VersionText());
    bool restartShown = false;
    const int result = RunWizard(host, &restartShown);
    if (host.m_progressShown)
        ::CloseHandle(host.m_progressShown);

    FILE* out = std::fopen("wizard_host_result.txt", "wb");
    if (out) {
        std::fprintf(out, "result=%d\nrestartPageShown=%d\nrestartFlag=%d\nrestartCalls=%d\n", result,
                     restartShown ? 1 : 0, host.m_restartFlag, host.m_restartCalls);
        std::fprintf(out, "target=%s\nstartMenu=%s\ndesktop=%d\nquickLaunch=%d\nfirewall=%d\nlicence=%d\n",
                     host.m_options.targetFolder.c_str(), host.m_options.startMenuFolder.c_str(),
                     host.m_options.desktopIcon, host.m_options.quickLaunchIcon, host.m_options.firewallRules,
                     host.m_options.licenceAccepted);
        std::fprintf(out, "launch=%d\n", host.m_options.launchProgram);
        std::fprintf(out, "fitCheck=%d\n", fit.Installed() ? 1 : 0);
        std::fclose(out);
    }
    return result;
}
