// Small pieces the stand-in programs share: where they record what they were asked, how
// they find their arguments, and a message box that closes itself so no run waits forever.
#ifndef TSP_PAYLOAD_STANDIN_H
#define TSP_PAYLOAD_STANDIN_H

#include <windows.h>

namespace standin {

// Appends the text to the file of that name in the temporary folder (the folder of the
// environment the program inherited). False when it could not be written whole.
bool AppendToTempFile(const char* fileName, const char* text);

// The arguments: what follows the program's own file name in the command line. A caller
// may give the program's path unquoted even when it holds spaces, so the command line is
// searched for the file name rather than split at the first space.
const char* ArgumentsOf(const char* commandLine);

// The number after "-NAME " in the arguments (decimal); false when absent or not a number.
bool SwitchValue(const char* arguments, const char* name, DWORD* value);

// A message box without an owner that is dismissed (as with OK) after closeAfterMs.
// Without a display it returns at once.
int ShowTimedBox(const char* text, const char* caption, UINT style, DWORD closeAfterMs);

// Writes the text to standard output, when there is one.
void WriteOut(const char* text);

}  // namespace standin

#endif
