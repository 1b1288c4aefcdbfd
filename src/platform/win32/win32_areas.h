// The Win32 implementations of the seam areas: each call is the Windows call it
// stands for, and nothing more.
#pragma once

#include "platform/files.h"
#include "platform/kernel.h"

namespace os {

class Win32Kernel final : public IKernel {
public:
    DWORD GetLastError() override;
    void SetLastError(DWORD error) override;
    DWORD GetModuleFileNameA(char* buffer, DWORD size) override;
};

class Win32Files final : public IFiles {
public:
    HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD attributes) override;
    BOOL CloseHandle(HANDLE file) override;
    DWORD GetFileSize(HANDLE file) override;
    DWORD SetFilePointer(HANDLE file, LONG distance, DWORD origin) override;
    BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
    BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
};

}  // namespace os
