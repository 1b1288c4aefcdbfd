#include "fake/fake_firewall.h"

#include <cstring>

#include "fake/fake_shell.h"

namespace fake {

using namespace os;

namespace {

// Windows-1252, the ANSI code page of the machine: 0x80..0x9F; the rest is Latin-1.
constexpr char16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t FromAnsi(unsigned char c) { return c >= 0x80 && c < 0xA0 ? CP1252_HIGH[c - 0x80] : char16_t(c); }

char16_t FoldCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - (u'a' - u'A'));
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c == u'/' ? u'\\' : c;
}

// Image file names compare as Windows paths do.
bool SameImage(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

}  // namespace

bool CFakeFirewall::Rule::operator==(const Rule& o) const {
    return name == o.name && description == o.description && applicationName == o.applicationName &&
           protocol == o.protocol && direction == o.direction && profiles == o.profiles && action == o.action &&
           enabled == o.enabled;
}

bool CFakeFirewall::AuthorizedApplication::operator==(const AuthorizedApplication& o) const {
    return imageFileName == o.imageFileName && name == o.name && enabled == o.enabled;
}

CFakeFirewall::CFakeFirewall(CFakeMachine& machine) : m_machine(machine) {}

CFakeFirewall::~CFakeFirewall() = default;

std::u16string CFakeFirewall::Utf16(const std::string& text) {
    std::u16string wide;
    for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return wide;
}

bool CFakeFirewall::Fail(const char* call, HRESULT* hr) {
    if (!m_machine.Fail(call)) return false;
    const DWORD error = m_machine.lastError;
    *hr = (error & 0x80000000u) != 0 ? static_cast<HRESULT>(error) : error == 0 ? E_FAIL : HResultFromWin32(error);
    return true;
}

bool CFakeFirewall::InApartment() const { return multithreadedApartment || m_machine.shell.ComDepth() > 0; }

std::uint64_t CFakeFirewall::NewObject() {
    const std::uint64_t id = m_nextObject++;
    m_objects[id];
    return id;
}

template <typename P>
P CFakeFirewall::NewInterface(Kind kind, std::uint64_t object) {
    // A new pointer value per reference, so that a second release of one is noticed.
    const std::uintptr_t pointer = m_nextPointer;
    m_nextPointer += 8;
    m_interfaces[pointer] = Interface{kind, object};
    ++m_objects[object].references;
    return reinterpret_cast<P>(pointer);
}

CFakeFirewall::Object* CFakeFirewall::Find(const void* pointer, Kind kind, const char* call) {
    auto it = m_interfaces.find(reinterpret_cast<std::uintptr_t>(pointer));
    if (it == m_interfaces.end() || it->second.kind != kind) {
        misuse.push_back(std::string(call) + " on an interface that is not alive");
        return nullptr;
    }
    if (!InApartment()) misuse.push_back(std::string(call) + " outside an initialised apartment");
    return &m_objects.at(it->second.object);
}

std::uint64_t CFakeFirewall::ObjectId(const void* pointer) const {
    return m_interfaces.at(reinterpret_cast<std::uintptr_t>(pointer)).object;
}

ULONG CFakeFirewall::Release(const void* pointer, Kind kind, const char* call) {
    auto it = m_interfaces.find(reinterpret_cast<std::uintptr_t>(pointer));
    if (it == m_interfaces.end() || it->second.kind != kind) {
        misuse.push_back(std::string(call) + " of an interface that is not alive");
        return 0;
    }
    if (!InApartment()) misuse.push_back(std::string(call) + " outside an initialised apartment");
    const std::uint64_t object = it->second.object;
    m_interfaces.erase(it);
    const ULONG left = --m_objects.at(object).references;
    if (left == 0) m_objects.erase(object);
    return left;
}

CFakeFirewall::Rule* CFakeFirewall::RuleOf(Object& object) {
    if (!object.storedRule) return &object.rule;
    return *object.storedRule < rules.size() ? &rules[*object.storedRule] : nullptr;
}

CFakeFirewall::AuthorizedApplication* CFakeFirewall::AppOf(Object& object) {
    if (!object.storedApp) return &object.app;
    std::vector<AuthorizedApplication>& list = authorizedApplications[object.profileType];
    return *object.storedApp < list.size() ? &list[*object.storedApp] : nullptr;
}

// ---- apartment and strings ----------------------------------------------------------

