#include "ui/page_look.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/system_library.h"
#include "ui/wizard_logic.h"

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

CWizardPage::CWizardPage(UINT templateId, const PageContext& context, std::vector<int> whiteIds)
    : CDialog(templateId), m_context(context), m_whiteBrush(::CreateSolidBrush(RGB(255, 255, 255))),
      m_whiteIds(std::move(whiteIds))
{
}

CWizardPage::~CWizardPage()
{
    if (m_whiteBrush)
        ::DeleteObject(m_whiteBrush);
    if (m_titleFont)
        ::DeleteObject(m_titleFont);
}

void CWizardPage::ApplyCommonLook(bool moveAlways, bool sidePicture)
{
    const WizardPosition& pos = *m_context.position;
    if (moveAlways || pos.top != 0)
        ::MoveWindow(Hwnd(), pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top, TRUE);

    ::SetWindowTextA(Hwnd(), FormatText(IDS_CAPTION, Product()).c_str());
    m_icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_WIZARD));
    ::SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));

    // The white area reaches down to the separator line.
    ::GetClientRect(Hwnd(), &m_white);
    RECT line = {0, 0, 0, 0}, window = {0, 0, 0, 0};
    ::GetWindowRect(Item(IDC_SEPARATOR), &line);
    ::GetWindowRect(Hwnd(), &window);
    m_white.bottom += line.bottom - window.bottom;

    if (sidePicture) {
        HWND picture = Item(IDC_SIDE_PICTURE);
        RECT client = {0, 0, 0, 0};
        ::GetClientRect(picture, &client);
        // A centred picture keeps its template size: take the width the bitmap brings.
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(::SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP info;
        if (bitmap && ::GetObjectA(bitmap, sizeof(info), &info))
            client.right = info.bmWidth;
        HDC dc = ::GetDC(Hwnd());
        const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSX) : 96;
        if (dc)
            ::ReleaseDC(Hwnd(), dc);
        ::MoveWindow(picture, 0, 0, ScaleForDpi(dpi, client.right), m_white.bottom - m_white.top, TRUE);
        m_sidePicture.Load(picture, IDB_SIDE, false);
    }
    if (HWND header = Item(IDC_HEADER_PICTURE))
        m_headerPicture.Load(header, IDB_HEADER, true);
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
    RECT units = {0, top, 0, 0};
    ::MapDialogRect(Hwnd(), &units);
    const RECT r = ItemRect(Hwnd(), Item(id));
    ::SetWindowPos(Item(id), nullptr, r.left, units.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWizardPage::SetItemHeight(int id, int height)
{
    RECT units = {0, 0, 0, height};
    ::MapDialogRect(Hwnd(), &units);
    const RECT r = ItemRect(Hwnd(), Item(id));
    ::SetWindowPos(Item(id), nullptr, 0, 0, r.right - r.left, units.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CWizardPage::OnEraseBkgnd(HDC dc)
{
    RECT client = {0, 0, 0, 0};
    ::GetClientRect(Hwnd(), &client);
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_3DFACE));
    ::FillRect(dc, &m_white, m_whiteBrush);
    return true;
}

HBRUSH CWizardPage::OnCtlColor(HDC dc, HWND control)
{
    const int id = ::GetDlgCtrlID(control);
    for (int white : m_whiteIds) {
        if (white != id)
            continue;
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        ::SetTextColor(dc, IsRed(id) ? WIZARD_RED : ::GetSysColor(COLOR_WINDOWTEXT));
        return ::GetSysColorBrush(COLOR_WINDOW);
    }
    return nullptr;
}

void CWizardPage::OnDestroy()
{
    m_sidePicture.Release();
    m_headerPicture.Release();
    if (m_titleFont) {
        ::DeleteObject(m_titleFont);
        m_titleFont = nullptr;
    }
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
    // Both pictures lie on the white area; what the picture leaves free stays white.
    Blend(dc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)), m_place.left, m_place.top,
          m_place.right - m_place.left, m_place.bottom - m_place.top);
}

// CAlphaImage

int CAlphaImage::Load(HWND control, int resource)
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

    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = tga.width;
    bmi.bmiHeader.biHeight = tga.height;  // bottom-up like the file
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_bitmap = ::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!m_bitmap || !bits)
        return 0;
    std::memcpy(bits, tga.pixels, tga.pixelBytes);
    PremultiplyBgra(static_cast<std::uint8_t*>(bits), tga.pixelBytes / 4);

    m_width = tga.width;
    m_height = tga.height;
    ::SetWindowPos(control, nullptr, 0, 0, m_width, m_height, SWP_NOMOVE | SWP_NOZORDER);
    ::InvalidateRect(control, nullptr, TRUE);
    return 1;
}

void CAlphaImage::Paint(HDC dc)
{
    Blend(dc, ::GetSysColorBrush(COLOR_3DFACE), 0, 0, m_width, m_height);
}
