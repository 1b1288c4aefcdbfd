// What the product's service shows the world while it runs: the edition's presence event
// and the named pipe on which it answers the handshake and the version query.
#ifndef TSP_PAYLOAD_PRESENCE_H
#define TSP_PAYLOAD_PRESENCE_H

#include <windows.h>

// The edition's named objects; both null for a service that announces nothing.
struct ProductChannel {
    const char* presenceEvent;
    const char* pipe;
};

// The channel of the edition this program was built for.
const ProductChannel& BuiltEditionChannel();

// The pipe's server side. One instance, served by one thread, one client at a time; every
// exchange with a client is bounded in time, and the service's stop event ends all waits.
class CPipeServer {
public:
    CPipeServer() = default;
    CPipeServer(const CPipeServer&) = delete;
    CPipeServer& operator=(const CPipeServer&) = delete;
    ~CPipeServer() { Stop(); }

    // Creates the pipe and starts serving it; NO_ERROR or the reason it could not.
    DWORD Start(const char* pipeName, const char* serviceName, HANDLE stopEvent);
    // Waits (bounded) for the serving thread after the stop event was set, and closes all.
    void Stop();

    static DWORD WINAPI ThreadMain(LPVOID self);

private:
    void Loop();
    bool Connect();
    void Serve();
    bool Transfer(bool write, BYTE* data, DWORD count);
    bool Finish(DWORD* transferred);
    bool ReadValue(DWORD* value);
    void Linger();

    const char* m_serviceName = "";
    HANDLE m_stopEvent = nullptr;  // owned by the service
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    HANDLE m_ioEvent = nullptr;
    HANDLE m_thread = nullptr;
    OVERLAPPED m_overlapped = {};
    bool m_ioAbandoned = false;  // an operation that would not cancel still owns m_overlapped
    bool m_replyUnread = false;  // the last transfer wrote: the client may not have read it yet
};

// The presence event and the pipe, made together and removed together.
class CPresence {
public:
    // NO_ERROR, or the reason the service must not run (ERROR_ALREADY_EXISTS when another
    // copy of the edition's service already announces itself).
    DWORD Start(const ProductChannel& channel, const char* serviceName, HANDLE stopEvent);
    void Stop();

private:
    HANDLE m_presence = nullptr;
    CPipeServer m_server;
};

#endif
