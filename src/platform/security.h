// The process token and security identifiers.
#pragma once

#include "platform/types.h"

namespace os {

class ISecurity {
public:
    virtual ~ISecurity() = default;

    // Opens the current process's token (closed with IKernel::CloseHandle).
    virtual BOOL OpenProcessToken(DWORD access, HANDLE* token) = 0;
    // GetTokenInformation(TokenGroups): fills buffer with a TokenGroups.
    virtual BOOL GetTokenGroups(HANDLE token, void* buffer, DWORD size, DWORD* needed) = 0;
    // A SID of the given authority (6 bytes) and up to 8 sub-authorities; freed with FreeSid.
    virtual BOOL AllocateAndInitializeSid(const BYTE authority[6], BYTE count, const DWORD* subAuthorities,
                                          PSID* sid) = 0;
    virtual void FreeSid(PSID sid) = 0;
    virtual BOOL EqualSid(PSID a, PSID b) = 0;
};

}  // namespace os
