#include <windows.h>

#include "platform/win32/win32_areas.h"

namespace os {

SC_HANDLE Win32Services::OpenSCManagerA(DWORD access) { return ::OpenSCManagerA(nullptr, nullptr, access); }

BOOL Win32Services::CloseServiceHandle(SC_HANDLE handle) {
    return ::CloseServiceHandle(static_cast<::SC_HANDLE>(handle));
}

}  // namespace os
