#include "ui/wizard.h"

#include <cstring>

#include "platform/win32/system_library.h"
#include "ui/pages.h"
#include "ui/wizard_logic.h"

namespace {

constexpr int SLOT_READY = 5;
constexpr int SLOT_FINISH = 7;

ReadySummaryTexts SummaryTexts()
{
    ReadySummaryTexts t;
    t.destination = LoadText(14);
    t.startMenu = LoadText(15);
    t.additionalTasks = LoadText(16);
    t.icons = LoadText(17);
    t.desktopIcon = LoadText(18);
    t.quickLaunchIcon = LoadText(19);
    t.firewallSetup = LoadText(61);
    t.firewallRules = LoadText(62);
    return t;
}

}  // namespace

int RunWizard(IWizardHost& host, bool* restartPageShown)
{
    if (restartPageShown)
        *restartPageShown = false;
    // The licence page's control; from the system folder only.
    HMODULE richEdit = os::LoadSystemLibrary("riched32.dll");

    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    HFONT heading = ::CreateFontA(ScaleForDpi(dpi, 14), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, "Arial");

    WizardPosition position;
    PageContext context;
    context.host = &host;
    context.headingFont = heading;
    context.position = &position;

    CWelcomeDlg welcome(context);
    CLicenseDlg license(context);
    CSelectFolder destination(context);
    CProgramMenuFolderDlg startMenu(context);
    CAdditionalTaskDlg tasks(context);
    CReadyDlg ready(context);
    CProgressDlg progress(context);
    CFinishDlg finish(context);
    CFinishRestDlg finishRestart(context);
    CDialog* pages[8] = {&welcome, &license, &destination, &startMenu, &tasks, &ready, &progress, &finish};

    bool finished = false;
    bool restartShown = false;
    bool workerEnded = false;
    int index = 0;
    while (index <= SLOT_FINISH) {
        const INT_PTR result = pages[index]->DoModal();
        if (result == IDOK && index < SLOT_FINISH) {
            ++index;
            if (index == SLOT_READY)
                ready.m_summary = BuildReadySummary(host.WizardOptions(), SummaryTexts());
            if (index == SLOT_FINISH) {
                host.EndInstallThread();
                workerEnded = true;
                if (host.RestartFlag()) {
                    restartShown = true;
                    pages[SLOT_FINISH] = &finishRestart;
                }
            }
        } else if (result == IDCANCEL) {
            finished = index == SLOT_FINISH;
            break;
        } else if (result == PAGE_BACK && index > 0 && index < SLOT_FINISH - 1) {
            --index;
        } else {
            // A page that could not be made, or any other answer: end as cancelled.
            break;
        }
    }
    // A progress page that ended without Next still has a worker to see to.
    if (index == SLOT_FINISH - 1 && !workerEnded)
        host.EndInstallThread();

    if (finished) {
        InstallOptions& options = host.WizardOptions();
        if (!restartShown) {
            if (options.launchProgram)
                host.StartInstalledProgram();
            if (options.openQuickStart)
                host.OpenQuickStart();
        } else if (host.RestartFlag() == 1) {
            host.RestartComputer();
        }
    }
    if (restartPageShown)
        *restartPageShown = restartShown;

    if (heading)
        ::DeleteObject(heading);
    if (richEdit)
        ::FreeLibrary(richEdit);
    return finished ? WIZARD_FINISHED : WIZARD_CANCELLED;
}
