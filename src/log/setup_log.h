// The setup log writer and the SetupAPI log capture.
#pragma once

#include <cstdint>

#include "platform/types.h"

class CSetupLogApi {
public:
    // The handle belongs to the application; the writer never closes it.
    explicit CSetupLogApi(os::HANDLE logFile);
    virtual ~CSetupLogApi();
    CSetupLogApi(const CSetupLogApi&) = delete;
    CSetupLogApi& operator=(const CSetupLogApi&) = delete;

    // Appends text, then argument (may be null), then CR LF. A null text writes nothing.
    void WriteLine(const char* text, const char* argument);

    // Raises the SetupAPI log level for the run and remembers where its log stands.
    // Returns 1 when the capture started.
    int StartCapture();
    // Restores the level and appends what SetupAPI logged during the run.
    void FinishCapture();

private:
    // The capture's steps; the public calls keep any fault inside.
    int BeginCapture();
    void EndCapture();
    void RestoreLevel();

    os::HANDLE m_hLog;
    os::HANDLE m_hSetupApiLog;
    os::HKEY m_hSetupKey;
    std::int32_t m_captureStarted;
    std::int32_t m_levelChanged;
    std::uint32_t m_startSize;
    std::uint32_t m_savedLevel;
    char* m_setupApiLogPath;  // 520-byte buffer while the capture runs
};

// printf-style text to the debugger's output, at most 511 characters. Formatted by
// vsnprintf, which is msvcrt's in the setup programs: the format is checked as it reads it.
#if defined(__MINGW32__) && !defined(__clang__)
__attribute__((format(ms_printf, 1, 2)))
#else
__attribute__((format(printf, 1, 2)))
#endif
void DebugTrace(const char* format, ...);
