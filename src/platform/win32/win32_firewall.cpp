#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
// The firewall's class and interface ids are defined here; the import libraries lack them.
#include <initguid.h>
#include <netfw.h>

#include "platform/win32/win32_areas.h"

namespace os {

namespace {

INetFwMgr* Mgr(PNETFWMGR p) { return reinterpret_cast<INetFwMgr*>(p); }
INetFwPolicy* Policy(PNETFWPOLICY p) { return reinterpret_cast<INetFwPolicy*>(p); }
INetFwProfile* Profile(PNETFWPROFILE p) { return reinterpret_cast<INetFwProfile*>(p); }
INetFwAuthorizedApplications* Apps(PNETFWAUTHAPPS p) { return reinterpret_cast<INetFwAuthorizedApplications*>(p); }
INetFwAuthorizedApplication* App(PNETFWAUTHAPP p) { return reinterpret_cast<INetFwAuthorizedApplication*>(p); }
INetFwPolicy2* Policy2(PNETFWPOLICY2 p) { return reinterpret_cast<INetFwPolicy2*>(p); }
INetFwRules* Rules(PNETFWRULES p) { return reinterpret_cast<INetFwRules*>(p); }
INetFwRule* Rule(PNETFWRULE p) { return reinterpret_cast<INetFwRule*>(p); }
IUnknown* Unknown(PUNKNOWN p) { return reinterpret_cast<IUnknown*>(p); }
IEnumVARIANT* Items(PENUMVARIANT p) { return reinterpret_cast<IEnumVARIANT*>(p); }
IDispatch* Dispatch(PDISPATCH p) { return reinterpret_cast<IDispatch*>(p); }

const OLECHAR* Wide(const char16_t* text) { return reinterpret_cast<const OLECHAR*>(text); }

// A BSTR copy of the text for the length of one call.
class Bstr {
public:
    explicit Bstr(const char16_t* text) : m_text(text != nullptr ? ::SysAllocString(Wide(text)) : nullptr) {}
    ~Bstr() { ::SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_text; }
    // A text that was given but could not be copied.
    bool Lost(const char16_t* text) const { return text != nullptr && m_text == nullptr; }

private:
    BSTR m_text;
};

template <typename Out>
HRESULT Create(REFCLSID classId, REFIID interfaceId, Out* out) {
    void* object = nullptr;
    const ::HRESULT hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, interfaceId, &object);
    *out = static_cast<Out>(object);
    return hr;
}

}  // namespace

HRESULT Win32Firewall::CoInitializeEx(DWORD coInit) { return ::CoInitializeEx(nullptr, coInit); }

int Win32Firewall::MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, char16_t* wide,
                                       int wideLength) {
    return ::MultiByteToWideChar(codePage, flags, text, length, reinterpret_cast<LPWSTR>(wide), wideLength);
}

HRESULT Win32Firewall::CreateNetFwMgr(PNETFWMGR* manager) { return Create(CLSID_NetFwMgr, IID_INetFwMgr, manager); }

HRESULT Win32Firewall::CreateNetFwPolicy2(PNETFWPOLICY2* policy) {
    return Create(CLSID_NetFwPolicy2, IID_INetFwPolicy2, policy);
}

HRESULT Win32Firewall::CreateNetFwRule(PNETFWRULE* rule) { return Create(CLSID_NetFwRule, IID_INetFwRule, rule); }

HRESULT Win32Firewall::CreateNetFwAuthorizedApplication(PNETFWAUTHAPP* application) {
    return Create(CLSID_NetFwAuthorizedApplication, IID_INetFwAuthorizedApplication, application);
}

HRESULT Win32Firewall::GetLocalPolicy(PNETFWMGR manager, PNETFWPOLICY* policy) {
    INetFwPolicy* out = nullptr;
    const ::HRESULT hr = Mgr(manager)->get_LocalPolicy(&out);
    *policy = reinterpret_cast<PNETFWPOLICY>(out);
    return hr;
}

HRESULT Win32Firewall::GetCurrentProfile(PNETFWPOLICY policy, PNETFWPROFILE* profile) {
    INetFwProfile* out = nullptr;
    const ::HRESULT hr = Policy(policy)->get_CurrentProfile(&out);
    *profile = reinterpret_cast<PNETFWPROFILE>(out);
    return hr;
}

