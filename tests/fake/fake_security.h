// The process token of the in-memory machine: its groups and the SIDs they name.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fake/fake_machine.h"

namespace fake {

class CFakeSecurity final : public os::ISecurity, public IHandleOwner {
public:
    explicit CFakeSecurity(CFakeMachine& machine);
    ~CFakeSecurity() override;

    os::BOOL OpenProcessToken(os::DWORD access, os::HANDLE* token) override;
    os::BOOL GetTokenGroups(os::HANDLE token, void* buffer, os::DWORD size, os::DWORD* needed) override;
    os::BOOL AllocateAndInitializeSid(const os::BYTE authority[6], os::BYTE count, const os::DWORD* subAuthorities,
                                      os::PSID* sid) override;
    void FreeSid(os::PSID sid) override;
    os::BOOL EqualSid(os::PSID a, os::PSID b) override;

    void CloseOwned(os::HANDLE handle) override;

    struct Group {
        std::string sid;  // "S-1-5-32-544"
        os::DWORD attributes;
    };
    // The token's groups, in order. By default the user is an elevated administrator.
    std::vector<Group> groups;
    void MakeStandardUser();  // drops the Administrators group
    std::size_t OpenTokenCount() const { return m_tokens.size(); }
    std::size_t LiveSidCount() const { return m_sids.size(); }

private:
    CFakeMachine& m_machine;
    std::map<std::uintptr_t, bool> m_tokens;
    std::map<void*, std::vector<std::uint8_t>> m_sids;  // SIDs from AllocateAndInitializeSid
};

// The binary form of a textual SID ("S-1-5-32-544").
std::vector<std::uint8_t> SidBytes(const std::string& text);

}  // namespace fake
