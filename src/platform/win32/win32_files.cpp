#include <windows.h>

#include <cstring>

#include "platform/win32/system_library.h"
#include "platform/win32/win32_areas.h"

namespace os {

HANDLE Win32Files::CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD attributes) {
    return ::CreateFileA(path, access, shareMode, nullptr, disposition, attributes, nullptr);
}

DWORD Win32Files::GetFileSize(HANDLE file) { return ::GetFileSize(file, nullptr); }

DWORD Win32Files::SetFilePointer(HANDLE file, LONG distance, DWORD origin) {
    return ::SetFilePointer(file, distance, nullptr, origin);
}

BOOL Win32Files::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
    ::DWORD done = 0;
    const BOOL ok = ::ReadFile(file, buffer, size, &done, nullptr);
    if (read) *read = done;
    return ok;
}

BOOL Win32Files::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
    ::DWORD done = 0;
    const BOOL ok = ::WriteFile(file, buffer, size, &done, nullptr);
    if (written) *written = done;
    return ok;
}

BOOL Win32Files::SetEndOfFile(HANDLE file) { return ::SetEndOfFile(file); }

BOOL Win32Files::FlushFileBuffers(HANDLE file) { return ::FlushFileBuffers(file); }

BOOL Win32Files::GetFileInformationByHandle(HANDLE file, DWORD* attributes, DWORD* links) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(file, &information)) return FALSE;
    if (attributes) *attributes = information.dwFileAttributes;
    if (links) *links = information.nNumberOfLinks;
    return TRUE;
}

HANDLE Win32Files::FindFirstFileA(const char* path, FindData* data) {
    WIN32_FIND_DATAA found;
    HANDLE find = ::FindFirstFileA(path, &found);
    if (find != INVALID_HANDLE_VALUE && data != nullptr) {
        data->attributes = found.dwFileAttributes;
        data->sizeHigh = found.nFileSizeHigh;
        data->sizeLow = found.nFileSizeLow;
        std::memcpy(data->name, found.cFileName, sizeof data->name);
    }
    return find;
}

BOOL Win32Files::FindClose(HANDLE find) { return ::FindClose(find); }

DWORD Win32Files::GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }

BOOL Win32Files::SetFileAttributesA(const char* path, DWORD attributes) {
    return ::SetFileAttributesA(path, attributes);
}

BOOL Win32Files::CopyFileA(const char* from, const char* to, BOOL failIfExists) {
    return ::CopyFileA(from, to, failIfExists);
}

BOOL Win32Files::MoveFileExA(const char* from, const char* to, DWORD flags) { return ::MoveFileExA(from, to, flags); }

BOOL Win32Files::DeleteFileA(const char* path) { return ::DeleteFileA(path); }

BOOL Win32Files::CreateDirectoryA(const char* path, const char* security) {
    CSecurityAttributes attributes(security);
    return attributes.Valid() && ::CreateDirectoryA(path, attributes.Get());
}

BOOL Win32Files::RemoveDirectoryA(const char* path) { return ::RemoveDirectoryA(path); }

}  // namespace os
