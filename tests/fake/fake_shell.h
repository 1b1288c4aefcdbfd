// COM, the shell link object and the restart request of the in-memory machine.
//
// Saved links become files in the fake file tree whose content is a readable record of
// the link's settings. The area counts COM initialisation and references, and notes
// every misuse (a release too many, a call on a released interface, CoUninitialize
// without CoInitialize or with objects still alive), so tests can assert that every
// path cleaned up.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake/fake_machine.h"

namespace fake {

class CFakeShell final : public os::IShell {
public:
    explicit CFakeShell(CFakeMachine& machine);
    ~CFakeShell() override;

    os::HRESULT CoInitialize() override;
    void CoUninitialize() override;
    os::HRESULT CreateShellLink(os::PSHELLLINK* link) override;
    os::HRESULT QueryPersistFile(os::PSHELLLINK link, os::PPERSISTFILE* file) override;
    os::ULONG ReleaseShellLink(os::PSHELLLINK link) override;
    os::ULONG ReleasePersistFile(os::PPERSISTFILE file) override;
    os::HRESULT SetPath(os::PSHELLLINK link, const char* path) override;
    os::HRESULT SetArguments(os::PSHELLLINK link, const char* arguments) override;
    os::HRESULT SetWorkingDirectory(os::PSHELLLINK link, const char* directory) override;
    os::HRESULT SetDescription(os::PSHELLLINK link, const char* description) override;
    os::HRESULT SetIconLocation(os::PSHELLLINK link, const char* path, int index) override;
    os::HRESULT Save(os::PPERSISTFILE file, const char* path, os::BOOL remember) override;
    os::BOOL ExitWindowsEx(os::UINT flags, os::DWORD reason) override;
    os::BOOL SHGetSpecialFolderPathA(os::HWND owner, char* path, int csidl, os::BOOL create) override;

    // The file content Save writes for a link with these settings (absent: never set).
    struct LinkSettings {
        std::optional<std::string> path;
        std::optional<std::string> arguments;
        std::optional<std::string> workingDirectory;
        std::optional<std::string> description;
        std::optional<std::string> iconPath;
        int iconIndex = 0;
    };
    static std::string LinkRecord(const LinkSettings& settings);

    // COM initialisations of the (one) thread not yet balanced by CoUninitialize.
    int ComDepth() const { return m_depth; }
    unsigned coInitializeCalls = 0;  // successful ones
    unsigned coUninitializeCalls = 0;
    // Link objects with references left, and interface pointers not yet released.
    std::size_t LiveObjectCount() const { return m_objects.size(); }
    std::size_t LiveInterfaceCount() const { return m_interfaces.size(); }
    unsigned objectsCreated = 0;
    // Every misuse of COM seen, in order; empty when the caller kept the rules.
    std::vector<std::string> misuse;

    // Accepted ExitWindowsEx requests, in order.
    struct RestartRequest {
        os::UINT flags;
        os::DWORD reason;
    };
    std::vector<RestartRequest> restartRequests;

    // The shell's special folders by CSIDL value. A folder that is not in the file tree is
    // created when asked for, else the call fails; a value not listed fails.
    std::map<int, std::string> specialFolders = DefaultSpecialFolders();
    static std::map<int, std::string> DefaultSpecialFolders();

private:
    enum class Kind { Link, PersistFile };
    struct Interface {
        Kind kind;
        std::uint64_t object;
    };
    struct Object {
        os::ULONG references = 0;
        LinkSettings settings;
    };
    // The object behind a live interface pointer of the kind, or null (noted as misuse).
    Object* Find(const void* pointer, Kind kind, const char* call);
    std::uintptr_t NewInterface(Kind kind, std::uint64_t object);
    os::ULONG Release(const void* pointer, Kind kind, const char* call);
    os::HRESULT Set(os::PSHELLLINK link, const char* call, std::optional<std::string> LinkSettings::*field,
                    const char* value);
    // When the fault plan fails the call: the failing HRESULT (the plan's error as it is
    // when it already is one, else as a Win32 error).
    bool Fail(const char* call, os::HRESULT* hr);

    CFakeMachine& m_machine;
    int m_depth = 0;
    std::map<std::uintptr_t, Interface> m_interfaces;
    std::map<std::uint64_t, Object> m_objects;
    std::uintptr_t m_nextPointer = 0x5000;
    std::uint64_t m_nextObject = 1;
};

}  // namespace fake
