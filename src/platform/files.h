// The file system as the portable code sees it. Handles are closed with
// IKernel::CloseHandle, find handles with FindClose.
#pragma once

#include "platform/types.h"

namespace os {

class IFiles {
public:
    virtual ~IFiles() = default;

    // Returns InvalidHandle() on failure, with the reason in the last error. attributes also
    // carries the FILE_FLAG_* and SECURITY_* flags.
    virtual HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD attributes) = 0;
    // Low 32 bits of the size; INVALID_FILE_SIZE on failure.
    virtual DWORD GetFileSize(HANDLE file) = 0;
    // Moves to distance from the origin (FILE_BEGIN, FILE_CURRENT, FILE_END); returns the
    // new position or INVALID_SET_FILE_POINTER.
    virtual DWORD SetFilePointer(HANDLE file, LONG distance, DWORD origin) = 0;
    virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) = 0;
    virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) = 0;
    virtual BOOL SetEndOfFile(HANDLE file) = 0;
    virtual BOOL FlushFileBuffers(HANDLE file) = 0;
    // GetFileInformationByHandle: the file's attributes and how many names (hard links) it has.
    virtual BOOL GetFileInformationByHandle(HANDLE file, DWORD* attributes, DWORD* links) = 0;

    // InvalidHandle() when nothing matches.
    virtual HANDLE FindFirstFileA(const char* path, FindData* data) = 0;
    virtual BOOL FindClose(HANDLE find) = 0;
    virtual DWORD GetFileAttributesA(const char* path) = 0;
    virtual BOOL SetFileAttributesA(const char* path, DWORD attributes) = 0;

    virtual BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists) = 0;
    // flags: MOVEFILE_*; with MOVEFILE_DELAY_UNTIL_REBOOT the move is registered for the
    // next start, and a null destination registers a deletion.
    virtual BOOL MoveFileExA(const char* from, const char* to, DWORD flags) = 0;
    virtual BOOL DeleteFileA(const char* path) = 0;
    // security: the new directory's security descriptor in SDDL form (owner, access list),
    // or null for what the parent passes on.
    virtual BOOL CreateDirectoryA(const char* path, const char* security) = 0;
    virtual BOOL RemoveDirectoryA(const char* path) = 0;
};

}  // namespace os
