#include "wizard_fit.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

UINT g_message = 0;
std::string g_product;
std::string g_version;
int g_dpi = 0;  // the DPI the page was last moved to; 0: the screen's

// What Windows does when a window moves to a monitor of another DPI.
void MoveToDpi(HWND page, int dpi)
{
    RECT r = {0, 0, 0, 0};
    ::GetWindowRect(page, &r);
    SIZE size = {r.right - r.left, r.bottom - r.top};
    ::SendMessageA(page, 0x02E4, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&size));  // WM_GETDPISCALEDSIZE
    RECT suggested = {r.left, r.top, r.left + size.cx, r.top + size.cy};
    ::SendMessageA(page, 0x02E0, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));  // WM_DPICHANGED
    g_dpi = dpi;
}

std::string Load(UINT id)
{
    char buffer[1024];
    const int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, sizeof(buffer));
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string Format(UINT id, const char* a = "", const char* b = "")
{
    char text[2048];
    std::snprintf(text, sizeof(text), Load(id).c_str(), a, b);
    return text;
}

std::string TextOf(HWND w)
{
    char buffer[4096] = "";
    ::GetWindowTextA(w, buffer, sizeof(buffer));
    return buffer;
}

std::string ClassOf(HWND w)
{
    char name[64] = "";
    ::GetClassNameA(w, name, sizeof(name));
    return name;
}

enum Kind { KIND_NONE, KIND_STATIC, KIND_PUSH, KIND_CHECK };

// What kind of text control w is, and the DrawText flags it draws its text with.
Kind KindOf(HWND w, UINT* flags)
{
    const LONG style = ::GetWindowLongA(w, GWL_STYLE);
    const std::string name = ClassOf(w);
    if (lstrcmpiA(name.c_str(), "Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_SIMPLE &&
            type != SS_LEFTNOWORDWRAP)
            return KIND_NONE;  // pictures, lines, frames
        *flags = DT_EXPANDTABS | ((type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP) ? DT_SINGLELINE : DT_WORDBREAK);
        if (style & SS_NOPREFIX)
            *flags |= DT_NOPREFIX;
        return KIND_STATIC;
    }
    if (lstrcmpiA(name.c_str(), "Button") == 0) {
        const LONG type = style & BS_TYPEMASK;
        *flags = (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
            return KIND_PUSH;
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON ||
            type == BS_3STATE || type == BS_AUTO3STATE)
            return KIND_CHECK;
    }
    return KIND_NONE;
}

const char* KindName(Kind kind)
{
    return kind == KIND_STATIC ? "static" : kind == KIND_PUSH ? "button" : "check/radio";
}

// A control's device context with its own font selected; restored and released at the end.
class CControlDc {
public:
    explicit CControlDc(HWND w) : m_w(w), m_dc(::GetDC(w))
    {
        HFONT font = reinterpret_cast<HFONT>(::SendMessageA(w, WM_GETFONT, 0, 0));
        if (m_dc && font)
            m_old = ::SelectObject(m_dc, font);
    }
    ~CControlDc()
    {
        if (m_dc && m_old)
            ::SelectObject(m_dc, m_old);
        if (m_dc)
            ::ReleaseDC(m_w, m_dc);
    }
    CControlDc(const CControlDc&) = delete;
    CControlDc& operator=(const CControlDc&) = delete;
    HDC Dc() const { return m_dc; }

private:
    HWND m_w;
    HDC m_dc;
    HGDIOBJ m_old = nullptr;
};

struct Fit {
    SIZE need = {0, 0};
    SIZE room = {0, 0};
    SIZE oneLine = {0, 0};  // the text on one line
    SIZE frame = {0, 0};    // what the control takes beside its text (glyph, edges)
    bool Fits() const { return need.cx <= room.cx && need.cy <= room.cy; }
};

