// A DLL planted where a program must not look for its DLLs. Loaded, it appends
// "<its own file name> <full path of the loading program>" to C:\tsp_markers.txt and lets
// the load go on. Built once per planted name; where a program imports the name statically,
// the build exports the functions it imports, all bound to MarkerStub, which fails.
#include <windows.h>

#include <initializer_list>

extern "C" __declspec(dllexport) INT_PTR MarkerStub() { return 0; }

namespace {

// The part of a path after its last backslash.
const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') name = p + 1;
    }
    return name;
}

void Record(HINSTANCE self) {
    char dll[MAX_PATH] = {};
    char program[MAX_PATH] = {};
    // Too long a path is written cut short: the line only has to show the load happened.
    GetModuleFileNameA(self, dll, MAX_PATH - 1);
    GetModuleFileNameA(nullptr, program, MAX_PATH - 1);
    // Put together by hand: the marker does not import user32, so that it loads in place
    // of any DLL, even one that user32 itself imports.
    char line[2 * MAX_PATH + 4];
    DWORD length = 0;
    for (const char* part : {BaseName(dll), " ", static_cast<const char*>(program), "\r\n"}) {
        for (const char* p = part; *p != '\0'; ++p) line[length++] = *p;
    }
    HANDLE file = CreateFileA("C:\\tsp_markers.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, length, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Record(self);
    return TRUE;
}
