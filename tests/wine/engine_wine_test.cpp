// The installer engine's operations carried out for real (Wine in the tests) through the
// Win32 side of the platform seam. Every outcome is read back with plain Win32 calls, and
// every test leaves the machine as it found it. The payload files lie beside this program.
#include <windows.h>
// The shell link object, SetupAPI and the class GUIDs need <windows.h> first.
#include <cfgmgr32.h>
#include <devguid.h>
#include <objbase.h>
#include <setupapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/installer.h"
#include "engine/trust.h"
#include "payload_test_support.h"
#include "platform/win32/win32_platform.h"
#include "tspvdbus_interface.h"

namespace {

using namespace payload_test;

// ---- owners of what the checks open ----

struct FindCloser {
    void operator()(HANDLE find) const { FindClose(find); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

struct ComReleaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename I>
using ComPtr = std::unique_ptr<I, ComReleaser>;

const char* const SERVICES_KEY = "System\\CurrentControlSet\\Services\\";
const char* const SESSION_MANAGER_KEY = "System\\CurrentControlSet\\Control\\Session Manager";
const char* const PENDING_RENAMES = "PendingFileRenameOperations";
const char* const REBOOT_LINE = "Warning: === Reboot required to complete operation ===\r\n";

// ---- files ----

// The setup log is read while the engine still holds it for writing.
const DWORD READ_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool WriteWholeFile(const std::string& path, const std::string& text) {
    KernelHandle file =
        OwnFile(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// Every file (with its content) and folder below dir, by relative path.
void ListInto(const std::string& dir, const std::string& prefix, int depth, std::map<std::string, std::string>* out) {
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA((dir + "\\*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) {
        find.release();
        return;
    }
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[prefix + name + "\\"] = "<folder>";
            if (depth < 8) ListInto(dir + "\\" + name, prefix + name + "\\", depth + 1, out);
        } else {
            (*out)[prefix + name] = ReadWholeFile(dir + "\\" + name, READ_SHARING);
        }
    } while (FindNextFileA(find.get(), &data));
}

std::map<std::string, std::string> Listing(const std::string& dir) {
    std::map<std::string, std::string> out;
    ListInto(dir, "", 0, &out);
    return out;
}

std::string Names(const std::map<std::string, std::string>& listing) {
    std::string text;
    for (const auto& entry : listing) text += entry.first + " ";
    return text;
}

// Takes a test folder away again, whatever a failed check left in it.
void RemoveTree(const std::string& dir, int depth = 0) {
    WIN32_FIND_DATAA data;
    {
        FindHandle find(FindFirstFileA((dir + "\\*").c_str(), &data));
        if (find.get() == INVALID_HANDLE_VALUE) {
            find.release();
        } else {
            do {
                const std::string name = data.cFileName;
                if (name == "." || name == "..") continue;
                const std::string path = dir + "\\" + name;
                if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && depth < 8) {
                    RemoveTree(path, depth + 1);
                } else {
                    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA(path.c_str());
                }
            } while (FindNextFileA(find.get(), &data));
        }
    }
    RemoveDirectoryA(dir.c_str());
}

// "name_DDDDDDDD.tmp": eight digits 1..9 after the file name.
bool IsTempNameOf(const std::string& path, const std::string& target) {
    const std::size_t digits = target.size() + 1;
    if (path.size() != digits + 8 + 4 || path.compare(0, target.size(), target) != 0 || path[target.size()] != '_')
        return false;
    for (std::size_t i = digits; i < digits + 8; ++i)
        if (path[i] < '1' || path[i] > '9') return false;
    return path.compare(digits + 8, 4, ".tmp") == 0;
}

// ---- registry ----

struct RegValue {
    DWORD type = 0;
    std::string data;
    bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};

// Null when the key does not open.
RegKey OpenMachineKey(const char* subKey, REGSAM access) {
    HKEY key = nullptr;
    return RegKey(RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &key) == ERROR_SUCCESS ? key : nullptr);
}

bool KeyExists(const char* subKey) { return OpenMachineKey(subKey, KEY_READ) != nullptr; }

// Every value of the key, by name, exactly as the ANSI calls return it.
std::map<std::string, RegValue> ReadValues(const std::string& subKey) {
    std::map<std::string, RegValue> values;
    RegKey key = OpenMachineKey(subKey.c_str(), KEY_READ);
    if (!key) return values;
    for (DWORD index = 0; index < 1000; ++index) {
        char name[256];
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        std::vector<BYTE> data(65536);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        values[std::string(name, nameSize)] = RegValue{type, std::string(reinterpret_cast<char*>(data.data()), size)};
    }
    return values;
}

std::string Describe(const std::map<std::string, RegValue>& values) {
    std::string text;
    for (const auto& [name, value] : values) {
        text += name + "(" + std::to_string(value.type) + ")=";
        for (char c : value.data) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            text += c == '\0' ? std::string("|") : c >= ' ' && c < 0x7F ? std::string(1, c) : std::string(escaped);
        }
        text += " ";
    }
    return text;
}

// A value's raw bytes kept and put back (or taken away again) at the end of a test.
class CSavedValue {
public:
    CSavedValue(const char* subKey, const char* name) : m_subKey(subKey), m_name(name) {
        RegKey key = OpenMachineKey(subKey, KEY_READ);
        if (!key) return;
        std::vector<BYTE> data(1 << 20);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegQueryValueExW(key.get(), Wide(name).c_str(), nullptr, &m_type, data.data(), &size) == ERROR_SUCCESS) {
            m_existed = true;
            m_data.assign(data.begin(), data.begin() + size);
        }
    }
    ~CSavedValue() {
        RegKey key = OpenMachineKey(m_subKey, KEY_SET_VALUE);
        if (!key) return;
        if (m_existed) {
            RegSetValueExW(key.get(), Wide(m_name).c_str(), 0, m_type, m_data.data(), static_cast<DWORD>(m_data.size()));
        } else {
            RegDeleteValueA(key.get(), m_name);
        }
    }
    CSavedValue(const CSavedValue&) = delete;
    CSavedValue& operator=(const CSavedValue&) = delete;
    bool Existed() const { return m_existed; }

private:
    static std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

