#include "log/setup_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/constants.h"
#include "platform/platform.h"

namespace {

constexpr const char* SETUP_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
constexpr const char* LOG_LEVEL_VALUE = "LogLevel";
constexpr const char* LOG_PATH_VALUE = "LogPath";
constexpr const char* CAPTURE_BEGIN_LINE = "==== SetupApi log begin ====";
constexpr const char* CAPTURE_END_LINE = "===== SetupApi log end =====";

constexpr std::size_t LOG_PATH_BUFFER_SIZE = 520;
constexpr os::DWORD LOG_PATH_VALUE_LIMIT = 260;  // bytes of "LogPath" we accept
constexpr os::DWORD LOG_LEVEL_BEFORE_VISTA = 0xFFFF;
constexpr os::DWORD LOG_LEVEL_FROM_VISTA = 0x5050;
constexpr os::DWORD CAPTURE_LIMIT = 0x200000;  // growth copied only below 2 MiB
constexpr std::size_t DEBUG_TRACE_BUFFER_SIZE = 512;

void EncodeDword(os::DWORD value, os::BYTE out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<os::BYTE>(value >> (8 * i));
}

os::DWORD DecodeDword(const os::BYTE in[4]) {
    return static_cast<os::DWORD>(in[0]) | static_cast<os::DWORD>(in[1]) << 8 | static_cast<os::DWORD>(in[2]) << 16 |
           static_cast<os::DWORD>(in[3]) << 24;
}

// Appends tail when the whole result fits the buffer; leaves the buffer as it was otherwise.
bool Append(char* buffer, std::size_t size, const char* tail) {
    const std::size_t used = std::strlen(buffer);
    const std::size_t extra = std::strlen(tail);
    if (used + extra + 1 > size) return false;
    std::memcpy(buffer + used, tail, extra + 1);
    return true;
}

// The Windows folder followed by tail; the buffer stays empty when the folder is unknown.
void WindowsFolderPath(char* buffer, const char* tail) {
    const os::DWORD length = os::Kernel().GetWindowsDirectoryA(buffer, os::MAX_PATH);
    if (length == 0 || length >= os::MAX_PATH || !Append(buffer, LOG_PATH_BUFFER_SIZE, tail)) {
        std::memset(buffer, 0, LOG_PATH_BUFFER_SIZE);
    }
}

// One committed block, released on every path.
class CVirtualBlock {
public:
    explicit CVirtualBlock(std::size_t size) : m_block(os::Kernel().VirtualAlloc(size)) {}
    ~CVirtualBlock() {
        if (m_block != nullptr) os::Kernel().VirtualFree(m_block);
    }
    CVirtualBlock(const CVirtualBlock&) = delete;
    CVirtualBlock& operator=(const CVirtualBlock&) = delete;
    void* Get() const { return m_block; }

private:
    void* m_block;
};

}  // namespace

CSetupLogApi::CSetupLogApi(os::HANDLE logFile)
    : m_hLog(logFile),
      m_hSetupApiLog(os::InvalidHandle()),
      m_hSetupKey(nullptr),
      m_captureStarted(0),
      m_levelChanged(0),
      m_startSize(0),
      m_savedLevel(0),
      m_setupApiLogPath(nullptr) {}

CSetupLogApi::~CSetupLogApi() {
    if (m_captureStarted) FinishCapture();
    try {
        if (os::IsValidHandle(m_hLog)) os::Files().FlushFileBuffers(m_hLog);
        if (m_hSetupKey != nullptr) os::Registry().RegCloseKey(m_hSetupKey);
    } catch (...) {
        // Logging never stops the run, not even at its end.
    }
    m_hSetupKey = nullptr;
    delete[] m_setupApiLogPath;
}

void CSetupLogApi::WriteLine(const char* text, const char* argument) {
    if (!os::IsValidHandle(m_hLog) || text == nullptr) return;
    os::IFiles& files = os::Files();
    files.SetFilePointer(m_hLog, 0, os::FILE_END);
    os::DWORD written = 0;
    // A failed write ends the line where it stands; the next line follows directly.
    if (!files.WriteFile(m_hLog, text, static_cast<os::DWORD>(std::strlen(text)), &written)) return;
    if (argument != nullptr &&
        !files.WriteFile(m_hLog, argument, static_cast<os::DWORD>(std::strlen(argument)), &written)) {
        return;
    }
    files.WriteFile(m_hLog, "\r\n", 2, &written);
}

int CSetupLogApi::StartCapture() {
    try {
        return BeginCapture();
    } catch (...) {
        // Whatever was changed before the fault is put back: a failed start leaves the
        // machine as it was.
        try {
            RestoreLevel();
        } catch (...) {
        }
        m_captureStarted = 0;
        return 0;
    }
}

void CSetupLogApi::FinishCapture() {
    try {
        EndCapture();
    } catch (...) {
        // The SetupAPI log handle is closed by its holder; nothing else to undo.
    }
    m_hSetupApiLog = os::InvalidHandle();
}

