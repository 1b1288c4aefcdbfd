// file_holder PATH SECONDS STOPFILE
// Holds PATH open for reading without any sharing, as a program that uses the file would, so
// that it can be neither written nor deleted. Lets go after SECONDS or when STOPFILE appears.
// A '+' in PATH stands for a blank, so that the path is one word on any command line.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    for (char* c = argv[1]; *c != '\0'; ++c) {
        if (*c == '+') *c = ' ';
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limit && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    CloseHandle(file);
    return 0;
}
