#include "product/firewall.h"

#include <new>
#include <stdexcept>

#include "platform/constants.h"

namespace {

// Where the firewall fails (module 26). The constructor: entering the apartment, the
// manager, its local policy, the current profile.
constexpr std::uint16_t LOCATION_APARTMENT = 39;
constexpr std::uint16_t LOCATION_MANAGER = 55;
constexpr std::uint16_t LOCATION_LOCAL_POLICY = 64;
constexpr std::uint16_t LOCATION_CURRENT_PROFILE = 73;
// AddRules: the rule collection, the copies of the path, the outbound name and the name;
// then for each direction a found rule's enabling and action, or the new rule's adding.
constexpr std::uint16_t LOCATION_RULES = 421;
constexpr std::uint16_t LOCATION_RULE_PATH = 430;
constexpr std::uint16_t LOCATION_RULE_OUT_NAME = 438;
constexpr std::uint16_t LOCATION_RULE_NAME = 449;
constexpr std::uint16_t LOCATION_IN_ENABLE = 471;
constexpr std::uint16_t LOCATION_IN_ACTION = 479;
constexpr std::uint16_t LOCATION_IN_ADD = 515;
constexpr std::uint16_t LOCATION_OUT_ENABLE = 530;
constexpr std::uint16_t LOCATION_OUT_ACTION = 538;
constexpr std::uint16_t LOCATION_OUT_ADD = 574;
// AddAuthorizedApplication: the list, the path's copy, a listed entry's enabling, the new
// entry, its program, the name's copy, its name, its adding.
constexpr std::uint16_t LOCATION_APPLICATIONS = 723;
constexpr std::uint16_t LOCATION_APPLICATION_PATH = 732;
constexpr std::uint16_t LOCATION_APPLICATION_ENABLE = 745;
constexpr std::uint16_t LOCATION_APPLICATION_CREATE = 763;
constexpr std::uint16_t LOCATION_APPLICATION_IMAGE = 772;
constexpr std::uint16_t LOCATION_APPLICATION_NAME_COPY = 781;
constexpr std::uint16_t LOCATION_APPLICATION_NAME = 790;
constexpr std::uint16_t LOCATION_APPLICATION_ADD = 799;
// The removal: a rule interface that is registered but was not made, the rule collection,
// the outbound name, each direction's removal, the applications list, the entry's removal.
constexpr std::uint16_t LOCATION_REMOVE_POLICY = 905;
constexpr std::uint16_t LOCATION_REMOVE_RULES = 910;
constexpr std::uint16_t LOCATION_REMOVE_OUT_NAME = 915;
constexpr std::uint16_t LOCATION_REMOVE_IN = 921;
constexpr std::uint16_t LOCATION_REMOVE_OUT = 932;
constexpr std::uint16_t LOCATION_REMOVE_APPLICATIONS = 941;
constexpr std::uint16_t LOCATION_REMOVE_APPLICATION = 952;

[[noreturn]] void ThrowFirewallError(std::uint16_t location, os::HRESULT code) {
    ThrowException(FIREWALL_MODULE, location, static_cast<std::uint32_t>(code));
}

// A copy of text for the interface; an allocation failure is the location's error.
std::u16string CopyText(const std::u16string& text, std::uint16_t location) {
    try {
        return text;
    } catch (const std::bad_alloc&) {
        ThrowException(FIREWALL_MODULE, location, EXCEPTION_CODE_NO_MEMORY);
    }
}

}  // namespace

std::u16string ToUtf16(const char* text, std::uint16_t module, std::uint16_t noMemoryLocation,
                       std::uint16_t failedLocation) {
    os::IFirewall& firewall = os::Firewall();
    const int needed = firewall.MultiByteToWideChar(os::CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0) ThrowException(module, failedLocation);
    std::u16string wide;
    try {
        wide.resize(static_cast<std::size_t>(needed));
    } catch (const std::bad_alloc&) {
        ThrowException(module, noMemoryLocation, EXCEPTION_CODE_NO_MEMORY);
    } catch (const std::length_error&) {
        ThrowException(module, noMemoryLocation, EXCEPTION_CODE_NO_MEMORY);
    }
    const int written = firewall.MultiByteToWideChar(os::CP_ACP, 0, text, -1, &wide[0], needed);
    if (written <= 0 || written > needed) ThrowException(module, failedLocation);
    wide.resize(static_cast<std::size_t>(written));
    if (!wide.empty() && wide.back() == u'\0') wide.pop_back();
    return wide;
}

