/* Stand-in of one of the product's client libraries. The loader accepts it and it exports
   one function that names the file; it does nothing else. Built once per library, each
   with its own name (standin_identity.h). */
#include <windows.h>

#include "standin_identity.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

__declspec(dllexport) const char* TspStandInName(void) { return TSP_FILE_NAME; }
