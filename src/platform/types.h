// Windows-shaped types for the portable code.
//
// Everything lives in namespace os so that the Win32 implementation can include
// <windows.h> beside the interface headers without clashes. Portable code never
// includes <windows.h>; it includes this header (and constants.h for values).
#pragma once

#include <cstdint>

namespace os {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using HANDLE = void*;
using HKEY = void*;
using SC_HANDLE = void*;
using PSID = void*;
using HWND = void*;  // a window, as the shell and message calls take it

// INVALID_HANDLE_VALUE: the all-ones pointer, as on Windows.
inline HANDLE InvalidHandle() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }
inline bool IsValidHandle(HANDLE h) { return h != nullptr && h != InvalidHandle(); }

// What FindFirstFileA reports of a file.
struct FindData {
    DWORD attributes = 0;
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    char name[260] = {};
};

// What GetVersionExA reports (OSVERSIONINFOEXA).
struct OsVersion {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
    DWORD platformId = 0;
    char servicePack[128] = {};
    WORD servicePackMajor = 0;
    WORD servicePackMinor = 0;
    WORD suiteMask = 0;
    BYTE productType = 0;  // VER_NT_WORKSTATION 1, domain controller 2, server 3
};

// TokenGroups as GetTokenInformation lays it out: the SIDs point into the same buffer.
struct SidAndAttributes {
    PSID sid;
    DWORD attributes;
};
struct TokenGroups {
    DWORD groupCount;
    SidAndAttributes groups[1];
};

// COM results: negative values are failures.
using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
inline bool Succeeded(HRESULT hr) { return hr >= 0; }
inline bool Failed(HRESULT hr) { return hr < 0; }

// The shell link object's interfaces as the seam hands them out (IShellLinkA*,
// IPersistFile*); each reference is given back with its own Release call.
struct ShellLinkObject;
struct PersistFileObject;
using PSHELLLINK = ShellLinkObject*;
using PPERSISTFILE = PersistFileObject*;

// LUID, LUID_AND_ATTRIBUTES and TOKEN_PRIVILEGES, field for field.
struct Luid {
    DWORD lowPart;
    LONG highPart;
};
struct LuidAndAttributes {
    Luid luid;
    DWORD attributes;
};
struct TokenPrivileges {
    DWORD privilegeCount;
    LuidAndAttributes privileges[1];
};

// SYSTEMTIME, field for field.
struct SystemTime {
    WORD year;
    WORD month;
    WORD dayOfWeek;
    WORD day;
    WORD hour;
    WORD minute;
    WORD second;
    WORD milliseconds;
};

}  // namespace os
