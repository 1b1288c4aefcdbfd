// Shell shortcuts, Internet shortcuts, the uninstall entry and the restart of Windows.
#include <string>

#include "engine/installer.h"
#include "platform/constants.h"

namespace {

// Where making a shell link fails (module 19).
constexpr std::uint16_t LOCATION_LINK_APARTMENT = 807;
constexpr std::uint16_t LOCATION_LINK_CREATE = 815;
constexpr std::uint16_t LOCATION_LINK_PERSIST = 819;
constexpr std::uint16_t LOCATION_LINK_PATH = 823;
constexpr std::uint16_t LOCATION_LINK_DESCRIPTION = 829;
constexpr std::uint16_t LOCATION_LINK_FOLDER = 841;
constexpr std::uint16_t LOCATION_LINK_ICON = 846;
constexpr std::uint16_t LOCATION_LINK_SAVE = 857;

const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char* const INTERNET_SHORTCUT_HEADER = "[InternetShortcut]\r\nURL=";

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

std::string JoinPath(const char* dir, const char* name) {
    std::string path(OrEmpty(dir));
    path += '\\';
    path += OrEmpty(name);
    return path;
}

// A failed step of the link's creation raises with the thread's last error, which is
// read before the interfaces are released and the apartment is left.
void Check(os::HRESULT hr, std::uint16_t location) {
    if (os::Failed(hr)) ThrowEngineError(location);
}

void SetString(os::HKEY key, const char* name, const std::string& value) {
    // Stored with its terminating zero; a value that cannot be written is left out.
    os::Registry().RegSetValueExA(key, name, os::REG_SZ, reinterpret_cast<const os::BYTE*>(value.c_str()),
                                  static_cast<os::DWORD>(value.size() + 1));
}

void SetDword(os::HKEY key, const char* name, os::DWORD value) {
    const os::BYTE bytes[4] = {static_cast<os::BYTE>(value), static_cast<os::BYTE>(value >> 8),
                               static_cast<os::BYTE>(value >> 16), static_cast<os::BYTE>(value >> 24)};
    os::Registry().RegSetValueExA(key, name, os::REG_DWORD, bytes, sizeof bytes);
}

// The local date as YYYYMMDD.
std::string LocalDate() {
    os::SystemTime now{};
    os::Kernel().GetLocalTime(&now);
    std::uint32_t value = now.year % 10000u * 10000u + now.month % 100u * 100u + now.day % 100u;
    char text[8];
    for (int i = 7; i >= 0; --i) {
        text[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return std::string(text, sizeof text);
}

}  // namespace

void CInstaller::CreateShortcut(const char* targetName, const char* targetDir, const char* shortcutDir,
                                const char* shortcutName, const char* arguments) {
    const std::string shortcutPath = JoinPath(shortcutDir, shortcutName) + ".lnk";
    const std::string targetPath = JoinPath(targetDir, targetName);
    Log("CreateShortcuts: ", shortcutPath.c_str());

    // A link that is already there is backed up like any overwritten file, so that a
    // rollback puts it back instead of deleting it. When the search fails for another
    // reason than absence, the backup is tried all the same: it fails rather than lose one.
    os::FindData found;
    bool existed = os::FindHandle(os::Files().FindFirstFileA(shortcutPath.c_str(), &found)).IsValid();
    if (!existed) {
        const os::DWORD error = os::Kernel().GetLastError();
        existed = error != os::ERROR_FILE_NOT_FOUND && error != os::ERROR_PATH_NOT_FOUND;
    }
    if (existed) BackupFile((std::string(OrEmpty(shortcutName)) + ".lnk").c_str(), OrEmpty(shortcutDir));

    os::ComApartment apartment;
    Check(apartment.Initialize(), LOCATION_LINK_APARTMENT);
    // Declared after the apartment and in this order, so that every path releases the
    // IPersistFile, then the IShellLinkA, then uninitialises COM.
    os::ShellLinkPtr link;
    os::PersistFilePtr file;
    os::IShell& shell = os::Shell();

    Check(shell.CreateShellLink(link.Receive()), LOCATION_LINK_CREATE);
    Check(shell.QueryPersistFile(link.Get(), file.Receive()), LOCATION_LINK_PERSIST);
    Check(shell.SetPath(link.Get(), targetPath.c_str()), LOCATION_LINK_PATH);
    if (shortcutName != nullptr) Check(shell.SetDescription(link.Get(), shortcutName), LOCATION_LINK_DESCRIPTION);
    if (arguments != nullptr) shell.SetArguments(link.Get(), arguments);  // its result does not matter
    Check(shell.SetWorkingDirectory(link.Get(), OrEmpty(targetDir)), LOCATION_LINK_FOLDER);
    Check(shell.SetIconLocation(link.Get(), targetPath.c_str(), 0), LOCATION_LINK_ICON);
    Check(shell.Save(file.Get(), shortcutPath.c_str(), 0), LOCATION_LINK_SAVE);

    if (!existed) RecordInstalledFile(shortcutPath.c_str());
}

void CInstaller::CreateUrlShortcut(const char* name, const char* dir, const char* address) {
    const std::string content = std::string(INTERNET_SHORTCUT_HEADER) + OrEmpty(address);
    InstallFile(name, dir, content.data(), static_cast<std::uint32_t>(content.size()));
}

void CInstaller::WriteUninstallEntry(const char* keyName, const char* installDir, const char* startMenuDir,
                                     const char* uninstallerName, const char* displayName,
                                     const UninstallEntryDetails* details) {
    const std::string subKey = std::string(UNINSTALL_KEY) + OrEmpty(keyName);
    os::RegKey key;
    if (os::Registry().RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, subKey.c_str(), os::REG_OPTION_NON_VOLATILE,
                                       os::KEY_ALL_ACCESS, key.Receive(), nullptr) != os::ERROR_SUCCESS) {
        key.Release();  // nothing was opened
        return;
    }
    SetString(key.Get(), "InstallLocation", OrEmpty(installDir));
    // Windows runs this string as a command line: unquoted, a folder with spaces would let
    // a program placed at the first space (C:\Program.exe) run instead of the uninstaller.
    const std::string command = "\"" + JoinPath(installDir, uninstallerName) + "\"";
    SetString(key.Get(), "UninstallString", command);
    SetString(key.Get(), "StartMenuLocation", OrEmpty(startMenuDir));
    SetString(key.Get(), "DisplayName", OrEmpty(displayName));
    if (details == nullptr) return;
    SetString(key.Get(), "QuietUninstallString", command + " -silent");
    SetString(key.Get(), "DisplayVersion", OrEmpty(details->displayVersion));
    SetString(key.Get(), "Publisher", OrEmpty(details->publisher));
    SetString(key.Get(), "DisplayIcon", JoinPath(installDir, details->iconFileName));
    SetDword(key.Get(), "NoModify", 1);
    SetDword(key.Get(), "NoRepair", 1);
    // Windows guesses a size for a program without one, often wildly: this is what the run
    // really wrote, in KiB, rounded up.
    const std::uint64_t kib = (m_journal.PlacedBytes() + 1023) / 1024;
    SetDword(key.Get(), "EstimatedSize", kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<os::DWORD>(kib));
    SetString(key.Get(), "InstallDate", LocalDate());
    SetString(key.Get(), "URLInfoAbout", OrEmpty(details->webAddress));
    SetString(key.Get(), "HelpLink", OrEmpty(details->webAddress));
    SetDword(key.Get(), "VersionMajor", details->versionMajor);
    SetDword(key.Get(), "VersionMinor", details->versionMinor);
}

os::LONG CInstaller::ReadUninstallValue(const char* keyName, const char* valueName, std::string* value) {
    const std::string subKey = std::string(UNINSTALL_KEY) + OrEmpty(keyName);
    os::RegKey key;
    os::LONG result =
        os::Registry().RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, subKey.c_str(), os::KEY_QUERY_VALUE, key.Receive());
    if (result != static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        key.Release();  // nothing was opened
        return result;
    }
    // One byte more than a path may have, so that a longer value is noticed, not cut.
    char data[os::MAX_PATH + 1] = {};
    os::DWORD type = 0;
    os::DWORD size = sizeof data;
    result = os::Registry().RegQueryValueExA(key.Get(), valueName, &type, reinterpret_cast<os::BYTE*>(data), &size);
    if (result == static_cast<os::LONG>(os::ERROR_MORE_DATA)) return static_cast<os::LONG>(os::ERROR_INVALID_DATA);
    if (result != static_cast<os::LONG>(os::ERROR_SUCCESS)) return result;
    if ((type != os::REG_SZ && type != os::REG_EXPAND_SZ) || size > sizeof data) {
        return static_cast<os::LONG>(os::ERROR_INVALID_DATA);
    }
    // The stored terminator is not taken on trust: the text ends at the first zero or at size.
    std::size_t length = 0;
    while (length < size && data[length] != '\0') ++length;
    if (length > os::MAX_PATH - 1) return static_cast<os::LONG>(os::ERROR_INVALID_DATA);
    value->assign(data, length);
    return static_cast<os::LONG>(os::ERROR_SUCCESS);
}

