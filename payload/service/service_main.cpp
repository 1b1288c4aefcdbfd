// The product service's stand-in: an own-process Windows service that runs until it is
// told to stop. It goes by the name the service manager started it under, never by a name
// of its own. Built once per edition: while running, an edition's build announces itself
// with the edition's presence event and answers the version query on the edition's pipe
// (presence.cpp); the build for no edition only runs.
#include <windows.h>

#include <cstring>

#include "presence.h"

namespace {

const DWORD SERVICE_NAME_SIZE = 257;  // 256 characters, the service manager's limit, plus the terminator
const DWORD PENDING_WAIT_HINT = 3000;

// What the service does while it runs: it shows the edition's presence and serves its pipe.
class CServiceWork {
public:
    CServiceWork(const char* serviceName, HANDLE stopEvent) : m_serviceName(serviceName), m_stopEvent(stopEvent) {}

    // Called before the service reports running, so clients find everything once it runs;
    // a non-zero result ends the service with it.
    DWORD Start() { return m_presence.Start(BuiltEditionChannel(), m_serviceName, m_stopEvent); }

    // Called after the stop request (the stop event is set), before the service reports stopped.
    void Stop() { m_presence.Stop(); }

private:
    const char* m_serviceName;
    HANDLE m_stopEvent;
    CPresence m_presence;
};

class CStandInService {
public:
    void Run(DWORD argc, LPSTR* argv);
    DWORD Control(DWORD control);

private:
    void Report(DWORD state, DWORD exitCode);

    char m_name[SERVICE_NAME_SIZE] = {};
    SERVICE_STATUS_HANDLE m_statusHandle = nullptr;
    SERVICE_STATUS m_status = {};
    SRWLOCK m_statusLock = SRWLOCK_INIT;
    HANDLE m_stopEvent = nullptr;
};

CStandInService g_service;

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID context) {
    return static_cast<CStandInService*>(context)->Control(control);
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv) { g_service.Run(argc, argv); }

void CStandInService::Report(DWORD state, DWORD exitCode) {
    AcquireSRWLockExclusive(&m_statusLock);
    m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_status.dwCurrentState = state;
    m_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    m_status.dwWin32ExitCode = exitCode;
    m_status.dwServiceSpecificExitCode = 0;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    m_status.dwCheckPoint = pending ? m_status.dwCheckPoint + 1 : 0;
    m_status.dwWaitHint = pending ? PENDING_WAIT_HINT : 0;
    SetServiceStatus(m_statusHandle, &m_status);
    ReleaseSRWLockExclusive(&m_statusLock);
}

DWORD CStandInService::Control(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING, NO_ERROR);
        SetEvent(m_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void CStandInService::Run(DWORD argc, LPSTR* argv) {
    // The manager passes the name it started the service under as the first argument.
    const char* name = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "";
    const size_t length = strnlen(name, SERVICE_NAME_SIZE - 1);
    std::memcpy(m_name, name, length);
    m_name[length] = '\0';

    // Made before the handler exists, so a stop request can never find it missing. Manual
    // reset: the request stays visible however late the service looks.
    m_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_stopEvent == nullptr) return;  // returning ends the dispatcher, and the manager sees the exit

    m_statusHandle = RegisterServiceCtrlHandlerExA(m_name, ControlHandler, this);
    if (m_statusHandle == nullptr) {
        CloseHandle(m_stopEvent);
        return;
    }
    Report(SERVICE_START_PENDING, NO_ERROR);

    CServiceWork work(m_name, m_stopEvent);
    const DWORD started = work.Start();
    if (started != NO_ERROR) {
        CloseHandle(m_stopEvent);
        Report(SERVICE_STOPPED, started);
        return;
    }
    Report(SERVICE_RUNNING, NO_ERROR);

    // A service runs until its manager stops it; only the control handler sets this event.
    WaitForSingleObject(m_stopEvent, INFINITE);

    work.Stop();
    CloseHandle(m_stopEvent);
    Report(SERVICE_STOPPED, NO_ERROR);
}

void WriteError(const char* text) {
    HANDLE stream = GetStdHandle(STD_ERROR_HANDLE);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(stream, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

}  // namespace

int main() {
    // An own-process service may give any name here; the manager starts the only entry.
    char anyName[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{anyName, ServiceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherA(table)) return 0;

    const DWORD error = GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        WriteError("This program is a Windows service; the service control manager starts it.\r\n");
        return 2;
    }
    WriteError("The service could not connect to the service control manager.\r\n");
    return 3;
}
