// The registry. Every call returns a Win32 error code (ERROR_SUCCESS on success), as the
// registry functions do; none of them sets the last error.
#pragma once

#include "platform/types.h"

namespace os {

class IRegistry {
public:
    virtual ~IRegistry() = default;

    // Options REG_OPTION_NON_VOLATILE; disposition (may be null) receives
    // REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
    virtual LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result,
                                 DWORD* disposition) = 0;
    virtual LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD access, HKEY* result) = 0;
    // Any output may be null. Lengths of names are in characters without the terminator.
    virtual LONG RegQueryInfoKeyA(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values,
                                  DWORD* maxValueNameLength, DWORD* maxValueLength) = 0;
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize) = 0;
    // nameSize: in, the buffer's size; out, the name's length without terminator.
    virtual LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                               DWORD* dataSize) = 0;
    // data may be null to ask only the size; a short buffer gives ERROR_MORE_DATA and the
    // size needed.
    virtual LONG RegQueryValueExA(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* dataSize) = 0;
    virtual LONG RegSetValueExA(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) = 0;
    virtual LONG RegDeleteValueA(HKEY key, const char* name) = 0;
    // Deletes a key that has no subkeys.
    virtual LONG RegDeleteKeyA(HKEY key, const char* subKey) = 0;
    virtual LONG RegCloseKey(HKEY key) = 0;
};

}  // namespace os
