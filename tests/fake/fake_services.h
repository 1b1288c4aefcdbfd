// The service control manager of the in-memory machine.
#pragma once

#include <cstdint>
#include <map>

#include "fake/fake_machine.h"

namespace fake {

class CFakeServices final : public os::IServices {
public:
    explicit CFakeServices(CFakeMachine& machine);
    ~CFakeServices() override;

    os::SC_HANDLE OpenSCManagerA(os::DWORD access) override;
    os::BOOL CloseServiceHandle(os::SC_HANDLE handle) override;

    // Service manager and service handles not yet closed.
    std::size_t OpenHandleCount() const { return m_handles.size(); }

private:
    enum class Kind { Manager, Service };
    struct Handle {
        Kind kind;
        os::DWORD access;
        std::string service;  // empty for the manager
    };
    CFakeMachine& m_machine;
    std::map<std::uintptr_t, Handle> m_handles;
    std::uintptr_t m_next = 0x7000;
};

}  // namespace fake
