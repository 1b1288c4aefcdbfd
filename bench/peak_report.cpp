// Linked into the benchmark builds of the setup programs and into the floor program: when
// the process ends, its peak working set (bytes) goes into the file that the environment
// variable TSP_PEAK_REPORT names. Without the variable nothing is written.
#include <windows.h>
#include <psapi.h>

namespace {

void WritePeakWorkingSet() {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("TSP_PEAK_REPORT", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return;

    char text[32];
    char* end = text + sizeof text;
    char* at = end;
    *--at = '\n';
    *--at = '\r';
    SIZE_T value = counters.PeakWorkingSetSize;
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && at > text);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, at, static_cast<DWORD>(end - at), &written, nullptr);
    CloseHandle(file);
}

// Destroyed at exit, after WinMain has returned: the peak covers all of the work.
struct CPeakReport {
    CPeakReport() = default;
    CPeakReport(const CPeakReport&) = delete;
    CPeakReport& operator=(const CPeakReport&) = delete;
    ~CPeakReport() { WritePeakWorkingSet(); }
} g_peakReport;

}  // namespace