// The text's extent in the control's font, word-wrapped at the width the control leaves
// for text, against that width and the control's height.
Fit Measure(HWND w, Kind kind, UINT flags, const std::string& text)
{
    Fit fit;
    RECT client = {0, 0, 0, 0};
    ::GetClientRect(w, &client);
    CControlDc dc(w);
    if (!dc.Dc())
        return fit;
    const int dpi = g_dpi ? g_dpi : ::GetDeviceCaps(dc.Dc(), LOGPIXELSX);
    LONG left = 0, across = 0, down = 0;
    if (kind == KIND_CHECK) {
        // The check box or radio glyph (13 pixels at 96 per inch) and the gap after it.
        INT zero = 0;
        ::GetCharWidth32A(dc.Dc(), '0', '0', &zero);
        left = ::MulDiv(13, dpi, 96) + (zero + 1) / 2;
    } else if (kind == KIND_PUSH) {
        across = 2 * (::GetSystemMetrics(SM_CXEDGE) + 1);  // raised edge and focus frame
        down = 2 * (::GetSystemMetrics(SM_CYEDGE) + 1);
    }
    fit.room.cx = client.right - left - across;
    fit.room.cy = client.bottom - down;
    fit.frame = SIZE{left + across, down};
    RECT r = {0, 0, fit.room.cx > 0 ? fit.room.cx : 0, 0};
    ::DrawTextA(dc.Dc(), text.c_str(), -1, &r, flags | DT_CALCRECT);
    fit.need.cx = r.right - r.left;
    fit.need.cy = r.bottom - r.top;
    RECT line = {0, 0, 0, 0};
    ::DrawTextA(dc.Dc(), text.c_str(), -1, &line, (flags & ~DT_WORDBREAK) | DT_SINGLELINE | DT_CALCRECT);
    fit.oneLine = SIZE{line.right - line.left, line.bottom - line.top};
    return fit;
}

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
        out += (c == '\n') ? std::string("\\n") : std::string(1, c);
    return out + "\"";
}

// Pixels per 4 horizontal and 8 vertical dialog units of the page.
SIZE g_units = {4, 8};

LONG ToUnits(LONG pixels, LONG perUnits, LONG units)
{
    return perUnits > 0 ? (pixels * units + perUnits - 1) / perUnits : 0;
}

void Report(std::vector<std::string>* lines, const Fit& fit, const std::string& what)
{
    char sizes[256];
    std::snprintf(sizes, sizeof(sizes), ": needs %ldx%ld px, has %ldx%ld", static_cast<long>(fit.need.cx),
                  static_cast<long>(fit.need.cy), static_cast<long>(fit.room.cx), static_cast<long>(fit.room.cy));
    std::string line = std::string(fit.Fits() ? "ok\t" : "FAIL\t") + what + sizes;
    if (!fit.Fits()) {
        // What the control would need, in dialog units: on one line, and at its width.
        std::snprintf(sizes, sizeof(sizes), " (one line needs a control %ldx%ld dialog units; at its width, %ld high)",
                      static_cast<long>(ToUnits(fit.oneLine.cx + fit.frame.cx, g_units.cx, 4)),
                      static_cast<long>(ToUnits(fit.oneLine.cy + fit.frame.cy, g_units.cy, 8)),
                      static_cast<long>(ToUnits(fit.need.cy + fit.frame.cy, g_units.cy, 8)));
        line += sizes;
    }
    lines->push_back(line);
}

void Face(std::vector<std::string>* lines, HWND w, const std::string& what)
{
    CControlDc dc(w);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(w, WM_GETFONT, 0, 0));
    LOGFONTA asked;
    std::memset(&asked, 0, sizeof(asked));
    if (!font || !::GetObjectA(font, sizeof(asked), &asked))
        std::strcpy(asked.lfFaceName, "(system font)");
    char face[LF_FACESIZE] = "";
    TEXTMETRICA tm;
    std::memset(&tm, 0, sizeof(tm));
    std::string family = "?";  // the font file's full name
    if (dc.Dc()) {
        ::GetTextFaceA(dc.Dc(), sizeof(face), face);
        ::GetTextMetricsA(dc.Dc(), &tm);
        // A substituted face keeps the asked name; the font file's own name says what it is.
        const UINT size = ::GetOutlineTextMetricsA(dc.Dc(), 0, nullptr);
        std::vector<char> buffer(size > sizeof(OUTLINETEXTMETRICA) ? size : 0);
        if (!buffer.empty() && ::GetOutlineTextMetricsA(dc.Dc(), size, reinterpret_cast<OUTLINETEXTMETRICA*>(buffer.data()))) {
            const auto* otm = reinterpret_cast<const OUTLINETEXTMETRICA*>(buffer.data());
            const size_t offset = reinterpret_cast<size_t>(otm->otmpFullName);
            if (offset > 0 && offset < buffer.size())
                family.assign(buffer.data() + offset, strnlen(buffer.data() + offset, buffer.size() - offset));
        }
    }
    char line[320];
    std::snprintf(line, sizeof(line),
                  "face\t%s\tasked \"%s\" %ld weight %ld, got \"%s\" (font \"%s\"), weight %ld, %ld px high, "
                  "%ld px average width",
                  what.c_str(), asked.lfFaceName, static_cast<long>(asked.lfHeight), static_cast<long>(asked.lfWeight),
                  face, family.c_str(), static_cast<long>(tm.tmWeight), static_cast<long>(tm.tmHeight),
                  static_cast<long>(tm.tmAveCharWidth));
    lines->push_back(line);
}

