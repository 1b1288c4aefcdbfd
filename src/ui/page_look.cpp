#include "ui/page_look.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/system_library.h"

namespace {

// msimg32 is no KnownDLL: AlphaBlend comes from the system folder's copy.
BOOL SystemAlphaBlend(HDC dc, int x, int y, int w, int h, HDC source, int sx, int sy, int sw, int sh,
                      BLENDFUNCTION blend)
{
    auto alphaBlend = os::SystemFunction<decltype(&::AlphaBlend)>("msimg32.dll", "AlphaBlend");
    return alphaBlend != nullptr && alphaBlend(dc, x, y, w, h, source, sx, sy, sw, sh, blend);
}

}  // namespace

std::string LoadText(UINT id)
{
    char buffer[1024];
    const int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, sizeof(buffer));
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string FormatText(UINT id, const char* a, const char* b)
{
    const std::string format = LoadText(id);
    const int length = std::snprintf(nullptr, 0, format.c_str(), a, b);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), format.c_str(), a, b);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string FormatCodes(UINT id, unsigned a, unsigned b)
{
    const std::string format = LoadText(id);
    char text[512];
    std::snprintf(text, sizeof(text), format.c_str(), a, b);
    return text;
}

namespace {

// A function of newer Windows from user32 (loaded already), or null where it has none.
template <typename Function>
Function User32Function(const char* name)
{
    HMODULE user32 = ::GetModuleHandleA("user32.dll");
    FARPROC found = user32 ? ::GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// The frame around a client area, for dpi where Windows can say it.
void AdjustForDpi(RECT* r, HWND window, int dpi)
{
    using Adjust = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const DWORD style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongA(window, GWL_EXSTYLE));
    const auto adjust = User32Function<Adjust>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(r, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        ::AdjustWindowRectEx(r, style, FALSE, exStyle);
}

bool IsRichEdit(HWND control)
{
    char name[16] = "";
    ::GetClassNameA(control, name, sizeof(name));
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 8, "RICHEDIT", 8) == CSTR_EQUAL;
}

// A text to be read: a read-only Edit or Rich Edit control.
bool IsReadOnlyText(HWND control)
{
    char name[16] = "";
    ::GetClassNameA(control, name, sizeof(name));
    return control && (::GetWindowLongA(control, GWL_STYLE) & ES_READONLY) &&
           (lstrcmpiA(name, "Edit") == 0 || IsRichEdit(control));
}

const UINT WM_DPI_CHANGED = 0x02E0;       // WM_DPICHANGED
const UINT WM_DPI_SCALED_SIZE = 0x02E4;   // WM_GETDPISCALEDSIZE
const UINT WM_UNSELECT_TEXT = WM_APP + 20;
const char DIALOG_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

}  // namespace

int ScreenDpi()
{
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND window)
{
    using GetDpi = UINT(WINAPI*)(HWND);
    const auto get = User32Function<GetDpi>("GetDpiForWindow");
    const UINT dpi = get ? get(window) : 0;
    return dpi > 0 ? static_cast<int>(dpi) : ScreenDpi();
}

bool HighContrast()
{
    HIGHCONTRASTA contrast;
    std::memset(&contrast, 0, sizeof(contrast));
    contrast.cbSize = sizeof(contrast);
    return ::SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

CWizardPage::CWizardPage(UINT templateId, const PageContext& context, std::vector<int> whiteIds)
    : CDialog(templateId), m_context(context), m_whiteBrush(::CreateSolidBrush(RGB(255, 255, 255))),
      m_whiteIds(std::move(whiteIds))
{
}

CWizardPage::~CWizardPage()
{
    if (m_whiteBrush)
        ::DeleteObject(m_whiteBrush);
    FreeFonts();
}

void CWizardPage::FreeFonts()
{
    for (HFONT* font : {&m_titleFont, &m_dpiFont, &m_headingFont}) {
        if (*font)
            ::DeleteObject(*font);
        *font = nullptr;
    }
}

void CWizardPage::ApplyCommonLook(bool moveAlways, bool sidePicture)
{
    // What the dialog manager made the page with: the start of every later layout.
    m_sideWanted = sidePicture;
    m_createdDpi = m_dpi = WindowDpi(Hwnd());
    m_createdFont = reinterpret_cast<HFONT>(::SendMessageA(Hwnd(), WM_GETFONT, 0, 0));
    RECT units = {0, 0, 4, 8};
    ::MapDialogRect(Hwnd(), &units);
    m_createdUnits = m_units = SIZE{units.right, units.bottom};
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(TemplateId()), MAKEINTRESOURCEA(5));  // RT_DIALOG
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    m_haveLayout = data && ParseDialogTemplate(data, ::SizeofResource(module, found), &m_layout);
    // The page lays itself out again on a DPI change; the dialog manager must not as well.
    using SetBehaviour = BOOL(WINAPI*)(HWND, int, int);
    if (const auto set = User32Function<SetBehaviour>("SetDialogDpiChangeBehavior"))
        set(Hwnd(), 1, 1);  // DDC_DISABLE_ALL
    m_highContrast = HighContrast();
    LayOut();

    // A move to a monitor of another DPI lays the page out again (WM_DPICHANGED).
    const WizardPosition& pos = *m_context.position;
    if (moveAlways || pos.top != 0)
        ::MoveWindow(Hwnd(), pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top, TRUE);

    ::SetWindowTextA(Hwnd(), FormatText(IDS_CAPTION, Product()).c_str());
    m_icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_WIZARD));
    ::SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    FocusFirst();
}

