// The registry of the in-memory machine.
//
// A tree of keys under the predefined roots; key and value names compare without case,
// values keep their type and exact bytes. Handles remember the access they were opened
// with. Test helpers take paths such as "HKLM\\Software\\Vendor" (roots HKLM, HKCU, HKCR,
// HKU or their long names).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake/fake_machine.h"

namespace fake {

class CFakeRegistry final : public os::IRegistry {
public:
    explicit CFakeRegistry(CFakeMachine& machine);
    ~CFakeRegistry() override;

    os::LONG RegCreateKeyExA(os::HKEY key, const char* subKey, os::DWORD options, os::DWORD access,
                             os::HKEY* result, os::DWORD* disposition) override;
    os::LONG RegOpenKeyExA(os::HKEY key, const char* subKey, os::DWORD access, os::HKEY* result) override;
    os::LONG RegQueryInfoKeyA(os::HKEY key, os::DWORD* subKeys, os::DWORD* maxSubKeyLength, os::DWORD* values,
                              os::DWORD* maxValueNameLength, os::DWORD* maxValueLength) override;
    os::LONG RegEnumKeyExA(os::HKEY key, os::DWORD index, char* name, os::DWORD* nameSize) override;
    os::LONG RegEnumValueA(os::HKEY key, os::DWORD index, char* name, os::DWORD* nameSize, os::DWORD* type,
                           os::BYTE* data, os::DWORD* dataSize) override;
    os::LONG RegQueryValueExA(os::HKEY key, const char* name, os::DWORD* type, os::BYTE* data,
                              os::DWORD* dataSize) override;
    os::LONG RegSetValueExA(os::HKEY key, const char* name, os::DWORD type, const os::BYTE* data,
                            os::DWORD size) override;
    os::LONG RegDeleteValueA(os::HKEY key, const char* name) override;
    os::LONG RegDeleteKeyA(os::HKEY key, const char* subKey) override;
    os::LONG RegCloseKey(os::HKEY key) override;

    // Arranging and inspecting the registry (never fail, never counted). Setting a value
    // creates the key and its parents.
    struct Value {
        os::DWORD type = 0;
        std::vector<std::uint8_t> data;
        bool operator==(const Value& other) const { return type == other.type && data == other.data; }
    };
    void CreateKey(const std::string& path);
    void SetValue(const std::string& path, const std::string& name, os::DWORD type,
                  const std::vector<std::uint8_t>& data);
    // The text and its terminating zero, as REG_SZ (or the type given).
    void SetString(const std::string& path, const std::string& name, const std::string& text,
                   os::DWORD type = 1 /* REG_SZ */);
    void SetDword(const std::string& path, const std::string& name, os::DWORD value);
    std::optional<Value> GetValue(const std::string& path, const std::string& name) const;
    // A REG_SZ/REG_EXPAND_SZ value up to its first zero; nothing for other types.
    std::optional<std::string> GetString(const std::string& path, const std::string& name) const;
    // A REG_DWORD value of exactly 4 bytes; nothing otherwise.
    std::optional<os::DWORD> GetDword(const std::string& path, const std::string& name) const;
    bool KeyExists(const std::string& path) const;
    void DeleteValue(const std::string& path, const std::string& name);
    void DeleteTree(const std::string& path);  // the key with everything below it
    std::vector<std::string> SubKeyNames(const std::string& path) const;  // enumeration order
    std::vector<std::string> ValueNames(const std::string& path) const;   // enumeration order

    // A standard user: opening or creating the key, or any key below it, with write
    // access (or deleting it) gives ERROR_ACCESS_DENIED until AllowWrite.
    void DenyWrite(const std::string& path);
    void AllowWrite(const std::string& path);

    // Keys opened or created through the seam and not closed.
    std::size_t OpenKeyCount() const { return m_handles.size(); }

    // Every key ("HKLM\\SOFTWARE\\X" -> "<key>") and value ("HKLM\\SOFTWARE\\X|NAME" ->
    // type and bytes), names upper-cased: compare before and after.
    std::map<std::string, std::string> Snapshot() const;

private:
    struct Node;
    using NodePtr = std::shared_ptr<Node>;
    struct NameLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    struct NamedValue {
        std::string name;
        Value value;
    };
    struct Node {
        std::string name;  // as first created
        std::string path;  // full path, root abbreviated ("HKLM\\Software")
        std::map<std::string, NodePtr, NameLess> children;
        std::vector<NamedValue> values;  // enumeration order: order of creation
        bool deleted = false;
        NamedValue* FindValue(const std::string& valueName);
    };
    struct OpenKey {
        NodePtr node;
        os::DWORD access;
    };

    // The key behind a handle (a predefined root or an open key); access receives what
    // the handle may do.
    os::LONG Resolve(os::HKEY key, NodePtr* node, os::DWORD* access) const;
    // Splits a subkey path; false for a malformed one.
    static bool SplitPath(const char* subKey, std::vector<std::string>* parts);
    NodePtr Walk(const NodePtr& from, const std::vector<std::string>& parts) const;
    NodePtr FindPath(const std::string& path) const;  // test-helper path
    NodePtr MakePath(const std::string& path);
    NodePtr RootOf(const std::string& name) const;
    bool WriteDenied(const std::string& path) const;
    os::HKEY NewKeyHandle(const NodePtr& node, os::DWORD access);
    static void MarkDeleted(const NodePtr& node);

    CFakeMachine& m_machine;
    std::map<std::uintptr_t, NodePtr> m_roots;  // by predefined key value
    std::map<std::uintptr_t, OpenKey> m_handles;
    std::set<std::string, NameLess> m_denied;
    std::uintptr_t m_next = 0x9000;
};

}  // namespace fake
