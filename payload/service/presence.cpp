// The service's side of the running-product query. What it reports can be set without a
// rebuild, under HKLM\SYSTEM\CurrentControlSet\Services\<service name>\Parameters:
//   Version      REG_DWORD  the version value (0x00037000 when absent)
//   VersionText  REG_SZ     the version text, at most 1024 bytes ("3.7" when absent or longer)
//   Abilities    REG_DWORD  the handshake answer (when absent: bits 0 and 1 as far as the
//                           client offers them)
// They are read at every handshake and query, so a change shows on the running service.
#include "presence.h"

#include <cstring>

#ifndef TSP_SERVICE_EDITION
#error "TSP_SERVICE_EDITION selects the edition: 0 none, 1 workstation, 2 server"
#endif

namespace {

const ProductChannel CHANNELS[] = {
    {nullptr, nullptr},
    {"Global\\E524B22C-E6D7-4350-9864-55A30C96ED04", "\\\\.\\pipe\\C9833C64-5102-4878-A513-AF5D0BC397EA"},
    {"Global\\CAA0AA68-96DC-4316-A5EE-8B9794506479", "\\\\.\\pipe\\9E977A6D-4B07-4dbb-8E38-F77BBD5696DC"},
};
static_assert(TSP_SERVICE_EDITION >= 0 && TSP_SERVICE_EDITION < sizeof CHANNELS / sizeof CHANNELS[0],
              "unknown edition");

// Handshake abilities: the client can send its session id (bit 0) and its process id (bit 1).
const DWORD ABILITY_SESSION_ID = 1;
const DWORD ABILITY_PROCESS_ID = 2;
const DWORD ABILITIES_KNOWN = ABILITY_SESSION_ID | ABILITY_PROCESS_ID;
const DWORD REQUEST_VERSION = 0x00003007;

const DWORD DEFAULT_VERSION = 0x00037000;
const char* const DEFAULT_VERSION_TEXT = "3.7";
const DWORD VERSION_TEXT_MAX = 1024;

const DWORD PIPE_BUFFER_SIZE = 512;
const DWORD CLIENT_IO_LIMIT_MS = 3000;  // a client silent for longer is dropped
const DWORD CANCEL_LIMIT_MS = 2000;
const DWORD THREAD_END_LIMIT_MS = 5000;
const DWORD REQUESTS_PER_CONNECTION_MAX = 1024;
const DWORD CONNECT_FAILURES_MAX = 100;
const DWORD CONNECT_RETRY_PAUSE_MS = 100;

// Values under the service's key, read at every use, so tests can change what the running
// service reports. A service does not inherit the environment of whoever starts it.
class CParameters {
public:
    explicit CParameters(const char* serviceName) {
        char path[400] = "SYSTEM\\CurrentControlSet\\Services\\";
        const size_t prefix = std::strlen(path);
        const size_t name = strnlen(serviceName, 257);
        const char* const suffix = "\\Parameters";
        if (prefix + name + std::strlen(suffix) + 1 > sizeof path) return;
        std::memcpy(path + prefix, serviceName, name);
        std::memcpy(path + prefix + name, suffix, std::strlen(suffix) + 1);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &m_key) != ERROR_SUCCESS) m_key = nullptr;
    }
    ~CParameters() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    CParameters(const CParameters&) = delete;
    CParameters& operator=(const CParameters&) = delete;

    bool Dword(const char* name, DWORD* value) const {
        if (m_key == nullptr) return false;
        DWORD type = 0;
        DWORD data = 0;
        DWORD size = sizeof data;
        if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof data)
            return false;
        *value = data;
        return true;
    }

    // The text without its terminator; false when absent, not a string, or too long.
    bool Text(const char* name, char (&text)[VERSION_TEXT_MAX + 1], DWORD* length) const {
        if (m_key == nullptr) return false;
        DWORD type = 0;
        DWORD size = VERSION_TEXT_MAX;
        if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
            type != REG_SZ || size > VERSION_TEXT_MAX)
            return false;
        text[size] = '\0';
        *length = static_cast<DWORD>(strnlen(text, size));
        return true;
    }

