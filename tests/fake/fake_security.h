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
    os::BOOL LookupPrivilegeValueA(const char* system, const char* name, os::Luid* luid) override;
    os::BOOL AdjustTokenPrivileges(os::HANDLE token, os::BOOL disableAll, const os::TokenPrivileges* newState,
                                   os::DWORD bufferLength, os::TokenPrivileges* previous,
                                   os::DWORD* returnLength) override;
    os::BOOL GetSecurityText(os::HANDLE object, std::string* sddl) override;
    os::BOOL GetTokenUserText(os::HANDLE token, std::string* sid) override;

    void CloseOwned(os::HANDLE handle) override;

    struct Group {
        std::string sid;  // "S-1-5-32-544"
        os::DWORD attributes;
    };
    // The token's groups, in order. By default the user is an elevated administrator.
    std::vector<Group> groups;
    std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";  // the token's own account
    void MakeStandardUser();  // drops the Administrators group
    std::size_t OpenTokenCount() const { return m_tokens.size(); }
    std::size_t LiveSidCount() const { return m_sids.size(); }

    // The privileges the token holds, by name, each enabled or not. By default those of an
    // elevated administrator as a program starts: SeShutdownPrivilege held but disabled.
    std::map<std::string, bool> privileges;
    bool PrivilegeEnabled(const std::string& name) const;
    // Every change AdjustTokenPrivileges made, in order.
    struct PrivilegeChange {
        std::string name;
        bool enabled;
    };
    std::vector<PrivilegeChange> privilegeChanges;

private:
    CFakeMachine& m_machine;
    std::map<std::uintptr_t, bool> m_tokens;
    std::map<std::uintptr_t, os::DWORD> m_tokenAccess;  // the access each token handle was opened with
    std::map<void*, std::vector<std::uint8_t>> m_sids;  // SIDs from AllocateAndInitializeSid
};

// The binary form of a textual SID ("S-1-5-32-544").
std::vector<std::uint8_t> SidBytes(const std::string& text);

}  // namespace fake
