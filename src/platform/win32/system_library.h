// DLLs from the system folder only. The programs run elevated from folders other users can
// write (a download folder, SYSTEM's temporary folder): a DLL outside the KnownDLLs that
// Windows looked for beside the program would run with the program's rights.
#pragma once

#include <windows.h>

#include <string>

namespace os {

// Takes the program's own folder and the current folder out of every later DLL search:
// only the system folder is searched (SetDefaultDllDirectories, looked up at run time; on a
// Windows without it, at least the current folder goes). First thing of every program.
void RestrictDllSearchToSystemFolder();

// DLL redirection for the running program: "<program>.exe.local" beside it (a file or a
// folder) makes Windows take DLLs from there first. path receives that name.
bool DllRedirectionPresent(std::string* path);

// The DLL loaded from the system folder; null when it is missing, with the last error set.
HMODULE LoadSystemLibrary(const char* name);

// A function of a DLL loaded from the system folder (it stays loaded for the process); null
// when the DLL or the function is missing, with the last error set.
FARPROC SystemProcAddress(const char* dll, const char* function);

// The same as a pointer of the function's own type.
template <typename Function>
Function SystemFunction(const char* dll, const char* function) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(SystemProcAddress(dll, function)));
}

// A function of kernel32 that older Windows lack; null there.
template <typename Function>
Function Kernel32Function(const char* function) {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel, function)))
                             : nullptr;
}

// A security descriptor made from its SDDL form, for the calls that take SECURITY_ATTRIBUTES.
class CSecurityAttributes {
public:
    // sddl null: no attributes (Get() gives null). Valid() is false when it could not be made.
    explicit CSecurityAttributes(const char* sddl);
    ~CSecurityAttributes();
    CSecurityAttributes(const CSecurityAttributes&) = delete;
    CSecurityAttributes& operator=(const CSecurityAttributes&) = delete;

    bool Valid() const { return m_valid; }
    SECURITY_ATTRIBUTES* Get() { return m_attributes.lpSecurityDescriptor != nullptr ? &m_attributes : nullptr; }

private:
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_valid = true;
};

}  // namespace os
