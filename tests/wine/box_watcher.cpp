// box_watcher OUTFILE STOPFILE SECONDS
// Beside a program under test in the same Wine session: finds its message boxes, appends
// "caption<TAB>text" (line breaks shown as \n) to OUTFILE and presses the first button.
// Ends when STOPFILE appears or after SECONDS, whichever comes first.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Escaped(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') out += "\\n";
        else if (*p != '\r') out += *p;
    }
    return out;
}

struct Found {
    HWND button = nullptr;
};

BOOL CALLBACK FirstButton(HWND child, LPARAM param) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0) {
        reinterpret_cast<Found*>(param)->button = child;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const char* outFile = argv[1];
    const char* stopFile = argv[2];
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[3])) * 1000;
    const DWORD start = GetTickCount();
    int boxes = 0;
    while (GetTickCount() - start < limit && GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES) {
        HWND box = FindWindowA("#32770", nullptr);
        if (box == nullptr || !IsWindowVisible(box)) {
            Sleep(100);
            continue;
        }
        // The dialog can exist before its controls: wait for the text and a button.
        Found found;
        HWND text = nullptr;
        for (int i = 0; i < 50 && (found.button == nullptr || text == nullptr); ++i) {
            text = GetDlgItem(box, 0xFFFF);
            EnumChildWindows(box, FirstButton, reinterpret_cast<LPARAM>(&found));
            if (found.button == nullptr || text == nullptr) Sleep(50);
        }
        char caption[512] = {};
        char body[4096] = {};
        GetWindowTextA(box, caption, sizeof caption);
        if (text != nullptr) GetWindowTextA(text, body, sizeof body);
        if (FILE* f = std::fopen(outFile, "ab")) {
            std::fprintf(f, "%s\t%s\n", Escaped(caption).c_str(), Escaped(body).c_str());
            std::fclose(f);
        }
        ++boxes;
        if (found.button != nullptr) {
            PostMessageA(found.button, BM_CLICK, 0, 0);
        } else {
            PostMessageA(box, WM_CLOSE, 0, 0);
        }
        // Give the box time to go before looking again.
        for (int i = 0; i < 40 && IsWindow(box); ++i) Sleep(50);
    }
    return boxes;
}
