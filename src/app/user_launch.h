// Starting a program, a web page or a document for the signed-in user. The setup programs
// run elevated: what they start themselves runs elevated too, and the user would be handed
// an administrator's process. The desktop shell runs with the user's own token, so it is
// asked to do the start. Windows only.
#pragma once

#include <windows.h>

// Asks the desktop shell to open file (a program, a document or an address) with parameters
// (may be null) in directory (may be null). False when there is no desktop shell to ask or
// it refused: the caller then knows that nothing was started.
bool ShellOpenAsUser(const char* file, const char* parameters, const char* directory, int showCommand);
