#include "standin.h"

#include <cstring>

namespace standin {

namespace {

const DWORD SWITCH_DIGITS_MAX = 9;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextAt(const char* text, const char* word, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '\0' || Lower(text[i]) != Lower(word[i])) return false;
    return true;
}

BOOL CALLBACK CloseIfBox(HWND window, LPARAM) {
    char className[16] = {};
    if (GetClassNameA(window, className, sizeof className) > 0 && std::strcmp(className, "#32770") == 0)
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// Runs inside the box's own message loop, on the thread that owns the box.
void CALLBACK CloseBoxes(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), CloseIfBox, 0); }

}  // namespace

bool AppendToTempFile(const char* fileName, const char* text) {
    char path[MAX_PATH + 1] = {};
    const DWORD folder = GetTempPathA(MAX_PATH, path);
    const size_t name = std::strlen(fileName);
    if (folder == 0 || folder >= MAX_PATH || folder + name >= MAX_PATH) return false;
    std::memcpy(path + folder, fileName, name + 1);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD length = static_cast<DWORD>(std::strlen(text));
    DWORD written = 0;
    const bool whole = WriteFile(file, text, length, &written, nullptr) && written == length;
    CloseHandle(file);
    return whole;
}

const char* ArgumentsOf(const char* commandLine) {
    if (commandLine == nullptr) return "";
    char own[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, own, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        const char* name = std::strrchr(own, '\\');
        name = name != nullptr ? name + 1 : own;
        const size_t length = std::strlen(name);
        for (const char* at = commandLine; *at != '\0'; ++at) {
            const bool starts = at == commandLine || at[-1] == '\\' || at[-1] == '/' || at[-1] == '"' || at[-1] == ':';
            if (!starts || !SameTextAt(at, name, length)) continue;
            const char* after = at + length;
            if (*after == '"') ++after;
            if (*after == '\0' || IsBlank(*after)) return after;
        }
    }
    // Not found (a renamed or short path): the first word, quoted or not, is the program.
    const char* at = commandLine;
    if (*at == '"') {
        const char* closing = std::strchr(at + 1, '"');
        return closing != nullptr ? closing + 1 : at + std::strlen(at);
    }
    while (*at != '\0' && !IsBlank(*at)) ++at;
    return at;
}

bool SwitchValue(const char* arguments, const char* name, DWORD* value) {
    const size_t length = std::strlen(name);
    for (const char* at = arguments; *at != '\0'; ++at) {
        if (*at != '-' || (at != arguments && !IsBlank(at[-1])) || !SameTextAt(at + 1, name, length) ||
            !IsBlank(at[1 + length]))
            continue;
        const char* digits = at + 1 + length;
        while (IsBlank(*digits)) ++digits;
        DWORD number = 0;
        DWORD count = 0;
        for (; *digits >= '0' && *digits <= '9'; ++digits) {
            if (++count > SWITCH_DIGITS_MAX) return false;
            number = number * 10 + static_cast<DWORD>(*digits - '0');
        }
        if (count == 0 || (*digits != '\0' && !IsBlank(*digits))) return false;
        *value = number;
        return true;
    }
    return false;
}

int ShowTimedBox(const char* text, const char* caption, UINT style, DWORD closeAfterMs) {
    const UINT_PTR timer = SetTimer(nullptr, 0, closeAfterMs, CloseBoxes);
    const int result = MessageBoxA(nullptr, text, caption, style);
    if (timer != 0) KillTimer(nullptr, timer);
    return result;
}

void WriteOut(const char* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(out, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

}  // namespace standin
