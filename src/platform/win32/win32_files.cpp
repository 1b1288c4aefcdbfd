#include "platform/files.h"

#include <windows.h>

#include "platform/win32/win32_areas.h"

namespace os {

HANDLE Win32Files::CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD attributes) {
    return ::CreateFileA(path, access, shareMode, nullptr, disposition, attributes, nullptr);
}

BOOL Win32Files::CloseHandle(HANDLE file) { return ::CloseHandle(file); }

DWORD Win32Files::GetFileSize(HANDLE file) { return ::GetFileSize(file, nullptr); }

DWORD Win32Files::SetFilePointer(HANDLE file, LONG distance, DWORD origin) {
    return ::SetFilePointer(file, distance, nullptr, origin);
}

BOOL Win32Files::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
    ::DWORD done = 0;
    BOOL ok = ::ReadFile(file, buffer, size, &done, nullptr);
    if (read) *read = done;
    return ok;
}

BOOL Win32Files::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
    ::DWORD done = 0;
    BOOL ok = ::WriteFile(file, buffer, size, &done, nullptr);
    if (written) *written = done;
    return ok;
}

}  // namespace os
