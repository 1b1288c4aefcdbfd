// The Win32 implementations of the seam areas: each call is the Windows call it
// stands for, and nothing more.
#pragma once

#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/services.h"

namespace os {

class Win32Kernel final : public IKernel {
public:
    DWORD GetLastError() override;
    void SetLastError(DWORD error) override;
    BOOL CloseHandle(HANDLE handle) override;
    DWORD GetModuleFileNameA(char* buffer, DWORD size) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD milliseconds) override;
    void SRand(unsigned seed) override;
    int Rand() override;
    BOOL GetVersionExA(OsVersion* version) override;
    DWORD GetWindowsDirectoryA(char* buffer, DWORD size) override;
    DWORD GetTempPathA(DWORD size, char* buffer) override;
    void* VirtualAlloc(std::size_t size) override;
    BOOL VirtualFree(void* block) override;
    void OutputDebugStringA(const char* text) override;
};

class Win32Files final : public IFiles {
public:
    HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD attributes) override;
    DWORD GetFileSize(HANDLE file) override;
    DWORD SetFilePointer(HANDLE file, LONG distance, DWORD origin) override;
    BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
    BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
    BOOL SetEndOfFile(HANDLE file) override;
    BOOL FlushFileBuffers(HANDLE file) override;
    HANDLE FindFirstFileA(const char* path, FindData* data) override;
    BOOL FindClose(HANDLE find) override;
    DWORD GetFileAttributesA(const char* path) override;
    BOOL SetFileAttributesA(const char* path, DWORD attributes) override;
    BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists) override;
    BOOL MoveFileExA(const char* from, const char* to, DWORD flags) override;
    BOOL DeleteFileA(const char* path) override;
    BOOL CreateDirectoryA(const char* path) override;
    BOOL RemoveDirectoryA(const char* path) override;
};

class Win32Registry final : public IRegistry {
public:
    LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result,
                         DWORD* disposition) override;
    LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD access, HKEY* result) override;
    LONG RegQueryInfoKeyA(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values,
                          DWORD* maxValueNameLength, DWORD* maxValueLength) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize) override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                       DWORD* dataSize) override;
    LONG RegQueryValueExA(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* dataSize) override;
    LONG RegSetValueExA(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override;
    LONG RegDeleteValueA(HKEY key, const char* name) override;
    LONG RegDeleteKeyA(HKEY key, const char* subKey) override;
    LONG RegCloseKey(HKEY key) override;
};

class Win32Security final : public ISecurity {
public:
    BOOL OpenProcessToken(DWORD access, HANDLE* token) override;
    BOOL GetTokenGroups(HANDLE token, void* buffer, DWORD size, DWORD* needed) override;
    BOOL AllocateAndInitializeSid(const BYTE authority[6], BYTE count, const DWORD* subAuthorities,
                                  PSID* sid) override;
    void FreeSid(PSID sid) override;
    BOOL EqualSid(PSID a, PSID b) override;
};

class Win32Services final : public IServices {
public:
    SC_HANDLE OpenSCManagerA(DWORD access) override;
    BOOL CloseServiceHandle(SC_HANDLE handle) override;
};

}  // namespace os
