// Stand-in of the Citrix support installer. It registers nothing; it records what it was
// asked and, when its environment says so, behaves as the real one may:
//
//   TSP_RDE_STANDIN_ACTION=restart   sets the restart event (the work needs a Windows restart)
//   TSP_RDE_STANDIN_ACTION=hang      does not end (for at most 120 s) until it is ended
//
// Each run appends three lines to <temp folder>\tsport_rde_installer.log:
//   "command line: " + the command line exactly as received
//   "keyword: " + the arguments without surrounding blanks, or "(none)"
//   "action: " + what it did
// The setup program starts it with its inherited environment, so tests steer it through
// their own. Started without arguments (the Start Menu shortcut) it says what it is.
#include <windows.h>

#include <cstring>

#include "standin.h"

namespace {

const char* const RESTART_EVENT = "Global\\{3448EDF9-E4FA-4C0F-8137-13EE6B9D972E}";
const char* const ACTION_VARIABLE = "TSP_RDE_STANDIN_ACTION";
const char* const RECORD_FILE = "tsport_rde_installer.log";
const DWORD HANG_LIMIT_MS = 120000;
const DWORD BOX_CLOSE_MS = 60000;
const size_t LINE_SIZE = 1024;

void Record(const char* label, const char* text, size_t length) {
    char line[LINE_SIZE] = {};
    const size_t prefix = std::strlen(label);
    if (length > LINE_SIZE - prefix - 3) length = LINE_SIZE - prefix - 3;
    std::memcpy(line, label, prefix);
    std::memcpy(line + prefix, text, length);
    std::memcpy(line + prefix + length, "\r\n", 3);
    standin::AppendToTempFile(RECORD_FILE, line);
}

void Record(const char* label, const char* text) { Record(label, text, strnlen(text, LINE_SIZE)); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* commandLine = GetCommandLineA();
    Record("command line: ", commandLine);

    const char* keyword = standin::ArgumentsOf(commandLine);
    while (IsBlank(*keyword)) ++keyword;
    size_t keywordLength = strnlen(keyword, LINE_SIZE);
    while (keywordLength > 0 && IsBlank(keyword[keywordLength - 1])) --keywordLength;
    if (keywordLength == 0)
        Record("keyword: ", "(none)");
    else
        Record("keyword: ", keyword, keywordLength);

    char action[32] = {};
    const DWORD actionLength = GetEnvironmentVariableA(ACTION_VARIABLE, action, sizeof action);
    if (actionLength == 0 || actionLength >= sizeof action) action[0] = '\0';

    if (lstrcmpiA(action, "restart") == 0) {
        // The setup program made the event before it started this program.
        HANDLE restart = OpenEventA(EVENT_MODIFY_STATE, FALSE, RESTART_EVENT);
        if (restart == nullptr || !SetEvent(restart)) {
            char text[64] = {};
            wsprintfA(text, "restart event not set (error %lu)", GetLastError());
            if (restart != nullptr) CloseHandle(restart);
            Record("action: ", text);
            return 1;
        }
        CloseHandle(restart);
        Record("action: ", "restart event set");
        return 0;
    }
    if (lstrcmpiA(action, "hang") == 0) {
        Record("action: ", "hanging for at most 120 s");
        Sleep(HANG_LIMIT_MS);
        return 0;
    }
    Record("action: ", "none");
    if (keywordLength == 0) {
        standin::ShowTimedBox("Citrix support installer of Tessaport RDP Edition - Workstation\n\n"
                              "This is a stand-in: it registers nothing and changes nothing on this computer.",
                              "Tessaport RDP Edition - Workstation", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND,
                              BOX_CLOSE_MS);
    }
    return 0;
}