int CSetupLogApi::BeginCapture() {
    if (m_setupApiLogPath != nullptr) return m_captureStarted;  // only one capture per writer

    os::OsVersion version;
    if (!os::Kernel().GetVersionExA(&version)) version = os::OsVersion();

    m_setupApiLogPath = new (std::nothrow) char[LOG_PATH_BUFFER_SIZE]();
    if (m_setupApiLogPath == nullptr) return 0;

    os::IRegistry& registry = os::Registry();
    if (registry.RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, SETUP_KEY, os::KEY_ALL_ACCESS, &m_hSetupKey) !=
        static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        m_hSetupKey = nullptr;
        return 0;
    }

    os::DWORD level = LOG_LEVEL_BEFORE_VISTA;
    if (version.major < 6) {
        WindowsFolderPath(m_setupApiLogPath, "\\setupapi.log");
    } else {
        level = LOG_LEVEL_FROM_VISTA;
        os::DWORD type = 0;
        os::DWORD size = 0;
        const os::LONG status = registry.RegQueryValueExA(m_hSetupKey, LOG_PATH_VALUE, &type, nullptr, &size);
        if (status == static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)) {
            WindowsFolderPath(m_setupApiLogPath, "\\inf\\setupapi.dev.log");
        } else if (status == static_cast<os::LONG>(os::ERROR_SUCCESS) && size <= LOG_PATH_VALUE_LIMIT &&
                   (type == os::REG_SZ || type == os::REG_EXPAND_SZ)) {
            // The buffer is twice the accepted value, so the text stays terminated.
            const bool read = registry.RegQueryValueExA(m_hSetupKey, LOG_PATH_VALUE, &type,
                                                        reinterpret_cast<os::BYTE*>(m_setupApiLogPath),
                                                        &size) == static_cast<os::LONG>(os::ERROR_SUCCESS);
            if (!read || size > LOG_PATH_VALUE_LIMIT ||
                !Append(m_setupApiLogPath, LOG_PATH_BUFFER_SIZE, "\\setupapi.dev.log")) {
                std::memset(m_setupApiLogPath, 0, LOG_PATH_BUFFER_SIZE);
            }
        }
        // A value too long or unreadable leaves the path empty: nothing is captured.
    }

    if (m_setupApiLogPath[0] != '\0') {
        os::FindData found;
        os::FindHandle find(os::Files().FindFirstFileA(m_setupApiLogPath, &found));
        if (find.IsValid()) m_startSize = found.sizeLow;
    }

    os::BYTE current[4] = {};
    os::DWORD type = 0;
    os::DWORD size = sizeof current;
    // Only a proper REG_DWORD is replaced: anything else could not be put back as it was.
    if (registry.RegQueryValueExA(m_hSetupKey, LOG_LEVEL_VALUE, &type, current, &size) ==
            static_cast<os::LONG>(os::ERROR_SUCCESS) &&
        type == os::REG_DWORD && size == sizeof current) {
        m_savedLevel = DecodeDword(current);
        os::BYTE raised[4];
        EncodeDword(level, raised);
        if (registry.RegSetValueExA(m_hSetupKey, LOG_LEVEL_VALUE, os::REG_DWORD, raised, sizeof raised) ==
            static_cast<os::LONG>(os::ERROR_SUCCESS)) {
            m_levelChanged = 1;
        }
    }

    m_captureStarted = 1;
    return 1;
}

void CSetupLogApi::RestoreLevel() {
    if (!m_levelChanged || m_hSetupKey == nullptr) return;
    m_levelChanged = 0;
    os::BYTE saved[4];
    EncodeDword(m_savedLevel, saved);
    os::Registry().RegSetValueExA(m_hSetupKey, LOG_LEVEL_VALUE, os::REG_DWORD, saved, sizeof saved);
}

void CSetupLogApi::EndCapture() {
    RestoreLevel();
    if (m_setupApiLogPath == nullptr || m_setupApiLogPath[0] == '\0') return;

    os::IFiles& files = os::Files();
    os::KernelHandle setupApiLog(
        files.CreateFileA(m_setupApiLogPath, os::GENERIC_READ, 0, os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL));
    if (!setupApiLog.IsValid()) return;
    m_hSetupApiLog = setupApiLog.Get();

    const os::DWORD size = files.GetFileSize(m_hSetupApiLog);
    if (size == os::INVALID_FILE_SIZE || size <= m_startSize) return;
    const os::DWORD growth = size - m_startSize;
    if (growth >= CAPTURE_LIMIT) return;
    // The seek takes a signed distance; a start beyond it cannot be reached, and reading
    // from anywhere else would copy the wrong part.
    if (m_startSize > 0x7FFFFFFFu ||
        files.SetFilePointer(m_hSetupApiLog, static_cast<os::LONG>(m_startSize), os::FILE_BEGIN) != m_startSize) {
        return;
    }

    CVirtualBlock block(growth);
    if (block.Get() == nullptr) return;
    os::DWORD read = 0;
    if (!files.ReadFile(m_hSetupApiLog, block.Get(), growth, &read) || read == 0 || read > growth) return;

    WriteLine(CAPTURE_BEGIN_LINE, nullptr);
    if (os::IsValidHandle(m_hLog)) {
        os::DWORD written = 0;
        files.WriteFile(m_hLog, block.Get(), read, &written);
    }
    WriteLine(CAPTURE_END_LINE, nullptr);
}

void DebugTrace(const char* format, ...) {
    if (format == nullptr) return;
    char buffer[DEBUG_TRACE_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) buffer[0] = '\0';
    buffer[sizeof buffer - 1] = '\0';
    os::Kernel().OutputDebugStringA(buffer);
}