RECT CWizardPage::Units(int x, int y, int cx, int cy) const
{
    // As the dialog manager converts: each value on its own, rounded.
    const int left = ::MulDiv(x, m_units.cx, 4), top = ::MulDiv(y, m_units.cy, 8);
    return RECT{left, top, left + ::MulDiv(cx, m_units.cx, 4), top + ::MulDiv(cy, m_units.cy, 8)};
}

bool CWizardPage::DialogMetrics(int dpi, HFONT* font, SIZE* units) const
{
    if (dpi == m_createdDpi) {
        *font = m_createdFont;
        *units = m_createdUnits;
        return true;
    }
    LOGFONTA lf;
    if (!m_haveLayout || m_layout.pointSize == 0 || m_layout.pointSize == 0x7FFF || !m_createdFont ||
        !::GetObjectA(m_createdFont, sizeof(lf), &lf))
        return false;
    lf.lfHeight = -::MulDiv(m_layout.pointSize, dpi, 72);
    *font = ::CreateFontIndirectA(&lf);
    HDC dc = *font ? ::GetDC(nullptr) : nullptr;
    if (!dc) {
        if (*font)
            ::DeleteObject(*font);
        return false;
    }
    // The dialog units of a font, the way the dialog manager measures them.
    HGDIOBJ old = ::SelectObject(dc, *font);
    TEXTMETRICA tm;
    SIZE alphabet = {0, 0};
    const bool ok = ::GetTextMetricsA(dc, &tm) && ::GetTextExtentPoint32A(dc, DIALOG_ALPHABET, 52, &alphabet);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    *units = SIZE{(alphabet.cx / 26 + 1) / 2, tm.tmHeight};
    if (!ok || units->cx <= 0 || units->cy <= 0) {
        ::DeleteObject(*font);
        return false;
    }
    return true;
}

bool CWizardPage::WindowSizeFor(int dpi, SIZE* size) const
{
    HFONT font = nullptr;
    SIZE units = {0, 0};
    if (!DialogMetrics(dpi, &font, &units))
        return false;
    if (font != m_createdFont)
        ::DeleteObject(font);
    RECT r = {0, 0, ::MulDiv(m_layout.cx, units.cx, 4), ::MulDiv(m_layout.cy, units.cy, 8)};
    AdjustForDpi(&r, Hwnd(), dpi);
    *size = SIZE{r.right - r.left, r.bottom - r.top};
    return true;
}

