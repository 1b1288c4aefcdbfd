// The fit check, run inside the wizard's own process so that every text is measured in the
// font its control really got. The driver asks for it by sending the registered message
// FIT_CHECK_MESSAGE to a page, with a DPI in wParam to move the page to first (0: none; the
// check then plays Windows' part: WM_GETDPISCALEDSIZE, then WM_DPICHANGED with the
// rectangle that gives). The answer is written to FIT_CHECK_FILE, one line a finding:
//   "dpi\t<logical pixels per inch>"
//   "face\t<what>\t<face> <height>"
//   "ok\t<what>" or "FAIL\t<what>"  (a text and the sizes it needs and has, in pixels; the
//                                   colours a text control is given against its ground)
//   "layout\t<control>\t<place and font>"  (the client area and every control)
#pragma once

#include <windows.h>

constexpr char FIT_CHECK_MESSAGE[] = "TessaportWizardFitCheck";
constexpr char FIT_CHECK_FILE[] = "C:\\wizard_fit.txt";

// Hooks the calling (user-interface) thread while it lives; product and versionText fill
// the texts a page may show besides the one it shows at the time of the check.
class CFitCheck {
public:
    CFitCheck(const char* product, const char* versionText);
    ~CFitCheck();
    CFitCheck(const CFitCheck&) = delete;
    CFitCheck& operator=(const CFitCheck&) = delete;
    bool Installed() const { return m_hook != nullptr; }

private:
    HHOOK m_hook = nullptr;
};
