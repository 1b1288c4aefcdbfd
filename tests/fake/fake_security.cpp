#include "fake/fake_security.h"

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/constants.h"

namespace fake {

using namespace os;

std::vector<std::uint8_t> SidBytes(const std::string& text) {
    // S-<revision>-<authority>-<sub>...
    std::vector<std::uint64_t> parts;
    const char* p = text.c_str() + 2;
    while (*p != '\0') {
        char* end = nullptr;
        parts.push_back(std::strtoull(p, &end, 10));
        p = *end == '-' ? end + 1 : end;
        if (end == p && *p != '\0') break;
    }
    std::vector<std::uint8_t> sid;
    if (parts.size() < 2) return sid;
    sid.push_back(static_cast<std::uint8_t>(parts[0]));
    sid.push_back(static_cast<std::uint8_t>(parts.size() - 2));
    for (int i = 5; i >= 0; --i) sid.push_back(static_cast<std::uint8_t>(parts[1] >> (8 * i)));
    for (std::size_t i = 2; i < parts.size(); ++i) {
        for (int b = 0; b < 4; ++b) sid.push_back(static_cast<std::uint8_t>(parts[i] >> (8 * b)));
    }
    return sid;
}

namespace {
std::size_t SidLength(const void* sid) {
    return 8 + 4 * static_cast<std::size_t>(static_cast<const std::uint8_t*>(sid)[1]);
}
}  // namespace

CFakeSecurity::CFakeSecurity(CFakeMachine& machine) : m_machine(machine) {
    // A new Wine prefix: the user, Everyone, Administrators (elevated), Users.
    groups = {{"S-1-1-0", SE_GROUP_ENABLED},
              {"S-1-5-32-544", SE_GROUP_ENABLED},
              {"S-1-5-32-545", SE_GROUP_ENABLED},
              {"S-1-5-11", SE_GROUP_ENABLED}};
    privileges = {{"SeShutdownPrivilege", false},     {"SeChangeNotifyPrivilege", true},
                  {"SeUndockPrivilege", false},       {"SeIncreaseWorkingSetPrivilege", false},
                  {"SeTimeZonePrivilege", false},     {"SeBackupPrivilege", false},
                  {"SeRestorePrivilege", false},      {"SeLoadDriverPrivilege", false},
                  {"SeSecurityPrivilege", false},     {"SeTakeOwnershipPrivilege", false},
                  {"SeSystemtimePrivilege", false},   {"SeDebugPrivilege", false},
                  {"SeImpersonatePrivilege", true},   {"SeCreateGlobalPrivilege", true}};
}

CFakeSecurity::~CFakeSecurity() = default;

void CFakeSecurity::MakeStandardUser() {
    std::vector<Group> kept;
    for (const Group& g : groups) {
        if (g.sid != "S-1-5-32-544") kept.push_back(g);
    }
    groups = kept;
}

BOOL CFakeSecurity::OpenProcessToken(DWORD access, HANDLE* token) {
    if (m_machine.Fail("OpenProcessToken")) return 0;
    HANDLE handle = m_machine.NewHandle(this);
    m_tokens[reinterpret_cast<std::uintptr_t>(handle)] = true;
    m_tokenAccess[reinterpret_cast<std::uintptr_t>(handle)] = access;
    *token = handle;
    return 1;
}

BOOL CFakeSecurity::GetSecurityText(HANDLE object, std::string* sddl) {
    if (m_machine.Fail("GetSecurityInfo")) return 0;
    if (!m_machine.files.SecurityOfHandle(object, sddl)) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return 1;
}

BOOL CFakeSecurity::GetTokenUserText(HANDLE token, std::string* sid) {
    if (m_machine.Fail("GetTokenInformation")) return 0;
    if (m_tokens.count(reinterpret_cast<std::uintptr_t>(token)) == 0) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    *sid = user;
    return 1;
}

void CFakeSecurity::CloseOwned(HANDLE handle) {
    m_tokens.erase(reinterpret_cast<std::uintptr_t>(handle));
    m_tokenAccess.erase(reinterpret_cast<std::uintptr_t>(handle));
}

BOOL CFakeSecurity::GetTokenGroups(HANDLE token, void* buffer, DWORD size, DWORD* needed) {
    if (m_machine.Fail("GetTokenInformation")) return 0;
    if (m_tokens.count(reinterpret_cast<std::uintptr_t>(token)) == 0) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    // Header and array first, then the SIDs they point to, all inside the caller's buffer.
    const std::size_t header = offsetof(TokenGroups, groups) + sizeof(SidAndAttributes) * groups.size();
    std::size_t total = header;
    std::vector<std::vector<std::uint8_t>> sids;
    for (const Group& g : groups) {
        sids.push_back(SidBytes(g.sid));
        total += sids.back().size();
    }
    if (needed) *needed = static_cast<DWORD>(total);
    if (buffer == nullptr || size < total) {
        m_machine.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    auto* out = static_cast<TokenGroups*>(buffer);
    out->groupCount = static_cast<DWORD>(groups.size());
    auto* cursor = static_cast<std::uint8_t*>(buffer) + header;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        std::memcpy(cursor, sids[i].data(), sids[i].size());
        out->groups[i].sid = cursor;
        out->groups[i].attributes = groups[i].attributes;
        cursor += sids[i].size();
    }
    return 1;
}

BOOL CFakeSecurity::AllocateAndInitializeSid(const BYTE authority[6], BYTE count, const DWORD* subAuthorities,
                                             PSID* sid) {
    if (m_machine.Fail("AllocateAndInitializeSid")) return 0;
    if (count > 8) {
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::vector<std::uint8_t> bytes = {1, count};
    bytes.insert(bytes.end(), authority, authority + 6);
    for (BYTE i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(subAuthorities[i] >> (8 * b)));
    }
    void* address = bytes.data();
    m_sids.emplace(address, std::move(bytes));
    *sid = address;
    return 1;
}

void CFakeSecurity::FreeSid(PSID sid) { m_sids.erase(sid); }

BOOL CFakeSecurity::EqualSid(PSID a, PSID b) {
    if (a == nullptr || b == nullptr) return 0;
    const std::size_t la = SidLength(a), lb = SidLength(b);
    m_machine.lastError = ERROR_SUCCESS;
    return la == lb && std::memcmp(a, b, la) == 0 ? 1 : 0;
}

// ---- privileges ------------------------------------------------------------------

namespace {

constexpr DWORD kNoSuchPrivilege = 1313;  // ERROR_NO_SUCH_PRIVILEGE on Windows

// The local system's privilege values, as Windows numbers them.
struct KnownPrivilege {
    const char* name;
    DWORD value;
};
constexpr KnownPrivilege kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},        {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},         {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},     {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},           {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},        {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},        {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},   {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},           {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},             {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22}, {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},    {"SeUndockPrivilege", 25},
    {"SeManageVolumePrivilege", 28},      {"SeImpersonatePrivilege", 29},
    {"SeCreateGlobalPrivilege", 30},      {"SeIncreaseWorkingSetPrivilege", 33},
    {"SeTimeZonePrivilege", 34},          {"SeCreateSymbolicLinkPrivilege", 35},
};

bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

const KnownPrivilege* PrivilegeByName(const char* name) {
    for (const KnownPrivilege& p : kPrivileges) {
        if (name != nullptr && SameName(p.name, name)) return &p;
    }
    return nullptr;
}

}  // namespace

bool CFakeSecurity::PrivilegeEnabled(const std::string& name) const {
    auto it = privileges.find(name);
    return it != privileges.end() && it->second;
}

BOOL CFakeSecurity::LookupPrivilegeValueA(const char* system, const char* name, Luid* luid) {
    if (m_machine.Fail("LookupPrivilegeValueA")) return 0;
    if (system != nullptr && *system != '\0') {
        m_machine.lastError = 1722;  // RPC_S_SERVER_UNAVAILABLE: the machine has no neighbours
        return 0;
    }
    const KnownPrivilege* known = PrivilegeByName(name);
    if (known == nullptr) {
        m_machine.lastError = kNoSuchPrivilege;
        return 0;
    }
    luid->lowPart = known->value;
    luid->highPart = 0;
    return 1;
}

BOOL CFakeSecurity::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TokenPrivileges* newState,
                                          DWORD bufferLength, TokenPrivileges* previous, DWORD* returnLength) {
    if (m_machine.Fail("AdjustTokenPrivileges")) return 0;
    auto access = m_tokenAccess.find(reinterpret_cast<std::uintptr_t>(token));
    if (access == m_tokenAccess.end()) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    if (!(access->second & TOKEN_ADJUST_PRIVILEGES)) {
        m_machine.lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    if (!disableAll && newState == nullptr) {
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    // The wanted state of each held privilege the call names.
    std::vector<std::pair<std::string, DWORD>> wanted;
    bool notAllAssigned = false;
    if (disableAll) {
        for (const auto& [name, enabled] : privileges) {
            if (enabled) wanted.emplace_back(name, 0);
        }
    } else {
        for (DWORD i = 0; i < newState->privilegeCount; ++i) {
            const LuidAndAttributes& entry = newState->privileges[i];
            const char* name = nullptr;
            for (const KnownPrivilege& p : kPrivileges) {
                if (entry.luid.highPart == 0 && entry.luid.lowPart == p.value) name = p.name;
            }
            if (name == nullptr || privileges.count(name) == 0) {
                notAllAssigned = true;
                continue;
            }
            wanted.emplace_back(name, entry.attributes);
        }
    }
    if (previous != nullptr) {
        const std::size_t needed = offsetof(TokenPrivileges, privileges) + sizeof(LuidAndAttributes) * wanted.size();
        if (returnLength) *returnLength = static_cast<DWORD>(needed);
        if (bufferLength < needed) {
            m_machine.lastError = ERROR_INSUFFICIENT_BUFFER;
            return 0;
        }
        previous->privilegeCount = static_cast<DWORD>(wanted.size());
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            previous->privileges[i].luid = Luid{PrivilegeByName(wanted[i].first.c_str())->value, 0};
            previous->privileges[i].attributes = privileges[wanted[i].first] ? SE_PRIVILEGE_ENABLED : 0;
        }
    }
    for (const auto& [name, attributes] : wanted) {
        if (attributes & SE_PRIVILEGE_REMOVED) {
            privileges.erase(name);
            privilegeChanges.push_back({name, false});
            continue;
        }
        const bool enable = (attributes & SE_PRIVILEGE_ENABLED) != 0;
        privileges[name] = enable;
        privilegeChanges.push_back({name, enable});
    }
    m_machine.lastError = notAllAssigned ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS;
    return 1;
}

}  // namespace fake