private:
    HKEY m_key = nullptr;
};

void Encode(DWORD value, BYTE* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace

const ProductChannel& BuiltEditionChannel() { return CHANNELS[TSP_SERVICE_EDITION]; }

DWORD CPipeServer::Start(const char* pipeName, const char* serviceName, HANDLE stopEvent) {
    m_serviceName = serviceName;
    m_stopEvent = stopEvent;
    m_ioEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_ioEvent == nullptr) return GetLastError();
    // One instance, and only ours: a second copy of the service cannot serve the same name.
    m_pipe = CreateNamedPipeA(pipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                              PIPE_BUFFER_SIZE, PIPE_BUFFER_SIZE, 0, nullptr);
    if (m_pipe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Stop();
        return error;
    }
    m_thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (m_thread == nullptr) {
        const DWORD error = GetLastError();
        Stop();
        return error;
    }
    return NO_ERROR;
}

void CPipeServer::Stop() {
    if (m_thread != nullptr) {
        if (WaitForSingleObject(m_thread, THREAD_END_LIMIT_MS) != WAIT_OBJECT_0 && m_pipe != INVALID_HANDLE_VALUE) {
            // Closing the pipe completes whatever the thread still waits for.
            CloseHandle(m_pipe);
            m_pipe = INVALID_HANDLE_VALUE;
            WaitForSingleObject(m_thread, THREAD_END_LIMIT_MS);
        }
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    if (m_pipe != INVALID_HANDLE_VALUE) {
        CloseHandle(m_pipe);
        m_pipe = INVALID_HANDLE_VALUE;
    }
    if (m_ioEvent != nullptr) {
        CloseHandle(m_ioEvent);
        m_ioEvent = nullptr;
    }
}

DWORD WINAPI CPipeServer::ThreadMain(LPVOID self) {
    static_cast<CPipeServer*>(self)->Loop();
    return 0;
}

void CPipeServer::Loop() {
    DWORD failures = 0;
    while (WaitForSingleObject(m_stopEvent, 0) == WAIT_TIMEOUT && !m_ioAbandoned) {
        if (Connect()) {
            failures = 0;
            m_replyUnread = false;
            Serve();
            if (m_replyUnread) Linger();
        } else if (++failures >= CONNECT_FAILURES_MAX ||
                   WaitForSingleObject(m_stopEvent, CONNECT_RETRY_PAUSE_MS) != WAIT_TIMEOUT) {
            return;
        }
        // Also after a failed connect: a client that came and went leaves the instance to reset.
        DisconnectNamedPipe(m_pipe);
    }
}

bool CPipeServer::Connect() {
    std::memset(&m_overlapped, 0, sizeof m_overlapped);
    m_overlapped.hEvent = m_ioEvent;
    ResetEvent(m_ioEvent);
    if (ConnectNamedPipe(m_pipe, &m_overlapped)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) return true;
    if (error != ERROR_IO_PENDING) return false;
    // Idle until a client comes; the stop event ends the wait.
    HANDLE waits[2] = {m_ioEvent, m_stopEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        return GetOverlappedResult(m_pipe, &m_overlapped, &ignored, FALSE) != FALSE;
    }
    CancelIoEx(m_pipe, &m_overlapped);
    if (WaitForSingleObject(m_ioEvent, CANCEL_LIMIT_MS) != WAIT_OBJECT_0) m_ioAbandoned = true;
    return false;
}

// Waits for the operation in m_overlapped: at most CLIENT_IO_LIMIT_MS, and not past a stop.
bool CPipeServer::Finish(DWORD* transferred) {
    HANDLE waits[2] = {m_ioEvent, m_stopEvent};  // a completion wins over a stop that came with it
    if (WaitForMultipleObjects(2, waits, FALSE, CLIENT_IO_LIMIT_MS) == WAIT_OBJECT_0)
        return GetOverlappedResult(m_pipe, &m_overlapped, transferred, FALSE) != FALSE;
    CancelIoEx(m_pipe, &m_overlapped);
    if (WaitForSingleObject(m_ioEvent, CANCEL_LIMIT_MS) != WAIT_OBJECT_0) m_ioAbandoned = true;
    return false;
}

// Moves exactly count bytes; false when the client went away, stayed silent or the service stops.
bool CPipeServer::Transfer(bool write, BYTE* data, DWORD count) {
    DWORD done = 0;
    while (done < count) {
        std::memset(&m_overlapped, 0, sizeof m_overlapped);
        m_overlapped.hEvent = m_ioEvent;
        ResetEvent(m_ioEvent);
        const BOOL started = write ? WriteFile(m_pipe, data + done, count - done, nullptr, &m_overlapped)
                                   : ReadFile(m_pipe, data + done, count - done, nullptr, &m_overlapped);
        if (!started && GetLastError() != ERROR_IO_PENDING) return false;
        DWORD moved = 0;
        if (!Finish(&moved) || moved == 0) return false;
        done += moved;
    }
    m_replyUnread = write;
    return true;
}

// Disconnecting throws away what the client has not read yet; so after a last reply, the
// client is given (bounded) time to read it and close its end first.
void CPipeServer::Linger() {
    BYTE ignored = 0;
    Transfer(false, &ignored, 1);
}

bool CPipeServer::ReadValue(DWORD* value) {
    BYTE bytes[4];
    if (!Transfer(false, bytes, sizeof bytes)) return false;
    *value = static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 | static_cast<DWORD>(bytes[2]) << 16 |
             static_cast<DWORD>(bytes[3]) << 24;
    return true;
}

void CPipeServer::Serve() {
    DWORD offered = 0;
    if (!ReadValue(&offered)) return;
    // The service wants both ids when the client can send them; "Abilities" under the
    // service's key replaces that answer outright (for tests of clients that must refuse it).
    DWORD asked = offered & ABILITIES_KNOWN;
    CParameters(m_serviceName).Dword("Abilities", &asked);
    BYTE answer[4];
    Encode(asked, answer);
    if (!Transfer(true, answer, sizeof answer)) return;
    if ((asked & ~ABILITIES_KNOWN) != 0) return;  // such a client gives up

    // The ids are taken in this order; the stand-in has no use for them.
    DWORD sessionId = 0;
    DWORD processId = 0;
    if ((asked & ABILITY_SESSION_ID) != 0 && !ReadValue(&sessionId)) return;
    if ((asked & ABILITY_PROCESS_ID) != 0 && !ReadValue(&processId)) return;

    for (DWORD served = 0; served < REQUESTS_PER_CONNECTION_MAX; ++served) {
        DWORD request = 0;
        if (!ReadValue(&request) || request != REQUEST_VERSION) return;  // the version query is all it knows

        DWORD version = DEFAULT_VERSION;
        char text[VERSION_TEXT_MAX + 1] = {};
        DWORD length = 0;
        const CParameters parameters(m_serviceName);
        parameters.Dword("Version", &version);
        if (!parameters.Text("VersionText", text, &length)) {
            length = static_cast<DWORD>(std::strlen(DEFAULT_VERSION_TEXT));
            std::memcpy(text, DEFAULT_VERSION_TEXT, length);
        }
        BYTE reply[8 + VERSION_TEXT_MAX];
        Encode(version, reply);
        Encode(length, reply + 4);
        std::memcpy(reply + 8, text, length);
        if (!Transfer(true, reply, 8 + length)) return;
    }
}

DWORD CPresence::Start(const ProductChannel& channel, const char* serviceName, HANDLE stopEvent) {
    if (channel.presenceEvent == nullptr) return NO_ERROR;
    m_presence = CreateEventA(nullptr, TRUE, TRUE, channel.presenceEvent);
    if (m_presence == nullptr) return GetLastError();
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        Stop();
        return ERROR_ALREADY_EXISTS;
    }
    const DWORD served = m_server.Start(channel.pipe, serviceName, stopEvent);
    if (served != NO_ERROR) Stop();
    return served;
}

void CPresence::Stop() {
    m_server.Stop();
    if (m_presence != nullptr) {
        CloseHandle(m_presence);
        m_presence = nullptr;
    }
}