CFirewall::CFirewall()
    : m_comInit(os::Firewall().CoInitializeEx(os::COINIT_APARTMENTTHREADED | os::COINIT_DISABLE_OLE1DDE)) {
    // A thread already in another apartment kind can still use the objects; only our own
    // successful initialisation is balanced later.
    if (os::Failed(m_comInit) && m_comInit != os::RPC_E_CHANGED_MODE) ThrowFirewallError(LOCATION_APARTMENT, m_comInit);
    os::IFirewall& firewall = os::Firewall();
    try {
        os::NetFwMgrPtr manager;
        os::HRESULT hr = firewall.CreateNetFwMgr(manager.Receive());
        if (os::Failed(hr)) ThrowFirewallError(LOCATION_MANAGER, hr);
        os::NetFwPolicyPtr policy;
        hr = firewall.GetLocalPolicy(manager.Get(), policy.Receive());
        if (os::Failed(hr)) ThrowFirewallError(LOCATION_LOCAL_POLICY, hr);
        hr = firewall.GetCurrentProfile(policy.Get(), m_pProfile.Receive());
        if (os::Failed(hr)) ThrowFirewallError(LOCATION_CURRENT_PROFILE, hr);
    } catch (CExceptionEx*) {
        // The destructor does not run for a constructor that throws.
        m_pProfile.Reset();
        LeaveApartment();
        throw;
    }
    os::PNETFWPOLICY2 policy2 = nullptr;
    m_policy2Result = firewall.CreateNetFwPolicy2(&policy2);
    if (os::Succeeded(m_policy2Result)) m_pPolicy2.Reset(policy2);
}

CFirewall::~CFirewall() {
    m_pPolicy2.Reset();
    m_pProfile.Reset();
    LeaveApartment();
}

void CFirewall::LeaveApartment() {
    if (os::Succeeded(m_comInit)) os::Shell().CoUninitialize();
}

void CFirewall::AllowApplication(const std::u16string& path, const std::u16string& ruleName) {
    if (m_pPolicy2.IsValid()) {
        AddRules(path, ruleName);
    } else {
        AddAuthorizedApplication(path, ruleName);
    }
}

void CFirewall::AddRules(const std::u16string& path, const std::u16string& ruleName) {
    os::NetFwRulesPtr rules;
    const os::HRESULT hr = os::Firewall().GetRules(m_pPolicy2.Get(), rules.Receive());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_RULES, hr);

    const std::u16string application = CopyText(path, LOCATION_RULE_PATH);
    std::u16string outName;
    try {
        outName = ruleName + u" (Out)";
    } catch (const std::bad_alloc&) {
        ThrowException(FIREWALL_MODULE, LOCATION_RULE_OUT_NAME, EXCEPTION_CODE_NO_MEMORY);
    }
    const std::u16string inName = CopyText(ruleName, LOCATION_RULE_NAME);

    if (!AllowDirection(rules.Get(), application, inName, os::NET_FW_RULE_DIR_IN, LOCATION_IN_ENABLE,
                        LOCATION_IN_ACTION, LOCATION_IN_ADD)) return;
    AllowDirection(rules.Get(), application, outName, os::NET_FW_RULE_DIR_OUT, LOCATION_OUT_ENABLE, LOCATION_OUT_ACTION,
                   LOCATION_OUT_ADD);
}

bool CFirewall::AllowDirection(os::PNETFWRULES rules, const std::u16string& path, const std::u16string& name,
                               os::LONG direction, std::uint16_t enableLocation, std::uint16_t actionLocation,
                               std::uint16_t addLocation) {
    os::IFirewall& firewall = os::Firewall();
    os::NetFwRulePtr rule = FindRule(rules, path, direction);
    if (rule.IsValid()) {
        // The rule stays as the user may have tuned it; it only has to let the program through.
        os::HRESULT hr = firewall.SetRuleEnabled(rule.Get(), os::VARIANT_TRUE);
        if (os::Failed(hr)) ThrowFirewallError(enableLocation, hr);
        hr = firewall.SetRuleAction(rule.Get(), os::NET_FW_ACTION_ALLOW);
        if (os::Failed(hr)) ThrowFirewallError(actionLocation, hr);
        return true;
    }

    // Without a rule object (no rule interface after all) there is nothing more to do here.
    if (os::Failed(firewall.CreateNetFwRule(rule.Receive())) || !rule.IsValid()) return false;
    const os::HRESULT settings[] = {
        firewall.SetRuleName(rule.Get(), name.c_str()),
        firewall.SetRuleDescription(rule.Get(), name.c_str()),
        firewall.SetRuleApplicationName(rule.Get(), path.c_str()),
        firewall.SetRuleProtocol(rule.Get(), os::NET_FW_IP_PROTOCOL_TCP),
        firewall.SetRuleDirection(rule.Get(), direction),
        firewall.SetRuleProfiles(rule.Get(), os::NET_FW_PROFILE2_ALL),
        firewall.SetRuleAction(rule.Get(), os::NET_FW_ACTION_ALLOW),
        firewall.SetRuleEnabled(rule.Get(), os::VARIANT_TRUE),
    };
    // A rule that missed a setting (say its program) would allow more than this program or
    // not work at all: it is not added, and the failure is reported where the add would be.
    for (const os::HRESULT hr : settings) {
        if (os::Failed(hr)) ThrowFirewallError(addLocation, hr);
    }
    if (os::Failed(firewall.RulesAdd(rules, rule.Get()))) {
        ThrowException(FIREWALL_MODULE, addLocation, EXCEPTION_CODE_NO_MEMORY);
    }
    return true;
}