HRESULT Win32Firewall::GetAuthorizedApplications(PNETFWPROFILE profile, PNETFWAUTHAPPS* applications) {
    INetFwAuthorizedApplications* out = nullptr;
    const ::HRESULT hr = Profile(profile)->get_AuthorizedApplications(&out);
    *applications = reinterpret_cast<PNETFWAUTHAPPS>(out);
    return hr;
}

HRESULT Win32Firewall::AuthorizedApplicationsItem(PNETFWAUTHAPPS applications, const char16_t* imageFileName,
                                                  PNETFWAUTHAPP* application) {
    *application = nullptr;
    Bstr name(imageFileName);
    if (name.Lost(imageFileName)) return E_OUTOFMEMORY;
    INetFwAuthorizedApplication* out = nullptr;
    const ::HRESULT hr = Apps(applications)->Item(name.Get(), &out);
    *application = reinterpret_cast<PNETFWAUTHAPP>(out);
    return hr;
}

HRESULT Win32Firewall::AuthorizedApplicationsAdd(PNETFWAUTHAPPS applications, PNETFWAUTHAPP application) {
    return Apps(applications)->Add(App(application));
}

HRESULT Win32Firewall::AuthorizedApplicationsRemove(PNETFWAUTHAPPS applications, const char16_t* imageFileName) {
    Bstr name(imageFileName);
    if (name.Lost(imageFileName)) return E_OUTOFMEMORY;
    return Apps(applications)->Remove(name.Get());
}

HRESULT Win32Firewall::SetAuthorizedApplicationName(PNETFWAUTHAPP application, const char16_t* name) {
    Bstr text(name);
    if (text.Lost(name)) return E_OUTOFMEMORY;
    return App(application)->put_Name(text.Get());
}

HRESULT Win32Firewall::SetAuthorizedApplicationImageFileName(PNETFWAUTHAPP application, const char16_t* imageFileName) {
    Bstr text(imageFileName);
    if (text.Lost(imageFileName)) return E_OUTOFMEMORY;
    return App(application)->put_ProcessImageFileName(text.Get());
}

HRESULT Win32Firewall::SetAuthorizedApplicationEnabled(PNETFWAUTHAPP application, VARIANT_BOOL enabled) {
    return App(application)->put_Enabled(enabled);
}

HRESULT Win32Firewall::GetRules(PNETFWPOLICY2 policy, PNETFWRULES* rules) {
    INetFwRules* out = nullptr;
    const ::HRESULT hr = Policy2(policy)->get_Rules(&out);
    *rules = reinterpret_cast<PNETFWRULES>(out);
    return hr;
}

HRESULT Win32Firewall::RulesAdd(PNETFWRULES rules, PNETFWRULE rule) { return Rules(rules)->Add(Rule(rule)); }

HRESULT Win32Firewall::RulesRemove(PNETFWRULES rules, const char16_t* name) {
    Bstr text(name);
    if (text.Lost(name)) return E_OUTOFMEMORY;
    return Rules(rules)->Remove(text.Get());
}

HRESULT Win32Firewall::GetRulesNewEnum(PNETFWRULES rules, PUNKNOWN* enumerator) {
    IUnknown* out = nullptr;
    const ::HRESULT hr = Rules(rules)->get__NewEnum(&out);
    *enumerator = reinterpret_cast<PUNKNOWN>(out);
    return hr;
}

HRESULT Win32Firewall::QueryEnumVariant(PUNKNOWN enumerator, PENUMVARIANT* items) {
    void* out = nullptr;
    const ::HRESULT hr = Unknown(enumerator)->QueryInterface(IID_IEnumVARIANT, &out);
    *items = static_cast<PENUMVARIANT>(out);
    return hr;
}

HRESULT Win32Firewall::EnumNextDispatch(PENUMVARIANT items, PDISPATCH* item) {
    *item = nullptr;
    VARIANT value;
    ::VariantInit(&value);
    ::ULONG fetched = 0;
    ::HRESULT hr = Items(items)->Next(1, &value, &fetched);
    if (hr != S_OK) {
        ::VariantClear(&value);
        return hr;
    }
    hr = ::VariantChangeType(&value, &value, 0, VT_DISPATCH);
    if (FAILED(hr)) {
        ::VariantClear(&value);
        return hr;
    }
    // The variant's reference passes to the caller.
    *item = reinterpret_cast<PDISPATCH>(V_DISPATCH(&value));
    return S_OK;
}

HRESULT Win32Firewall::QueryNetFwRule(PDISPATCH item, PNETFWRULE* rule) {
    void* out = nullptr;
    const ::HRESULT hr = Dispatch(item)->QueryInterface(IID_INetFwRule, &out);
    *rule = static_cast<PNETFWRULE>(out);
    return hr;
}

