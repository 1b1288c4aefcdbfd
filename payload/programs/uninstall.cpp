// Placeholder of the uninstaller: the product's uninstall entry points at it, but removing
// the product is planned for later. It says so and ends with a failure code, so that
// nothing takes a run of it for a removal.
//
//   uninstall.exe [-close SECONDS]     (0: no box; without it the box closes after 60 s)
#include <windows.h>

#include "standin.h"

namespace {

const DWORD DEFAULT_CLOSE_SECONDS = 60;
const DWORD CLOSE_SECONDS_MAX = 3600;
const int EXIT_NOT_DONE = 1;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    DWORD seconds = DEFAULT_CLOSE_SECONDS;
    standin::SwitchValue(standin::ArgumentsOf(GetCommandLineA()), "close", &seconds);
    if (seconds > CLOSE_SECONDS_MAX) seconds = CLOSE_SECONDS_MAX;
    if (seconds != 0) {
        standin::ShowTimedBox("Uninstalling Tessaport RDP Edition is not available yet: this uninstaller is a "
                              "placeholder and has removed nothing.",
                              "Tessaport RDP Edition", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND, seconds * 1000);
    }
    return EXIT_NOT_DONE;
}
