// file_holder PATH SECONDS STOPFILE
// file_holder event:NAME SECONDS STOPFILE
// Holds PATH open for reading without any sharing, as a program that uses the file would, so
// that it can be neither written nor deleted; or makes the named event, signalled, as any
// program of the machine could before a setup program does, and holds it. Lets go after
// SECONDS or when STOPFILE appears. A '+' in PATH stands for a blank, so that the path is one
// word on any command line.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    for (char* c = argv[1]; *c != '\0'; ++c) {
        if (*c == '+') *c = ' ';
    }
    const bool event = std::strncmp(argv[1], "event:", 6) == 0;
    HANDLE held = event ? CreateEventA(nullptr, TRUE, TRUE, argv[1] + 6)
                        : CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == nullptr || held == INVALID_HANDLE_VALUE) return 1;
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limit && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    CloseHandle(held);
    return 0;
}
