#include "fake/fake_registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/constants.h"

namespace fake {

using namespace os;

namespace {

constexpr LONG ERROR_KEY_DELETED = 1018;
// Access rights that change a key or what is below it.
constexpr DWORD WRITE_RIGHTS = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x0020 /* KEY_CREATE_LINK */ |
                               0x00010000 /* DELETE */ | 0x00040000 /* WRITE_DAC */ | 0x00080000 /* WRITE_OWNER */;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct RootName {
    const char* shortName;
    const char* longName;
    HKEY key;
};

const RootName* RootNames() {
    static const RootName names[] = {
        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKU", "HKEY_USERS", HKEY_USERS},
        {nullptr, nullptr, nullptr},
    };
    return names;
}

// Copies a name and its terminator into a buffer of size characters.
LONG CopyName(const std::string& text, char* buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < text.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *size = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

// The data half of RegQueryValueExA/RegEnumValueA: null data asks the size only.
LONG CopyData(const std::vector<std::uint8_t>& value, BYTE* data, DWORD* size) {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    if (size == nullptr) return ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(value.size());
    if (data == nullptr) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed != 0) std::memcpy(data, value.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

bool UnderOrSame(const std::string& path, const std::string& base) {
    if (path.size() < base.size()) return false;
    if (Upper(path.substr(0, base.size())) != Upper(base)) return false;
    return path.size() == base.size() || path[base.size()] == '\\';
}

}  // namespace

bool CFakeRegistry::NameLess::operator()(const std::string& a, const std::string& b) const {
    return Upper(a) < Upper(b);
}

CFakeRegistry::NamedValue* CFakeRegistry::Node::FindValue(const std::string& valueName) {
    const std::string wanted = Upper(valueName);
    for (NamedValue& v : values) {
        if (Upper(v.name) == wanted) return &v;
    }
    return nullptr;
}

CFakeRegistry::CFakeRegistry(CFakeMachine& machine) : m_machine(machine) {
    for (const RootName* r = RootNames(); r->shortName != nullptr; ++r) {
        auto node = std::make_shared<Node>();
        node->name = r->shortName;
        node->path = r->shortName;
        m_roots[reinterpret_cast<std::uintptr_t>(r->key)] = node;
    }
    // What every Windows installation has.
    CreateKey("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    CreateKey("HKLM\\SYSTEM\\CurrentControlSet\\Control");
    CreateKey("HKCU\\Software");
}

CFakeRegistry::~CFakeRegistry() = default;

// ---- the seam -----------------------------------------------------------------------

LONG CFakeRegistry::Resolve(HKEY key, NodePtr* node, DWORD* access) const {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(key);
    auto root = m_roots.find(value);
    if (root != m_roots.end()) {
        *node = root->second;
        *access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    auto open = m_handles.find(value);
    if (open == m_handles.end()) return ERROR_INVALID_HANDLE;
    if (open->second.node->deleted) return ERROR_KEY_DELETED;
    *node = open->second.node;
    *access = open->second.access;
    return ERROR_SUCCESS;
}

bool CFakeRegistry::SplitPath(const char* subKey, std::vector<std::string>* parts) {
    parts->clear();
    if (subKey == nullptr || *subKey == '\0') return true;
    if (*subKey == '\\') return false;
    std::string current;
    for (const char* p = subKey; *p != '\0'; ++p) {
        if (*p == '\\') {
            if (current.empty()) return false;  // "a\\\\b"
            parts->push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts->push_back(current);  // a trailing separator is allowed
    return true;
}

CFakeRegistry::NodePtr CFakeRegistry::Walk(const NodePtr& from, const std::vector<std::string>& parts) const {
    NodePtr node = from;
    for (const std::string& part : parts) {
        auto it = node->children.find(part);
        if (it == node->children.end()) return nullptr;
        node = it->second;
    }
    return node;
}

HKEY CFakeRegistry::NewKeyHandle(const NodePtr& node, DWORD access) {
    const std::uintptr_t handle = m_next;
    m_next += 4;
    m_handles[handle] = OpenKey{node, access};
    return reinterpret_cast<HKEY>(handle);
}

bool CFakeRegistry::WriteDenied(const std::string& path) const {
    for (const std::string& base : m_denied) {
        if (UnderOrSame(path, base)) return true;
    }
    return false;
}

LONG CFakeRegistry::RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result,
                                    DWORD* disposition) {
    if (result) *result = nullptr;
    if (m_machine.Fail("RegCreateKeyExA")) return static_cast<LONG>(m_machine.lastError);
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    (void)options;  // every key of the fake is non-volatile
    NodePtr node;
    DWORD parentAccess = 0;
    if (const LONG status = Resolve(key, &node, &parentAccess); status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return ERROR_BAD_PATHNAME;
    // Find how much exists, then check the rights before creating anything.
    std::size_t existing = 0;
    NodePtr walk = node;
    for (; existing < parts.size(); ++existing) {
        auto it = walk->children.find(parts[existing]);
        if (it == walk->children.end()) break;
        walk = it->second;
    }
    const bool creates = existing < parts.size();
    std::string target = node->path;
    for (const std::string& part : parts) target += "\\" + part;
    if (creates && (!(parentAccess & KEY_CREATE_SUB_KEY) || WriteDenied(target))) return ERROR_ACCESS_DENIED;
    if ((access & WRITE_RIGHTS) && WriteDenied(target)) return ERROR_ACCESS_DENIED;
    for (std::size_t i = existing; i < parts.size(); ++i) {
        auto child = std::make_shared<Node>();
        child->name = parts[i];
        child->path = walk->path + "\\" + parts[i];
        walk->children[parts[i]] = child;
        walk = child;
    }
    *result = NewKeyHandle(walk, access);
    if (disposition) *disposition = creates ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG CFakeRegistry::RegOpenKeyExA(HKEY key, const char* subKey, DWORD access, HKEY* result) {
    if (result) *result = nullptr;
    if (m_machine.Fail("RegOpenKeyExA")) return static_cast<LONG>(m_machine.lastError);
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    NodePtr node;
    DWORD parentAccess = 0;
    if (const LONG status = Resolve(key, &node, &parentAccess); status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return ERROR_BAD_PATHNAME;
    NodePtr found = Walk(node, parts);
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    if ((access & WRITE_RIGHTS) && WriteDenied(found->path)) return ERROR_ACCESS_DENIED;
    *result = NewKeyHandle(found, access);
    return ERROR_SUCCESS;
}

LONG CFakeRegistry::RegQueryInfoKeyA(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values,
                                     DWORD* maxValueNameLength, DWORD* maxValueLength) {
    if (m_machine.Fail("RegQueryInfoKeyA")) return static_cast<LONG>(m_machine.lastError);
    NodePtr node;
    DWORD access = 0;
    if (const LONG status = Resolve(key, &node, &access); status != ERROR_SUCCESS) return status;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    DWORD longestKey = 0, longestName = 0, longestData = 0;
    for (const auto& [name, child] : node->children) {
        longestKey = std::max(longestKey, static_cast<DWORD>(child->name.size()));
    }
    for (const NamedValue& v : node->values) {
        longestName = std::max(longestName, static_cast<DWORD>(v.name.size()));
        longestData = std::max(longestData, static_cast<DWORD>(v.value.data.size()));
    }
    if (subKeys) *subKeys = static_cast<DWORD>(node->children.size());
    if (maxSubKeyLength) *maxSubKeyLength = longestKey;
    if (values) *values = static_cast<DWORD>(node->values.size());
    if (maxValueNameLength) *maxValueNameLength = longestName;
    if (maxValueLength) *maxValueLength = longestData;
    return ERROR_SUCCESS;
}

LONG CFakeRegistry::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize) {
    if (m_machine.Fail("RegEnumKeyExA")) return static_cast<LONG>(m_machine.lastError);
    NodePtr node;
    DWORD access = 0;
    if (const LONG status = Resolve(key, &node, &access); status != ERROR_SUCCESS) return status;
    if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    std::advance(it, index);
    return CopyName(it->second->name, name, nameSize);
}

LONG CFakeRegistry::RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                                  DWORD* dataSize) {
    if (m_machine.Fail("RegEnumValueA")) return static_cast<LONG>(m_machine.lastError);
    NodePtr node;
    DWORD access = 0;
    if (const LONG status = Resolve(key, &node, &access); status != ERROR_SUCCESS) return status;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const NamedValue& v = node->values[index];
    if (const LONG status = CopyName(v.name, name, nameSize); status != ERROR_SUCCESS) return status;
    if (type) *type = v.value.type;
    return CopyData(v.value.data, data, dataSize);
}

LONG CFakeRegistry::RegQueryValueExA(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* dataSize) {
    if (m_machine.Fail("RegQueryValueExA")) return static_cast<LONG>(m_machine.lastError);
    NodePtr node;
    DWORD access = 0;
    if (const LONG status = Resolve(key, &node, &access); status != ERROR_SUCCESS) return status;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    const NamedValue* v = node->FindValue(name ? name : "");
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->value.type;
    return CopyData(v->value.data, data, dataSize);
}

LONG CFakeRegistry::RegSetValueExA(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    if (m_machine.Fail("RegSetValueExA")) return static_cast<LONG>(m_machine.lastError);
    NodePtr node;
    DWORD access = 0;
    if (const LONG status = Resolve(key, &node, &access); status != ERROR_SUCCESS) return status;
    if (!(access & KEY_SET_VALUE) || WriteDenied(node->path)) return ERROR_ACCESS_DENIED;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    Value value;
    value.type = type;
    if (size != 0) value.data.assign(data, data + size);
    const std::string valueName = name ? name : "";
    if (NamedValue* existing = node->FindValue(valueName)) {
        existing->value = std::move(value);
    } else {
        node->values.push_back(NamedValue{valueName, std::move(value)});
    }
    return ERROR_SUCCESS;
}

LONG CFakeRegistry::RegDeleteValueA(HKEY key, const char* name) {
    if (m_machine.Fail("RegDeleteValueA")) return static_cast<LONG>(m_machine.lastError);
    NodePtr node;
    DWORD access = 0;
    if (const LONG status = Resolve(key, &node, &access); status != ERROR_SUCCESS) return status;
    if (!(access & KEY_SET_VALUE) || WriteDenied(node->path)) return ERROR_ACCESS_DENIED;
    const std::string wanted = Upper(name ? name : "");
    for (auto it = node->values.begin(); it != node->values.end(); ++it) {
        if (Upper(it->name) == wanted) {
            node->values.erase(it);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG CFakeRegistry::RegDeleteKeyA(HKEY key, const char* subKey) {
    if (m_machine.Fail("RegDeleteKeyA")) return static_cast<LONG>(m_machine.lastError);
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    NodePtr node;
    DWORD access = 0;
    if (const LONG status = Resolve(key, &node, &access); status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return ERROR_BAD_PATHNAME;
    if (parts.empty()) return ERROR_ACCESS_DENIED;  // a root, or the handle's own key
    NodePtr parent = Walk(node, std::vector<std::string>(parts.begin(), parts.end() - 1));
    if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
    auto it = parent->children.find(parts.back());
    if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
    // Windows refuses a key that still has subkeys with ERROR_ACCESS_DENIED.
    if (!it->second->children.empty() || WriteDenied(it->second->path)) return ERROR_ACCESS_DENIED;
    MarkDeleted(it->second);
    parent->children.erase(it);
    return ERROR_SUCCESS;
}

LONG CFakeRegistry::RegCloseKey(HKEY key) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(key);
    if (m_roots.count(value) != 0) return ERROR_SUCCESS;
    if (m_handles.erase(value) == 0) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

void CFakeRegistry::MarkDeleted(const NodePtr& node) {
    node->deleted = true;
    for (const auto& [name, child] : node->children) MarkDeleted(child);
}

// ---- arranging and inspecting -------------------------------------------------------

CFakeRegistry::NodePtr CFakeRegistry::RootOf(const std::string& name) const {
    const std::string wanted = Upper(name);
    for (const RootName* r = RootNames(); r->shortName != nullptr; ++r) {
        if (wanted == r->shortName || wanted == r->longName) {
            return m_roots.at(reinterpret_cast<std::uintptr_t>(r->key));
        }
    }
    return nullptr;
}

CFakeRegistry::NodePtr CFakeRegistry::FindPath(const std::string& path) const {
    const std::size_t slash = path.find('\\');
    NodePtr root = RootOf(path.substr(0, slash));
    if (root == nullptr) return nullptr;
    if (slash == std::string::npos) return root;
    std::vector<std::string> parts;
    if (!SplitPath(path.c_str() + slash + 1, &parts)) return nullptr;
    return Walk(root, parts);
}

CFakeRegistry::NodePtr CFakeRegistry::MakePath(const std::string& path) {
    const std::size_t slash = path.find('\\');
    NodePtr node = RootOf(path.substr(0, slash));
    if (node == nullptr) return nullptr;
    if (slash == std::string::npos) return node;
    std::vector<std::string> parts;
    if (!SplitPath(path.c_str() + slash + 1, &parts)) return nullptr;
    for (const std::string& part : parts) {
        NodePtr& child = node->children[part];
        if (child == nullptr) {
            child = std::make_shared<Node>();
            child->name = part;
            child->path = node->path + "\\" + part;
        }
        node = child;
    }
    return node;
}

void CFakeRegistry::CreateKey(const std::string& path) { MakePath(path); }

void CFakeRegistry::SetValue(const std::string& path, const std::string& name, DWORD type,
                             const std::vector<std::uint8_t>& data) {
    NodePtr node = MakePath(path);
    if (node == nullptr) return;
    if (NamedValue* existing = node->FindValue(name)) {
        existing->value = Value{type, data};
    } else {
        node->values.push_back(NamedValue{name, Value{type, data}});
    }
}

void CFakeRegistry::SetString(const std::string& path, const std::string& name, const std::string& text,
                              DWORD type) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    SetValue(path, name, type, data);
}

void CFakeRegistry::SetDword(const std::string& path, const std::string& name, DWORD value) {
    SetValue(path, name, REG_DWORD,
             {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

std::optional<CFakeRegistry::Value> CFakeRegistry::GetValue(const std::string& path, const std::string& name) const {
    NodePtr node = FindPath(path);
    if (node == nullptr) return std::nullopt;
    const NamedValue* v = node->FindValue(name);
    if (v == nullptr) return std::nullopt;
    return v->value;
}

std::optional<std::string> CFakeRegistry::GetString(const std::string& path, const std::string& name) const {
    const std::optional<Value> v = GetValue(path, name);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return std::nullopt;
    const auto end = std::find(v->data.begin(), v->data.end(), 0);
    return std::string(v->data.begin(), end);
}

std::optional<DWORD> CFakeRegistry::GetDword(const std::string& path, const std::string& name) const {
    const std::optional<Value> v = GetValue(path, name);
    if (!v || v->type != REG_DWORD || v->data.size() != 4) return std::nullopt;
    return static_cast<DWORD>(v->data[0]) | static_cast<DWORD>(v->data[1]) << 8 |
           static_cast<DWORD>(v->data[2]) << 16 | static_cast<DWORD>(v->data[3]) << 24;
}

bool CFakeRegistry::KeyExists(const std::string& path) const { return FindPath(path) != nullptr; }

void CFakeRegistry::DeleteValue(const std::string& path, const std::string& name) {
    NodePtr node = FindPath(path);
    if (node == nullptr) return;
    const std::string wanted = Upper(name);
    node->values.erase(std::remove_if(node->values.begin(), node->values.end(),
                                      [&](const NamedValue& v) { return Upper(v.name) == wanted; }),
                       node->values.end());
}

void CFakeRegistry::DeleteTree(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos) return;  // roots stay
    NodePtr parent = FindPath(path.substr(0, slash));
    if (parent == nullptr) return;
    auto it = parent->children.find(path.substr(slash + 1));
    if (it == parent->children.end()) return;
    MarkDeleted(it->second);
    parent->children.erase(it);
}

std::vector<std::string> CFakeRegistry::SubKeyNames(const std::string& path) const {
    std::vector<std::string> names;
    if (NodePtr node = FindPath(path)) {
        for (const auto& [key, child] : node->children) names.push_back(child->name);
    }
    return names;
}

std::vector<std::string> CFakeRegistry::ValueNames(const std::string& path) const {
    std::vector<std::string> names;
    if (NodePtr node = FindPath(path)) {
        for (const NamedValue& v : node->values) names.push_back(v.name);
    }
    return names;
}

void CFakeRegistry::DenyWrite(const std::string& path) { m_denied.insert(path); }

void CFakeRegistry::AllowWrite(const std::string& path) { m_denied.erase(path); }

std::map<std::string, std::string> CFakeRegistry::Snapshot() const {
    std::map<std::string, std::string> out;
    std::vector<NodePtr> pending;
    for (const auto& [value, root] : m_roots) pending.push_back(root);
    while (!pending.empty()) {
        NodePtr node = pending.back();
        pending.pop_back();
        const std::string key = Upper(node->path);
        out[key] = "<key>";
        for (const NamedValue& v : node->values) {
            std::string text = "type " + std::to_string(v.value.type) + ": ";
            for (std::uint8_t b : v.value.data) {
                if (b >= 0x20 && b < 0x7F && b != '\\') {
                    text += static_cast<char>(b);
                } else {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
                    text += escaped;
                }
            }
            out[key + "|" + Upper(v.name)] = text;
        }
        for (const auto& [name, child] : node->children) pending.push_back(child);
    }
    return out;
}

}  // namespace fake