HRESULT CFakeFirewall::CoInitializeEx(DWORD coInit) {
    valuesSet.push_back({"CoInitializeEx", coInit});
    if (multithreadedApartment && (coInit & COINIT_APARTMENTTHREADED) != 0) {
        HRESULT hr = S_OK;
        if (Fail("CoInitialize", &hr)) return hr;
        return RPC_E_CHANGED_MODE;
    }
    return m_machine.shell.CoInitialize();
}

int CFakeFirewall::MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, char16_t* wide,
                                       int wideLength) {
    if (m_machine.Fail("MultiByteToWideChar")) return 0;
    if (text == nullptr || length == 0 || length < -1 || wideLength < 0 || (wide == nullptr && wideLength != 0) ||
        (codePage != CP_ACP && codePage != 1252) || (flags & ~MB_ERR_INVALID_CHARS) != 0) {
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    const std::size_t count = length == -1 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
    if (wideLength == 0) return static_cast<int>(count);
    if (count > static_cast<std::size_t>(wideLength)) {
        m_machine.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    for (std::size_t i = 0; i < count; ++i) wide[i] = FromAnsi(static_cast<unsigned char>(text[i]));
    return static_cast<int>(count);
}

// ---- creation -----------------------------------------------------------------------

template <typename P>
HRESULT CFakeFirewall::Create(const char* call, Kind kind, bool registered, P* out) {
    *out = nullptr;
    HRESULT hr = S_OK;
    if (Fail(call, &hr)) return hr;
    if (!InApartment()) return CO_E_NOTINITIALIZED;
    if (!registered) return REGDB_E_CLASSNOTREG;
    ++objectsCreated;
    *out = NewInterface<P>(kind, NewObject());
    return S_OK;
}

HRESULT CFakeFirewall::CreateNetFwMgr(PNETFWMGR* manager) {
    return Create("CoCreateInstance(NetFwMgr)", Kind::Mgr, true, manager);
}

HRESULT CFakeFirewall::CreateNetFwPolicy2(PNETFWPOLICY2* policy) {
    return Create("CoCreateInstance(NetFwPolicy2)", Kind::Policy2, ruleInterface, policy);
}

HRESULT CFakeFirewall::CreateNetFwRule(PNETFWRULE* rule) {
    return Create("CoCreateInstance(NetFwRule)", Kind::Rule, ruleInterface, rule);
}

HRESULT CFakeFirewall::CreateNetFwAuthorizedApplication(PNETFWAUTHAPP* application) {
    return Create("CoCreateInstance(NetFwAuthorizedApplication)", Kind::App, true, application);
}

// ---- the older interface ------------------------------------------------------------

HRESULT CFakeFirewall::GetLocalPolicy(PNETFWMGR manager, PNETFWPOLICY* policy) {
    *policy = nullptr;
    HRESULT hr = S_OK;
    if (Fail("INetFwMgr::get_LocalPolicy", &hr)) return hr;
    if (Find(manager, Kind::Mgr, "INetFwMgr::get_LocalPolicy") == nullptr) return E_POINTER;
    if (Failed(localPolicyError)) return localPolicyError;
    *policy = NewInterface<PNETFWPOLICY>(Kind::Policy, NewObject());
    return S_OK;
}

HRESULT CFakeFirewall::GetCurrentProfile(PNETFWPOLICY policy, PNETFWPROFILE* profile) {
    *profile = nullptr;
    HRESULT hr = S_OK;
    if (Fail("INetFwPolicy::get_CurrentProfile", &hr)) return hr;
    if (Find(policy, Kind::Policy, "INetFwPolicy::get_CurrentProfile") == nullptr) return E_POINTER;
    const std::uint64_t object = NewObject();
    m_objects[object].profileType = currentProfile;
    *profile = NewInterface<PNETFWPROFILE>(Kind::Profile, object);
    return S_OK;
}

HRESULT CFakeFirewall::GetAuthorizedApplications(PNETFWPROFILE profile, PNETFWAUTHAPPS* applications) {
    *applications = nullptr;
    HRESULT hr = S_OK;
    if (Fail("INetFwProfile::get_AuthorizedApplications", &hr)) return hr;
    Object* owner = Find(profile, Kind::Profile, "INetFwProfile::get_AuthorizedApplications");
    if (owner == nullptr) return E_POINTER;
    const LONG type = owner->profileType;
    const std::uint64_t object = NewObject();
    m_objects[object].profileType = type;
    *applications = NewInterface<PNETFWAUTHAPPS>(Kind::Apps, object);
    return S_OK;
}

HRESULT CFakeFirewall::AuthorizedApplicationsItem(PNETFWAUTHAPPS applications, const char16_t* imageFileName,
                                                  PNETFWAUTHAPP* application) {
    *application = nullptr;
    HRESULT hr = S_OK;
    if (Fail("INetFwAuthorizedApplications::Item", &hr)) return hr;
    Object* list = Find(applications, Kind::Apps, "INetFwAuthorizedApplications::Item");
    if (list == nullptr) return E_POINTER;
    if (stubbed) return E_NOTIMPL;
    if (imageFileName == nullptr) return E_INVALIDARG;
    const LONG type = list->profileType;
    const std::vector<AuthorizedApplication>& entries = authorizedApplications[type];
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!SameImage(entries[i].imageFileName, imageFileName)) continue;
        const std::uint64_t object = NewObject();
        m_objects[object].profileType = type;
        m_objects[object].storedApp = i;
        *application = NewInterface<PNETFWAUTHAPP>(Kind::App, object);
        return S_OK;
    }
    return HResultFromWin32(ERROR_FILE_NOT_FOUND);
}