os::NetFwRulePtr CFirewall::FindRule(os::PNETFWRULES rules, const std::u16string& path, os::LONG direction) {
    os::IFirewall& firewall = os::Firewall();
    try {
        os::UnknownPtr enumerator;
        if (os::Failed(firewall.GetRulesNewEnum(rules, enumerator.Receive())) || !enumerator.IsValid()) return {};
        os::EnumVariantPtr items;
        if (os::Failed(firewall.QueryEnumVariant(enumerator.Get(), items.Receive())) || !items.IsValid()) return {};
        std::u16string application;
        for (unsigned seen = 0; seen < FIND_RULE_LIMIT; ++seen) {
            os::DispatchPtr item;
            if (firewall.EnumNextDispatch(items.Get(), item.Receive()) != os::S_OK || !item.IsValid()) return {};
            os::NetFwRulePtr rule;
            if (os::Failed(firewall.QueryNetFwRule(item.Get(), rule.Receive())) || !rule.IsValid()) return {};
            // A rule whose program cannot be read is not taken for ours.
            os::LONG ruleDirection = 0;
            if (os::Succeeded(firewall.GetRuleApplicationName(rule.Get(), &application)) && !application.empty() &&
                application == path && os::Succeeded(firewall.GetRuleDirection(rule.Get(), &ruleDirection)) &&
                ruleDirection == direction) {
                return rule;
            }
        }
    } catch (const std::bad_alloc&) {
        // Not found: the caller adds a rule of its own.
    }
    return {};
}

void CFirewall::AddAuthorizedApplication(const std::u16string& path, const std::u16string& ruleName) {
    os::IFirewall& firewall = os::Firewall();
    os::NetFwAuthAppsPtr applications;
    os::HRESULT hr = firewall.GetAuthorizedApplications(m_pProfile.Get(), applications.Receive());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_APPLICATIONS, hr);
    const std::u16string image = CopyText(path, LOCATION_APPLICATION_PATH);

    os::NetFwAuthAppPtr application;
    if (os::Succeeded(firewall.AuthorizedApplicationsItem(applications.Get(), image.c_str(), application.Receive())) &&
        application.IsValid()) {
        if (os::Failed(firewall.SetAuthorizedApplicationEnabled(application.Get(), os::VARIANT_TRUE))) {
            ThrowException(FIREWALL_MODULE, LOCATION_APPLICATION_ENABLE, EXCEPTION_CODE_NO_MEMORY);
        }
        return;
    }

    hr = firewall.CreateNetFwAuthorizedApplication(application.Receive());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_APPLICATION_CREATE, hr);
    hr = firewall.SetAuthorizedApplicationImageFileName(application.Get(), image.c_str());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_APPLICATION_IMAGE, hr);
    const std::u16string name = CopyText(ruleName, LOCATION_APPLICATION_NAME_COPY);
    hr = firewall.SetAuthorizedApplicationName(application.Get(), name.c_str());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_APPLICATION_NAME, hr);
    hr = firewall.AuthorizedApplicationsAdd(applications.Get(), application.Get());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_APPLICATION_ADD, hr);
}

// ---- taking the program's rules away again ---------------------------------------------

namespace {

char16_t FoldCase(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c; }

bool SameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

}  // namespace

void CFirewall::RemoveApplication(const std::u16string& path, const std::u16string& ruleName) {
    if (m_pPolicy2.IsValid()) {
        RemoveRules(path, ruleName);
        return;
    }
    // Only a Windows without the class has no rules to take away.
    if (m_policy2Result != os::REGDB_E_CLASSNOTREG) ThrowFirewallError(LOCATION_REMOVE_POLICY, m_policy2Result);
    RemoveAuthorizedApplication(path);
}

