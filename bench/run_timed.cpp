// run_timed OUT PROGRAM [ARGUMENTS...]: runs PROGRAM, waits for it (at most 300 s, then it is
// ended) and writes one line into OUT: its exit code and the milliseconds from just before
// CreateProcess to the moment it ended, on the performance counter. Used by
// bench/install_bench.sh, which times the programs inside a Wine session that is already up,
// so that the figure is the program's own and not Wine's start. Without arguments it
// brings the session up the way both programs need it (a window, so the desktop process
// runs; COM with a shell link object; the service manager) and ends with exit code 2.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

void BringSessionUp() {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (window != nullptr) DestroyWindow(window);
    if (SUCCEEDED(CoInitialize(nullptr))) {
        IShellLinkA* link = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                       reinterpret_cast<void**>(&link)))) {
            link->Release();
        }
        CoUninitialize();
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager != nullptr) CloseServiceHandle(manager);
}

constexpr DWORD TIME_LIMIT_MS = 300000;

// The command line after the first two arguments, as typed: the rest of GetCommandLineA.
const char* SkipArguments(const char* line, int count) {
    for (int i = 0; i < count; ++i) {
        while (*line == ' ' || *line == '\t') ++line;
        bool quoted = false;
        while (*line != '\0' && (quoted || (*line != ' ' && *line != '\t'))) {
            if (*line == '"') quoted = !quoted;
            ++line;
        }
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        BringSessionUp();
        return 2;
    }
    std::string commandLine = SkipArguments(GetCommandLineA(), 2);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start %s: error %lu\n", commandLine.c_str(), GetLastError());
        return 3;
    }
    const DWORD waited = WaitForSingleObject(process.hProcess, TIME_LIMIT_MS);
    QueryPerformanceCounter(&end);
    DWORD exitCode = 0;
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
        exitCode = 0xFFFFFFFFu;
    } else if (!GetExitCodeProcess(process.hProcess, &exitCode)) {
        exitCode = 0xFFFFFFFEu;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const double milliseconds =
        static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 4;
    std::fprintf(out, "%ld %.3f\n", static_cast<long>(exitCode), milliseconds);
    const bool written = std::fclose(out) == 0;
    return written && waited == WAIT_OBJECT_0 ? 0 : 5;
}
