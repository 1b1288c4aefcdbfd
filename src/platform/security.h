// The process token and security identifiers.
#pragma once

#include <string>

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

    // system null: the local machine.
    virtual BOOL LookupPrivilegeValueA(const char* system, const char* name, Luid* luid) = 0;
    // Succeeds even when the token lacks one of the privileges: the last error then is
    // ERROR_NOT_ALL_ASSIGNED. previous and returnLength may be null.
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TokenPrivileges* newState,
                                       DWORD bufferLength, TokenPrivileges* previous, DWORD* returnLength) = 0;

    // The owner and access list of an open file or directory (opened with READ_CONTROL) in
    // SDDL form, well-known accounts by their two-letter names: "O:BAD:P(A;OICI;FA;;;SY)...".
    virtual BOOL GetSecurityText(HANDLE object, std::string* sddl) = 0;
    // The token's user account as "S-1-5-...".
    virtual BOOL GetTokenUserText(HANDLE token, std::string* sid) = 0;
};

}  // namespace os