    const char* m_subKey;
    const char* m_name;
    bool m_existed = false;
    DWORD m_type = 0;
    std::vector<BYTE> m_data;
};

// The restart-time file operations, one string per entry (the value is wide text).
std::vector<std::string> PendingRenames() {
    std::vector<std::string> entries;
    RegKey key = OpenMachineKey(SESSION_MANAGER_KEY, KEY_QUERY_VALUE);
    if (!key) return entries;
    std::vector<BYTE> data(1 << 20);
    DWORD size = static_cast<DWORD>(data.size()) - 4;
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS)
        return entries;
    std::string current;
    for (DWORD i = 0; i + 1 < size; i += 2) {
        const wchar_t c = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        if (c == L'\0') {
            entries.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(c < 0x80 ? c : '?');
        }
    }
    return entries;
}

// ---- services ----

DWORD ServiceState(const char* name) {
    ServiceHandle manager = OpenManager();
    ServiceHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
    return status.dwCurrentState;
}

// The error OpenServiceA gives, NO_ERROR when the service opens.
DWORD OpenError(const char* name) {
    ServiceHandle manager = OpenManager();
    if (!manager) return GetLastError();
    ServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    return service ? NO_ERROR : GetLastError();
}

struct ServiceConfig {
    DWORD type = 0;
    DWORD startType = 0;
    std::string binary;
    std::string displayName;
    std::string description;
};

bool ReadConfig(const char* name, ServiceConfig* config) {
    ServiceHandle manager = OpenManager();
    ServiceHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_QUERY_CONFIG) : nullptr);
    if (!service) return false;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(service.get(), query, static_cast<DWORD>(buffer.size()), &needed)) return false;
    config->type = query->dwServiceType;
    config->startType = query->dwStartType;
    config->binary = query->lpBinaryPathName != nullptr ? query->lpBinaryPathName : "";
    config->displayName = query->lpDisplayName != nullptr ? query->lpDisplayName : "";
    std::vector<BYTE> more(8192);
    if (QueryServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, more.data(), static_cast<DWORD>(more.size()),
                             &needed)) {
        const auto* description = reinterpret_cast<SERVICE_DESCRIPTIONA*>(more.data());
        config->description = description->lpDescription != nullptr ? description->lpDescription : "";
    }
    return true;
}

// ---- devices ----

const char* const BUS_SERVICE = "tspvdbus";
const char* const BUS_ID = "*tspvdbusDevice";
const GUID BUS_INTERFACE = TSPVDBUS_INTERFACE_GUID_INIT;

// The present bus devices; the id compares exactly.
std::vector<std::string> PresentBusDevices() { return InstanceIds(PresentDevicesWithId(BUS_ID, true)); }

// Every device of the class, present or not, that carries id (exact).
std::vector<std::string> ClassDevicesWithId(const GUID& classGuid, const char* id) {
    DeviceSet set = OwnSet(SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, 0));
    return set ? InstanceIds(DevicesWithId(set.get(), id, true)) : std::vector<std::string>();
}

// Registers a device of the class that carries ids (a multi-string); its instance id.
std::string RegisterDevice(const GUID& classGuid, const char* className, const std::string& ids) {
    DeviceSet set = OwnSet(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    if (!set) return std::string();
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (!SetupDiCreateDeviceInfoA(set.get(), className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &data))
        return std::string();
    if (!SetupDiSetDeviceRegistryPropertyA(set.get(), &data, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()), static_cast<DWORD>(ids.size())) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &data))
        return std::string();
    return InstanceId(set.get(), &data);
}

// ---- the engine ----

std::string Raised(unsigned module, unsigned location, unsigned code) {
    char text[64];
    std::snprintf(text, sizeof text, "(0x%x, 0x%x, %u)", module, location, code);
    return text;
}

// What the call raised, "" when it did not; the error object is deleted as its catcher must.
template <typename Call>
std::string RaisedBy(Call&& call) {
    try {
        call();
    } catch (CExceptionEx* e) {
        std::unique_ptr<CExceptionEx> owner(e);
        return Raised(e->GetModule(), e->GetLocation(), static_cast<unsigned>(e->GetCode()));
    }
    return std::string();
}

// The start of what Raised gives, for a failure whose code is whatever the system said.
std::string RaisedAt(unsigned module, unsigned location) {
    const std::string text = Raised(module, location, 0);
    return text.substr(0, text.size() - 2);
}

// One engine per test over a real setup log in the temporary folder, as the application
// builds it: no package, administrator check, no SetupAPI capture.
class EngineOnWine : public ::testing::Test {
protected:
    static void SetUpTestSuite() { os::UseWin32(); }

    void SetUp() override {
        m_temp = TempFolder(".\\");
        m_logPath = m_temp + "tsport_engine_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        m_log = CreateFileA(m_logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(m_log, INVALID_HANDLE_VALUE) << GetLastError();
    }

    void TearDown() override {
        m_installer.reset();
        if (m_log != INVALID_HANDLE_VALUE) CloseHandle(m_log);
        DeleteFileA(m_logPath.c_str());
    }

    // Null when construction raised (the failure is reported).
    CInstaller* Make() {
        m_installer.reset();
        const std::string raised = RaisedBy([&] { m_installer = std::make_unique<CInstaller>(m_log, 0, 1, 0); });
        EXPECT_EQ(raised, "") << "construction raised";
        return m_installer.get();
    }

    std::string LogText() const { return ReadWholeFile(m_logPath, READ_SHARING); }

    std::string m_temp;
    std::string m_logPath;
    HANDLE m_log = INVALID_HANDLE_VALUE;
    std::unique_ptr<CInstaller> m_installer;
};

// ---- construction ----