HRESULT Win32Firewall::GetRuleApplicationName(PNETFWRULE rule, std::u16string* applicationName) {
    BSTR name = nullptr;
    const ::HRESULT hr = Rule(rule)->get_ApplicationName(&name);
    if (SUCCEEDED(hr)) {
        applicationName->assign(name != nullptr ? reinterpret_cast<const char16_t*>(name) : u"",
                                name != nullptr ? ::SysStringLen(name) : 0);
    }
    ::SysFreeString(name);
    return hr;
}

HRESULT Win32Firewall::GetRuleName(PNETFWRULE rule, std::u16string* name) {
    BSTR text = nullptr;
    const ::HRESULT hr = Rule(rule)->get_Name(&text);
    if (SUCCEEDED(hr)) {
        name->assign(text != nullptr ? reinterpret_cast<const char16_t*>(text) : u"",
                     text != nullptr ? ::SysStringLen(text) : 0);
    }
    ::SysFreeString(text);
    return hr;
}

HRESULT Win32Firewall::GetRuleDirection(PNETFWRULE rule, LONG* direction) {
    NET_FW_RULE_DIRECTION value = NET_FW_RULE_DIR_IN;
    const ::HRESULT hr = Rule(rule)->get_Direction(&value);
    *direction = static_cast<LONG>(value);
    return hr;
}

HRESULT Win32Firewall::SetRuleName(PNETFWRULE rule, const char16_t* name) {
    Bstr text(name);
    if (text.Lost(name)) return E_OUTOFMEMORY;
    return Rule(rule)->put_Name(text.Get());
}

HRESULT Win32Firewall::SetRuleDescription(PNETFWRULE rule, const char16_t* description) {
    Bstr text(description);
    if (text.Lost(description)) return E_OUTOFMEMORY;
    return Rule(rule)->put_Description(text.Get());
}

HRESULT Win32Firewall::SetRuleApplicationName(PNETFWRULE rule, const char16_t* applicationName) {
    Bstr text(applicationName);
    if (text.Lost(applicationName)) return E_OUTOFMEMORY;
    return Rule(rule)->put_ApplicationName(text.Get());
}

HRESULT Win32Firewall::SetRuleProtocol(PNETFWRULE rule, LONG protocol) { return Rule(rule)->put_Protocol(protocol); }

HRESULT Win32Firewall::SetRuleDirection(PNETFWRULE rule, LONG direction) {
    return Rule(rule)->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(direction));
}

HRESULT Win32Firewall::SetRuleProfiles(PNETFWRULE rule, LONG profiles) { return Rule(rule)->put_Profiles(profiles); }

HRESULT Win32Firewall::SetRuleAction(PNETFWRULE rule, LONG action) {
    return Rule(rule)->put_Action(static_cast<NET_FW_ACTION>(action));
}

HRESULT Win32Firewall::SetRuleEnabled(PNETFWRULE rule, VARIANT_BOOL enabled) {
    return Rule(rule)->put_Enabled(enabled);
}

ULONG Win32Firewall::ReleaseNetFwMgr(PNETFWMGR manager) { return Mgr(manager)->Release(); }
ULONG Win32Firewall::ReleasePolicy(PNETFWPOLICY policy) { return Policy(policy)->Release(); }
ULONG Win32Firewall::ReleaseProfile(PNETFWPROFILE profile) { return Profile(profile)->Release(); }
ULONG Win32Firewall::ReleaseAuthorizedApplications(PNETFWAUTHAPPS applications) {
    return Apps(applications)->Release();
}
ULONG Win32Firewall::ReleaseAuthorizedApplication(PNETFWAUTHAPP application) { return App(application)->Release(); }
ULONG Win32Firewall::ReleasePolicy2(PNETFWPOLICY2 policy) { return Policy2(policy)->Release(); }
ULONG Win32Firewall::ReleaseRules(PNETFWRULES rules) { return Rules(rules)->Release(); }
ULONG Win32Firewall::ReleaseRule(PNETFWRULE rule) { return Rule(rule)->Release(); }
ULONG Win32Firewall::ReleaseUnknown(PUNKNOWN object) { return Unknown(object)->Release(); }
ULONG Win32Firewall::ReleaseEnumVariant(PENUMVARIANT items) { return Items(items)->Release(); }
ULONG Win32Firewall::ReleaseDispatch(PDISPATCH item) { return Dispatch(item)->Release(); }

}  // namespace os
