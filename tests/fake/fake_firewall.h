// Windows Firewall of the in-memory machine: the rule store of the rule interface and the
// authorized applications of each profile of the older interface.
//
// Interface pointers are counted like the shell area's: every pointer handed out is a new
// value holding one reference, so a release too many or a call through a released pointer
// is noticed and noted in `misuse`. The apartment is the shell area's: CoInitializeEx here
// enters it (counted by the fault plan as "CoInitialize"), the shell's CoUninitialize
// leaves it.
//
// Fault plan names: "CoInitialize", "MultiByteToWideChar", "CoCreateInstance(NetFwMgr)",
// "CoCreateInstance(NetFwPolicy2)", "CoCreateInstance(NetFwRule)",
// "CoCreateInstance(NetFwAuthorizedApplication)", "QueryInterface(IEnumVARIANT)",
// "QueryInterface(INetFwRule)", "IEnumVARIANT::Next", and "Interface::method" for the rest
// ("INetFwPolicy2::get_Rules", "INetFwRule::put_Enabled", "INetFwRules::Add", ...). A call
// the plan fails returns the planned error (as an HRESULT) and changes nothing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "platform/constants.h"

namespace fake {

class CFakeFirewall final : public os::IFirewall {
public:
    explicit CFakeFirewall(CFakeMachine& machine);
    ~CFakeFirewall() override;

    os::HRESULT CoInitializeEx(os::DWORD coInit) override;
    int MultiByteToWideChar(os::UINT codePage, os::DWORD flags, const char* text, int length, char16_t* wide,
                            int wideLength) override;
    os::HRESULT CreateNetFwMgr(os::PNETFWMGR* manager) override;
    os::HRESULT CreateNetFwPolicy2(os::PNETFWPOLICY2* policy) override;
    os::HRESULT CreateNetFwRule(os::PNETFWRULE* rule) override;
    os::HRESULT CreateNetFwAuthorizedApplication(os::PNETFWAUTHAPP* application) override;
    os::HRESULT GetLocalPolicy(os::PNETFWMGR manager, os::PNETFWPOLICY* policy) override;
    os::HRESULT GetCurrentProfile(os::PNETFWPOLICY policy, os::PNETFWPROFILE* profile) override;
    os::HRESULT GetAuthorizedApplications(os::PNETFWPROFILE profile, os::PNETFWAUTHAPPS* applications) override;
    os::HRESULT AuthorizedApplicationsItem(os::PNETFWAUTHAPPS applications, const char16_t* imageFileName,
                                           os::PNETFWAUTHAPP* application) override;
    os::HRESULT AuthorizedApplicationsAdd(os::PNETFWAUTHAPPS applications, os::PNETFWAUTHAPP application) override;
    os::HRESULT AuthorizedApplicationsRemove(os::PNETFWAUTHAPPS applications, const char16_t* imageFileName) override;
    os::HRESULT SetAuthorizedApplicationName(os::PNETFWAUTHAPP application, const char16_t* name) override;
    os::HRESULT SetAuthorizedApplicationImageFileName(os::PNETFWAUTHAPP application,
                                                      const char16_t* imageFileName) override;
    os::HRESULT SetAuthorizedApplicationEnabled(os::PNETFWAUTHAPP application, os::VARIANT_BOOL enabled) override;
    os::HRESULT GetRules(os::PNETFWPOLICY2 policy, os::PNETFWRULES* rules) override;
    os::HRESULT RulesAdd(os::PNETFWRULES rules, os::PNETFWRULE rule) override;
    os::HRESULT RulesRemove(os::PNETFWRULES rules, const char16_t* name) override;
    os::HRESULT GetRulesNewEnum(os::PNETFWRULES rules, os::PUNKNOWN* enumerator) override;
    os::HRESULT QueryEnumVariant(os::PUNKNOWN enumerator, os::PENUMVARIANT* items) override;
    os::HRESULT EnumNextDispatch(os::PENUMVARIANT items, os::PDISPATCH* item) override;
    os::HRESULT QueryNetFwRule(os::PDISPATCH item, os::PNETFWRULE* rule) override;
    os::HRESULT GetRuleApplicationName(os::PNETFWRULE rule, std::u16string* applicationName) override;
    os::HRESULT GetRuleDirection(os::PNETFWRULE rule, os::LONG* direction) override;
    os::HRESULT GetRuleName(os::PNETFWRULE rule, std::u16string* name) override;
    os::HRESULT SetRuleName(os::PNETFWRULE rule, const char16_t* name) override;
    os::HRESULT SetRuleDescription(os::PNETFWRULE rule, const char16_t* description) override;
    os::HRESULT SetRuleApplicationName(os::PNETFWRULE rule, const char16_t* applicationName) override;
    os::HRESULT SetRuleProtocol(os::PNETFWRULE rule, os::LONG protocol) override;
    os::HRESULT SetRuleDirection(os::PNETFWRULE rule, os::LONG direction) override;
    os::HRESULT SetRuleProfiles(os::PNETFWRULE rule, os::LONG profiles) override;
    os::HRESULT SetRuleAction(os::PNETFWRULE rule, os::LONG action) override;
    os::HRESULT SetRuleEnabled(os::PNETFWRULE rule, os::VARIANT_BOOL enabled) override;
    os::ULONG ReleaseNetFwMgr(os::PNETFWMGR manager) override;
    os::ULONG ReleasePolicy(os::PNETFWPOLICY policy) override;
    os::ULONG ReleaseProfile(os::PNETFWPROFILE profile) override;
    os::ULONG ReleaseAuthorizedApplications(os::PNETFWAUTHAPPS applications) override;
    os::ULONG ReleaseAuthorizedApplication(os::PNETFWAUTHAPP application) override;
    os::ULONG ReleasePolicy2(os::PNETFWPOLICY2 policy) override;
    os::ULONG ReleaseRules(os::PNETFWRULES rules) override;
    os::ULONG ReleaseRule(os::PNETFWRULE rule) override;
    os::ULONG ReleaseUnknown(os::PUNKNOWN object) override;
    os::ULONG ReleaseEnumVariant(os::PENUMVARIANT items) override;
    os::ULONG ReleaseDispatch(os::PDISPATCH item) override;

