// The interactive road: the nine wizard pages and the loop that runs them.
//
// The application calls RunWizard once, after the install process exists and the install
// options hold their start values (target folder and Start Menu folder set). RunWizard
// loads the Rich Edit 1.0 library, makes the shared heading font and the pages, runs the
// page loop and, after a normal end, starts the program / opens the quick-start page or
// asks for the restart. It returns WIZARD_FINISHED or WIZARD_CANCELLED; the end steps
// (log copy, exit code) stay with the application.
//
// Resources the program must carry: src/ui/resources/wizard.rc (dialogs 102, 129, 131-134,
// 144-146; bitmaps 135, 139; icon 128; RAW 152, 154) and the string table ids 2-68. Pages
// read their texts with LoadStringA from the program's own module. In the Windows build:
// link tsp_ui and put src/ui/resources on the resource compiler's include path (wizard.rc
// names its pictures without a folder). The ready summary is built here (wizard_logic.h)
// from strings 14-19, 61, 62.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "product/install_host.h"

// What the wizard needs from the application. All calls come on the user-interface thread
// except CheckInstalledVersion and InitSetupModules, which the welcome page's
// initialisation thread makes (the user-interface thread is then inside the modal page).
class IWizardHost {
public:
    virtual ~IWizardHost() = default;

    // The install options the pages edit in place.
    virtual InstallOptions& WizardOptions() = 0;
    // Product display name and the version text ("Version 3.7").
    virtual const char* ProductDisplayName() const = 0;
    virtual const char* VersionText() const = 0;

    // Welcome page's initialisation thread. 1 when installing is refused; *message is then
    // finished text, shown unchanged.
    virtual int CheckInstalledVersion(std::string* message) = 0;
    // Loads and checks the package: status (0 good); on failure *rawMessage is the
    // unformatted text (one %s for the product display name).
    virtual int InitSetupModules(std::string* rawMessage) = 0;

    // Licence page: the licence RTF from the loaded package; false when it is missing.
    virtual bool LoadLicenseText(const void** data, std::uint32_t* size) = 0;

    // Progress page. AttachProgress points the application's progress state at the page's
    // three integers and its task label (control 1027); called before StartInstallThread.
    virtual void AttachProgress(std::int32_t* target, std::int32_t* value, std::int32_t* direction,
                                HWND taskLabel) = 0;
    // 0 when the worker runs, -1 when it could not be created (the message is shown).
    virtual int StartInstallThread(HWND progressPage) = 0;
    // Waits up to 10000 ms for the worker, terminates it with -1 if still running, and
    // forgets it. Called once: when the loop moves to the closing page, or when the wizard
    // ends on the progress page (then possibly with no worker at all). Also detaches the
    // progress state (the page's integers go away with the wizard).
    virtual void EndInstallThread() = 0;
    // Outcome of the installation; read only after EndInstallThread.
    virtual std::int32_t& RestartFlag() = 0;  // the restart page writes the user's choice
    virtual std::int32_t Failed() const = 0;

    // After-finish actions. The program and the page are started for the signed-in user,
    // never with the setup program's own rights where Windows offers a way.
    virtual void StartInstalledProgram() = 0;  // "tessaportws.exe" in the target folder
    virtual void OpenQuickStart() = 0;         // the web page at "#quick-start"
    virtual void RestartComputer() = 0;        // CInstallProcess::RestartComputer
};

constexpr int WIZARD_CANCELLED = 0;
constexpr int WIZARD_FINISHED = 1;

// Runs the interactive road. restartPageShown (may be null) tells whether the restart page
// took the finish slot.
int RunWizard(IWizardHost& host, bool* restartPageShown = nullptr);
