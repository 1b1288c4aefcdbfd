// Process-wide facilities: last error, handles, the program's own file, time, the system's
// cryptographic random generator, version and folders, memory, debug output.
#pragma once

#include <cstddef>

#include "platform/types.h"

namespace os {

class IKernel {
public:
    virtual ~IKernel() = default;

    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD error) = 0;
    // Closes any kernel handle: file, find, token, process, thread, event, pipe.
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    // Full path of the running program; returns the length copied (0 on failure).
    virtual DWORD GetModuleFileNameA(char* buffer, DWORD size) = 0;

    virtual DWORD GetTickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    // Fills buffer with bytes of the system's cryptographic generator; false when it cannot.
    virtual BOOL GenRandom(void* buffer, DWORD size) = 0;

    virtual BOOL GetVersionExA(OsVersion* version) = 0;
    // Both return the length written without the terminator, 0 on failure, or the size
    // needed when the buffer is too small (as Windows does).
    virtual DWORD GetWindowsDirectoryA(char* buffer, DWORD size) = 0;
    // The temporary folder, with its trailing backslash. A process running as SYSTEM gets
    // the system's own, which only SYSTEM and administrators can write, where Windows has
    // one (GetTempPath2A).
    virtual DWORD GetTempPathA(DWORD size, char* buffer) = 0;
    // Same rule for the result. GetSystemWow64DirectoryA fails on a 32-bit Windows.
    virtual DWORD GetSystemDirectoryA(char* buffer, DWORD size) = 0;
    virtual DWORD GetSystemWow64DirectoryA(char* buffer, DWORD size) = 0;
    virtual DWORD GetCurrentDirectoryA(DWORD size, char* buffer) = 0;

    // Reserve and commit read-write memory / release it.
    virtual void* VirtualAlloc(std::size_t size) = 0;
    virtual BOOL VirtualFree(void* block) = 0;

    virtual void OutputDebugStringA(const char* text) = 0;

    // The local date and time, as the machine's clock and time zone give it.
    virtual void GetLocalTime(SystemTime* time) = 0;
};

}  // namespace os