void CFirewall::RemoveRules(const std::u16string& path, const std::u16string& ruleName) {
    os::NetFwRulesPtr rules;
    const os::HRESULT hr = os::Firewall().GetRules(m_pPolicy2.Get(), rules.Receive());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_REMOVE_RULES, hr);
    std::u16string outName;
    try {
        outName = ruleName + u" (Out)";
    } catch (const std::bad_alloc&) {
        ThrowException(FIREWALL_MODULE, LOCATION_REMOVE_OUT_NAME, EXCEPTION_CODE_NO_MEMORY);
    }
    RemoveDirection(rules.Get(), path, ruleName, os::NET_FW_RULE_DIR_IN, LOCATION_REMOVE_IN);
    RemoveDirection(rules.Get(), path, outName, os::NET_FW_RULE_DIR_OUT, LOCATION_REMOVE_OUT);
}

void CFirewall::RemoveDirection(os::PNETFWRULES rules, const std::u16string& path, const std::u16string& name,
                                os::LONG direction, std::uint16_t location) {
    for (unsigned removed = 0; removed < REMOVE_RULE_LIMIT; ++removed) {
        const Search found = FindNamedRule(rules, path, direction, name);
        if (found == Search::NotFound) return;
        const os::HRESULT hr = os::Firewall().RulesRemove(rules, name.c_str());
        if (os::Failed(hr)) ThrowFirewallError(location, hr);
        // Without a list nothing can be checked: one removal by name is all there is.
        if (found == Search::Unknown) return;
    }
    ThrowFirewallError(location, os::E_FAIL);
}

CFirewall::Search CFirewall::FindNamedRule(os::PNETFWRULES rules, const std::u16string& path, os::LONG direction,
                                           const std::u16string& name) {
    os::IFirewall& firewall = os::Firewall();
    try {
        os::UnknownPtr enumerator;
        if (os::Failed(firewall.GetRulesNewEnum(rules, enumerator.Receive())) || !enumerator.IsValid()) {
            return Search::Unknown;
        }
        os::EnumVariantPtr items;
        if (os::Failed(firewall.QueryEnumVariant(enumerator.Get(), items.Receive())) || !items.IsValid()) {
            return Search::Unknown;
        }
        std::u16string application, ruleName;
        for (unsigned seen = 0; seen < FIND_RULE_LIMIT; ++seen) {
            os::DispatchPtr item;
            const os::HRESULT next = firewall.EnumNextDispatch(items.Get(), item.Receive());
            if (next == os::S_FALSE) return Search::NotFound;
            if (next != os::S_OK || !item.IsValid()) return Search::Unknown;
            os::NetFwRulePtr rule;
            if (os::Failed(firewall.QueryNetFwRule(item.Get(), rule.Receive())) || !rule.IsValid()) {
                return Search::Unknown;
            }
            // Any rule the search cannot read might be ours.
            os::LONG ruleDirection = 0;
            if (os::Failed(firewall.GetRuleApplicationName(rule.Get(), &application)) ||
                os::Failed(firewall.GetRuleDirection(rule.Get(), &ruleDirection))) {
                return Search::Unknown;
            }
            if (application.empty() || application != path || ruleDirection != direction) continue;
            if (os::Failed(firewall.GetRuleName(rule.Get(), &ruleName))) return Search::Unknown;
            if (SameName(ruleName, name)) return Search::Found;
        }
    } catch (const std::bad_alloc&) {
    }
    return Search::Unknown;
}

void CFirewall::RemoveAuthorizedApplication(const std::u16string& path) {
    os::IFirewall& firewall = os::Firewall();
    os::NetFwAuthAppsPtr applications;
    os::HRESULT hr = firewall.GetAuthorizedApplications(m_pProfile.Get(), applications.Receive());
    if (os::Failed(hr)) ThrowFirewallError(LOCATION_REMOVE_APPLICATIONS, hr);
    const os::HRESULT notListed = os::HResultFromWin32(os::ERROR_FILE_NOT_FOUND);
    {
        os::NetFwAuthAppPtr application;
        hr = firewall.AuthorizedApplicationsItem(applications.Get(), path.c_str(), application.Receive());
    }
    if (hr == notListed) return;
    // Listed, or the list cannot tell: either way the entry must go.
    hr = firewall.AuthorizedApplicationsRemove(applications.Get(), path.c_str());
    if (os::Failed(hr) && hr != notListed) ThrowFirewallError(LOCATION_REMOVE_APPLICATION, hr);
}
