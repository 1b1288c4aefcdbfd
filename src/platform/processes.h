// Processes, events and named pipes, and the shell's "open" of files and addresses.
//
// Every handle given out here is closed with IKernel::CloseHandle. A named pipe is opened
// with IFiles::CreateFileA on its name ("\\.\pipe\...") and read and written with
// IFiles::ReadFile and IFiles::WriteFile on that handle.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace os {

using HWND = void*;

// PROCESS_INFORMATION.
struct ProcessInformation {
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    DWORD processId = 0;
    DWORD threadId = 0;
};

class IProcesses {
public:
    virtual ~IProcesses() = default;

    // Default security for process and thread, the caller's environment, a start-up
    // record with only its size filled in. commandLine must be writable (Windows may
    // change it in place). currentDirectory null: the caller's.
    virtual BOOL CreateProcessA(const char* applicationName, char* commandLine, BOOL inheritHandles,
                                DWORD creationFlags, const char* currentDirectory, ProcessInformation* information) = 0;
    virtual BOOL TerminateProcess(HANDLE process, UINT exitCode) = 0;
    // STILL_ACTIVE while the process runs.
    virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;
    virtual DWORD GetCurrentProcessId() = 0;
    virtual BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) = 0;

    // WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED; milliseconds may be INFINITE.
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;

    // security: the event's security descriptor in SDDL form, or null for the default. name
    // null for an unnamed event ("Global\" names the machine-wide namespace). An existing
    // event of that name is opened instead (its own security stays), with the last error
    // ERROR_ALREADY_EXISTS. Null on failure.
    virtual HANDLE CreateEventA(BOOL manualReset, BOOL initialState, const char* name, const char* security) = 0;
    // Null on failure (ERROR_FILE_NOT_FOUND when there is no such event).
    virtual HANDLE OpenEventA(DWORD access, BOOL inheritHandle, const char* name) = 0;
    virtual BOOL SetEvent(HANDLE event) = 0;
    virtual BOOL ResetEvent(HANDLE event) = 0;

    // Waits until an instance of the pipe can be opened: ERROR_FILE_NOT_FOUND when there is
    // no such pipe, ERROR_SEM_TIMEOUT when every instance stayed busy.
    virtual BOOL WaitNamedPipeA(const char* name, DWORD timeout) = 0;
    // Copies up to size bytes without taking them (buffer may be null); totalAvailable is
    // what a ReadFile would get at once. Any of the out pointers may be null.
    virtual BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* totalAvailable,
                               DWORD* leftThisMessage) = 0;

    // Greater than 32 on success, else an SE_ERR_* value (or 0).
    virtual std::intptr_t ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                                        const char* directory, int showCommand) = 0;
};

}  // namespace os
