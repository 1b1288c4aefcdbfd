// The file system as the portable code sees it.
#pragma once

#include "platform/types.h"

namespace os {

class IFiles {
public:
    virtual ~IFiles() = default;

    // Returns InvalidHandle() on failure, with the reason in the last error.
    virtual HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD attributes) = 0;
    virtual BOOL CloseHandle(HANDLE file) = 0;
    // Low 32 bits of the size; INVALID_FILE_SIZE on failure.
    virtual DWORD GetFileSize(HANDLE file) = 0;
    // Moves to distance from the origin (FILE_BEGIN, FILE_CURRENT, FILE_END); returns the
    // new position or INVALID_SET_FILE_POINTER.
    virtual DWORD SetFilePointer(HANDLE file, LONG distance, DWORD origin) = 0;
    virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) = 0;
    virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) = 0;
};

}  // namespace os
