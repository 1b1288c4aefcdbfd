// A pointer of each thread's own in a Windows thread-local slot, taken at its first use.
// The setup programs use these instead of thread_local, which would bring the runtime's
// emulation of thread-local storage (docs/build.md). Objects of this type belong at
// namespace scope, where their zero start needs no code.
#pragma once

#include <windows.h>

#include <cstdlib>

class CThreadSlot {
public:
    void* Get() { return TlsGetValue(Index()); }
    void Set(void* value) {
        if (!TlsSetValue(Index(), value)) std::abort();
    }

private:
    DWORD Index() {
        // Stored plus one, so that zero means "not taken yet".
        LONG stored = m_stored;
        if (stored == 0) {
            const DWORD index = TlsAlloc();
            if (index == TLS_OUT_OF_INDEXES) std::abort();
            // Two threads at their first use at once: one slot wins, the other is given back.
            stored = InterlockedCompareExchange(&m_stored, static_cast<LONG>(index + 1), 0);
            if (stored == 0) {
                stored = static_cast<LONG>(index + 1);
            } else {
                TlsFree(index);
            }
        }
        return static_cast<DWORD>(stored - 1);
    }

    volatile LONG m_stored;
};
