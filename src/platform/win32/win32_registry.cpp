#include <windows.h>

#include "platform/win32/win32_areas.h"

namespace os {

namespace {
::HKEY Key(HKEY key) { return static_cast<::HKEY>(key); }
}  // namespace

LONG Win32Registry::RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result,
                                    DWORD* disposition) {
    ::HKEY created = nullptr;
    ::DWORD how = 0;
    const LONG status =
        ::RegCreateKeyExA(Key(key), subKey, 0, nullptr, options, access, nullptr, &created, &how);
    if (result) *result = status == ERROR_SUCCESS ? created : nullptr;
    if (disposition) *disposition = how;
    return status;
}

LONG Win32Registry::RegOpenKeyExA(HKEY key, const char* subKey, DWORD access, HKEY* result) {
    ::HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExA(Key(key), subKey, 0, access, &opened);
    if (result) *result = status == ERROR_SUCCESS ? opened : nullptr;
    return status;
}

LONG Win32Registry::RegQueryInfoKeyA(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values,
                                     DWORD* maxValueNameLength, DWORD* maxValueLength) {
    ::DWORD keys = 0, keyLength = 0, count = 0, nameLength = 0, valueLength = 0;
    const LONG status = ::RegQueryInfoKeyA(Key(key), nullptr, nullptr, nullptr, &keys, &keyLength, nullptr, &count,
                                           &nameLength, &valueLength, nullptr, nullptr);
    if (subKeys) *subKeys = keys;
    if (maxSubKeyLength) *maxSubKeyLength = keyLength;
    if (values) *values = count;
    if (maxValueNameLength) *maxValueNameLength = nameLength;
    if (maxValueLength) *maxValueLength = valueLength;
    return status;
}

LONG Win32Registry::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize) {
    ::DWORD size = nameSize ? *nameSize : 0;
    const LONG status = ::RegEnumKeyExA(Key(key), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (nameSize) *nameSize = size;
    return status;
}

LONG Win32Registry::RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                                  DWORD* dataSize) {
    ::DWORD size = nameSize ? *nameSize : 0;
    ::DWORD kind = 0;
    ::DWORD bytes = dataSize ? *dataSize : 0;
    const LONG status =
        ::RegEnumValueA(Key(key), index, name, &size, nullptr, &kind, data, dataSize ? &bytes : nullptr);
    if (nameSize) *nameSize = size;
    if (type) *type = kind;
    if (dataSize) *dataSize = bytes;
    return status;
}

LONG Win32Registry::RegQueryValueExA(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* dataSize) {
    ::DWORD kind = 0;
    ::DWORD bytes = dataSize ? *dataSize : 0;
    const LONG status = ::RegQueryValueExA(Key(key), name, nullptr, &kind, data, dataSize ? &bytes : nullptr);
    if (type) *type = kind;
    if (dataSize) *dataSize = bytes;
    return status;
}

LONG Win32Registry::RegSetValueExA(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    return ::RegSetValueExA(Key(key), name, 0, type, data, size);
}

LONG Win32Registry::RegDeleteValueA(HKEY key, const char* name) { return ::RegDeleteValueA(Key(key), name); }

LONG Win32Registry::RegDeleteKeyA(HKEY key, const char* subKey) { return ::RegDeleteKeyA(Key(key), subKey); }

LONG Win32Registry::RegCloseKey(HKEY key) { return ::RegCloseKey(Key(key)); }

}  // namespace os
