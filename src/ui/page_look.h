// What all wizard pages share: position, caption, icon, the white area, fonts, control
// colours and the cancel question; and the alpha-blended picture control.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/wizard.h"

// Control ids the pages share.
constexpr int IDC_BACK = 1000;
constexpr int IDC_SEPARATOR = 1036;
constexpr int IDC_SIDE_PICTURE = 1013;
constexpr int IDC_HEADER_PICTURE = 1014;
constexpr int IDB_SIDE = 135;
constexpr int IDB_HEADER = 139;
constexpr int IDC_TITLE = 1001;
constexpr int IDC_BODY = 1002;
constexpr UINT IDS_CAPTION = 55;       // "Setup - %s"
constexpr UINT IDS_CANCEL_QUESTION = 3;
constexpr UINT IDI_WIZARD = 128;
constexpr COLORREF WIZARD_RED = RGB(255, 0, 0);

// One window position for the whole wizard; top 0 means not yet set.
struct WizardPosition {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};

struct PageContext {
    IWizardHost* host = nullptr;
    HFONT headingFont = nullptr;
    WizardPosition* position = nullptr;
};

std::string LoadText(UINT id);
// A string-table text used as the format, filled with up to two texts.
std::string FormatText(UINT id, const char* a = "", const char* b = "");
// A string-table text with two 0x%.8x codes.
std::string FormatCodes(UINT id, unsigned a, unsigned b = 0);

// A static control whose painting a picture object takes over (subclassing), and the
// premultiplied bitmap it draws. The control gets its own procedure back when the object
// releases it or the control goes away.
class CPictureControl {
public:
    CPictureControl() = default;
    virtual ~CPictureControl();
    CPictureControl(const CPictureControl&) = delete;
    CPictureControl& operator=(const CPictureControl&) = delete;

    void Release();  // the control is going away

protected:
    void TakeOver(HWND control);
    // Blends the bitmap's w x h pixels at x, y after filling the client area with background.
    void Blend(HDC dc, HBRUSH background, int x, int y, int w, int h);
    virtual void Paint(HDC dc) = 0;

    HWND m_hWnd = nullptr;
    HBITMAP m_bitmap = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

    WNDPROC m_oldProc = nullptr;
};

// Static control that shows a BITMAP resource (24 or 32 bits) scaled smoothly to the
// control's size, with its alpha, on the white area: the side and header pictures.
class CScaledPicture : public CPictureControl {
public:
    // Takes over the control's painting and makes the picture for its current size; with
    // keepProportions the picture is as large as fits and centred. 1 or 0 (then the control
    // keeps drawing the bitmap the dialog gave it).
    int Load(HWND control, int resource, bool keepProportions);

private:
    void Paint(HDC dc) override;

    RECT m_place = {0, 0, 0, 0};  // where in the control the picture goes
};

class CWizardPage : public CDialog {
public:
    CWizardPage(UINT templateId, const PageContext& context, std::vector<int> whiteIds);
    ~CWizardPage() override;

protected:
    // Common opening behaviour; moveAlways false only for the first page.
    void ApplyCommonLook(bool moveAlways, bool sidePicture);
    void SavePosition();
    // The common cancel question: true for Yes.
    bool AskCancel();
    // The title static's own font, 3/2 high and bold; owned by the page.
    void MakeTitleFont(int id);
    // Moves a control's top edge, or sets its height, in dialog units; the rest stays.
    void SetItemTop(int id, int top);
    void SetItemHeight(int id, int height);
    virtual bool IsRed(int) const { return false; }

    bool OnEraseBkgnd(HDC dc) override;
    HBRUSH OnCtlColor(HDC dc, HWND control) override;
    void OnDestroy() override;
    // Cancel asks the common question first; pages that end differently override it.
    void OnCancel() override;

    IWizardHost& Host() const { return *m_context.host; }
    const char* Product() const { return m_context.host->ProductDisplayName(); }

    PageContext m_context;
    HBRUSH m_whiteBrush;
    HICON m_icon = nullptr;
    HFONT m_titleFont = nullptr;
    RECT m_white = {0, 0, 0, 0};
    std::vector<int> m_whiteIds;
    CScaledPicture m_sidePicture;
    CScaledPicture m_headerPicture;
};

// Static control that draws a 32-bit TGA resource of type "RAW" with per-pixel alpha.
class CAlphaImage : public CPictureControl {
public:
    // Takes over the control's painting (once per window) and loads the picture: 1 or 0.
    int Load(HWND control, int resource);

private:
    void Paint(HDC dc) override;

    LONG m_width = 0;
    LONG m_height = 0;
};
