// Drives the wizard from outside: finds each page by its caption and controls, checks its
// texts and states, has the wizard's process measure every text of the page in its own
// font (wizard_fit.h), saves a picture of it (BMP of the page's screen area) and its layout,
// and presses its buttons. Every wait is bounded. Usage: wizard_driver MODE SHOT_DIR
// [EDITION], MODE one of walk, keys (the walk by key presses alone), restart,
// restart_failed, failed, refused (the test host) or installer (the real one, walked like
// walk, without the fit check); EDITION workstation (the default) or server. At 96 DPI the
// workstation's pages also move to 144 DPI and back. Exits 0 when every check held.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "wizard_fit.h"

namespace {

std::string PRODUCT = "Tessaport RDP Edition - Workstation";
std::string CAPTION = "Setup - " + PRODUCT;
const char PROGRESS_SHOWN_EVENT[] = "TessaportWizardProgressShown";
int g_failures = 0;
bool g_installer = false;  // the real installer: its own licence, a real installation
std::string g_shots;
int g_dpi = 0;  // the page's, as the last fit check said

void Check(bool ok, const std::string& what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok)
        ++g_failures;
}

std::string TextOf(HWND w)
{
    char buffer[4096] = "";
    if (w)
        ::SendMessageTimeoutA(w, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                              2000, nullptr);
    return buffer;
}

std::string ItemText(HWND page, int id)
{
    return TextOf(::GetDlgItem(page, id));
}

bool Enabled(HWND page, int id)
{
    HWND w = ::GetDlgItem(page, id);
    return w && ::IsWindowEnabled(w);
}

bool Visible(HWND page, int id)
{
    HWND w = ::GetDlgItem(page, id);
    return w && ::IsWindowVisible(w);
}

