#include "product/user_iface.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/constants.h"

namespace {

// Backstops for a clock that does not move: the pauses alone add up to the limits.
constexpr unsigned CONNECT_ATTEMPTS_MAX = USER_IFACE_CONNECT_LIMIT / USER_IFACE_RETRY_PAUSE + 1;
constexpr unsigned READ_POLLS_MAX = USER_IFACE_READ_LIMIT / USER_IFACE_POLL_PAUSE;

// Numbers travel as unsigned 32-bit little-endian values.
void Encode(std::uint32_t value, os::BYTE bytes[4]) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<os::BYTE>((value >> (8 * i)) & 0xFF);
}
std::uint32_t Decode(const os::BYTE bytes[4]) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The format's %s take the arguments in turn; %% is a percent sign. The arguments are
// copied as they are: whatever they hold is never read as a format.
std::string FormatVersionMessage(const char* format, const char* ownVersionText, const std::string& received) {
    const std::string arguments[2] = {ownVersionText != nullptr ? ownVersionText : "", received};
    std::size_t next = 0;
    std::string out;
    for (const char* p = format != nullptr ? format : ""; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < 2) out += arguments[next++];
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// The version query after a good handshake. What came before a failing step stays: the
// version value decides, and a text that breaks off is kept as far as it came. A text
// longer than the buffer is cut, and the rest is read and dropped.
void QueryVersion(CUserIface& client, std::uint32_t* version, std::string* text) {
    os::BYTE request[4];
    Encode(USER_IFACE_REQUEST_VERSION, request);
    if (!client.Write(request, 4)) return;
    os::BYTE value[4], length[4];
    if (!client.Read(value, 4)) return;
    *version = Decode(value);
    if (!client.Read(length, 4)) return;
    const std::uint32_t size = Decode(length);
    const os::DWORD kept = std::min<std::uint32_t>(size, USER_IFACE_VERSION_TEXT_MAX);
    char received[USER_IFACE_VERSION_TEXT_MAX + 1] = {};
    os::DWORD got = 0;
    const bool whole = kept == 0 || client.Read(received, kept, &got);
    *text = received;  // stops at a zero byte inside the text
    if (whole && size > kept) client.Skip(size - kept);
}

}  // namespace

bool CUserIface::Write(const void* data, os::DWORD count) {
    if (!m_hPipe.IsValid()) return false;
    os::DWORD written = 0;
    return os::Files().WriteFile(m_hPipe.Get(), data, count, &written) && written == count;
}

// ReadFile on a pipe blocks until the server writes; peeking first keeps the wait bounded
// when the product hangs.
bool CUserIface::Read(void* buffer, os::DWORD count, os::DWORD* received) {
    if (received != nullptr) *received = 0;
    if (!m_hPipe.IsValid()) return false;
    auto* out = static_cast<os::BYTE*>(buffer);
    os::DWORD got = 0;
    const os::DWORD start = os::Kernel().GetTickCount();
    unsigned polls = 0;
    bool complete = true;
    while (got < count) {
        os::DWORD available = 0;
        if (!os::Processes().PeekNamedPipe(m_hPipe.Get(), nullptr, 0, nullptr, &available, nullptr)) {
            complete = false;
            break;
        }
        if (available == 0) {
            if (++polls > READ_POLLS_MAX || os::Kernel().GetTickCount() - start >= USER_IFACE_READ_LIMIT) {
                complete = false;
                break;
            }
            os::Kernel().Sleep(USER_IFACE_POLL_PAUSE);
            continue;
        }
        os::DWORD read = 0;
        if (!os::Files().ReadFile(m_hPipe.Get(), out + got, std::min(available, count - got), &read) || read == 0) {
            complete = false;
            break;
        }
        got += read;
    }
    if (received != nullptr) *received = got;
    return complete;
}

