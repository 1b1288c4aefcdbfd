// The service control manager.
#pragma once

#include "platform/types.h"

namespace os {

class IServices {
public:
    virtual ~IServices() = default;

    // Local machine, active database. Null on failure.
    virtual SC_HANDLE OpenSCManagerA(DWORD access) = 0;
    virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;
};

}  // namespace os