bool CInstaller::WriteUninstallValue(const char* keyName, const char* valueName, const std::string& value) {
    const std::string subKey = std::string(UNINSTALL_KEY) + OrEmpty(keyName);
    os::RegKey key;
    if (os::Registry().RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, subKey.c_str(), os::KEY_SET_VALUE, key.Receive()) !=
        static_cast<os::LONG>(os::ERROR_SUCCESS)) {
        key.Release();
        return false;
    }
    return os::Registry().RegSetValueExA(key.Get(), valueName, os::REG_SZ,
                                         reinterpret_cast<const os::BYTE*>(value.c_str()),
                                         static_cast<os::DWORD>(value.size() + 1)) ==
           static_cast<os::LONG>(os::ERROR_SUCCESS);
}

int CInstaller::DeleteUninstallEntry(const char* keyName) {
    const std::string subKey = std::string(UNINSTALL_KEY) + OrEmpty(keyName);
    const os::LONG result = os::Registry().RegDeleteKeyA(os::HKEY_LOCAL_MACHINE, subKey.c_str());
    return result == static_cast<os::LONG>(os::ERROR_SUCCESS) ||
                   result == static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)
               ? 1
               : 0;
}

int CInstaller::RestartSystem() {
    Log("Restart System");
    os::KernelHandle token;
    if (os::Security().OpenProcessToken(os::TOKEN_ADJUST_PRIVILEGES, token.Receive())) {
        os::TokenPrivileges privileges{};
        privileges.privilegeCount = 1;
        privileges.privileges[0].attributes = os::SE_PRIVILEGE_ENABLED;
        // Without the privilege's value there is nothing to enable; the refused restart
        // then reports it.
        if (os::Security().LookupPrivilegeValueA(nullptr, os::SE_SHUTDOWN_NAME, &privileges.privileges[0].luid)) {
            os::Security().AdjustTokenPrivileges(token.Get(), 0, &privileges, 0, nullptr, nullptr);
        }
    } else {
        token.Release();  // nothing was opened
    }
    token.Reset();
    return os::Shell().ExitWindowsEx(os::EWX_REBOOT, 0);
}
