// Stand-in of the product's user program: it says what it is in a message box that closes
// by itself, records that it was started, and ends.
//
//   tessaportws.exe [-close SECONDS]     (0: no box at all; without it the box closes after 60 s)
//
// Each start appends "started: <command line>" CR LF to <temp folder>\<program>.log, so a
// test can tell that the setup program started it, and with which command line.
#include <windows.h>

#include <cstring>

#include "standin.h"

#ifndef TSP_STANDIN_EDITION
#error "TSP_STANDIN_EDITION selects the edition: 1 workstation, 2 server"
#endif

namespace {

struct Edition {
    const char* displayName;
    const char* recordFile;
};
const Edition EDITIONS[] = {
    {"", ""},
    {"Tessaport RDP Edition - Workstation", "tessaportws.log"},
    {"Tessaport RDP Edition - Server", "tessaportts.log"},
};
static_assert(TSP_STANDIN_EDITION >= 1 && TSP_STANDIN_EDITION <= 2, "unknown edition");
const Edition& THIS_EDITION = EDITIONS[TSP_STANDIN_EDITION];

const DWORD DEFAULT_CLOSE_SECONDS = 60;
const DWORD CLOSE_SECONDS_MAX = 3600;
const size_t RECORD_SIZE = 2048;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* commandLine = GetCommandLineA();
    char record[RECORD_SIZE] = "started: ";
    const size_t prefix = std::strlen(record);
    const size_t length = strnlen(commandLine, RECORD_SIZE - prefix - 3);
    std::memcpy(record + prefix, commandLine, length);
    std::memcpy(record + prefix + length, "\r\n", 3);
    standin::AppendToTempFile(THIS_EDITION.recordFile, record);

    DWORD seconds = DEFAULT_CLOSE_SECONDS;
    standin::SwitchValue(standin::ArgumentsOf(commandLine), "close", &seconds);
    if (seconds == 0) return 0;
    if (seconds > CLOSE_SECONDS_MAX) seconds = CLOSE_SECONDS_MAX;

    char text[512] = {};
    wsprintfA(text,
              "%s\n\nThis is a stand-in of the product's user program, installed by the setup program "
              "so that its installation can be tried out. It does nothing else.\n\n"
              "This window closes by itself after %lu seconds.",
              THIS_EDITION.displayName, static_cast<unsigned long>(seconds));
    standin::ShowTimedBox(text, THIS_EDITION.displayName, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND,
                          seconds * 1000);
    return 0;
}
