// Windows Firewall over COM: the rule interface (INetFwPolicy2, INetFwRules, INetFwRule)
// and the older authorized-applications interface (INetFwMgr, INetFwPolicy, INetFwProfile,
// INetFwAuthorizedApplications, INetFwAuthorizedApplication), one call per method so that
// each can fail on its own.
//
// Interface pointers come out as opaque pointers; every one handed out holds one reference
// that its own Release call gives back. Strings are UTF-16; the Windows side turns them into
// BSTRs for the call. The apartment is entered with CoInitializeEx here and left with the
// shell area's CoUninitialize.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace os {

using VARIANT_BOOL = std::int16_t;

struct NetFwMgrObject;                     // INetFwMgr
struct NetFwPolicyObject;                  // INetFwPolicy
struct NetFwProfileObject;                 // INetFwProfile
struct NetFwAuthorizedApplicationsObject;  // INetFwAuthorizedApplications
struct NetFwAuthorizedApplicationObject;   // INetFwAuthorizedApplication
struct NetFwPolicy2Object;                 // INetFwPolicy2
struct NetFwRulesObject;                   // INetFwRules
struct NetFwRuleObject;                    // INetFwRule
struct UnknownObject;                      // IUnknown (a collection's enumerator)
struct EnumVariantObject;                  // IEnumVARIANT
struct DispatchObject;                     // IDispatch (an enumerated item)
using PNETFWMGR = NetFwMgrObject*;
using PNETFWPOLICY = NetFwPolicyObject*;
using PNETFWPROFILE = NetFwProfileObject*;
using PNETFWAUTHAPPS = NetFwAuthorizedApplicationsObject*;
using PNETFWAUTHAPP = NetFwAuthorizedApplicationObject*;
using PNETFWPOLICY2 = NetFwPolicy2Object*;
using PNETFWRULES = NetFwRulesObject*;
using PNETFWRULE = NetFwRuleObject*;
using PUNKNOWN = UnknownObject*;
using PENUMVARIANT = EnumVariantObject*;
using PDISPATCH = DispatchObject*;

class IFirewall {
public:
    virtual ~IFirewall() = default;

    // CoInitializeEx(null, coInit): S_OK, S_FALSE when the thread already was initialised,
    // RPC_E_CHANGED_MODE when it was initialised for another apartment kind (then nothing
    // is to be balanced). Every successful call is balanced by Shell().CoUninitialize().
    virtual HRESULT CoInitializeEx(DWORD coInit) = 0;

