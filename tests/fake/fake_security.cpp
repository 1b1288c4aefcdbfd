#include "fake/fake_security.h"

#include <cstdlib>
#include <cstring>

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
}

CFakeSecurity::~CFakeSecurity() = default;

void CFakeSecurity::MakeStandardUser() {
    std::vector<Group> kept;
    for (const Group& g : groups) {
        if (g.sid != "S-1-5-32-544") kept.push_back(g);
    }
    groups = kept;
}

BOOL CFakeSecurity::OpenProcessToken(DWORD, HANDLE* token) {
    if (m_machine.Fail("OpenProcessToken")) return 0;
    HANDLE handle = m_machine.NewHandle(this);
    m_tokens[reinterpret_cast<std::uintptr_t>(handle)] = true;
    *token = handle;
    return 1;
}

void CFakeSecurity::CloseOwned(HANDLE handle) { m_tokens.erase(reinterpret_cast<std::uintptr_t>(handle)); }

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

}  // namespace fake
