// What all wizard pages share: position, caption, icon, the white area, fonts, control
// colours, the cancel question, the layout for the window's DPI and the keyboard focus;
// and the alpha-blended picture controls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/wizard.h"
#include "ui/wizard_logic.h"

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

// The screen's logical pixels per inch: the system's DPI, which GDI scales point sizes by.
int ScreenDpi();
// The window's DPI: Windows' own answer where it has one (10, version 1607 and later, looked
// up at run time), else the screen's logical pixels per inch.
int WindowDpi(HWND window);
// A high-contrast theme is on: the pages then draw with the system's colours only.
bool HighContrast();

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
    // Common opening behaviour, the last step of each page's opening (which then returns
    // FALSE): position, caption, icon, the layout for the window's DPI, and the focus on the
    // first control of the tab order. moveAlways false only for the first page.
    void ApplyCommonLook(bool moveAlways, bool sidePicture);
    // What a page lays out beyond its template for m_dpi: its own fonts, the controls it
    // moves or resizes, its pictures. Run when the page opens and after every DPI change,
    // each time on controls just put back where the template has them.
    virtual void LayOutPage() {}
    // The heading and sub-heading texts of an inner page; the heading gets the heading font.
    void SetHeading(int headingId, const std::string& heading, int subId, const std::string& sub);
    // The focus on the first enabled control of the tab order (a radio group's chosen
    // button).
    void FocusFirst();
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
    // DPI changes, colour-scheme changes, and the activation (a text to be read unselected).
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

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
    int m_dpi = 96;  // what the page is laid out for
    bool m_highContrast = false;

private:
    void LayOut();
    // The dialog font for dpi and its dialog units (4 across, 8 down); false when the
    // template cannot be laid out again. The caller owns a font that is not the one the page
    // was created with.
    bool DialogMetrics(int dpi, HFONT* font, SIZE* units) const;
    bool WindowSizeFor(int dpi, SIZE* size) const;
    void ChangeDpi(int dpi, const RECT& suggested);
    RECT Units(int x, int y, int cx, int cy) const;
    HFONT HeadingFont();
    void FreeFonts();

    DialogTemplate m_layout;
    bool m_haveLayout = false;
    bool m_sideWanted = false;
    int m_headingId = 0;
    int m_createdDpi = 96;  // the DPI the dialog manager made the page for, with its font
    HFONT m_createdFont = nullptr;
    SIZE m_createdUnits = {0, 0};
    SIZE m_units = {0, 0};
    HFONT m_dpiFont = nullptr;      // the dialog font at any other DPI
    HFONT m_headingFont = nullptr;  // the heading font at a DPI other than the system's
};

// Static control that draws a 32-bit TGA resource of type "RAW" with per-pixel alpha.
class CAlphaImage : public CPictureControl {
public:
    // Takes over the control's painting (once per window) and loads the picture, scaled
    // smoothly from its 96-per-inch size to dpi; the control takes the picture's size. 1 or 0.
    int Load(HWND control, int resource, int dpi);

private:
    void Paint(HDC dc) override;

    LONG m_width = 0;
    LONG m_height = 0;
};