    // MultiByteToWideChar: length -1 takes text up to and with its terminator; wideLength 0
    // asks for the length needed. Returns the UTF-16 units written (or needed), 0 on failure
    // with the reason in the last error.
    virtual int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, char16_t* wide,
                                    int wideLength) = 0;

    // CoCreateInstance(CLSID_..., in-process server, IID_...) of the four creatable classes.
    virtual HRESULT CreateNetFwMgr(PNETFWMGR* manager) = 0;
    virtual HRESULT CreateNetFwPolicy2(PNETFWPOLICY2* policy) = 0;
    virtual HRESULT CreateNetFwRule(PNETFWRULE* rule) = 0;
    virtual HRESULT CreateNetFwAuthorizedApplication(PNETFWAUTHAPP* application) = 0;

    // INetFwMgr::get_LocalPolicy, INetFwPolicy::get_CurrentProfile,
    // INetFwProfile::get_AuthorizedApplications.
    virtual HRESULT GetLocalPolicy(PNETFWMGR manager, PNETFWPOLICY* policy) = 0;
    virtual HRESULT GetCurrentProfile(PNETFWPOLICY policy, PNETFWPROFILE* profile) = 0;
    virtual HRESULT GetAuthorizedApplications(PNETFWPROFILE profile, PNETFWAUTHAPPS* applications) = 0;

    // INetFwAuthorizedApplications::Item (by process image file name) and Add.
    virtual HRESULT AuthorizedApplicationsItem(PNETFWAUTHAPPS applications, const char16_t* imageFileName,
                                               PNETFWAUTHAPP* application) = 0;
    virtual HRESULT AuthorizedApplicationsAdd(PNETFWAUTHAPPS applications, PNETFWAUTHAPP application) = 0;
    // INetFwAuthorizedApplications::Remove (by process image file name).
    virtual HRESULT AuthorizedApplicationsRemove(PNETFWAUTHAPPS applications, const char16_t* imageFileName) = 0;

    // INetFwAuthorizedApplication setters.
    virtual HRESULT SetAuthorizedApplicationName(PNETFWAUTHAPP application, const char16_t* name) = 0;
    virtual HRESULT SetAuthorizedApplicationImageFileName(PNETFWAUTHAPP application, const char16_t* imageFileName) = 0;
    virtual HRESULT SetAuthorizedApplicationEnabled(PNETFWAUTHAPP application, VARIANT_BOOL enabled) = 0;

    // INetFwPolicy2::get_Rules, INetFwRules::Add, INetFwRules::Remove (by name; a name no
    // rule has changes nothing) and INetFwRules::get__NewEnum.
    virtual HRESULT GetRules(PNETFWPOLICY2 policy, PNETFWRULES* rules) = 0;
    virtual HRESULT RulesAdd(PNETFWRULES rules, PNETFWRULE rule) = 0;
    virtual HRESULT RulesRemove(PNETFWRULES rules, const char16_t* name) = 0;
    virtual HRESULT GetRulesNewEnum(PNETFWRULES rules, PUNKNOWN* enumerator) = 0;

    // The enumerator's QueryInterface(IID_IEnumVARIANT).
    virtual HRESULT QueryEnumVariant(PUNKNOWN enumerator, PENUMVARIANT* items) = 0;
    // IEnumVARIANT::Next of one item, changed to VT_DISPATCH (VariantChangeType): S_OK with
    // the item, S_FALSE at the end, or the failure of either call; *item is null unless S_OK.
    virtual HRESULT EnumNextDispatch(PENUMVARIANT items, PDISPATCH* item) = 0;
    // The item's QueryInterface(IID_INetFwRule).
    virtual HRESULT QueryNetFwRule(PDISPATCH item, PNETFWRULE* rule) = 0;

    // INetFwRule getters (a rule without an application reads as an empty name) and setters.
    virtual HRESULT GetRuleApplicationName(PNETFWRULE rule, std::u16string* applicationName) = 0;
    virtual HRESULT GetRuleDirection(PNETFWRULE rule, LONG* direction) = 0;
    virtual HRESULT GetRuleName(PNETFWRULE rule, std::u16string* name) = 0;
    virtual HRESULT SetRuleName(PNETFWRULE rule, const char16_t* name) = 0;
    virtual HRESULT SetRuleDescription(PNETFWRULE rule, const char16_t* description) = 0;
    virtual HRESULT SetRuleApplicationName(PNETFWRULE rule, const char16_t* applicationName) = 0;
    virtual HRESULT SetRuleProtocol(PNETFWRULE rule, LONG protocol) = 0;
    virtual HRESULT SetRuleDirection(PNETFWRULE rule, LONG direction) = 0;
    virtual HRESULT SetRuleProfiles(PNETFWRULE rule, LONG profiles) = 0;
    virtual HRESULT SetRuleAction(PNETFWRULE rule, LONG action) = 0;
    virtual HRESULT SetRuleEnabled(PNETFWRULE rule, VARIANT_BOOL enabled) = 0;

    // IUnknown::Release of each interface; returns the remaining reference count.
    virtual ULONG ReleaseNetFwMgr(PNETFWMGR manager) = 0;
    virtual ULONG ReleasePolicy(PNETFWPOLICY policy) = 0;
    virtual ULONG ReleaseProfile(PNETFWPROFILE profile) = 0;
    virtual ULONG ReleaseAuthorizedApplications(PNETFWAUTHAPPS applications) = 0;
    virtual ULONG ReleaseAuthorizedApplication(PNETFWAUTHAPP application) = 0;
    virtual ULONG ReleasePolicy2(PNETFWPOLICY2 policy) = 0;
    virtual ULONG ReleaseRules(PNETFWRULES rules) = 0;
    virtual ULONG ReleaseRule(PNETFWRULE rule) = 0;
    virtual ULONG ReleaseUnknown(PUNKNOWN object) = 0;
    virtual ULONG ReleaseEnumVariant(PENUMVARIANT items) = 0;
    virtual ULONG ReleaseDispatch(PDISPATCH item) = 0;
};

}  // namespace os
