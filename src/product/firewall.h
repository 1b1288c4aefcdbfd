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

// text in UTF-16 by way of the ANSI code page; raises (module, noMemoryLocation,
// E_OUTOFMEMORY) or (module, failedLocation, last error).
std::u16string ToUtf16(const char* text, std::uint16_t module, std::uint16_t noMemoryLocation,
                       std::uint16_t failedLocation);

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

    // Takes away what AllowApplication makes: RemoveRules where the rule interface exists,
    // else RemoveAuthorizedApplication. A rule interface that is registered but could not be
    // created raises (905): its rules may be there. Raises CExceptionEx; what is gone before a
    // failure stays gone.
    void RemoveApplication(const std::u16string& path, const std::u16string& ruleName);
    // The program's rules as AddRules names them ("<ruleName>" inbound, "<ruleName> (Out)"
    // outbound), found as it finds them, by program and direction. A rule of the program
    // under another name is the user's and stays. When the rules cannot be listed, rules of
    // those two names go without the program check: the names are the product's own.
    void RemoveRules(const std::u16string& path, const std::u16string& ruleName);
    // The program's entry among the current profile's authorized applications.
    void RemoveAuthorizedApplication(const std::u16string& path);

    // Removals of one rule name at most: a rule that stays after this many is a failure.
    static constexpr unsigned REMOVE_RULE_LIMIT = 16;

private:
    enum class Search { Found, NotFound, Unknown };
    // Whether the collection holds a rule of the program in direction named name (ignoring
    // case); Unknown when the rules, or one that might be it, cannot be read.
    Search FindNamedRule(os::PNETFWRULES rules, const std::u16string& path, os::LONG direction,
                         const std::u16string& name);
    void RemoveDirection(os::PNETFWRULES rules, const std::u16string& path, const std::u16string& name,
                         os::LONG direction, std::uint16_t location);
    // One direction of AddRules; false when no rule object could be created.
    bool AllowDirection(os::PNETFWRULES rules, const std::u16string& path, const std::u16string& name,
                        os::LONG direction, std::uint16_t enableLocation, std::uint16_t actionLocation,
                        std::uint16_t addLocation);
    void LeaveApartment();

    os::HRESULT m_comInit;
    os::NetFwProfilePtr m_pProfile;
    os::NetFwPolicy2Ptr m_pPolicy2;
    os::HRESULT m_policy2Result = 0;  // why m_pPolicy2 is null, when it is
};