bool Checked(HWND page, int id)
{
    DWORD_PTR state = 0;
    ::SendMessageTimeoutA(::GetDlgItem(page, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
    return state == BST_CHECKED;
}

void Click(HWND page, int id)
{
    ::PostMessageA(::GetDlgItem(page, id), BM_CLICK, 0, 0);
}

// The visible wizard page that has control id, waited for up to the limit.
HWND WaitPage(int id, DWORD limitMs = 15000)
{
    for (DWORD waited = 0; waited < limitMs; waited += 100) {
        HWND page = ::FindWindowA(nullptr, CAPTION.c_str());
        if (page && ::IsWindowVisible(page) && ::GetDlgItem(page, id))
            return page;
        ::Sleep(100);
    }
    return nullptr;
}

bool WaitFor(HWND page, int id, bool enabled, DWORD limitMs = 15000)
{
    for (DWORD waited = 0; waited < limitMs; waited += 100) {
        if (Enabled(page, id) == enabled)
            return true;
        ::Sleep(100);
    }
    return false;
}

// Has the wizard's process measure the page's texts (after moving it to moveToDpi, if not
// 0); reports each text that does not fit and the font faces the page got; returns the
// page's layout.
std::string FitCheck(HWND page, const char* name, int moveToDpi = 0)
{
    static const UINT message = ::RegisterWindowMessageA(FIT_CHECK_MESSAGE);
    ::DeleteFileA(FIT_CHECK_FILE);
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutA(page, message, static_cast<WPARAM>(moveToDpi), 0, SMTO_ABORTIFHUNG, 10000, &answer);
    std::string layout;
    FILE* in = std::fopen(FIT_CHECK_FILE, "rb");
    int fitting = 0, failing = 0;
    std::string dpi = "?";
    char line[4096];
    while (in && std::fgets(line, sizeof(line), in)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        const size_t tab = text.find('\t');
        const std::string kind = text.substr(0, tab);
        const std::string rest = tab == std::string::npos ? std::string() : text.substr(tab + 1);
        if (kind == "dpi") {
            dpi = rest;
            g_dpi = std::atoi(rest.c_str());
        } else if (kind == "layout") {
            layout += rest + "\n";
        } else if (kind == "face") {
            std::printf("face: %s %s dpi: %s\n", name, dpi.c_str(), rest.c_str());
        } else if (kind == "ok") {
            ++fitting;
        } else {
            ++failing;
            Check(false, std::string("fit ") + name + " at " + dpi + " dpi: " + rest);
        }
    }
    if (in)
        std::fclose(in);
    Check(fitting > 0 && failing == 0,
          std::string("fit ") + name + " at " + dpi + " dpi: " + std::to_string(fitting) + " check(s) hold, " +
              std::to_string(failing) + " do not");
    return layout;
}

// The colour at a point of the page (window coordinates) in a bottom-up 24-bit picture.
COLORREF PixelAt(const BYTE* bits, int w, int h, DWORD stride, int x, int y)
{
    if (x < 0 || y < 0 || x >= w || y >= h)
        return CLR_INVALID;
    const BYTE* p = bits + static_cast<DWORD>(h - 1 - y) * stride + static_cast<DWORD>(x) * 3;
    return RGB(p[2], p[1], p[0]);
}

// The pictures' own blue, not the page's grey or white: the pictures are drawn blue.
bool Blue(COLORREF c)
{
    return c != CLR_INVALID && GetBValue(c) > GetRValue(c) + 40;
}

// Near the white area's colour: the window colour (white but in high contrast).
bool Band(COLORREF c, COLORREF band = ::GetSysColor(COLOR_WINDOW))
{
    return c != CLR_INVALID && std::abs(GetRValue(c) - GetRValue(band)) + std::abs(GetGValue(c) - GetGValue(band)) +
                                       std::abs(GetBValue(c) - GetBValue(band)) < 150;
}

// The side picture reaches every corner of its band; the header picture fills its place
// from top to bottom and its transparent corners show the white band (alpha kept); a folder
// picture has its size for the DPI and reaches across it; the white area's free corner has
// the band's colour.
void CheckPictures(HWND page, const RECT& window, const BYTE* bits, int w, int h, DWORD stride, const char* name)
{
    RECT side = {0, 0, 0, 0}, header = {0, 0, 0, 0}, line = {0, 0, 0, 0}, client = {0, 0, 0, 0};
    POINT origin = {0, 0};
    ::ClientToScreen(page, &origin);
    ::GetClientRect(page, &client);
    if (::GetWindowRect(::GetDlgItem(page, 1036), &line))
        Check(PixelAt(bits, w, h, stride, origin.x - window.left + client.right - 3, line.top - window.top - 3) ==
                  ::GetSysColor(COLOR_WINDOW),
              std::string("white area in the window colour on ") + name);
    for (int id : {1038, 1039}) {
        RECT r = {0, 0, 0, 0};
        HWND item = ::GetDlgItem(page, id);
        if (!item || !::IsWindowVisible(item) || !::GetWindowRect(item, &r))
            continue;
        ::OffsetRect(&r, -window.left, -window.top);
        const COLORREF face = ::GetSysColor(COLOR_3DFACE);
        int right = r.left, bottom = r.top;  // how far the picture's own pixels reach
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (PixelAt(bits, w, h, stride, x, y) != face)
                    right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
        const int size = g_dpi * 32 / 96;
        Check(r.right - r.left == size && r.bottom - r.top == size && (right - r.left) * 4 >= size * 3 &&
                  (bottom - r.top) * 4 >= size * 3,
              std::string("folder picture fills its place of ") + std::to_string(size) + " px on " + name);
    }
    HWND sideItem = ::GetDlgItem(page, 1013), headerItem = ::GetDlgItem(page, 1014);
    if (sideItem && ::IsWindowVisible(sideItem) && ::GetWindowRect(sideItem, &side)) {
        ::OffsetRect(&side, -window.left, -window.top);
        bool filled = true;
        for (int x : {side.left + 2, side.right - 3})
            for (int y : {side.top + 2, side.bottom - 3})
                filled = filled && Blue(PixelAt(bits, w, h, stride, x, y));
        Check(filled, std::string("side picture fills its band on ") + name);
    }
    if (headerItem && ::IsWindowVisible(headerItem) && ::GetWindowRect(headerItem, &header)) {
        ::OffsetRect(&header, -window.left, -window.top);
        const int x = (header.left + header.right) / 2, tall = header.bottom - header.top;
        Check(Blue(PixelAt(bits, w, h, stride, x, header.top + tall / 10)) &&
                  Blue(PixelAt(bits, w, h, stride, x, header.bottom - 1 - tall / 10)),
              std::string("header picture fills its place on ") + name);
        bool corners = true;
        for (int cx : {header.left + 1, header.right - 2})
            for (int cy : {header.top + 1, header.bottom - 2})
                corners = corners && Band(PixelAt(bits, w, h, stride, cx, cy));
        Check(corners, std::string("header picture's corners are transparent on ") + name);
    }
}

void WriteText(const std::string& path, const std::string& text)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    Check(out && std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fclose(out) == 0,
          "write " + path);
}

// Checks the page's texts (after moving it to moveToDpi, if not 0) and keeps its layout,
// then writes the page's area of the screen as a 24-bit BMP.
void Shot(HWND page, const std::string& name, int moveToDpi = 0)
{
    ::Sleep(400);  // let the page finish painting
    const std::string layout = g_installer ? std::string() : FitCheck(page, name.c_str(), moveToDpi);
    if (!g_installer)
        WriteText(g_shots + "\\" + name + ".layout", layout);
    ::Sleep(moveToDpi ? 400 : 0);
    RECT r;
    if (!page || !::GetWindowRect(page, &r)) {
        Check(false, std::string("screenshot ") + name);
        return;
    }
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        ok = ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
        ::GdiFlush();
        ::SelectObject(memory, old);
        const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
        const DWORD size = stride * static_cast<DWORD>(h);
        if (ok)
            CheckPictures(page, r, static_cast<const BYTE*>(bits), w, h, stride, name.c_str());
        BITMAPFILEHEADER file;
        std::memset(&file, 0, sizeof(file));
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        file.bfSize = file.bfOffBits + size;
        const std::string path = g_shots + "\\" + name + ".bmp";
        FILE* out = std::fopen(path.c_str(), "wb");
        if (out) {
            std::fwrite(&file, sizeof(file), 1, out);
            std::fwrite(&bmi.bmiHeader, sizeof(BITMAPINFOHEADER), 1, out);
            std::fwrite(bits, 1, size, out);
            ok = std::fclose(out) == 0 && ok;
        } else {
            ok = false;
        }
    }
    if (bitmap)
        ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    Check(ok, std::string("screenshot ") + name);
    // At 96 DPI a page of the workstation edition is also laid out for 144 (kept for the
    // comparison with a start at 144) and back, which must give the start's layout again.
    static const int startDpi = g_dpi;
    if (startDpi == 96 && !moveToDpi && !g_installer && PRODUCT.find("Workstation") != std::string::npos) {
        Shot(page, name + "_at144", 144);
        Check(FitCheck(page, (name + "_back").c_str(), 96) == layout, "96 dpi layout again after 144 on " + name);
    }
}

