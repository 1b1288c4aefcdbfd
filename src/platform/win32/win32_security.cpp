#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/win32_areas.h"

namespace os {

static_assert(sizeof(SidAndAttributes) == sizeof(SID_AND_ATTRIBUTES), "token group layout");
static_assert(offsetof(TokenGroups, groups) == offsetof(TOKEN_GROUPS, Groups), "token group layout");

BOOL Win32Security::OpenProcessToken(DWORD access, HANDLE* token) {
    return ::OpenProcessToken(::GetCurrentProcess(), access, token);
}

BOOL Win32Security::GetTokenGroups(HANDLE token, void* buffer, DWORD size, DWORD* needed) {
    ::DWORD length = 0;
    const BOOL ok = ::GetTokenInformation(token, ::TokenGroups, buffer, size, &length);
    if (needed) *needed = length;
    return ok;
}

BOOL Win32Security::AllocateAndInitializeSid(const BYTE authority[6], BYTE count, const DWORD* subAuthorities,
                                             PSID* sid) {
    SID_IDENTIFIER_AUTHORITY id;
    for (int i = 0; i < 6; ++i) id.Value[i] = authority[i];
    ::DWORD sub[8] = {};
    for (BYTE i = 0; i < count && i < 8; ++i) sub[i] = subAuthorities[i];
    return ::AllocateAndInitializeSid(&id, count, sub[0], sub[1], sub[2], sub[3], sub[4], sub[5], sub[6], sub[7],
                                      sid);
}

void Win32Security::FreeSid(PSID sid) { ::FreeSid(sid); }

BOOL Win32Security::EqualSid(PSID a, PSID b) { return ::EqualSid(a, b); }

static_assert(sizeof(Luid) == sizeof(LUID), "LUID layout");
static_assert(sizeof(LuidAndAttributes) == sizeof(LUID_AND_ATTRIBUTES), "privilege layout");
static_assert(offsetof(TokenPrivileges, privileges) == offsetof(TOKEN_PRIVILEGES, Privileges), "privilege layout");

BOOL Win32Security::LookupPrivilegeValueA(const char* system, const char* name, Luid* luid) {
    return ::LookupPrivilegeValueA(system, name, reinterpret_cast<PLUID>(luid));
}

BOOL Win32Security::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TokenPrivileges* newState,
                                          DWORD bufferLength, TokenPrivileges* previous, DWORD* returnLength) {
    ::DWORD length = 0;
    const BOOL ok = ::AdjustTokenPrivileges(
        token, disableAll, reinterpret_cast<PTOKEN_PRIVILEGES>(const_cast<TokenPrivileges*>(newState)), bufferLength,
        reinterpret_cast<PTOKEN_PRIVILEGES>(previous), returnLength ? &length : nullptr);
    if (returnLength) *returnLength = length;
    return ok;
}

BOOL Win32Security::GetSecurityText(HANDLE object, std::string* sddl) {
    constexpr SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const ::DWORD error =
        ::GetSecurityInfo(object, SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        ::SetLastError(error);
        return FALSE;
    }
    LPSTR text = nullptr;
    const BOOL ok = ::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text,
                                                                          nullptr);
    if (ok) {
        sddl->assign(text);
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return ok;
}

BOOL Win32Security::GetTokenUserText(HANDLE token, std::string* sid) {
    union {
        TOKEN_USER user;
        BYTE space[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    } buffer;
    ::DWORD length = 0;
    if (!::GetTokenInformation(token, ::TokenUser, &buffer, sizeof buffer, &length)) return FALSE;
    LPSTR text = nullptr;
    if (!::ConvertSidToStringSidA(buffer.user.User.Sid, &text)) return FALSE;
    sid->assign(text);
    ::LocalFree(text);
    return TRUE;
}

}  // namespace os