TEST_F(EngineOnWine, ConstructionAsAdministratorClassifiesWindowsAndMakesRunOnce) {
    const char* const RUN_ONCE = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    // An empty RunOnce key is taken away, so construction has to make it again; one that
    // holds something is left alone.
    bool removed = false;
    if (RegKey key = OpenMachineKey(RUN_ONCE, KEY_READ)) {
        DWORD subKeys = 1, values = 1;
        RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        Measured("RunOnce in a new prefix",
                 "present, " + std::to_string(subKeys) + " subkeys, " + std::to_string(values) + " values");
        key.reset();
        if (subKeys == 0 && values == 0) removed = RegDeleteKeyA(HKEY_LOCAL_MACHINE, RUN_ONCE) == ERROR_SUCCESS;
    } else {
        Measured("RunOnce in a new prefix", "absent");
        removed = true;
    }

    // Whatever happens below, the key is there again afterwards.
    struct CRunOnceKeeper {
        const char* path;
        ~CRunOnceKeeper() {
            HKEY key = nullptr;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
                ERROR_SUCCESS)
                RegCloseKey(key);
        }
    } keeper{RUN_ONCE};

    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    EXPECT_EQ(installer->IsUserAdmin(), 1);
    EXPECT_NE(installer->GetServiceManager(), nullptr);
    EXPECT_FALSE(installer->IsRebootRequired());

    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)));
    Measured("Windows version", std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
                                    " product type " + std::to_string(version.wProductType));
    // Wine's default: Windows 7, a workstation.
    EXPECT_EQ(version.dwMajorVersion, 6u);
    EXPECT_EQ(version.wProductType, VER_NT_WORKSTATION);
    EXPECT_EQ(installer->GetOsKind(), OS_KIND_VISTA);

    EXPECT_TRUE(KeyExists(RUN_ONCE));
    EXPECT_EQ(LogText(), removed ? "Create 'RunOnce' registry key entry\r\n" : "");

    // A second engine finds the key and has nothing to say.
    const std::string before = LogText();
    ASSERT_NE(Make(), nullptr);
    EXPECT_EQ(LogText(), before);
    EXPECT_TRUE(KeyExists(RUN_ONCE));
}

TEST_F(EngineOnWine, ConstructionWithThePackageFailsOnAProgramThatCarriesNone) {
    // This program has no package appended: the reader reports PACK_E_DAMAGED (-2).
    const std::string raised = RaisedBy([&] { CInstaller engine(m_log, 1, 1, 0); });
    EXPECT_EQ(raised, Raised(0xFFFF, 0xFFFE, ERROR_INTERNAL_ERROR));
    EXPECT_EQ(LogText(), "Error: Init installer\r\n");
}

// ---- files and directories ----

// A folder of the test's own in the temporary folder, empty at the start and taken away at
// the end.
class EngineInFolder : public EngineOnWine {
protected:
    explicit EngineInFolder(const char* name) : m_name(name) {}
    void SetUp() override {
        EngineOnWine::SetUp();
        m_dir = m_temp + m_name;
        RemoveTree(m_dir);
        ASSERT_TRUE(CreateDirectoryA(m_dir.c_str(), nullptr)) << GetLastError();
    }
    void TearDown() override {
        EngineOnWine::TearDown();
        RemoveTree(m_dir);
    }
    const char* const m_name;
    std::string m_dir;
};

class EngineFiles : public EngineInFolder {
protected:
    EngineFiles() : EngineInFolder("tsport_engine_files") {}
};

TEST_F(EngineFiles, NewReplacedAndInUseFilesAreRolledBackToTheFolderAsItWas) {
    ASSERT_TRUE(WriteWholeFile(m_dir + "\\keep.txt", "kept"));
    ASSERT_TRUE(WriteWholeFile(m_dir + "\\over.bin", "old over"));
    ASSERT_TRUE(WriteWholeFile(m_dir + "\\held.bin", "old held"));
    const std::map<std::string, std::string> before = Listing(m_dir);
    CSavedValue pending(SESSION_MANAGER_KEY, PENDING_RENAMES);

    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    const std::string sub = m_dir + "\\sub";
    EXPECT_EQ(RaisedBy([&] { installer->CreateInstallDirectory(m_dir.c_str()); }), "");
    EXPECT_EQ(RaisedBy([&] { installer->CreateInstallDirectory(sub.c_str()); }), "");
    EXPECT_EQ(installer->GetJournal().count(m_dir), 0u) << "a folder that was there is not the install's";
    EXPECT_EQ(installer->GetJournal().count(sub), 1u);
    // Only the last component is made.
    const std::string deep = m_dir + "\\missing\\leaf";
    EXPECT_EQ(RaisedBy([&] { installer->CreateInstallDirectory(deep.c_str()); }),
              Raised(ENGINE_MODULE, 723, ERROR_PATH_NOT_FOUND));

    // A new file in the new folder.
    const std::string fresh("fresh\0bytes", 11);
    EXPECT_EQ(RaisedBy([&] { installer->InstallFile("new.bin", sub.c_str(), fresh.data(), 11); }), "");
    EXPECT_EQ(ReadWholeFile(sub + "\\new.bin", READ_SHARING), fresh);

    // An existing file: copied aside first, then written in place.
    const std::string over = m_dir + "\\over.bin";
    EXPECT_EQ(RaisedBy([&] { installer->InstallFile("over.bin", m_dir.c_str(), "new over", 8); }), "");
    EXPECT_EQ(ReadWholeFile(over, READ_SHARING), "new over");
    ASSERT_EQ(installer->GetFileBackups().count(over), 1u);
    const std::string overBackup = installer->GetFileBackups().at(over);
    EXPECT_TRUE(IsTempNameOf(overBackup.substr(0, overBackup.size() - 7), over)) << overBackup;
    EXPECT_EQ(overBackup.substr(overBackup.size() - 7), ".backup");
    EXPECT_EQ(ReadWholeFile(overBackup, READ_SHARING), "old over");
    EXPECT_FALSE(installer->IsRebootRequired());

    // A file another program holds without write sharing: the new content waits beside it
    // for the next start.
    const std::string held = m_dir + "\\held.bin";
    KernelHandle holder = OwnFile(
        CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder) << GetLastError();
    EXPECT_EQ(RaisedBy([&] { installer->InstallFile("held.bin", m_dir.c_str(), "new held", 8); }), "");
    EXPECT_TRUE(installer->IsRebootRequired());
    EXPECT_EQ(ReadWholeFile(held, READ_SHARING), "old held");
    ASSERT_EQ(installer->GetFileBackups().count(held), 1u);
    EXPECT_EQ(ReadWholeFile(installer->GetFileBackups().at(held), READ_SHARING), "old held");
    std::string temp;
    for (const auto& [path, kind] : installer->GetJournal())
        if (kind == JOURNAL_FILE && IsTempNameOf(path, held)) temp = path;
    ASSERT_FALSE(temp.empty()) << "the temporary file is journalled";
    EXPECT_EQ(ReadWholeFile(temp, READ_SHARING), "new held");

    const std::vector<std::string> renames = PendingRenames();
    bool registered = false;
    for (std::size_t i = 0; i + 1 < renames.size(); ++i) {
        registered = registered || (SameText(renames[i], "\\??\\" + temp) && SameText(renames[i + 1], "!\\??\\" + held));
    }
    EXPECT_TRUE(registered) << "the move of " << temp << " over " << held << " waits for the next start";

    EXPECT_EQ(LogText(), "CreateDirectory: " + m_dir + "\r\nCreateDirectory: " + sub + "\r\nCreateDirectory: " +
                             deep + "\r\nInstall File: " + sub + "\\new.bin\r\nInstall File: " + over +
                             "\r\nInstall File: " + held + "\r\n" + REBOOT_LINE);
    holder.reset();

    // Rollback phases 3 to 5, each in byte order of its keys: "held.bin_..." before "sub\\".
    const std::string logBefore = LogText();
    installer->RemoveInstallFiles();
    installer->RollBackInstallFiles();
    installer->RemoveInstallDirectories();
    EXPECT_EQ(Listing(m_dir), before) << Names(Listing(m_dir));
    EXPECT_EQ(LogText().substr(logBefore.size()),
              "RemoveInstallFiles: " + temp + "\r\nRemoveInstallFiles: " + sub +
                  "\\new.bin\r\nRollBackInstallFiles: " + held + "\r\nRollBackInstallFiles: " + over + "\r\n");
    std::string entries;
    for (const std::string& entry : renames) entries += "[" + entry + "]";
    Measured("pending file operations after the in-use install", entries);
}