// Lets the test host's simulated installation end.
void ProgressShown()
{
    HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, PROGRESS_SHOWN_EVENT);
    if (!event)
        return;  // the real installer does not wait
    ::SetEvent(event);
    ::CloseHandle(event);
}

// The licence can be scrolled and selected, but typing does not change it.
void LicenceReadOnly(HWND page, const std::string& licence)
{
    HWND text = ::GetDlgItem(page, 1007);
    Check((::GetWindowLongA(text, GWL_STYLE) & ES_READONLY) != 0, "licence text control is read-only");
    DWORD_PTR first = 0, selection = 0;
    ::SendMessageTimeoutA(text, WM_VSCROLL, SB_PAGEDOWN, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    ::SendMessageTimeoutA(text, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, 2000, &first);
    Check(first > 0, "licence text scrolls");
    ::SendMessageTimeoutA(text, WM_VSCROLL, SB_TOP, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    ::SendMessageTimeoutA(text, EM_SETSEL, 0, 7, SMTO_ABORTIFHUNG, 2000, nullptr);
    ::SendMessageTimeoutA(text, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selection);
    Check(LOWORD(selection) == 0 && HIWORD(selection) == 7, "licence text can be selected");
    // Typing over the selection, then deleting and pasting: none of it may change the text.
    ::PostMessageA(text, WM_CHAR, 'x', 0);
    ::PostMessageA(text, WM_KEYDOWN, VK_DELETE, 0);
    ::PostMessageA(text, WM_KEYDOWN, VK_BACK, 0);
    ::PostMessageA(text, WM_CHAR, VK_BACK, 0);
    ::PostMessageA(text, WM_PASTE, 0, 0);
    ::Sleep(300);
    Check(ItemText(page, 1007) == licence, "typing does not change the licence text");
    ::SendMessageTimeoutA(text, EM_SETSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
}

// Waits for the closing page with control id; message boxes that the installation shows
// meanwhile are reported (as failures) and dismissed, so that the run can end.
HWND WaitClosingPage(int id, DWORD limitMs)
{
    for (DWORD waited = 0; waited < limitMs; waited += 100) {
        HWND page = ::FindWindowA(nullptr, CAPTION.c_str());
        if (page && ::IsWindowVisible(page) && ::GetDlgItem(page, id) && ::GetDlgItem(page, 1013))
            return page;
        HWND box = ::FindWindowA("#32770", PRODUCT.c_str());
        if (box && ::IsWindowVisible(box)) {
            Check(false, "no message box during the installation; it said: " + ItemText(box, 0xFFFF));
            ::PostMessageA(::GetDlgItem(box, IDOK) ? ::GetDlgItem(box, IDOK) : ::GetDlgItem(box, IDCANCEL),
                           BM_CLICK, 0, 0);
            ::Sleep(500);
        }
        ::Sleep(100);
    }
    return nullptr;
}

HWND Welcome()
{
    HWND page = WaitPage(1013);
    Check(page != nullptr, "welcome page shown");
    if (!page)
        return nullptr;
    Check(WaitFor(page, IDCANCEL, true), "welcome initialisation reported");
    return page;
}

int Walk()
{
    HWND page = Welcome();
    if (!page)
        return 1;
    Check(Enabled(page, IDOK), "welcome Next enabled after the check");
    Check(!Enabled(page, 1000), "welcome Back disabled");
    Check(ItemText(page, 1001) == std::string("Welcome to ") + PRODUCT + " Version 3.7 Setup Wizard", "welcome title");
    Check(ItemText(page, 1002).find("The Setup Wizard will allow you to install " + PRODUCT +
                                    " Version 3.7 on your computer.") == 0,
          "welcome body");
    Check(TextOf(page) == CAPTION, "caption");
    Shot(page, "01_welcome");
    Click(page, IDOK);

    page = WaitPage(1007);
    Check(page != nullptr, "licence page shown");
    if (!page)
        return 1;
    Check(ItemText(page, 1011) == "License Agreement", "licence heading");
    Check(!Enabled(page, IDOK) && Checked(page, 1009), "licence not accepted at first");
    const std::string licence = ItemText(page, 1007);
    Check(g_installer ? licence.size() > 100 : licence.find("Licence agreement for the test host") != std::string::npos,
          "licence text streamed in");
    Shot(page, "02_license");
    LicenceReadOnly(page, licence);
    Click(page, 1008);
    Check(WaitFor(page, IDOK, true, 3000), "accepting enables Next");
    Click(page, 1000);  // back to the welcome page, then forward again

    page = Welcome();
    if (!page)
        return 1;
    Check(WaitFor(page, IDOK, true), "welcome Next enabled again");
    Click(page, IDOK);
    page = WaitPage(1007);
    Check(page && Checked(page, 1008) && Enabled(page, IDOK), "accepted licence kept after Back");
    Check(page && ItemText(page, 1007) == licence, "licence streamed again");
    Click(page, IDOK);

    page = WaitPage(1038);
    Check(page != nullptr, "destination page shown");
    if (!page)
        return 1;
    Check(ItemText(page, 1015) == std::string("C:\\Program Files\\") + PRODUCT, "destination default");
    Check(ItemText(page, 1018) == std::string("Where should ") + PRODUCT + " be installed?", "destination sub-heading");
    Shot(page, "03_destination");
    ::SendMessageA(::GetDlgItem(page, 1015), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("C:\\Typed"));
    Click(page, 1000);
    page = WaitPage(1007);
    Click(page, IDOK);
    page = WaitPage(1038);
    Check(page && ItemText(page, 1015) == std::string("C:\\Program Files\\") + PRODUCT,
          "typed folder forgotten after Back");
    // The installer makes only the last folder of the path: give it one whose parent exists.
    const char* folder = g_installer ? "C:\\Tessaport" : "C:\\Apps\\Tessaport";
    ::SendMessageA(::GetDlgItem(page, 1015), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder));
    Click(page, IDOK);

    page = WaitPage(1039);
    Check(page != nullptr, "Start Menu page shown");
    if (!page)
        return 1;
    Check(ItemText(page, 1015) == PRODUCT, "Start Menu default");
    Check(ItemText(page, 1019) == "Select Start Menu Folder", "Start Menu heading");
    Shot(page, "04_start_menu");
    Click(page, IDOK);

    page = WaitPage(1022);
    Check(page != nullptr, "additional tasks page shown");
    if (!page)
        return 1;
    Check(!Visible(page, 1037) && !Visible(page, 1041), "firewall choice hidden");
    Check(!Visible(page, 1023), "Quick Launch hidden on Windows 7");
    Check(Visible(page, 1022) && Checked(page, 1022), "desktop icon offered and checked");
    RECT label, check;
    ::GetWindowRect(::GetDlgItem(page, 1040), &label);
    ::GetWindowRect(::GetDlgItem(page, 1041), &check);
    Check(label.top == check.top, "icon label moved up to the firewall label's place");
    Shot(page, "05_tasks");
    Click(page, IDOK);

    page = WaitPage(1026);
    Check(page != nullptr, "ready page shown");
    if (!page)
        return 1;
    const std::string want = std::string("Destination location:\r\n      ") + folder + "\r\n\r\n" +
                             "Start Menu folder:\r\n      " + PRODUCT + "\r\n\r\n" +
                             "Additional Tasks:\r\n      Additionals Icons:\r\n            "
                             "Create a desktop icon\r\n            ";
    Check(ItemText(page, 1026) == want, "ready summary");
    Check(ItemText(page, IDOK) == "Install", "Install button");
    Shot(page, "06_ready");
    Click(page, IDOK);

    page = WaitPage(1029);
    Check(page != nullptr, "progress page shown");
    if (!page)
        return 1;
    Check(!Visible(page, IDOK) && !Enabled(page, IDCANCEL), "progress page has no usable button");
    Check(ItemText(page, 1028) == "Install", "progress heading");
    // Sample the bar until it is on its way (a loaded machine can make any fixed pause
    // land before the first step or after the last); 20 s at most.
    bool climbing = false;
    for (int i = 0; i < 400 && !climbing && ::IsWindow(page); ++i) {
        DWORD_PTR pos = 0;
        climbing = ::SendMessageTimeoutA(::GetDlgItem(page, 1029), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos) &&
                   pos > 1 && pos < 100;
        if (!climbing)
            ::Sleep(50);
    }
    Check(climbing, "progress bar climbs");
    Check(ItemText(page, 1027) != "Task:", "task label set by the installation");
    Shot(page, "07_progress");
    ProgressShown();

    page = WaitClosingPage(1030, g_installer ? 180000 : 30000);
    Check(page != nullptr, "finish page shown");
    if (!page)
        return 1;
    Check(ItemText(page, 1001) == std::string("Completing ") + PRODUCT + " Setup Wizard.", "finish title");
    Check(ItemText(page, 1030) == "Launch Tessaport RDP Edition now.", "launch text");
    Check(Checked(page, 1030) && Checked(page, 1033), "both offers checked");
    Shot(page, "08_finish");
    // The real installer starts its program through the desktop shell (its log says so); the
    // test host has no program to start.
    Click(page, g_installer ? 1033 : 1030);  // no browser in a test prefix
    ::Sleep(200);
    Click(page, IDCANCEL);
    return 0;
}

// Lets the wizard go to its closing page, leaving every page with Next.
HWND RunToClosingPage(int closingId)
{
    HWND page = Welcome();
    if (!page)
        return nullptr;
    Click(page, IDOK);
    page = WaitPage(1007);
    Click(page, 1008);
    WaitFor(page, IDOK, true, 3000);
    Click(page, IDOK);
    for (int id : {1038, 1039, 1022, 1026}) {
        page = WaitPage(id);
        if (!page)
            return nullptr;
        Click(page, IDOK);
    }
    WaitPage(1029);
    ProgressShown();
    return WaitClosingPage(closingId, 30000);
}

// restored: the rollback brought the machine back, so the page may say so; otherwise it
// must not.
int RestartFailed(bool restored)
{
    HWND page = RunToClosingPage(1008);
    Check(page != nullptr, "restart page shown");
    if (!page)
        return 1;
    Check(ItemText(page, 1001) == std::string("Setup Wizard did not complete the installation of ") + PRODUCT +
                                      " on your computer.",
          "failed title");
    const std::string body = ItemText(page, 1002);
    Check(body.find("some files were in use") != std::string::npos, "restart failure body");
    Check((body.find("has restored your system") != std::string::npos) == restored, "restoration claimed only when true");
    Check(Checked(page, 1008) && !Checked(page, 1009), "restart now preselected");
    Shot(page, restored ? "09_restart_failed" : "13_restart_failed_unrestored");
    Click(page, 1009);
    ::Sleep(200);
    ::PostMessageA(page, WM_COMMAND, IDOK, 0);  // Enter: must finish, never act as Next
    return 0;
}

int Restart()
{
    HWND page = RunToClosingPage(1008);
    Check(page != nullptr, "restart page shown");
    if (!page)
        return 1;
    Check(ItemText(page, 1001) == "Completing " + PRODUCT + " Setup Wizard.", "restart page title");
    Check(ItemText(page, 1002) == "To complete the installation of " + PRODUCT +
                                      ", the Setup must restart your computer. Would you like to restart now?",
          "restart page body");
    Check(Checked(page, 1008) && !Checked(page, 1009), "restart now preselected");
    Shot(page, "12_restart");
    Click(page, IDCANCEL);  // Finish with "Yes, restart" chosen
    return 0;
}

int Failed(bool restored)
{
    HWND page = RunToClosingPage(1030);
    Check(page != nullptr, "finish page shown after a failure");
    if (!page)
        return 1;
    Check(!Visible(page, 1030) && !Visible(page, 1033), "no offers after a failure");
    const std::string body = ItemText(page, 1002);
    Check(body.find("Error occured while installing") == 0, "failure body");
    Check((body.find("has restored your system") != std::string::npos) == restored, "restoration claimed only when true");
    Shot(page, restored ? "10_finish_failed" : "14_finish_failed_unrestored");
    Click(page, IDCANCEL);
    return 0;
}

int Refused()
{
    HWND page = Welcome();
    if (!page)
        return 1;
    Check(ItemText(page, 1002) == "A newer version 100% of the product is running.", "refusal shown unchanged");
    Check(ItemText(page, IDCANCEL) == "Exit", "Cancel reads Exit");
    Check(!Enabled(page, IDOK), "Next stays disabled");
    Shot(page, "11_welcome_refused");
    Click(page, IDCANCEL);
    return 0;
}

// A key pressed (with Shift held if asked) as the keyboard does it, for the window in front.
void Key(WORD key, bool shift = false)
{
    INPUT input[4] = {};
    const WORD keys[] = {VK_SHIFT, key, key, VK_SHIFT};
    UINT count = 0;
    for (int i = shift ? 0 : 1; i < (shift ? 4 : 3); ++i) {
        input[count].type = INPUT_KEYBOARD;
        input[count].ki.wVk = keys[i];
        input[count++].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    ::SendInput(count, input, sizeof(INPUT));
    ::Sleep(200);
}

// The id of the page's control that has the keyboard focus; waits up to 3 s for want.
int FocusId(HWND page, int want = 0)
{
    GUITHREADINFO info = {sizeof(info), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {0, 0, 0, 0}};
    for (int i = 0; i < 30; ++i, ::Sleep(100))
        if (::GetGUIThreadInfo(::GetWindowThreadProcessId(page, nullptr), &info) &&
            (!want || (info.hwndFocus && ::GetDlgCtrlID(info.hwndFocus) == want)))
            break;
    return info.hwndFocus ? ::GetDlgCtrlID(info.hwndFocus) : 0;
}

// The whole installation by key presses alone. On each page: the control the focus opens
// on, then Tab round every control that takes input back to it (a radio group through its
// chosen button), Shift+Tab round the other way, and Enter for the default button.
int Keys()
{
    const std::vector<std::vector<int>> rounds = {{1, 2, 1}, {1007, 1009, 1000, 2, 1007}, {1015, 1016, 1000, 1, 2, 1015},
        {1015, 1016, 1000, 1, 2, 1015}, {1022, 1000, 1, 2, 1022}, {1026, 1000, 1, 2, 1026}, {}, {1030, 1033, 2, 1030}};
    const int pages[] = {1013, 1007, 1038, 1039, 1022, 1026, 1029, 1030};
    for (size_t p = 0; p < rounds.size(); ++p) {
        HWND page = p == 7 ? WaitClosingPage(1030, 30000) : WaitPage(pages[p]);
        if (!page || (p == 0 && !WaitFor(page, IDOK, true)))
            return 1;
        if (rounds[p].empty()) {
            ProgressShown();
            continue;
        }
        const std::string name = "page with control " + std::to_string(pages[p]);
        Check(FocusId(page, rounds[p][0]) == rounds[p][0], name + " opens with the focus on its first control");
        if (pages[p] == 1007) {
            DWORD_PTR selection = 1, first = 0;
            ::SendMessageTimeoutA(::GetDlgItem(page, 1007), EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selection);
            Key(VK_NEXT);
            ::SendMessageTimeoutA(::GetDlgItem(page, 1007), EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, 2000, &first);
            Check(LOWORD(selection) == HIWORD(selection) && first > 0, "licence opens unselected; Page Down scrolls it");
        } else if (pages[p] == 1038) {
            Key(VK_ESCAPE);
            HWND box = nullptr;
            for (int i = 0; i < 30 && !box; ++i, ::Sleep(100))
                box = ::FindWindowA("#32770", PRODUCT.c_str());
            Check(ItemText(box, 0xFFFF) == "Are you sure you wish to cancel " + PRODUCT + " installation?",
                  "Escape asks the cancel question");
            Key(VK_TAB);  // to No
            Key(VK_RETURN);
            Check(!::IsWindow(box) && ::IsWindowVisible(page), "No keeps the page");
        } else if (pages[p] == 1022 || pages[p] == 1030) {
            const bool before = Checked(page, pages[p]);
            Key(VK_SPACE);
            Check(Checked(page, pages[p]) != before, "Space toggles check box " + std::to_string(pages[p]));
            if (pages[p] == 1022)
                Key(VK_SPACE);  // the desktop icon wanted again
        }
        std::vector<int> round{FocusId(page)}, back{round[0]};
        for (size_t i = 1; i < rounds[p].size(); ++i, round.push_back(FocusId(page)))
            Key(VK_TAB);
        for (size_t i = 1; i < rounds[p].size(); ++i, back.push_back(FocusId(page)))
            Key(VK_TAB, true);
        std::string ids;
        for (int id : round)
            ids += " " + std::to_string(id);
        Check(round == rounds[p] && back == std::vector<int>(round.rbegin(), round.rend()),
              "Tab and Shift+Tab go round the " + name + ":" + ids);
        if (pages[p] == 1007) {  // to the choice, up to "I accept"
            Key(VK_TAB);
            Key(VK_UP);
            Check(Checked(page, 1008) && WaitFor(page, IDOK, true, 3000), "licence accepted from the keyboard");
        }
        Key(VK_RETURN);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::printf("usage: wizard_driver MODE SHOT_DIR [EDITION]\n");
        return 2;
    }
    g_shots = argv[2];
    HDC screen = ::GetDC(nullptr);  // the prefix's DPI, until a fit check tells the page's
    g_dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    ::ReleaseDC(nullptr, screen);
    if (argc > 3 && std::string(argv[3]) == "server") {
        PRODUCT = "Tessaport RDP Edition - Server";
        CAPTION = "Setup - " + PRODUCT;
    }
    const std::string mode = argv[1];
    int rc = 2;
    g_installer = mode == "installer";
    if (mode == "walk" || mode == "installer")
        rc = Walk();
    else if (mode == "restart")
        rc = Restart();
    else if (mode == "restart_failed" || mode == "restart_unrestored")
        rc = RestartFailed(mode == "restart_failed");
    else if (mode == "failed" || mode == "failed_unrestored")
        rc = Failed(mode == "failed");
    else if (mode == "refused")
        rc = Refused();
    else if (mode == "keys")
        rc = Keys();
    std::printf("%d check(s) failed\n", g_failures);
    return rc != 0 || g_failures != 0 ? 1 : 0;
}
