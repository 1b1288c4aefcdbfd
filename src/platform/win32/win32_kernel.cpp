#include <windows.h>
#include <ntsecapi.h>

#include <cstring>

#include "platform/win32/system_library.h"
#include "platform/win32/win32_areas.h"

namespace os {

DWORD Win32Kernel::GetLastError() { return ::GetLastError(); }

void Win32Kernel::SetLastError(DWORD error) { ::SetLastError(error); }

BOOL Win32Kernel::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

DWORD Win32Kernel::GetModuleFileNameA(char* buffer, DWORD size) {
    return ::GetModuleFileNameA(nullptr, buffer, size);
}

DWORD Win32Kernel::GetTickCount() { return ::GetTickCount(); }

void Win32Kernel::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

BOOL Win32Kernel::GenRandom(void* buffer, DWORD size) { return ::RtlGenRandom(buffer, size) ? TRUE : FALSE; }

BOOL Win32Kernel::GetVersionExA(OsVersion* version) {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return FALSE;
    version->major = info.dwMajorVersion;
    version->minor = info.dwMinorVersion;
    version->build = info.dwBuildNumber;
    version->platformId = info.dwPlatformId;
    std::memcpy(version->servicePack, info.szCSDVersion, sizeof version->servicePack);
    version->servicePackMajor = info.wServicePackMajor;
    version->servicePackMinor = info.wServicePackMinor;
    version->suiteMask = info.wSuiteMask;
    version->productType = info.wProductType;
    return TRUE;
}

DWORD Win32Kernel::GetWindowsDirectoryA(char* buffer, DWORD size) { return ::GetWindowsDirectoryA(buffer, size); }

DWORD Win32Kernel::GetTempPathA(DWORD size, char* buffer) {
    using TempPath2 = DWORD(WINAPI*)(DWORD, LPSTR);
    auto tempPath2 = Kernel32Function<TempPath2>("GetTempPath2A");
    return tempPath2 != nullptr ? tempPath2(size, buffer) : ::GetTempPathA(size, buffer);
}

DWORD Win32Kernel::GetSystemDirectoryA(char* buffer, DWORD size) { return ::GetSystemDirectoryA(buffer, size); }

DWORD Win32Kernel::GetSystemWow64DirectoryA(char* buffer, DWORD size) {
    return ::GetSystemWow64DirectoryA(buffer, size);
}

DWORD Win32Kernel::GetCurrentDirectoryA(DWORD size, char* buffer) { return ::GetCurrentDirectoryA(size, buffer); }

void* Win32Kernel::VirtualAlloc(std::size_t size) {
    return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

BOOL Win32Kernel::VirtualFree(void* block) { return ::VirtualFree(block, 0, MEM_RELEASE); }

void Win32Kernel::OutputDebugStringA(const char* text) { ::OutputDebugStringA(text); }

void Win32Kernel::GetLocalTime(SystemTime* time) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    *time = {now.wYear, now.wMonth, now.wDayOfWeek, now.wDay, now.wHour, now.wMinute, now.wSecond,
             now.wMilliseconds};
}

}  // namespace os