bool CUserIface::Skip(std::uint32_t count) {
    // One limit for the whole rest, however long the server says it is, and a limit on the
    // bytes too, for a server that never stops sending.
    if (count > USER_IFACE_SKIP_MAX) return false;
    const os::DWORD start = os::Kernel().GetTickCount();
    os::BYTE chunk[256];
    while (count > 0) {
        if (os::Kernel().GetTickCount() - start >= USER_IFACE_READ_LIMIT) return false;
        const os::DWORD part = std::min<std::uint32_t>(count, sizeof chunk);
        if (!Read(chunk, part)) return false;
        count -= part;
    }
    return true;
}

bool CUserIface::WriteValue(std::uint32_t value) {
    os::BYTE bytes[4];
    Encode(value, bytes);
    return Write(bytes, 4);
}

bool CUserIface::ReadValue(std::uint32_t* value) {
    os::BYTE bytes[4];
    if (!Read(bytes, 4)) return false;
    *value = Decode(bytes);
    return true;
}

std::int32_t CUserIface::Connect(const char* pipeName) {
    // A busy pipe is tried again, but only for a few seconds all told: the check must not
    // hold up the welcome page for good.
    m_hPipe.Reset();  // a connection of an earlier call goes first
    const os::DWORD start = os::Kernel().GetTickCount();
    for (unsigned attempt = 1;; ++attempt) {
        if (os::Processes().WaitNamedPipeA(pipeName, USER_IFACE_PIPE_WAIT)) {
            // Whoever serves the pipe may learn who we are, never act as us: this program
            // runs elevated.
            m_hPipe.Reset(os::Files().CreateFileA(pipeName, os::GENERIC_READ | os::GENERIC_WRITE, 0, os::OPEN_EXISTING,
                                                  os::SECURITY_SQOS_PRESENT | os::SECURITY_IDENTIFICATION));
            if (m_hPipe.IsValid()) break;
        }
        if (os::Kernel().GetLastError() == os::ERROR_FILE_NOT_FOUND) return USER_IFACE_NO_PIPE;
        if (attempt >= CONNECT_ATTEMPTS_MAX || os::Kernel().GetTickCount() - start >= USER_IFACE_CONNECT_LIMIT) {
            return USER_IFACE_E_BUSY;
        }
        os::Kernel().Sleep(USER_IFACE_RETRY_PAUSE);
    }

    if (!WriteValue(USER_IFACE_ABILITIES)) return USER_IFACE_E_WRITE;
    std::uint32_t asked = 0;
    if (!ReadValue(&asked)) return USER_IFACE_E_READ;
    if (asked & ~USER_IFACE_ABILITIES) return (asked & 0x80000000u) ? USER_IFACE_E_REFUSED : USER_IFACE_E_ABILITIES;
    if (asked & USER_IFACE_CAN_SEND_SESSION) {
        os::DWORD session = 0;
        if (!os::Processes().ProcessIdToSessionId(os::Processes().GetCurrentProcessId(), &session)) {
            return USER_IFACE_E_SESSION;
        }
        if (!WriteValue(session)) return USER_IFACE_E_WRITE;
    }
    if (asked & USER_IFACE_CAN_SEND_PROCESS) {
        if (!WriteValue(os::Processes().GetCurrentProcessId())) return USER_IFACE_E_WRITE;
    }
    return USER_IFACE_CONNECTED;
}

int CheckInstalledVersion(const RunningProductQuery& query, const char* messageFormat, std::string* message) {
    // No answer counts as the own version, which is not newer.
    std::uint32_t reported = query.ownVersion;
    std::string text;

    // The running product holds its presence event; without it there is nobody to ask.
    os::KernelHandle presence(os::Processes().OpenEventA(os::SYNCHRONIZE, 0, query.presenceEvent));
    if (!presence.IsValid()) return 0;

    std::unique_ptr<CUserIface> client(new (std::nothrow) CUserIface);
    if (!client) return 0;
    if (client->Connect(query.pipeName) == USER_IFACE_CONNECTED) QueryVersion(*client, &reported, &text);
    client.reset();

    if (reported > query.ownVersion) {
        if (message != nullptr) *message = FormatVersionMessage(messageFormat, query.ownVersionText, text);
        return 1;
    }
    return 0;
}
