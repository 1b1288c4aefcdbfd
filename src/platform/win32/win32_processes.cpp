#include <windows.h>
#include <shellapi.h>

#include "platform/win32/system_library.h"
#include "platform/win32/win32_areas.h"

namespace os {

BOOL Win32Processes::CreateProcessA(const char* applicationName, char* commandLine, BOOL inheritHandles,
                                    DWORD creationFlags, const char* currentDirectory,
                                    ProcessInformation* information) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created;
    ZeroMemory(&created, sizeof created);
    const BOOL ok = ::CreateProcessA(applicationName, commandLine, nullptr, nullptr, inheritHandles, creationFlags,
                                     nullptr, currentDirectory, &startup, &created);
    if (ok && information != nullptr) {
        information->process = created.hProcess;
        information->thread = created.hThread;
        information->processId = created.dwProcessId;
        information->threadId = created.dwThreadId;
    }
    return ok;
}

BOOL Win32Processes::TerminateProcess(HANDLE process, UINT exitCode) { return ::TerminateProcess(process, exitCode); }

BOOL Win32Processes::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    ::DWORD code = 0;
    const BOOL ok = ::GetExitCodeProcess(process, &code);
    if (exitCode) *exitCode = code;
    return ok;
}

DWORD Win32Processes::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

BOOL Win32Processes::ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    ::DWORD session = 0;
    const BOOL ok = ::ProcessIdToSessionId(processId, &session);
    if (sessionId) *sessionId = session;
    return ok;
}

DWORD Win32Processes::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}

HANDLE Win32Processes::CreateEventA(BOOL manualReset, BOOL initialState, const char* name, const char* security) {
    CSecurityAttributes attributes(security);
    return attributes.Valid() ? ::CreateEventA(attributes.Get(), manualReset, initialState, name) : nullptr;
}

HANDLE Win32Processes::OpenEventA(DWORD access, BOOL inheritHandle, const char* name) {
    return ::OpenEventA(access, inheritHandle, name);
}

BOOL Win32Processes::SetEvent(HANDLE event) { return ::SetEvent(event); }

BOOL Win32Processes::ResetEvent(HANDLE event) { return ::ResetEvent(event); }

BOOL Win32Processes::WaitNamedPipeA(const char* name, DWORD timeout) { return ::WaitNamedPipeA(name, timeout); }

BOOL Win32Processes::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* totalAvailable,
                                   DWORD* leftThisMessage) {
    ::DWORD got = 0, total = 0, left = 0;
    const BOOL ok = ::PeekNamedPipe(pipe, buffer, size, &got, &total, &left);
    if (read) *read = got;
    if (totalAvailable) *totalAvailable = total;
    if (leftThisMessage) *leftThisMessage = left;
    return ok;
}

std::intptr_t Win32Processes::ShellExecuteA(HWND owner, const char* operation, const char* file,
                                            const char* parameters, const char* directory, int showCommand) {
    return reinterpret_cast<std::intptr_t>(
        ::ShellExecuteA(static_cast<::HWND>(owner), operation, file, parameters, directory, showCommand));
}

}  // namespace os