TEST_F(EngineFiles, FileHeldWithoutAnySharingCannotBeBackedUp) {
    const std::string held = m_dir + "\\locked.bin";
    ASSERT_TRUE(WriteWholeFile(held, "locked"));
    const std::map<std::string, std::string> before = Listing(m_dir);
    KernelHandle holder =
        OwnFile(CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder) << GetLastError();

    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    // The copy that must come first cannot read the file: nothing is changed.
    EXPECT_EQ(RaisedBy([&] { installer->InstallFile("locked.bin", m_dir.c_str(), "new", 3); }),
              Raised(ENGINE_MODULE, 423, ERROR_SHARING_VIOLATION));
    holder.reset();
    EXPECT_EQ(Listing(m_dir), before) << Names(Listing(m_dir));
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_FALSE(installer->IsRebootRequired());
    EXPECT_EQ(LogText(), "Install File: " + held + "\r\n");
}

TEST_F(EngineFiles, ElevatedWritesNeverGoThroughAHardLink) {
    // Hard links planted at the names an installation and a log write: the files they
    // name keep their content, and the names become files of our own.
    const std::string linked = m_dir + "\\linked.txt";
    ASSERT_TRUE(WriteWholeFile(linked, "precious"));
    const std::string payload = m_dir + "\\app.exe";
    const std::string log = m_dir + "\\setup.log";
    for (const std::string& name : {payload, log}) ASSERT_TRUE(CreateHardLinkA(name.c_str(), linked.c_str(), nullptr));

    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    installer->InstallFile("app.exe", m_dir.c_str(), "new", 3);
    TrustedFile file;
    ASSERT_TRUE(OpenForTrustedWrite(log, FILE_SHARE_READ, WriteStart::Empty, &file));
    EXPECT_EQ(file.path, log);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.handle.Get(), "ours", 4, &written, nullptr));
    file.handle.Reset();
    EXPECT_EQ(ReadWholeFile(linked, READ_SHARING), "precious");
    EXPECT_EQ(ReadWholeFile(payload, READ_SHARING), "new");
    EXPECT_EQ(ReadWholeFile(log, READ_SHARING), "ours");

    // A folder of its own cannot be made twice; an event of its own is found the second time.
    std::string folder;
    ASSERT_TRUE(CreatePrivateFolder(m_dir, &folder));
    EXPECT_FALSE(os::Files().CreateDirectoryA(folder.c_str(), SDDL_PRIVATE_FOLDER));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(OthersCanChange(folder));
    const std::string event = "tsport_engine_event_" + folder.substr(folder.size() - 8);
    os::KernelHandle first(os::Processes().CreateEventA(1, 0, event.c_str(), SDDL_ADMIN_OBJECT));
    ASSERT_TRUE(first.IsValid());
    os::KernelHandle second(os::Processes().CreateEventA(1, 0, event.c_str(), SDDL_ADMIN_OBJECT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST_F(EngineFiles, CommitDeletesTheBackupsAndKeepsTheNewContent) {
    ASSERT_TRUE(WriteWholeFile(m_dir + "\\app.exe", "old"));
    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    EXPECT_EQ(RaisedBy([&] { installer->InstallFile("app.exe", m_dir.c_str(), "new", 3); }), "");
    const std::string target = m_dir + "\\app.exe";
    ASSERT_EQ(installer->GetFileBackups().count(target), 1u);
    const std::string backup = installer->GetFileBackups().at(target);
    EXPECT_EQ(Listing(m_dir), (std::map<std::string, std::string>{{"app.exe", "new"},
                                                                   {backup.substr(m_dir.size() + 1), "old"}}));
    installer->DiscardBackups();
    EXPECT_TRUE(installer->GetFileBackups().empty());
    const std::map<std::string, std::string> committed = Listing(m_dir);
    EXPECT_EQ(committed, (std::map<std::string, std::string>{{"app.exe", "new"}})) << Names(committed);
}

// ---- services and drivers ----

TEST_F(EngineOnWine, OwnProcessServiceIsCreatedRunStoppedReconfiguredRestoredAndDeleted) {
    const char* const name = "tsp_engine_service";
    CServiceRemover remover(name);
    ASSERT_EQ(OpenError(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    const std::string subKey = std::string(SERVICES_KEY) + name;
    const std::string image = "\"" + Beside("tsp_service.exe") + "\"";
    const char* const dependencies[] = {"RpcSs", "PlugPlay"};

    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    ASSERT_NE(installer->InstallService(image.c_str(), name, "Tessaport Engine Test Service", "Runs for the tests.",
                                        nullptr, SERVICE_DEMAND_START, dependencies, 2),
              0);
    EXPECT_EQ(installer->GetJournal().count(name), 1u);
    EXPECT_EQ(installer->GetJournal().at(name), JOURNAL_SERVICE);
    EXPECT_EQ(installer->ServiceExists(name), 1);
    ServiceConfig config;
    ASSERT_TRUE(ReadConfig(name, &config));
    EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.binary, image);
    EXPECT_EQ(config.displayName, "Tessaport Engine Test Service");
    EXPECT_EQ(config.description, "Runs for the tests.");
    std::map<std::string, RegValue> values = ReadValues(subKey);
    Measured("key of the created service", Describe(values));
    // Wine's CreateServiceA keeps only the first name of the list (its ChangeServiceConfigA
    // and Windows keep them all).
    const RegValue firstOnly{REG_MULTI_SZ, std::string("RpcSs\0\0", 7)};
    if (values["DependOnService"] == firstOnly) {
        Measured("dependencies kept by CreateServiceA", "the first only");
    } else {
        EXPECT_EQ(values["DependOnService"], (RegValue{REG_MULTI_SZ, std::string("RpcSs\0PlugPlay\0\0", 16)}));
    }
    EXPECT_EQ(values["Description"], (RegValue{REG_SZ, std::string("Runs for the tests.\0", 20)}));

    // Started and stopped through the engine.
    Clock::time_point start = Clock::now();
    EXPECT_NE(installer->StartInstalledService(name), 0) << GetLastError();
    EXPECT_EQ(installer->WasServiceStarted(name), 1);
    EXPECT_EQ(installer->IsServiceRunning(name), 1);
    EXPECT_TRUE(WaitForState(name, SERVICE_RUNNING, STATE_WAIT_MS));
    Measured("StartInstalledService to RUNNING, ms", std::to_string(MsSince(start)));
    start = Clock::now();
    EXPECT_EQ(installer->StopInstalledService(name), 1);
    Measured("StopInstalledService took ms", std::to_string(MsSince(start)));
    EXPECT_EQ(ServiceState(name), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(installer->IsServiceRunning(name), 0);
    EXPECT_FALSE(installer->IsRebootRequired());

    // Reconfigured while stopped: the key's values are saved first and written back by
    // rollback phase 2, which also takes away the group the change added.
    const std::map<std::string, RegValue> original = ReadValues(subKey);
    ASSERT_NE(installer->InstallService(image.c_str(), name, "Tessaport Engine Test Service 2", "Changed.",
                                        "TspTestGroup", SERVICE_AUTO_START, nullptr, 0),
              0);
    EXPECT_FALSE(installer->IsRebootRequired());
    values = ReadValues(subKey);
    Measured("key of the reconfigured service", Describe(values));
    EXPECT_EQ(values["Start"], (RegValue{REG_DWORD, std::string("\x02\0\0\0", 4)}));
    EXPECT_EQ(values["DisplayName"], (RegValue{REG_SZ, std::string("Tessaport Engine Test Service 2\0", 32)}));
    EXPECT_EQ(values["Group"], (RegValue{REG_SZ, std::string("TspTestGroup\0", 13)}));
    EXPECT_EQ(values["Description"], (RegValue{REG_SZ, std::string("Changed.\0", 9)}));
    ASSERT_EQ(installer->GetServiceKeyBackups().count(subKey), 1u);
    installer->RestoreServiceKeys();
    EXPECT_TRUE(installer->GetServiceKeyBackups().empty());
    EXPECT_EQ(ReadValues(subKey), original) << Describe(ReadValues(subKey));
    ASSERT_TRUE(ReadConfig(name, &config));
    Measured("display name the manager reports after the key was restored", config.displayName);

    // Started again, then asked to start over the running copy: that waits for a restart.
    EXPECT_NE(installer->StartInstalledService(name), 0) << GetLastError();
    EXPECT_TRUE(WaitForState(name, SERVICE_RUNNING, STATE_WAIT_MS));
    EXPECT_EQ(installer->StartInstalledService(name), 0);
    EXPECT_TRUE(installer->IsRebootRequired());

    // Uninstalled while running: stopped first, then deleted.
    start = Clock::now();
    EXPECT_EQ(installer->UninstallService(name), 1);
    Measured("UninstallService of the running service took ms", std::to_string(MsSince(start)));
    EXPECT_EQ(OpenError(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(installer->ServiceExists(name), 0);
    EXPECT_FALSE(KeyExists(subKey.c_str()));

    const std::string title = std::string("Install Service: ") + name + "\r\n";
    const std::string startLine = std::string("Start Installed Service: ") + name + "\r\n";
    EXPECT_EQ(LogText(), title + startLine + "Stop Installed Service: " + name + "\r\n" + title + startLine + startLine +
                             REBOOT_LINE + "Uninstall Service: " + name + "\r\n");
}

TEST_F(EngineOnWine, KernelDriverServiceStartsStopsAndIsRolledBack) {
    const char* const name = "tsp_engine_legacy";
    const std::string image = SystemFolder() + "\\drivers\\tsp_engine_legacy.sys";
    ASSERT_FALSE(FileExists(image));
    CServiceRemover remover(name, image);
    ASSERT_TRUE(CopyFileA(Beside("tsp_legacy.sys").c_str(), image.c_str(), TRUE)) << GetLastError();

    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    ASSERT_NE(installer->InstallDriver(image.c_str(), name, "Tessaport Engine Test Driver", SERVICE_DEMAND_START), 0);
    EXPECT_EQ(installer->GetJournal().count(name), 1u);
    ServiceConfig config;
    ASSERT_TRUE(ReadConfig(name, &config));
    EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(config.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_TRUE(SameText(config.binary, image)) << config.binary;

    EXPECT_NE(installer->StartInstalledService(name), 0) << GetLastError();
    EXPECT_TRUE(WaitForState(name, SERVICE_RUNNING, STATE_WAIT_MS));
    EXPECT_EQ(installer->IsServiceRunning(name), 1);

    // A loaded driver keeps its image until the next start: reconfiguring it asks for one.
    ASSERT_NE(installer->InstallDriver(image.c_str(), name, "Tessaport Engine Test Driver 2", SERVICE_DEMAND_START), 0);
    EXPECT_TRUE(installer->IsRebootRequired());
    ASSERT_TRUE(ReadConfig(name, &config));
    EXPECT_EQ(config.displayName, "Tessaport Engine Test Driver 2");

    EXPECT_EQ(installer->StopInstalledService(name), 1);
    EXPECT_EQ(ServiceState(name), static_cast<DWORD>(SERVICE_STOPPED));

    // Rollback phase 1 deletes the driver service the engine created.
    installer->UninstallServicesAndDevices();
    EXPECT_EQ(OpenError(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(DeleteFileA(image.c_str())) << "the stopped driver's file is free again: " << GetLastError();

    const std::string title = "Install Driver: " + image + "\r\n";
    EXPECT_EQ(LogText(), title + "Start Installed Service: " + name + "\r\n" + title + REBOOT_LINE +
                             "Stop Installed Service: " + name + "\r\nUninstall Service: " + name + "\r\n");
}

// ---- devices and INF files ----

// Files that appear in a folder during a test are taken away again afterwards.
class CNewFilesRemover {
public:
    explicit CNewFilesRemover(std::string dir) : m_dir(std::move(dir)), m_before(Listing(m_dir)) {}
    ~CNewFilesRemover() {
        const std::map<std::string, std::string> now = Listing(m_dir);
        // Reverse order: a folder's files go before the folder.
        for (auto it = now.rbegin(); it != now.rend(); ++it) {
            if (m_before.count(it->first) != 0) continue;
            const std::string path = m_dir + "\\" + it->first;
            if (it->second == "<folder>") {
                RemoveDirectoryA(path.c_str());
            } else {
                DeleteFileA(path.c_str());
            }
        }
    }
    CNewFilesRemover(const CNewFilesRemover&) = delete;
    CNewFilesRemover& operator=(const CNewFilesRemover&) = delete;

private:
    std::string m_dir;
    std::map<std::string, std::string> m_before;
};

// Puts the bus driver's traces (devices, service, driver file, staged INF and catalogue
// files, the interface's class key) away again, keeping whatever was there before.
class EngineDevices : public EngineOnWine {
protected:
    void SetUp() override {
        EngineOnWine::SetUp();
        m_driverFile = SystemFolder() + "\\drivers\\tspvdbus.sys";
        m_infFolder = WindowsFolder() + "\\inf";
        m_infFiles = std::make_unique<CNewFilesRemover>(m_infFolder);
        m_catalogueFiles = std::make_unique<CNewFilesRemover>(SystemFolder() + "\\catroot");
        m_driverBefore = FileExists(m_driverFile);
        m_serviceBefore = OpenError(BUS_SERVICE) == NO_ERROR;
        m_interfaceKeyBefore = KeyExists(INTERFACE_KEY);
        ASSERT_TRUE(PresentBusDevices().empty()) << "a bus device is already there";
    }
    void TearDown() override {
        EngineOnWine::TearDown();
        for (const std::string& instance : PresentBusDevices()) RemoveDevice(instance);
        if (!m_serviceBefore) {
            CServiceRemover remover(BUS_SERVICE);
        }
        if (!m_driverBefore) DeleteFileA(m_driverFile.c_str());
        if (!m_interfaceKeyBefore) RegDeleteTreeA(HKEY_LOCAL_MACHINE, INTERFACE_KEY);
        m_infFiles.reset();
        m_catalogueFiles.reset();
    }

    static constexpr const char* INTERFACE_KEY =
        "System\\CurrentControlSet\\Control\\DeviceClasses\\{83e9c3e5-0135-473a-9d2f-cb040e85aa1a}";
    std::string m_driverFile;
    std::string m_infFolder;
    std::unique_ptr<CNewFilesRemover> m_infFiles;
    std::unique_ptr<CNewFilesRemover> m_catalogueFiles;
    bool m_driverBefore = false;
    bool m_serviceBefore = false;
    bool m_interfaceKeyBefore = false;
};

TEST_F(EngineDevices, OemInfIsStagedInTheInfFolder) {
    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    const std::string inf = Beside("tspvdbus.inf");
    EXPECT_EQ(installer->CopyOemInf(inf.c_str()), 1) << GetLastError();
    // Windows names the copy oemN.inf; find it by its content.
    const std::string content = ReadWholeFile(inf, READ_SHARING);
    std::string landed;
    for (const auto& entry : Listing(m_infFolder))
        if (entry.second == content) landed = entry.first;
    Measured("CopyOemInf copy", landed.empty() ? "<none>" : m_infFolder + "\\" + landed);
    EXPECT_FALSE(landed.empty());
    EXPECT_EQ(installer->CopyOemInf(inf.c_str()), 1) << "staged again over the earlier copy";
    EXPECT_EQ(installer->CopyOemInf((m_temp + "tsport_no_such.inf").c_str()), 0);
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_EQ(LogText(), "");
}

TEST_F(EngineDevices, RootDeviceGetsItsRunningDriverAndRollbackRemovesIt) {
    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    const std::string inf = Beside("tspvdbus.inf");
    EXPECT_FALSE(installer->FindDeviceByHardwareId(BUS_ID).IsValid());

    Clock::time_point start = Clock::now();
    ASSERT_EQ(RaisedBy([&] { installer->InstallWdmDriver(BUS_SERVICE, inf.c_str(), BUS_ID); }), "");
    Measured("InstallWdmDriver with a new root device took ms", std::to_string(MsSince(start)));
    ASSERT_EQ(installer->GetJournal().count(BUS_ID), 1u);
    EXPECT_EQ(installer->GetJournal().at(BUS_ID), JOURNAL_WDM_DEVICE);
    EXPECT_FALSE(installer->IsRebootRequired());

    const std::vector<std::string> present = PresentBusDevices();
    ASSERT_EQ(present.size(), 1u);
    Measured("root device instance", present[0]);
    EXPECT_TRUE(Contains(DevicesWithInterface(BUS_INTERFACE), present[0]))
        << "the driver has not started " << present[0];
    DWORD state = 0;
    EXPECT_TRUE(WaitForState(BUS_SERVICE, SERVICE_RUNNING, STATE_WAIT_MS, &state)) << state;
    ServiceConfig config;
    ASSERT_TRUE(ReadConfig(BUS_SERVICE, &config));
    EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_TRUE(SameText(config.binary, m_driverFile)) << config.binary;

    // The engine finds the device by its id and hands out the element.
    {
        os::DeviceInfoData element;
        os::DeviceInfoSet set = installer->FindDeviceByHardwareId(BUS_ID, &element);
        ASSERT_TRUE(set.IsValid());
        char instance[MAX_DEVICE_ID_LEN] = {};
        EXPECT_TRUE(os::Devices().SetupDiGetDeviceInstanceIdA(set.Get(), &element, instance, sizeof instance, nullptr));
        EXPECT_TRUE(SameText(instance, present[0])) << instance;
        EXPECT_FALSE(installer->FindDeviceByHardwareId("*tspvdbusdevice").IsValid()) << "the id compares exactly";
    }

    // With the device there, a second install updates its driver, saves the service's key
    // and creates nothing.
    const std::string subKey = std::string(SERVICES_KEY) + BUS_SERVICE;
    ASSERT_EQ(RaisedBy([&] { installer->InstallWdmDriver(BUS_SERVICE, inf.c_str(), BUS_ID); }), "");
    EXPECT_EQ(installer->GetJournal().size(), 1u);
    EXPECT_EQ(installer->GetServiceKeyBackups().count(subKey), 1u);
    EXPECT_EQ(PresentBusDevices(), present);

    // Rollback phase 1 removes the device, and with it the driver's interface.
    installer->UninstallServicesAndDevices();
    EXPECT_TRUE(PresentBusDevices().empty());
    EXPECT_FALSE(Contains(DevicesWithInterface(BUS_INTERFACE), present[0]));
    EXPECT_FALSE(installer->FindDeviceByHardwareId(BUS_ID).IsValid());
    Measured("bus driver state after the rollback removed its device", std::to_string(ServiceState(BUS_SERVICE)));

    const std::string title = std::string("Install WDM Driver: ") + BUS_ID + "\r\n";
    EXPECT_EQ(LogText(), title + title + "Uninstall WDM Driver: " + BUS_ID + "\r\n");
}

TEST_F(EngineOnWine, UsbDevicesAreCleanedUpByTheirFirstHardwareId) {
    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    {
        DeviceSet set = OwnSet(SetupDiGetClassDevsA(&GUID_DEVCLASS_USB, nullptr, nullptr, 0));
        DWORD count = 0;
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        while (set && count < 100000 && SetupDiEnumDeviceInfo(set.get(), count, &data)) ++count;
        Measured("USB class devices, present or not, in the prefix", std::to_string(count));
    }
    // Nothing carries the id: nothing removed, nothing logged.
    EXPECT_EQ(installer->RemoveDevicesByHardwareId("TSPTEST\\NO_SUCH_STUB"), 0);
    EXPECT_EQ(LogText(), "");

    // A registered USB-class device without a driver (never present) whose first id matches
    // apart from case, and one that carries the id only second.
    const std::string first = RegisterDevice(GUID_DEVCLASS_USB, "USB", std::string("TSPTEST\\USBSTUB\0", 16) + '\0');
    const std::string second = RegisterDevice(
        GUID_DEVCLASS_USB, "USB", std::string("TSPTEST\\OTHER\0TSPTEST\\USBSTUB\0", 30) + '\0');
    ASSERT_FALSE(first.empty()) << GetLastError();
    ASSERT_FALSE(second.empty()) << GetLastError();
    Measured("registered USB stub devices", first + " " + second);

    const int result = installer->RemoveDevicesByHardwareId("tsptest\\usbstub");
    const std::string log = LogText();
    Measured("RemoveDevicesByHardwareId result", std::to_string(result));
    Measured("RemoveDevicesByHardwareId log", log);
    const std::vector<std::string> left = ClassDevicesWithId(GUID_DEVCLASS_USB, "TSPTEST\\USBSTUB");
    EXPECT_TRUE(Contains(left, second)) << "a device with the id second in its list stays";
    // Wine's SetupDiSetClassInstallParamsA is a stub that fails without setting the last
    // error (the line shows whatever error came before): the engine logs it and leaves the
    // device. Windows sets the parameters and removes it, which the fake machine's tests hold.
    const std::string stubbed = "Cleanup record... " + first + "\r\nfailed on SetupDiSetClassInstallParams()(0x";
    EXPECT_EQ(log.rfind(stubbed, 0), 0u) << log;
    EXPECT_EQ(log.find(")\r\n", stubbed.size()), log.size() - 3) << log;
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Contains(left, first));
    EXPECT_FALSE(installer->IsRebootRequired());

    for (const std::string& instance : {first, second}) RemoveDevice(instance);
    EXPECT_TRUE(ClassDevicesWithId(GUID_DEVCLASS_USB, "TSPTEST\\USBSTUB").empty());
}

// ---- shortcuts and the uninstall entry ----

struct LinkFacts {
    std::string path;
    std::string arguments;
    std::string description;
    std::string workingDirectory;
    std::string iconPath;
    int iconIndex = -1;
};

// Loads a .lnk file with the shell's own link object.
bool ReadLink(const std::string& file, LinkFacts* facts) {
    const HRESULT init = CoInitialize(nullptr);
    if (FAILED(init)) return false;
    bool ok = false;
    {
        IShellLinkA* rawLink = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                       reinterpret_cast<void**>(&rawLink)))) {
            ComPtr<IShellLinkA> link(rawLink);
            IPersistFile* rawFile = nullptr;
            if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile)))) {
                ComPtr<IPersistFile> persist(rawFile);
                const std::wstring wide(file.begin(), file.end());
                if (SUCCEEDED(persist->Load(wide.c_str(), STGM_READ))) {
                    char text[MAX_PATH * 4] = {};
                    WIN32_FIND_DATAA found = {};
                    ok = SUCCEEDED(link->GetPath(text, sizeof text, &found, SLGP_RAWPATH));
                    facts->path = text;
                    text[0] = '\0';
                    ok = SUCCEEDED(link->GetArguments(text, sizeof text)) && ok;
                    facts->arguments = text;
                    text[0] = '\0';
                    ok = SUCCEEDED(link->GetDescription(text, sizeof text)) && ok;
                    facts->description = text;
                    text[0] = '\0';
                    ok = SUCCEEDED(link->GetWorkingDirectory(text, sizeof text)) && ok;
                    facts->workingDirectory = text;
                    text[0] = '\0';
                    ok = SUCCEEDED(link->GetIconLocation(text, sizeof text, &facts->iconIndex)) && ok;
                    facts->iconPath = text;
                }
            }
        }
    }
    CoUninitialize();
    return ok;
}

class EngineShortcuts : public EngineInFolder {
protected:
    EngineShortcuts() : EngineInFolder("tsport_engine_links") {}
};

TEST_F(EngineShortcuts, LinksAreWrittenJournalledAndReadBackByTheShell) {
    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    const std::string folder = BesideFolder();
    const std::string target = folder + "\\tsp_service.exe";
    ASSERT_EQ(RaisedBy([&] {
                  installer->CreateShortcut("tsp_service.exe", folder.c_str(), m_dir.c_str(), "Tessaport Service",
                                            "-run now");
              }),
              "");
    ASSERT_EQ(RaisedBy([&] {
                  installer->CreateShortcut("tsp_service.exe", folder.c_str(), m_dir.c_str(), "No Arguments", nullptr);
              }),
              "");
    const std::string link = m_dir + "\\Tessaport Service.lnk";
    const std::string plain = m_dir + "\\No Arguments.lnk";
    ASSERT_TRUE(FileExists(link));
    EXPECT_EQ(installer->GetJournal().count(link), 1u);
    EXPECT_EQ(installer->GetJournal().count(plain), 1u);

    LinkFacts facts;
    ASSERT_TRUE(ReadLink(link, &facts));
    EXPECT_TRUE(SameText(facts.path, target)) << facts.path;
    EXPECT_EQ(facts.arguments, "-run now");
    EXPECT_EQ(facts.description, "Tessaport Service");
    EXPECT_TRUE(SameText(facts.workingDirectory, folder)) << facts.workingDirectory;
    EXPECT_TRUE(SameText(facts.iconPath, target)) << facts.iconPath;
    EXPECT_EQ(facts.iconIndex, 0);
    LinkFacts plainFacts;
    ASSERT_TRUE(ReadLink(plain, &plainFacts));
    EXPECT_EQ(plainFacts.arguments, "");
    EXPECT_EQ(plainFacts.description, "No Arguments");

    // A name the file system refuses fails at the save, and nothing is journalled.
    const std::string raised = RaisedBy(
        [&] { installer->CreateShortcut("tsp_service.exe", folder.c_str(), m_dir.c_str(), "Bad?Name", nullptr); });
    Measured("shortcut with '?' raised", raised);
    EXPECT_EQ(raised.rfind(RaisedAt(ENGINE_MODULE, 857), 0), 0u) << raised;
    EXPECT_EQ(installer->GetJournal().size(), 2u);

    // An Internet shortcut is a payload file: exactly these bytes, journalled.
    const std::string url = m_dir + "\\Quick Start.url";
    ASSERT_EQ(RaisedBy([&] {
                  installer->CreateUrlShortcut("Quick Start.url", m_dir.c_str(), "https://tessaport.example/start");
              }),
              "");
    EXPECT_EQ(ReadWholeFile(url, READ_SHARING), "[InternetShortcut]\r\nURL=https://tessaport.example/start");
    EXPECT_EQ(installer->GetJournal().count(url), 1u);

    // Rollback phase 3 takes all of them away.
    installer->RemoveInstallFiles();
    EXPECT_TRUE(Listing(m_dir).empty()) << Names(Listing(m_dir));
    EXPECT_FALSE(installer->IsRebootRequired());
    const std::string logText = LogText();
    EXPECT_EQ(logText.rfind("CreateShortcuts: " + link + "\r\nCreateShortcuts: " + plain + "\r\nCreateShortcuts: " +
                                m_dir + "\\Bad?Name.lnk\r\nInstall File: " + url + "\r\n",
                            0),
              0u)
        << logText;
}

TEST_F(EngineOnWine, UninstallEntryHoldsItsFourValues) {
    const std::string subKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TessaportEngineWineTest";
    ASSERT_FALSE(KeyExists(subKey.c_str()));
    CInstaller* installer = Make();
    ASSERT_NE(installer, nullptr);
    const char* const folder = "C:\\Program Files\\Tessaport Engine Test";
    const char* const startMenu = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Tessaport Test";
    installer->WriteUninstallEntry("TessaportEngineWineTest", folder, startMenu, "uninstall.exe", "Tessaport Test");
    std::map<std::string, RegValue> values = ReadValues(subKey);
    Measured("uninstall entry", Describe(values));
    auto text = [](const std::string& s) { return RegValue{REG_SZ, s + '\0'}; };
    EXPECT_EQ(values, (std::map<std::string, RegValue>{
                          {"InstallLocation", text(folder)},
                          {"UninstallString", text("\"" + std::string(folder) + "\\uninstall.exe\"")},
                          {"StartMenuLocation", text(startMenu)},
                          {"DisplayName", text("Tessaport Test")},
                      }));
    // Written again, the values are replaced.
    installer->WriteUninstallEntry("TessaportEngineWineTest", "D:\\Other", startMenu, "u.exe", "Renamed");
    values = ReadValues(subKey);
    EXPECT_EQ(values["UninstallString"], text("\"D:\\Other\\u.exe\""));
    EXPECT_EQ(values["DisplayName"], text("Renamed"));
    EXPECT_EQ(values.size(), 4u);
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, subKey.c_str()), ERROR_SUCCESS);
}

}  // namespace