// Texts a control may show at other moments than the check: the welcome body's messages
// and the progress page's task texts.
std::vector<std::pair<std::string, std::string>> Alternatives(HWND page, int id)
{
    std::vector<std::pair<std::string, std::string>> texts;
    const char* p = g_product.c_str();
    if (id == 1002 && ::GetDlgItem(page, 1013) && ::GetDlgItem(page, 1000)) {  // the welcome page
        texts.emplace_back("string 36", Load(36));
        texts.emplace_back("string 2", Format(2, p, g_version.c_str()));
        for (UINT s : {22u, 23u, 24u, 25u})
            texts.emplace_back("string " + std::to_string(s), Format(s, p));
        texts.emplace_back("string 59", Format(59, g_version.c_str(), "Version 3.10"));
    }
    if (id == 1027 && ::GetDlgItem(page, 1029)) {  // the progress page's task label
        for (UINT s : {27u, 28u, 29u, 30u, 31u, 32u, 45u, 46u, 47u, 48u, 49u, 50u})
            texts.emplace_back("string " + std::to_string(s), Load(s));
    }
    return texts;
}

struct Placed {
    int id;
    RECT rect;
};

// The colours the page gives a text control must be those of the ground it lies on (the
// white area above the line 1036, the dialog's face below it, an edit field's own), its text
// another colour, and in high contrast the system's window text.
std::string Colours(HWND page, HWND w, const RECT& r)
{
    RECT line = {0, 0, 0, 0};
    ::GetWindowRect(::GetDlgItem(page, 1036), &line);
    ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&line), 2);
    const bool typed = ClassOf(w) == "Edit" && !(::GetWindowLongA(w, GWL_STYLE) & ES_READONLY);
    const COLORREF ground = ::GetSysColor(typed || r.bottom <= line.top ? COLOR_WINDOW : COLOR_3DFACE);
    HDC dc = ::CreateCompatibleDC(nullptr);
    LOGBRUSH brush = {0, CLR_INVALID, 0};
    ::GetObjectA(reinterpret_cast<HBRUSH>(::SendMessageA(page, typed ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC,
                                                         reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(w))),
                 sizeof(brush), &brush);
    const COLORREF text = ::GetTextColor(dc), back = ::GetBkColor(dc);
    ::DeleteDC(dc);
    HIGHCONTRASTA contrast = {sizeof(contrast), 0, nullptr};
    ::SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0);
    char out[160];
    std::snprintf(out, sizeof(out), "%s\tcolours of control %d: text %06lx on %06lx, brush %06lx, ground %06lx",
                  back == ground && brush.lbColor == ground && text != ground &&
                          (!(contrast.dwFlags & HCF_HIGHCONTRASTON) || text == ::GetSysColor(COLOR_WINDOWTEXT))
                      ? "ok"
                      : "FAIL",
                  ::GetDlgCtrlID(w), text, back, brush.lbColor, ground);
    return out;
}

