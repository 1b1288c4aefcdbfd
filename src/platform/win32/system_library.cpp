#include "platform/win32/system_library.h"

#include <sddl.h>

#include <cstring>

namespace os {

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32 and SetDefaultDllDirectories came with an update of
// Windows 7; an older loader refuses the flag with ERROR_INVALID_PARAMETER.
constexpr DWORD SEARCH_SYSTEM32 = 0x00000800;

}  // namespace

void RestrictDllSearchToSystemFolder() {
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    using SetDirectory = BOOL(WINAPI*)(LPCSTR);
    auto setDefault = Kernel32Function<SetDefaultDirectories>("SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(SEARCH_SYSTEM32)) return;
    auto setDirectory = Kernel32Function<SetDirectory>("SetDllDirectoryA");
    if (setDirectory != nullptr) setDirectory("");
}

bool DllRedirectionPresent(std::string* path) {
    char self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    *path = std::string(self, length) + ".local";
    return ::GetFileAttributesA(path->c_str()) != INVALID_FILE_ATTRIBUTES;
}

HMODULE LoadSystemLibrary(const char* name) {
    HMODULE module = ::LoadLibraryExA(name, nullptr, SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // A loader without the flag: the full path names the system folder's copy.
    char path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    const std::size_t nameLength = std::strlen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    path[length] = '\\';
    std::memcpy(path + length + 1, name, nameLength + 1);
    return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC SystemProcAddress(const char* dll, const char* function) {
    // A second load only counts up the loaded module's references.
    HMODULE module = LoadSystemLibrary(dll);
    return module != nullptr ? ::GetProcAddress(module, function) : nullptr;
}

CSecurityAttributes::CSecurityAttributes(const char* sddl) {
    m_attributes.nLength = sizeof m_attributes;
    if (sddl == nullptr) return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    m_valid = ::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr);
    m_attributes.lpSecurityDescriptor = m_valid ? descriptor : nullptr;
}

CSecurityAttributes::~CSecurityAttributes() {
    if (m_attributes.lpSecurityDescriptor != nullptr) ::LocalFree(m_attributes.lpSecurityDescriptor);
}

}  // namespace os
