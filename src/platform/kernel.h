// Process-wide facilities: the calling thread's last error and the program's own file.
#pragma once

#include "platform/types.h"

namespace os {

class IKernel {
public:
    virtual ~IKernel() = default;

    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD error) = 0;
    // Full path of the running program; returns the length copied (0 on failure).
    virtual DWORD GetModuleFileNameA(char* buffer, DWORD size) = 0;
};

}  // namespace os
