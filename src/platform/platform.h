// The seam between the portable installer code and the operating system.
//
// Each area is a small interface shaped like the Windows calls it stands for. The
// program installs the Win32 implementation at start; tests install the in-memory
// machine. Calls report failure the Windows way: a failing result, then the reason
// from Kernel().GetLastError().
#pragma once

#include "platform/files.h"
#include "platform/kernel.h"

namespace os {

struct Platform {
    IKernel* kernel = nullptr;
    IFiles* files = nullptr;
};

// The machine the portable code talks to. Set once, before any portable code runs.
const Platform& Current();
void Install(const Platform& platform);

inline IKernel& Kernel() { return *Current().kernel; }
inline IFiles& Files() { return *Current().files; }

// Owns a file handle from IFiles and closes it on every path.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE h) : m_h(h) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : m_h(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~FileHandle() { Reset(); }

    HANDLE Get() const { return m_h; }
    bool IsValid() const { return IsValidHandle(m_h); }
    HANDLE Release() {
        HANDLE h = m_h;
        m_h = InvalidHandle();
        return h;
    }
    void Reset(HANDLE h = InvalidHandle()) {
        if (IsValidHandle(m_h)) Files().CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h = InvalidHandle();
};

}  // namespace os
