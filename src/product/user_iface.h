// The client of the running product's named pipe, and the installed-version check the
// welcome page runs before it lets the user go on.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// CUserIface::Connect results.
constexpr std::int32_t USER_IFACE_CONNECTED = 0;
constexpr std::int32_t USER_IFACE_NO_PIPE = 32;
constexpr std::int32_t USER_IFACE_E_SESSION = 1;       // the session id could not be obtained
constexpr std::int32_t USER_IFACE_E_REFUSED = 0x30;    // unknown abilities asked, bit 31 set
constexpr std::int32_t USER_IFACE_E_WRITE = 0x1002;    // a write failed or was short
constexpr std::int32_t USER_IFACE_E_READ = 0x1003;     // the server's abilities did not come
constexpr std::int32_t USER_IFACE_E_ABILITIES = 0x1004;  // the server asks for unknown abilities
constexpr std::int32_t USER_IFACE_E_BUSY = 0x1005;     // the pipe stayed busy or would not open

// Wire values.
constexpr std::uint32_t USER_IFACE_CAN_SEND_SESSION = 0x1;
constexpr std::uint32_t USER_IFACE_CAN_SEND_PROCESS = 0x2;
constexpr std::uint32_t USER_IFACE_ABILITIES = USER_IFACE_CAN_SEND_SESSION | USER_IFACE_CAN_SEND_PROCESS;
constexpr std::uint32_t USER_IFACE_REQUEST_VERSION = 0x00003007;

// Time limits. Connect gives up after CONNECT_LIMIT all told; each Read waits at most
// READ_LIMIT for the server's bytes. The welcome page waits for the check, so no wait on
// the other process may be unbounded.
constexpr os::DWORD USER_IFACE_PIPE_WAIT = 1000;
constexpr os::DWORD USER_IFACE_CONNECT_LIMIT = 5000;
constexpr os::DWORD USER_IFACE_RETRY_PAUSE = 100;
constexpr os::DWORD USER_IFACE_READ_LIMIT = 3000;
constexpr os::DWORD USER_IFACE_POLL_PAUSE = 10;

// The longest version text kept from the pipe; the rest of a longer one is read and dropped.
constexpr os::DWORD USER_IFACE_VERSION_TEXT_MAX = 255;
constexpr std::uint32_t USER_IFACE_SKIP_MAX = 1u << 20;  // more is not read at all

class CUserIface {
public:
    CUserIface() = default;
    virtual ~CUserIface() = default;  // the pipe handle closes with its owner
    CUserIface(const CUserIface&) = delete;
    CUserIface& operator=(const CUserIface&) = delete;

    // Opens the pipe and runs the handshake: USER_IFACE_CONNECTED or one of the errors.
    std::int32_t Connect(const char* pipeName);
    // True only when the whole count went out.
    bool Write(const void* data, os::DWORD count);
    // True only when exactly count bytes came in; received (may be null) tells how many did.
    bool Read(void* buffer, os::DWORD count, os::DWORD* received = nullptr);
    // Reads count bytes and drops them, waiting at most the read limit all told.
    bool Skip(std::uint32_t count);

private:
    bool WriteValue(std::uint32_t value);
    bool ReadValue(std::uint32_t* value);

    os::KernelHandle m_hPipe;  // invalid when not connected
};

// The edition's names and its own version.
struct RunningProductQuery {
    const char* presenceEvent;   // "Global\..."
    const char* pipeName;        // "\\.\pipe\..."
    std::uint32_t ownVersion;    // 0x00037000
    const char* ownVersionText;  // "3.7"
};

// 1 when installing must be refused because the running product is newer; message then is
// messageFormat (string 59: its two %s take the own version text and the running product's
// text, cut to 255 bytes) filled in. The message is finished text, to be shown as it is: the
// received text is only ever an argument, never a format. The version value decides: a
// product that stops talking after it still counts with what it sent. 0 otherwise, also
// whenever the product cannot be asked or sends no version value.
int CheckInstalledVersion(const RunningProductQuery& query, const char* messageFormat, std::string* message);
