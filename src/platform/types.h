// Windows-shaped types and constants for the portable code.
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

// INVALID_HANDLE_VALUE: the all-ones pointer, as on Windows.
inline HANDLE InvalidHandle() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }
inline bool IsValidHandle(HANDLE h) { return h != nullptr && h != InvalidHandle(); }

}  // namespace os