void CWizardPage::ChangeDpi(int dpi, const RECT& suggested)
{
    const int width = suggested.right - suggested.left, height = suggested.bottom - suggested.top;
    ::SetWindowPos(Hwnd(), nullptr, suggested.left, suggested.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    HFONT font = nullptr;
    SIZE units = {0, 0};
    if (!DialogMetrics(dpi, &font, &units))
        return;
    HFONT previous = m_dpiFont;  // the controls' font until the layout below
    m_dpiFont = font == m_createdFont ? nullptr : font;
    m_units = units;
    m_dpi = dpi;
    // Where the frame did not follow the DPI (per-monitor awareness before version 2), the
    // client area is put right: the page's layout fills it exactly.
    RECT client = {0, 0, 0, 0};
    ::GetClientRect(Hwnd(), &client);
    const LONG wantWidth = ::MulDiv(m_layout.cx, m_units.cx, 4), wantHeight = ::MulDiv(m_layout.cy, m_units.cy, 8);
    if (client.right != wantWidth || client.bottom != wantHeight)
        ::SetWindowPos(Hwnd(), nullptr, 0, 0, width + wantWidth - client.right, height + wantHeight - client.bottom,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut();
    if (previous)
        ::DeleteObject(previous);
}

HFONT CWizardPage::HeadingFont()
{
    // The start routine's font is made for the system's DPI.
    if (m_dpi == ScreenDpi())
        return m_context.headingFont;
    if (m_headingFont)
        ::DeleteObject(m_headingFont);
    m_headingFont = ::CreateFontA(ScaleForDpi(m_dpi, 14), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, "Arial");
    return m_headingFont;
}

void CWizardPage::LayOut()
{
    // Every control back where the template has it at this DPI, in the dialog font for it
    // (a Rich Edit text keeps the fonts of its own text).
    HFONT font = m_dpiFont ? m_dpiFont : m_createdFont;
    HWND child = ::GetWindow(Hwnd(), GW_CHILD);
    for (std::size_t i = 0; m_haveLayout && i < m_layout.items.size(); ++i) {
        const DialogItem& item = m_layout.items[i];
        if (!child || static_cast<WORD>(::GetDlgCtrlID(child)) != static_cast<WORD>(item.id))
            break;
        const RECT r = Units(item.x, item.y, item.cx, item.cy);
        ::SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        if (font && !IsRichEdit(child))
            ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    if (m_headingId)
        ::SendMessageA(Item(m_headingId), WM_SETFONT, reinterpret_cast<WPARAM>(HeadingFont()), FALSE);
    LayOutPage();

    // The white area reaches down to the separator line.
    ::GetClientRect(Hwnd(), &m_white);
    RECT line = {0, 0, 0, 0}, window = {0, 0, 0, 0};
    ::GetWindowRect(Item(IDC_SEPARATOR), &line);
    ::GetWindowRect(Hwnd(), &window);
    m_white.bottom += line.bottom - window.bottom;

    if (m_sideWanted) {
        HWND picture = Item(IDC_SIDE_PICTURE);
        RECT client = {0, 0, 0, 0};
        ::GetClientRect(picture, &client);
        // A centred picture keeps its template size: take the width the bitmap brings.
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(::SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP info;
        if (bitmap && ::GetObjectA(bitmap, sizeof(info), &info))
            client.right = info.bmWidth;
        ::MoveWindow(picture, 0, 0, ScaleForDpi(m_dpi, client.right), m_white.bottom - m_white.top, TRUE);
        m_sidePicture.Load(picture, IDB_SIDE, false);
    }
    if (HWND header = Item(IDC_HEADER_PICTURE))
        m_headerPicture.Load(header, IDB_HEADER, true);
    ::RedrawWindow(Hwnd(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

bool CWizardPage::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result)
{
    if (msg == WM_DPI_SCALED_SIZE) {
        // The page's own size at the new DPI, so that the rectangle Windows then suggests fits.
        *result = WindowSizeFor(LOWORD(wParam), reinterpret_cast<SIZE*>(lParam)) ? TRUE : FALSE;
        return true;
    }
    if (msg == WM_DPI_CHANGED) {
        ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        *result = 0;
        return true;
    }
    // The dialog manager selects the whole of a text it gives the focus back to when the page
    // is activated (also when it is first shown): a text to be read is unselected after it.
    if (msg == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE)
        ::PostMessageA(Hwnd(), WM_UNSELECT_TEXT, 0, 0);
    if (msg == WM_UNSELECT_TEXT) {
        HWND focus = ::GetFocus();
        if (::GetParent(focus) == Hwnd() && IsReadOnlyText(focus))
            ::SendMessageA(focus, EM_SETSEL, 0, 0);
        *result = 0;
        return true;
    }
    if (msg == WM_SYSCOLORCHANGE || msg == WM_SETTINGCHANGE) {
        m_highContrast = HighContrast();
        ::RedrawWindow(Hwnd(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
    return false;
}

void CWizardPage::SetHeading(int headingId, const std::string& heading, int subId, const std::string& sub)
{
    m_headingId = headingId;
    SetText(headingId, heading);
    if (subId)
        SetText(subId, sub);
}

void CWizardPage::FocusFirst()
{
    HWND first = ::GetNextDlgTabItem(Hwnd(), nullptr, FALSE);
    if (!first || ::GetParent(first) != Hwnd() || !::IsWindowEnabled(first) || !::IsWindowVisible(first))
        return;
    // A radio group is entered at its chosen button.
    if (::SendMessageA(first, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) {
        HWND w = first;
        do {
            if (::SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED) {
                first = w;
                break;
            }
            w = ::GetNextDlgGroupItem(Hwnd(), w, FALSE);
        } while (w && w != first);
    }
    // As Tab would, with the default button's frame (a text to be read is unselected when
    // the page is activated).
    ::SendMessageA(Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
}

void CWizardPage::SavePosition()
{
    RECT r = {0, 0, 0, 0};
    ::GetWindowRect(Hwnd(), &r);
    *m_context.position = WizardPosition{r.left, r.top, r.right, r.bottom};
}

bool CWizardPage::AskCancel()
{
    const std::string text = FormatText(IDS_CANCEL_QUESTION, Product());
    return ::MessageBoxA(Hwnd(), text.c_str(), Product(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CWizardPage::OnCancel()
{
    if (AskCancel())
        End(IDCANCEL);
}

void CWizardPage::MakeTitleFont(int id)
{
    HFONT current = reinterpret_cast<HFONT>(::SendMessageA(Item(id), WM_GETFONT, 0, 0));
    LOGFONTA lf;
    std::memset(&lf, 0, sizeof(lf));
    if (!current || !::GetObjectA(current, sizeof(lf), &lf))
        return;
    lf.lfHeight = TitleHeight(lf.lfHeight);
    lf.lfWeight = FW_BOLD;
    if (m_titleFont)
        ::DeleteObject(m_titleFont);
    m_titleFont = ::CreateFontIndirectA(&lf);
    if (m_titleFont)
        ::SendMessageA(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(m_titleFont), TRUE);
}

namespace {

// The control's rectangle in its page's client coordinates.
RECT ItemRect(HWND page, HWND item)
{
    RECT r = {0, 0, 0, 0};
    ::GetWindowRect(item, &r);
    ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

}  // namespace

void CWizardPage::SetItemTop(int id, int top)
{
    const RECT r = ItemRect(Hwnd(), Item(id));
    ::SetWindowPos(Item(id), nullptr, r.left, Units(0, top, 0, 0).top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWizardPage::SetItemHeight(int id, int height)
{
    const RECT r = ItemRect(Hwnd(), Item(id));
    ::SetWindowPos(Item(id), nullptr, 0, 0, r.right - r.left, Units(0, 0, 0, height).bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CWizardPage::OnEraseBkgnd(HDC dc)
{
    RECT client = {0, 0, 0, 0};
    ::GetClientRect(Hwnd(), &client);
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_3DFACE));
    ::FillRect(dc, &m_white, m_highContrast ? ::GetSysColorBrush(COLOR_WINDOW) : m_whiteBrush);
    return true;
}

HBRUSH CWizardPage::OnCtlColor(HDC dc, HWND control)
{
    const int id = ::GetDlgCtrlID(control);
    for (int white : m_whiteIds) {
        if (white != id)
            continue;
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        ::SetTextColor(dc, IsRed(id) && !m_highContrast ? WIZARD_RED : ::GetSysColor(COLOR_WINDOWTEXT));
        return ::GetSysColorBrush(COLOR_WINDOW);
    }
    return nullptr;
}

void CWizardPage::OnDestroy()
{
    m_sidePicture.Release();
    m_headerPicture.Release();
    FreeFonts();
}

// CPictureControl

namespace {
const char PICTURE_PROP[] = "TspPictureControl";
}

CPictureControl::~CPictureControl()
{
    Release();
}

void CPictureControl::Release()
{
    if (m_hWnd && m_oldProc && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
        ::RemovePropA(m_hWnd, PICTURE_PROP);
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
    }
    m_hWnd = nullptr;
    m_oldProc = nullptr;
    if (m_bitmap)
        ::DeleteObject(m_bitmap);
    m_bitmap = nullptr;
}

void CPictureControl::TakeOver(HWND control)
{
    m_hWnd = control;
    ::SetPropA(control, PICTURE_PROP, this);
    m_oldProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CPictureControl::Proc)));
    ::InvalidateRect(control, nullptr, TRUE);
}

void CPictureControl::Blend(HDC dc, HBRUSH background, int x, int y, int w, int h)
{
    RECT client = {0, 0, 0, 0};
    ::GetClientRect(m_hWnd, &client);
    ::FillRect(dc, &client, background);
    if (!m_bitmap)
        return;
    HDC memory = ::CreateCompatibleDC(dc);
    if (!memory)
        return;
    HGDIOBJ old = ::SelectObject(memory, m_bitmap);
    if (old) {
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};  // 0x01FF0000
        SystemAlphaBlend(dc, x, y, w, h, memory, 0, 0, w, h, blend);
        ::SelectObject(memory, old);
    }
    ::DeleteDC(memory);
}

LRESULT CALLBACK CPictureControl::Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<CPictureControl*>(::GetPropA(hWnd, PICTURE_PROP));
    if (!self)
        return ::DefWindowProcA(hWnd, msg, wParam, lParam);
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hWnd, &ps);
        if (dc)
            self->Paint(dc);
        ::EndPaint(hWnd, &ps);
        return 0;
    }
    if (msg == WM_ERASEBKGND)
        return 1;
    const WNDPROC old = self->m_oldProc;
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        ::RemovePropA(hWnd, PICTURE_PROP);
        self->m_hWnd = nullptr;
        self->m_oldProc = nullptr;
    }
    return ::CallWindowProcA(old, hWnd, msg, wParam, lParam);
}

// CScaledPicture

int CScaledPicture::Load(HWND control, int resource, bool keepProportions)
{
    Release();
    RECT client = {0, 0, 0, 0};
    if (!control || !::GetClientRect(control, &client) || client.right <= 0 || client.bottom <= 0)
        return 0;
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(resource), MAKEINTRESOURCEA(2));  // RT_BITMAP
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    BitmapImage image;
    if (!data || !ParseBitmap(data, ::SizeofResource(module, found), &image))
        return 0;

    std::int32_t width = client.right, height = client.bottom;
    if (keepProportions)
        FitInto(image.width, image.height, client.right, client.bottom, &width, &height);
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top row first, like the scaled pixels
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap)
            ::DeleteObject(bitmap);
        return 0;
    }
    const std::vector<std::uint8_t> pixels = PremultipliedPixels(image);
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    if (!ScalePixels(pixels.data(), image.width, image.height, static_cast<std::uint8_t*>(bits), bytes, width,
                     height)) {
        ::DeleteObject(bitmap);
        return 0;
    }
    m_bitmap = bitmap;
    m_place.left = (client.right - width) / 2;
    m_place.top = (client.bottom - height) / 2;
    m_place.right = m_place.left + width;
    m_place.bottom = m_place.top + height;

    TakeOver(control);
    return 1;
}

void CScaledPicture::Paint(HDC dc)
{
    // Both pictures lie on the white area; what the picture leaves free stays white (the
    // window colour in high contrast).
    HBRUSH band = HighContrast() ? ::GetSysColorBrush(COLOR_WINDOW) : static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    Blend(dc, band, m_place.left, m_place.top, m_place.right - m_place.left, m_place.bottom - m_place.top);
}

// CAlphaImage

int CAlphaImage::Load(HWND control, int resource, int dpi)
{
    Release();
    m_width = m_height = 0;
    if (!control)
        return 0;
    TakeOver(control);

    char name[16];
    std::snprintf(name, sizeof(name), "#%d", resource);
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, name, "RAW");
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    TgaImage tga;
    if (!data || !ParseTga(data, ::SizeofResource(module, found), &tga))
        return 0;

    const std::int32_t width = ScaleForDpi(dpi, tga.width), height = ScaleForDpi(dpi, tga.height);
    if (width <= 0 || height <= 0)
        return 0;
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = height;  // bottom-up like the file
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_bitmap = ::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!m_bitmap || !bits)
        return 0;
    if (width == tga.width && height == tga.height) {
        std::memcpy(bits, tga.pixels, tga.pixelBytes);
        PremultiplyBgra(static_cast<std::uint8_t*>(bits), tga.pixelBytes / 4);
    } else {
        // Scaled premultiplied, so that the edges blend smoothly into the transparency.
        std::vector<std::uint8_t> pixels(tga.pixels, tga.pixels + tga.pixelBytes);
        PremultiplyBgra(pixels.data(), pixels.size() / 4);
        const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
        if (!ScalePixels(pixels.data(), tga.width, tga.height, static_cast<std::uint8_t*>(bits), bytes, width, height))
            return 0;
    }

    m_width = width;
    m_height = height;
    ::SetWindowPos(control, nullptr, 0, 0, m_width, m_height, SWP_NOMOVE | SWP_NOZORDER);
    ::InvalidateRect(control, nullptr, TRUE);
    return 1;
}

void CAlphaImage::Paint(HDC dc)
{
    Blend(dc, ::GetSysColorBrush(COLOR_3DFACE), 0, 0, m_width, m_height);
}
