// event_holder NAME SECONDS STOPFILE
// Makes the named event, signalled, as any program of the machine could before a setup
// program does, and holds it. Lets go after SECONDS or when STOPFILE appears.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, argv[1]);
    if (event == nullptr) return 1;
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limit && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    CloseHandle(event);
    return 0;
}
