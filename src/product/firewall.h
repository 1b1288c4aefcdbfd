// Lets a program through Windows Firewall: an inbound and an outbound allow rule where
// the rule interface exists (Vista and later), else an enabled authorized application of
// the current profile.
#pragma once

#include <cstdint>
#include <string>

#include "engine/exception.h"
#include "platform/platform.h"

// The firewall's module number: the upper half of its errors' "arg0".
constexpr std::uint16_t FIREWALL_MODULE = 26;

class CFirewall {
public:
    // Enters a single-threaded apartment for the object's life and opens both interfaces.
    // Raises CExceptionEx; on failure nothing stays open and the apartment is left again.
    CFirewall();
    virtual ~CFirewall();
    CFirewall(const CFirewall&) = delete;
    CFirewall& operator=(const CFirewall&) = delete;

    // AddRules where the rule interface exists, else AddAuthorizedApplication. Raises
    // CExceptionEx; what was made before a failure stays.
    void AllowApplication(const std::u16string& path, const std::u16string& ruleName);
    // An enabled allow rule for each direction: an existing rule for the program is
    // re-enabled and set to allow, a missing one is added ("<ruleName>" inbound,
    // "<ruleName> (Out)" outbound, TCP, all profiles).
    void AddRules(const std::u16string& path, const std::u16string& ruleName);
    // The program as an enabled authorized application of the current profile.
    void AddAuthorizedApplication(const std::u16string& path, const std::u16string& ruleName);
    // The first rule of the collection whose application name is exactly path (case
    // included) and whose direction is direction; empty when there is none or the search
    // cannot go on. Never raises.
    os::NetFwRulePtr FindRule(os::PNETFWRULES rules, const std::u16string& path, os::LONG direction);

    // Rules looked at by one search at most: the enumerator belongs to another process.
    static constexpr unsigned FIND_RULE_LIMIT = 100000;

private:
    // One direction of AddRules; false when no rule object could be created.
    bool AllowDirection(os::PNETFWRULES rules, const std::u16string& path, const std::u16string& name,
                        os::LONG direction, std::uint16_t enableLocation, std::uint16_t actionLocation,
                        std::uint16_t addLocation);
    void LeaveApartment();

    os::HRESULT m_comInit;
    os::NetFwProfilePtr m_pProfile;
    os::NetFwPolicy2Ptr m_pPolicy2;
};
