#include "platform/kernel.h"

#include <windows.h>

#include "platform/win32/win32_areas.h"

namespace os {

DWORD Win32Kernel::GetLastError() { return ::GetLastError(); }

void Win32Kernel::SetLastError(DWORD error) { ::SetLastError(error); }

DWORD Win32Kernel::GetModuleFileNameA(char* buffer, DWORD size) {
    return ::GetModuleFileNameA(nullptr, buffer, size);
}

}  // namespace os
