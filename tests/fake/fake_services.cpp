#include "fake/fake_services.h"

#include "platform/constants.h"

namespace fake {

using namespace os;

CFakeServices::CFakeServices(CFakeMachine& machine) : m_machine(machine) {}

CFakeServices::~CFakeServices() = default;

SC_HANDLE CFakeServices::OpenSCManagerA(DWORD access) {
    if (m_machine.Fail("OpenSCManagerA")) return nullptr;
    const std::uintptr_t handle = m_next;
    m_next += 4;
    m_handles[handle] = Handle{Kind::Manager, access, ""};
    return reinterpret_cast<SC_HANDLE>(handle);
}

BOOL CFakeServices::CloseServiceHandle(SC_HANDLE handle) {
    if (m_handles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return 1;
}

}  // namespace fake