// A control's place and font (a Rich Edit text has the fonts of its own text), or the page's
// client area.
std::string Layout(HWND page, HWND w, const RECT& r)
{
    LOGFONTA lf = {};
    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(w, WM_GETFONT, 0, 0));
    if (w == page || ClassOf(w) == "RICHEDIT" || !font || !::GetObjectA(font, sizeof(lf), &lf))
        lf = LOGFONTA{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "-"};
    char line[160];
    std::snprintf(line, sizeof(line), "layout\t%d\t%ld %ld %ld %ld %s %s %ld %ld", w == page ? 0 : ::GetDlgCtrlID(w),
                  r.left, r.top, r.right, r.bottom, ::IsWindowVisible(w) ? "shown" : "hidden", lf.lfFaceName,
                  lf.lfHeight, lf.lfWeight);
    return line;
}

void CheckPage(HWND page)
{
    std::vector<std::string> lines;
    HDC screen = ::GetDC(page);
    lines.push_back("dpi\t" + std::to_string(g_dpi ? g_dpi : screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0));
    if (screen)
        ::ReleaseDC(page, screen);
    Face(&lines, page, "dialog");
    RECT units = {0, 0, 4, 8};
    ::MapDialogRect(page, &units);
    g_units = SIZE{units.right, units.bottom};

    RECT pageClient = {0, 0, 0, 0};
    ::GetClientRect(page, &pageClient);
    lines.push_back(Layout(page, page, pageClient));
    std::vector<Placed> shown;
    std::vector<HFONT> fonts;
    for (HWND w = ::GetWindow(page, GW_CHILD); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
        UINT flags = 0;
        const Kind kind = KindOf(w, &flags);
        const std::string text = TextOf(w);
        const int id = ::GetDlgCtrlID(w);
        const bool visible = ::IsWindowVisible(w) != FALSE;
        RECT r = {0, 0, 0, 0};
        ::GetWindowRect(w, &r);
        ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
        lines.push_back(Layout(page, w, r));
        if (visible && !text.empty() && (kind == KIND_STATIC || kind == KIND_CHECK || ClassOf(w) == "Edit"))
            lines.push_back(Colours(page, w, r));
        if (kind == KIND_NONE || text.empty())
            continue;
        const std::string what = "control " + std::to_string(id) + " " + KindName(kind) + " " + Quote(text);
        Report(&lines, Measure(w, kind, flags, text), what + (visible ? "" : " (hidden)"));
        for (const auto& alternative : Alternatives(page, id))
            Report(&lines, Measure(w, kind, flags, alternative.second),
                   "control " + std::to_string(id) + " with " + alternative.first + " " + Quote(alternative.second));

        HFONT font = reinterpret_cast<HFONT>(::SendMessageA(w, WM_GETFONT, 0, 0));
        bool known = false;
        for (HFONT f : fonts)
            known = known || f == font;
        if (!known) {
            fonts.push_back(font);
            Face(&lines, w, "control " + std::to_string(id));
        }
        if (!visible)
            continue;
        RECT inside = {0, 0, 0, 0};
        if (!::IntersectRect(&inside, &r, &pageClient) || !::EqualRect(&inside, &r))
            lines.push_back("FAIL\tcontrol " + std::to_string(id) + " reaches outside the page");
        for (const Placed& other : shown) {
            RECT both = {0, 0, 0, 0};
            if (::IntersectRect(&both, &r, &other.rect))
                lines.push_back("FAIL\tcontrols " + std::to_string(other.id) + " and " + std::to_string(id) +
                                " overlap");
        }
        shown.push_back(Placed{id, r});
    }

    FILE* out = std::fopen(FIT_CHECK_FILE, "wb");
    if (!out)
        return;
    for (const std::string& line : lines)
        std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
}

LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == g_message && g_message != 0) {
            if (message->wParam)
                MoveToDpi(message->hwnd, static_cast<int>(message->wParam));
            CheckPage(message->hwnd);
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

CFitCheck::CFitCheck(const char* product, const char* versionText)
{
    g_product = product;
    g_version = versionText;
    g_message = ::RegisterWindowMessageA(FIT_CHECK_MESSAGE);
    if (g_message != 0)
        m_hook = ::SetWindowsHookExA(WH_CALLWNDPROC, &Hook, nullptr, ::GetCurrentThreadId());
}

CFitCheck::~CFitCheck()
{
    if (m_hook)
        ::UnhookWindowsHookEx(m_hook);
}
