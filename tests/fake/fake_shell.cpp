#include "fake/fake_shell.h"

#include <cstring>

#include "fake/fake_security.h"
#include "platform/constants.h"

namespace fake {

using namespace os;

namespace {
constexpr DWORD kPrivilegeNotHeld = 1314;  // ERROR_PRIVILEGE_NOT_HELD on Windows
}  // namespace

CFakeShell::CFakeShell(CFakeMachine& machine) : m_machine(machine) {}

CFakeShell::~CFakeShell() = default;

std::string CFakeShell::LinkRecord(const LinkSettings& settings) {
    std::string text = "[ShellLink]\r\n";
    if (settings.path) text += "Target=" + *settings.path + "\r\n";
    if (settings.arguments) text += "Arguments=" + *settings.arguments + "\r\n";
    if (settings.workingDirectory) text += "WorkingDirectory=" + *settings.workingDirectory + "\r\n";
    if (settings.description) text += "Description=" + *settings.description + "\r\n";
    if (settings.iconPath) text += "Icon=" + *settings.iconPath + "," + std::to_string(settings.iconIndex) + "\r\n";
    return text;
}

bool CFakeShell::Fail(const char* call, HRESULT* hr) {
    if (!m_machine.Fail(call)) return false;
    const DWORD error = m_machine.lastError;
    *hr = (error & 0x80000000u) != 0 ? static_cast<HRESULT>(error) : error == 0 ? E_FAIL : HResultFromWin32(error);
    return true;
}

HRESULT CFakeShell::CoInitialize() {
    HRESULT hr = S_OK;
    if (Fail("CoInitialize", &hr)) return hr;
    ++m_depth;
    ++coInitializeCalls;
    return m_depth == 1 ? S_OK : S_FALSE;
}

void CFakeShell::CoUninitialize() {
    ++coUninitializeCalls;
    if (m_depth == 0) {
        misuse.push_back("CoUninitialize without CoInitialize");
        return;
    }
    if (--m_depth == 0 && !m_objects.empty()) {
        misuse.push_back("CoUninitialize with " + std::to_string(m_objects.size()) + " object(s) alive");
    }
}

std::uintptr_t CFakeShell::NewInterface(Kind kind, std::uint64_t object) {
    // A new pointer value per reference, so that a second release of one is noticed.
    const std::uintptr_t pointer = m_nextPointer;
    m_nextPointer += 8;
    m_interfaces[pointer] = Interface{kind, object};
    ++m_objects[object].references;
    return pointer;
}

CFakeShell::Object* CFakeShell::Find(const void* pointer, Kind kind, const char* call) {
    auto it = m_interfaces.find(reinterpret_cast<std::uintptr_t>(pointer));
    if (it == m_interfaces.end() || it->second.kind != kind) {
        misuse.push_back(std::string(call) + " on an interface that is not alive");
        return nullptr;
    }
    if (m_depth == 0) misuse.push_back(std::string(call) + " outside an initialised apartment");
    return &m_objects.at(it->second.object);
}

HRESULT CFakeShell::CreateShellLink(PSHELLLINK* link) {
    *link = nullptr;
    HRESULT hr = S_OK;
    if (Fail("CoCreateInstance", &hr)) return hr;
    if (m_depth == 0) return CO_E_NOTINITIALIZED;
    const std::uint64_t object = m_nextObject++;
    ++objectsCreated;
    *link = reinterpret_cast<PSHELLLINK>(NewInterface(Kind::Link, object));
    return S_OK;
}

HRESULT CFakeShell::QueryPersistFile(PSHELLLINK link, PPERSISTFILE* file) {
    *file = nullptr;
    HRESULT hr = S_OK;
    if (Fail("IShellLinkA::QueryInterface", &hr)) return hr;
    if (Find(link, Kind::Link, "QueryInterface") == nullptr) return E_POINTER;
    const std::uint64_t object = m_interfaces.at(reinterpret_cast<std::uintptr_t>(link)).object;
    *file = reinterpret_cast<PPERSISTFILE>(NewInterface(Kind::PersistFile, object));
    return S_OK;
}

ULONG CFakeShell::Release(const void* pointer, Kind kind, const char* call) {
    auto it = m_interfaces.find(reinterpret_cast<std::uintptr_t>(pointer));
    if (it == m_interfaces.end() || it->second.kind != kind) {
        misuse.push_back(std::string(call) + " of an interface that is not alive");
        return 0;
    }
    const std::uint64_t object = it->second.object;
    m_interfaces.erase(it);
    const ULONG left = --m_objects.at(object).references;
    if (left == 0) m_objects.erase(object);
    return left;
}

ULONG CFakeShell::ReleaseShellLink(PSHELLLINK link) { return Release(link, Kind::Link, "IShellLinkA::Release"); }

ULONG CFakeShell::ReleasePersistFile(PPERSISTFILE file) {
    return Release(file, Kind::PersistFile, "IPersistFile::Release");
}

HRESULT CFakeShell::Set(PSHELLLINK link, const char* call, std::optional<std::string> LinkSettings::*field,
                        const char* value) {
    HRESULT hr = S_OK;
    if (Fail(call, &hr)) return hr;
    Object* object = Find(link, Kind::Link, call);
    if (object == nullptr) return E_POINTER;
    if (value == nullptr) return E_INVALIDARG;
    object->settings.*field = value;
    return S_OK;
}

HRESULT CFakeShell::SetPath(PSHELLLINK link, const char* path) {
    return Set(link, "IShellLinkA::SetPath", &LinkSettings::path, path);
}

HRESULT CFakeShell::SetArguments(PSHELLLINK link, const char* arguments) {
    return Set(link, "IShellLinkA::SetArguments", &LinkSettings::arguments, arguments);
}

HRESULT CFakeShell::SetWorkingDirectory(PSHELLLINK link, const char* directory) {
    return Set(link, "IShellLinkA::SetWorkingDirectory", &LinkSettings::workingDirectory, directory);
}

HRESULT CFakeShell::SetDescription(PSHELLLINK link, const char* description) {
    return Set(link, "IShellLinkA::SetDescription", &LinkSettings::description, description);
}

HRESULT CFakeShell::SetIconLocation(PSHELLLINK link, const char* path, int index) {
    const HRESULT hr = Set(link, "IShellLinkA::SetIconLocation", &LinkSettings::iconPath, path);
    if (Succeeded(hr))
        m_objects.at(m_interfaces.at(reinterpret_cast<std::uintptr_t>(link)).object).settings.iconIndex = index;
    return hr;
}

HRESULT CFakeShell::Save(PPERSISTFILE file, const char* path, BOOL) {
    HRESULT hr = S_OK;
    if (Fail("IPersistFile::Save", &hr)) return hr;
    Object* object = Find(file, Kind::PersistFile, "IPersistFile::Save");
    if (object == nullptr) return E_POINTER;
    if (path == nullptr) return E_INVALIDARG;
    // Failures of the file beneath set the thread's last error, as CreateFileW does.
    auto fileError = [this](DWORD error) {
        m_machine.lastError = error;
        return HResultFromWin32(error);
    };
    // The wide form holds at most MAX_PATH characters with the terminator.
    if (std::strlen(path) + 1 > MAX_PATH) return fileError(ERROR_INSUFFICIENT_BUFFER);
    const std::string key = NormalizePath(path);
    const std::string parent = ParentPath(key);
    // Characters Windows refuses in a name, anywhere after the drive.
    for (std::size_t i = key.size() > 2 && key[1] == ':' ? 2 : 0; i < key.size(); ++i) {
        if (std::strchr("?*<>|\"", key[i]) != nullptr || static_cast<unsigned char>(key[i]) < 32) {
            return fileError(ERROR_INVALID_NAME);
        }
    }
    if (parent.empty() || !m_machine.files.DirectoryExists(parent)) {
        return fileError(ERROR_PATH_NOT_FOUND);
    }
    if (m_machine.files.DirectoryExists(key)) return fileError(ERROR_ACCESS_DENIED);
    const DWORD attributes = m_machine.files.Attributes(key);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return fileError(ERROR_ACCESS_DENIED);
    }
    m_machine.files.PutFile(key, LinkRecord(object->settings));
    return S_OK;
}