HRESULT CFakeFirewall::AuthorizedApplicationsAdd(PNETFWAUTHAPPS applications, PNETFWAUTHAPP application) {
    HRESULT hr = S_OK;
    if (Fail("INetFwAuthorizedApplications::Add", &hr)) return hr;
    Object* list = Find(applications, Kind::Apps, "INetFwAuthorizedApplications::Add");
    Object* entry = Find(application, Kind::App, "INetFwAuthorizedApplications::Add");
    if (list == nullptr || entry == nullptr) return E_POINTER;
    if (Failed(addError)) return addError;
    if (stubbed) return S_OK;
    const AuthorizedApplication* settings = AppOf(*entry);
    if (settings == nullptr) return E_FAIL;
    if (settings->imageFileName.empty()) return E_INVALIDARG;
    const AuthorizedApplication added = *settings;
    std::vector<AuthorizedApplication>& entries = authorizedApplications[list->profileType];
    std::size_t index = 0;
    while (index < entries.size() && !SameImage(entries[index].imageFileName, added.imageFileName)) ++index;
    if (index == entries.size()) {
        entries.push_back(added);
    } else {
        entries[index] = added;
    }
    entry->profileType = list->profileType;
    entry->storedApp = index;
    return S_OK;
}

HRESULT CFakeFirewall::AuthorizedApplicationsRemove(PNETFWAUTHAPPS applications, const char16_t* imageFileName) {
    HRESULT hr = S_OK;
    if (Fail("INetFwAuthorizedApplications::Remove", &hr)) return hr;
    Object* list = Find(applications, Kind::Apps, "INetFwAuthorizedApplications::Remove");
    if (list == nullptr) return E_POINTER;
    if (stubbed) return S_OK;
    if (imageFileName == nullptr) return E_INVALIDARG;
    const LONG type = list->profileType;
    std::vector<AuthorizedApplication>& entries = authorizedApplications[type];
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!SameImage(entries[i].imageFileName, imageFileName)) continue;
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        ForgetStoredApp(type, i);
        return S_OK;
    }
    return HResultFromWin32(ERROR_FILE_NOT_FOUND);
}

void CFakeFirewall::ForgetStoredApp(LONG profileType, std::size_t index) {
    for (auto& [id, object] : m_objects) {
        if (!object.storedApp || object.profileType != profileType) continue;
        if (*object.storedApp == index) {
            object.storedApp.reset();  // a detached copy of nothing: its settings are gone
            object.app = AuthorizedApplication{};
        } else if (*object.storedApp > index) {
            --*object.storedApp;
        }
    }
}

template <typename Apply>
HRESULT CFakeFirewall::SetApp(PNETFWAUTHAPP application, const char* call, Apply apply) {
    HRESULT hr = S_OK;
    if (Fail(call, &hr)) return hr;
    Object* object = Find(application, Kind::App, call);
    if (object == nullptr) return E_POINTER;
    if (stubbed) return S_OK;
    AuthorizedApplication* settings = AppOf(*object);
    if (settings == nullptr) return E_FAIL;
    return apply(*settings);
}