    // A rule of the rule interface, with the defaults of a new NetFwRule object.
    struct Rule {
        std::u16string name;
        std::u16string description;
        std::u16string applicationName;
        os::LONG protocol = os::NET_FW_IP_PROTOCOL_ANY;
        os::LONG direction = os::NET_FW_RULE_DIR_IN;
        os::LONG profiles = os::NET_FW_PROFILE2_ALL;
        os::LONG action = os::NET_FW_ACTION_ALLOW;
        bool enabled = false;
        bool operator==(const Rule& other) const;
    };
    // An authorized application of the older interface, with the object's defaults.
    struct AuthorizedApplication {
        std::u16string imageFileName;
        std::u16string name;
        bool enabled = true;
        bool operator==(const AuthorizedApplication& other) const;
    };

    // The machine's firewall; tests arrange and inspect it freely. Rules enumerate in
    // this order; Add appends; Remove takes the first rule of the name (ignoring case).
    std::vector<Rule> rules;
    // Per profile type (NET_FW_PROFILE_DOMAIN, NET_FW_PROFILE_STANDARD). Item looks image
    // names up ignoring case, as paths; Add replaces an entry of the same image name; Remove
    // of a name that is not listed fails with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
    std::map<os::LONG, std::vector<AuthorizedApplication>> authorizedApplications;
    os::LONG currentProfile = os::NET_FW_PROFILE_STANDARD;

    // Switches.
    bool ruleInterface = true;                // false: Windows before Vista (NetFwPolicy2, NetFwRule not registered)
    os::HRESULT localPolicyError = os::S_OK;  // get_LocalPolicy fails so (a stopped firewall service)
    os::HRESULT addError = os::S_OK;          // both collections' Add fail so
    bool multithreadedApartment = false;      // the thread is in the MTA: CoInitializeEx gives RPC_E_CHANGED_MODE
    bool stubbed = false;                     // as Wine: setters and Add accept and keep nothing;
                                              // value getters, get__NewEnum and Item give E_NOTIMPL
    bool endlessEnumeration = false;          // IEnumVARIANT::Next starts over instead of ending

    // Interface pointers not yet released, and objects with references left.
    std::size_t LiveInterfaceCount() const { return m_interfaces.size(); }
    std::size_t LiveObjectCount() const { return m_objects.size(); }
    unsigned objectsCreated = 0;   // by CoCreateInstance
    unsigned itemsEnumerated = 0;  // items handed out by IEnumVARIANT::Next
    // Every misuse seen, in order; empty when the caller kept the rules.
    std::vector<std::string> misuse;
    // The number values handed to the interfaces, in order: each put_Protocol, put_Direction,
    // put_Profiles, put_Action and put_Enabled of a rule or an authorized application, and
    // each CoInitializeEx's flags ("CoInitializeEx"), before the fault plan is asked.
    struct ValueSet {
        std::string call;  // "INetFwRule::put_Direction", "INetFwAuthorizedApplication::put_Enabled", ...
        std::int64_t value;
    };
    std::vector<ValueSet> valuesSet;

    // ASCII (and Latin-1) text as UTF-16, for arranging and asserting.
    static std::u16string Utf16(const std::string& text);

private:
    enum class Kind { Mgr, Policy, Profile, Apps, App, Policy2, Rules, Rule, Unknown, EnumVariant, Dispatch };
    struct Object {
        os::ULONG references = 0;
        os::LONG profileType = 0;               // profiles and their application lists
        std::optional<std::size_t> storedRule;  // a rule of the store, else the detached one
        Rule rule;
        std::optional<std::size_t> storedApp;  // an entry of profileType's list, else the detached one
        AuthorizedApplication app;
        std::vector<std::size_t> items;  // an enumerator's snapshot of the store
        std::size_t position = 0;
    };
    struct Interface {
        Kind kind;
        std::uint64_t object;
    };

    bool Fail(const char* call, os::HRESULT* hr);
    bool InApartment() const;
    std::uint64_t NewObject();
    template <typename P>
    P NewInterface(Kind kind, std::uint64_t object);
    Object* Find(const void* pointer, Kind kind, const char* call);
    std::uint64_t ObjectId(const void* pointer) const;
    os::ULONG Release(const void* pointer, Kind kind, const char* call);
    template <typename P>
    os::HRESULT Create(const char* call, Kind kind, bool registered, P* out);
    Rule* RuleOf(Object& object);
    AuthorizedApplication* AppOf(Object& object);
    template <typename Apply>
    os::HRESULT SetRule(os::PNETFWRULE rule, const char* call, Apply apply);
    // After a store entry went: objects on it are detached, later indices move down.
    void ForgetStoredRule(std::size_t index);
    void ForgetStoredApp(os::LONG profileType, std::size_t index);
    template <typename Apply>
    os::HRESULT SetApp(os::PNETFWAUTHAPP application, const char* call, Apply apply);

    CFakeMachine& m_machine;
    std::map<std::uintptr_t, Interface> m_interfaces;
    std::map<std::uint64_t, Object> m_objects;
    std::uintptr_t m_nextPointer = 0x9000;
    std::uint64_t m_nextObject = 1;
};

}  // namespace fake