BOOL CFakeShell::ExitWindowsEx(UINT flags, DWORD reason) {
    if (m_machine.Fail("ExitWindowsEx")) return 0;
    if ((flags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF)) &&
        !m_machine.security.PrivilegeEnabled(SE_SHUTDOWN_NAME)) {
        m_machine.lastError = kPrivilegeNotHeld;
        return 0;
    }
    restartRequests.push_back({flags, reason});
    return 1;
}

std::map<int, std::string> CFakeShell::DefaultSpecialFolders() {
    // CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_APPDATA,
    // CSIDL_PROGRAM_FILES.
    return {
        {2, "C:\\Users\\setup\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
        {23, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
        {25, "C:\\Users\\Public\\Desktop"},
        {26, "C:\\Users\\setup\\AppData\\Roaming"},
        {38, "C:\\Program Files"},
    };
}

BOOL CFakeShell::SHGetSpecialFolderPathA(HWND, char* path, int csidl, BOOL create) {
    if (m_machine.Fail("SHGetSpecialFolderPathA")) return 0;
    const auto it = specialFolders.find(csidl);
    if (it == specialFolders.end() || it->second.size() >= MAX_PATH) {
        m_machine.lastError = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    if (!m_machine.files.DirectoryExists(it->second)) {
        if (!create) {
            m_machine.lastError = ERROR_FILE_NOT_FOUND;
            return 0;
        }
        m_machine.files.MakeDirectory(it->second);
    }
    std::memcpy(path, it->second.c_str(), it->second.size() + 1);
    return 1;
}

}  // namespace fake