HRESULT CFakeFirewall::SetAuthorizedApplicationName(PNETFWAUTHAPP application, const char16_t* name) {
    return SetApp(application, "INetFwAuthorizedApplication::put_Name", [name](AuthorizedApplication& a) {
        if (name == nullptr) return E_INVALIDARG;
        a.name = name;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetAuthorizedApplicationImageFileName(PNETFWAUTHAPP application, const char16_t* imageFileName) {
    return SetApp(application, "INetFwAuthorizedApplication::put_ProcessImageFileName",
                  [imageFileName](AuthorizedApplication& a) {
                      if (imageFileName == nullptr) return E_INVALIDARG;
                      a.imageFileName = imageFileName;
                      return S_OK;
                  });
}

HRESULT CFakeFirewall::SetAuthorizedApplicationEnabled(PNETFWAUTHAPP application, VARIANT_BOOL enabled) {
    valuesSet.push_back({"INetFwAuthorizedApplication::put_Enabled", enabled});
    return SetApp(application, "INetFwAuthorizedApplication::put_Enabled", [enabled](AuthorizedApplication& a) {
        a.enabled = enabled != VARIANT_FALSE;
        return S_OK;
    });
}

// ---- the rule interface -------------------------------------------------------------

HRESULT CFakeFirewall::GetRules(PNETFWPOLICY2 policy, PNETFWRULES* out) {
    *out = nullptr;
    HRESULT hr = S_OK;
    if (Fail("INetFwPolicy2::get_Rules", &hr)) return hr;
    if (Find(policy, Kind::Policy2, "INetFwPolicy2::get_Rules") == nullptr) return E_POINTER;
    *out = NewInterface<PNETFWRULES>(Kind::Rules, NewObject());
    return S_OK;
}

HRESULT CFakeFirewall::RulesAdd(PNETFWRULES collection, PNETFWRULE rule) {
    HRESULT hr = S_OK;
    if (Fail("INetFwRules::Add", &hr)) return hr;
    Object* list = Find(collection, Kind::Rules, "INetFwRules::Add");
    Object* object = Find(rule, Kind::Rule, "INetFwRules::Add");
    if (list == nullptr || object == nullptr) return E_POINTER;
    if (Failed(addError)) return addError;
    if (stubbed) return S_OK;
    const Rule* settings = RuleOf(*object);
    if (settings == nullptr) return E_FAIL;
    rules.push_back(*settings);
    object->storedRule = rules.size() - 1;
    return S_OK;
}

HRESULT CFakeFirewall::RulesRemove(PNETFWRULES collection, const char16_t* name) {
    HRESULT hr = S_OK;
    if (Fail("INetFwRules::Remove", &hr)) return hr;
    if (Find(collection, Kind::Rules, "INetFwRules::Remove") == nullptr) return E_POINTER;
    if (stubbed) return S_OK;
    if (name == nullptr) return E_INVALIDARG;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        if (!SameImage(rules[i].name, name)) continue;
        rules.erase(rules.begin() + static_cast<std::ptrdiff_t>(i));
        ForgetStoredRule(i);
        break;
    }
    return S_OK;  // a name no rule has changes nothing
}

void CFakeFirewall::ForgetStoredRule(std::size_t index) {
    for (auto& [id, object] : m_objects) {
        if (object.storedRule) {
            if (*object.storedRule == index) {
                object.storedRule.reset();
                object.rule = Rule{};
            } else if (*object.storedRule > index) {
                --*object.storedRule;
            }
        }
        // An enumerator's snapshot loses the rule; the rest keep their order.
        std::vector<std::size_t> kept;
        std::size_t position = object.position;
        for (std::size_t at = 0; at < object.items.size(); ++at) {
            if (object.items[at] == index) {
                if (at < object.position) --position;
                continue;
            }
            kept.push_back(object.items[at] > index ? object.items[at] - 1 : object.items[at]);
        }
        object.items = std::move(kept);
        object.position = position;
    }
}

HRESULT CFakeFirewall::GetRulesNewEnum(PNETFWRULES collection, PUNKNOWN* enumerator) {
    *enumerator = nullptr;
    HRESULT hr = S_OK;
    if (Fail("INetFwRules::get__NewEnum", &hr)) return hr;
    if (Find(collection, Kind::Rules, "INetFwRules::get__NewEnum") == nullptr) return E_POINTER;
    if (stubbed) return E_NOTIMPL;
    const std::uint64_t object = NewObject();
    for (std::size_t i = 0; i < rules.size(); ++i) m_objects[object].items.push_back(i);
    *enumerator = NewInterface<PUNKNOWN>(Kind::Unknown, object);
    return S_OK;
}

HRESULT CFakeFirewall::QueryEnumVariant(PUNKNOWN enumerator, PENUMVARIANT* items) {
    *items = nullptr;
    HRESULT hr = S_OK;
    if (Fail("QueryInterface(IEnumVARIANT)", &hr)) return hr;
    if (Find(enumerator, Kind::Unknown, "QueryInterface(IEnumVARIANT)") == nullptr) return E_POINTER;
    *items = NewInterface<PENUMVARIANT>(Kind::EnumVariant, ObjectId(enumerator));
    return S_OK;
}

HRESULT CFakeFirewall::EnumNextDispatch(PENUMVARIANT items, PDISPATCH* item) {
    *item = nullptr;
    HRESULT hr = S_OK;
    if (Fail("IEnumVARIANT::Next", &hr)) return hr;
    Object* enumerator = Find(items, Kind::EnumVariant, "IEnumVARIANT::Next");
    if (enumerator == nullptr) return E_POINTER;
    if (enumerator->position >= enumerator->items.size()) {
        if (!endlessEnumeration || enumerator->items.empty()) return S_FALSE;
        enumerator->position = 0;
    }
    const std::size_t index = enumerator->items[enumerator->position++];
    const std::uint64_t object = NewObject();
    m_objects[object].storedRule = index;
    ++itemsEnumerated;
    *item = NewInterface<PDISPATCH>(Kind::Dispatch, object);
    return S_OK;
}

HRESULT CFakeFirewall::QueryNetFwRule(PDISPATCH item, PNETFWRULE* rule) {
    *rule = nullptr;
    HRESULT hr = S_OK;
    if (Fail("QueryInterface(INetFwRule)", &hr)) return hr;
    if (Find(item, Kind::Dispatch, "QueryInterface(INetFwRule)") == nullptr) return E_POINTER;
    *rule = NewInterface<PNETFWRULE>(Kind::Rule, ObjectId(item));
    return S_OK;
}

HRESULT CFakeFirewall::GetRuleApplicationName(PNETFWRULE rule, std::u16string* applicationName) {
    HRESULT hr = S_OK;
    if (Fail("INetFwRule::get_ApplicationName", &hr)) return hr;
    Object* object = Find(rule, Kind::Rule, "INetFwRule::get_ApplicationName");
    if (object == nullptr || applicationName == nullptr) return E_POINTER;
    if (stubbed) return E_NOTIMPL;
    const Rule* settings = RuleOf(*object);
    if (settings == nullptr) return E_FAIL;
    *applicationName = settings->applicationName;
    return S_OK;
}

HRESULT CFakeFirewall::GetRuleName(PNETFWRULE rule, std::u16string* name) {
    HRESULT hr = S_OK;
    if (Fail("INetFwRule::get_Name", &hr)) return hr;
    Object* object = Find(rule, Kind::Rule, "INetFwRule::get_Name");
    if (object == nullptr || name == nullptr) return E_POINTER;
    if (stubbed) return E_NOTIMPL;
    const Rule* settings = RuleOf(*object);
    if (settings == nullptr) return E_FAIL;
    *name = settings->name;
    return S_OK;
}

HRESULT CFakeFirewall::GetRuleDirection(PNETFWRULE rule, LONG* direction) {
    HRESULT hr = S_OK;
    if (Fail("INetFwRule::get_Direction", &hr)) return hr;
    Object* object = Find(rule, Kind::Rule, "INetFwRule::get_Direction");
    if (object == nullptr || direction == nullptr) return E_POINTER;
    if (stubbed) return E_NOTIMPL;
    const Rule* settings = RuleOf(*object);
    if (settings == nullptr) return E_FAIL;
    *direction = settings->direction;
    return S_OK;
}

template <typename Apply>
HRESULT CFakeFirewall::SetRule(PNETFWRULE rule, const char* call, Apply apply) {
    HRESULT hr = S_OK;
    if (Fail(call, &hr)) return hr;
    Object* object = Find(rule, Kind::Rule, call);
    if (object == nullptr) return E_POINTER;
    if (stubbed) return S_OK;
    Rule* settings = RuleOf(*object);
    if (settings == nullptr) return E_FAIL;
    return apply(*settings);
}

HRESULT CFakeFirewall::SetRuleName(PNETFWRULE rule, const char16_t* name) {
    return SetRule(rule, "INetFwRule::put_Name", [name](Rule& r) {
        if (name == nullptr) return E_INVALIDARG;
        r.name = name;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetRuleDescription(PNETFWRULE rule, const char16_t* description) {
    return SetRule(rule, "INetFwRule::put_Description", [description](Rule& r) {
        if (description == nullptr) return E_INVALIDARG;
        r.description = description;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetRuleApplicationName(PNETFWRULE rule, const char16_t* applicationName) {
    return SetRule(rule, "INetFwRule::put_ApplicationName", [applicationName](Rule& r) {
        if (applicationName == nullptr) return E_INVALIDARG;
        r.applicationName = applicationName;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetRuleProtocol(PNETFWRULE rule, LONG protocol) {
    valuesSet.push_back({"INetFwRule::put_Protocol", protocol});
    return SetRule(rule, "INetFwRule::put_Protocol", [protocol](Rule& r) {
        if (protocol < 0 || protocol > NET_FW_IP_PROTOCOL_ANY) return E_INVALIDARG;
        r.protocol = protocol;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetRuleDirection(PNETFWRULE rule, LONG direction) {
    valuesSet.push_back({"INetFwRule::put_Direction", direction});
    return SetRule(rule, "INetFwRule::put_Direction", [direction](Rule& r) {
        if (direction != NET_FW_RULE_DIR_IN && direction != NET_FW_RULE_DIR_OUT) return E_INVALIDARG;
        r.direction = direction;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetRuleProfiles(PNETFWRULE rule, LONG profiles) {
    valuesSet.push_back({"INetFwRule::put_Profiles", profiles});
    return SetRule(rule, "INetFwRule::put_Profiles", [profiles](Rule& r) {
        r.profiles = profiles;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetRuleAction(PNETFWRULE rule, LONG action) {
    valuesSet.push_back({"INetFwRule::put_Action", action});
    return SetRule(rule, "INetFwRule::put_Action", [action](Rule& r) {
        if (action != NET_FW_ACTION_BLOCK && action != NET_FW_ACTION_ALLOW) return E_INVALIDARG;
        r.action = action;
        return S_OK;
    });
}

HRESULT CFakeFirewall::SetRuleEnabled(PNETFWRULE rule, VARIANT_BOOL enabled) {
    valuesSet.push_back({"INetFwRule::put_Enabled", enabled});
    return SetRule(rule, "INetFwRule::put_Enabled", [enabled](Rule& r) {
        r.enabled = enabled != VARIANT_FALSE;
        return S_OK;
    });
}

// ---- releases -----------------------------------------------------------------------

ULONG CFakeFirewall::ReleaseNetFwMgr(PNETFWMGR p) { return Release(p, Kind::Mgr, "INetFwMgr::Release"); }
ULONG CFakeFirewall::ReleasePolicy(PNETFWPOLICY p) { return Release(p, Kind::Policy, "INetFwPolicy::Release"); }
ULONG CFakeFirewall::ReleaseProfile(PNETFWPROFILE p) { return Release(p, Kind::Profile, "INetFwProfile::Release"); }
ULONG CFakeFirewall::ReleaseAuthorizedApplications(PNETFWAUTHAPPS p) {
    return Release(p, Kind::Apps, "INetFwAuthorizedApplications::Release");
}
ULONG CFakeFirewall::ReleaseAuthorizedApplication(PNETFWAUTHAPP p) {
    return Release(p, Kind::App, "INetFwAuthorizedApplication::Release");
}
ULONG CFakeFirewall::ReleasePolicy2(PNETFWPOLICY2 p) { return Release(p, Kind::Policy2, "INetFwPolicy2::Release"); }
ULONG CFakeFirewall::ReleaseRules(PNETFWRULES p) { return Release(p, Kind::Rules, "INetFwRules::Release"); }
ULONG CFakeFirewall::ReleaseRule(PNETFWRULE p) { return Release(p, Kind::Rule, "INetFwRule::Release"); }
ULONG CFakeFirewall::ReleaseUnknown(PUNKNOWN p) { return Release(p, Kind::Unknown, "IUnknown::Release"); }
ULONG CFakeFirewall::ReleaseEnumVariant(PENUMVARIANT p) {
    return Release(p, Kind::EnumVariant, "IEnumVARIANT::Release");
}
ULONG CFakeFirewall::ReleaseDispatch(PDISPATCH p) { return Release(p, Kind::Dispatch, "IDispatch::Release"); }

}  // namespace fake
