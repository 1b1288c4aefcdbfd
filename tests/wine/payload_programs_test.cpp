// The payload's programs at work under Wine: the editions' services with their presence
// event and pipe, the Citrix support installer's records and signals, the user program,
// each edition's uninstaller and the auxiliary programs; and the two packages' entry lists
// with what every listed file says about itself.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "older_version_text.h"
#include "payload_test_support.h"
#include "platform/win32/win32_platform.h"
#include "product/user_iface.h"
#include "product/workstation/workstation_edition.h"
#include "standin.h"

namespace {

using namespace payload_test;

// ---- the packages' entries ----

const std::vector<std::string> WORKSTATION_ENTRIES = {
    "tessaportwssrv.exe", "tessaportws.exe", "tessaport-ws-license.txt", "tessaport-ws-license.rtf",
    "tessaport-ws-help.chm", "readme.txt", "uninstall.exe", "tsprdpwsh.exe", "tsppnptls.sys", "tspvd.sys",
    "tspvd_vista.sys", "tspvd.cat", "tspvd.inf", "tspvd_vista.cat", "tsprdpclnt.dll", "tspctxclnt.dll",
    "tsport_rde_installer.exe", "tsprdpclnt_x86_64.dll", "usblibvista", "usblibxp"};
const std::vector<std::string> SERVER_ENTRIES = {
    "tessaporttssrv.exe", "tessaportts.exe", "tessaport-ts-license.txt", "tessaport-ts-license.rtf",
    "tessaport-ts-help.chm", "readme.txt", "uninstall.exe", "tsprdptsh.exe", "tspvdbus.sys", "tspvdbus.inf",
    "tspvdbus.cat", "usblibvista", "usblibxp"};

// The names of a packing list ("NAME=PATH" lines) beside the test.
std::vector<std::string> ListedNames(const char* listFile) {
    std::vector<std::string> names;
    const std::string text = ReadWholeFile(Beside(listFile));
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (!line.empty()) names.push_back(line.substr(0, line.find('=')));
        at = end + 1;
    }
    return names;
}

// The stand-ins need only the basic libraries; the uninstallers are the installers' kin and
// use what they use (services, SetupAPI, COM, the shell).
bool IsSystemLibrary(const std::string& name, bool uninstaller) {
    for (const char* known : {"KERNEL32.dll", "ADVAPI32.dll", "USER32.dll", "msvcrt.dll", "ntoskrnl.exe"})
        if (SameText(name, known)) return true;
    if (!uninstaller) return false;
    for (const char* known : {"SETUPAPI.dll", "newdev.dll", "ole32.dll", "OLEAUT32.dll", "SHELL32.dll"})
        if (SameText(name, known)) return true;
    return false;
}

// Where the build put an entry's file: beside this test, but each edition's own uninstaller
// in a folder of its own.
std::string EntryFile(const std::string& entry, const char* edition) {
    if (entry == "uninstall.exe") return Beside(std::string("..\\uninstall\\") + edition + "\\uninstall.exe");
    return Beside(entry);
}

// The file a packing list ("NAME=PATH" lines) packs under name.
std::string ListedPath(const char* listFile, const std::string& name) {
    const std::string text = ReadWholeFile(Beside(listFile));
    const std::string key = "\n" + name + "=";
    const std::string lines = "\n" + text;
    const size_t at = lines.find(key);
    if (at == std::string::npos) return "";
    const size_t from = at + key.size();
    const size_t end = lines.find('\n', from);
    return lines.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

TEST(PackageEntries, ListsHoldBothPackagesInStoredOrder) {
    EXPECT_EQ(ListedNames("workstation_entries.txt"), WORKSTATION_ENTRIES);
    EXPECT_EQ(ListedNames("server_entries.txt"), SERVER_ENTRIES);
}

// Every binary entry names its own entry in its version resource (so installed copies can be
// told apart), imports only system libraries, and has the subsystem its use needs.
TEST(PackageEntries, EveryEntryIsARealFileThatSaysWhatItIs) {
    std::vector<std::pair<std::string, const char*>> all;
    for (const std::string& entry : WORKSTATION_ENTRIES) all.emplace_back(entry, "workstation");
    for (const std::string& entry : SERVER_ENTRIES) all.emplace_back(entry, "server");
    for (const auto& [entry, edition] : all) {
        const std::string path = EntryFile(entry, edition);
        const std::string bytes = ReadWholeFile(path);
        ASSERT_GT(bytes.size(), 0u) << entry;
        ASSERT_NE(bytes, "<missing>") << entry;
        if (bytes.compare(0, 2, "MZ") != 0) {
            // Texts for Windows: printable, lines ending CR LF.
            for (size_t i = 0; i < bytes.size(); ++i) {
                const unsigned char c = static_cast<unsigned char>(bytes[i]);
                ASSERT_TRUE(c == '\r' || c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7f)) << entry << " @" << i;
                if (c == '\n') {
                    ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << entry << " @" << i;
                }
            }
            continue;
        }
        const PeFacts facts = CPeReader(bytes).Read();
        ASSERT_TRUE(facts.valid) << entry;
        EXPECT_EQ(VersionString(path, "OriginalFilename"), entry);
        EXPECT_EQ(VersionString(path, "ProductVersion"), "3.7") << entry;
        for (const std::string& library : facts.imports)
            EXPECT_TRUE(IsSystemLibrary(library, entry == "uninstall.exe")) << entry << ": " << library;
        const bool driver = entry.find(".sys") != std::string::npos || entry.rfind("usblib", 0) == 0;
        if (driver) {
            EXPECT_EQ(facts.subsystem, IMAGE_SUBSYSTEM_NATIVE) << entry;
            EXPECT_EQ(facts.machine, IMAGE_FILE_MACHINE_AMD64) << entry;
        }
    }
}

DWORD CALLBACK StreamFromString(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* given) {
    auto* rest = reinterpret_cast<std::string*>(cookie);
    const size_t count = std::min(rest->size(), static_cast<size_t>(size));
    rest->copy(reinterpret_cast<char*>(buffer), count);
    rest->erase(0, count);
    *given = static_cast<LONG>(count);
    return 0;
}

// The plain text a Rich Edit 1.0 control shows for the RTF, or "<no window>".
std::string StreamedIntoRichEdit1(const std::string& rtf) {
    HMODULE library = LoadLibraryA("riched32.dll");
    if (library == nullptr) return "<no riched32>";
    std::string text = "<no window>";
    HWND control = CreateWindowExA(0, "RICHEDIT", "", ES_MULTILINE | ES_READONLY, 0, 0, 400, 300, nullptr, nullptr,
                                   nullptr, nullptr);
    if (control != nullptr) {
        std::string rest = rtf;
        EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&rest), 0, StreamFromString};
        SendMessageA(control, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
        std::vector<char> shown(8192);
        const int length = GetWindowTextA(control, shown.data(), static_cast<int>(shown.size()));
        text = stream.dwError != 0 ? "<stream error>" : std::string(shown.data(), length > 0 ? length : 0);
        DestroyWindow(control);
    }
    FreeLibrary(library);
    return text;
}

TEST(PackageEntries, LicenceRtfIsRichTextTheLicencePageCanStream) {
    for (const char* entry : {"tessaport-ws-license.rtf", "tessaport-ts-license.rtf"}) {
        const std::string rtf = ReadWholeFile(Beside(entry));
        ASSERT_EQ(rtf.compare(0, 6, "{\\rtf1"), 0) << entry;
        // One balanced group from the first byte to the last brace.
        int depth = 0;
        size_t closed = std::string::npos;
        for (size_t i = 0; i < rtf.size(); ++i) {
            if (rtf[i] == '\\') {
                ++i;  // an escaped brace or backslash is text
            } else if (rtf[i] == '{') {
                ++depth;
            } else if (rtf[i] == '}') {
                ASSERT_GT(depth, 0) << entry << " @" << i;
                if (--depth == 0 && closed == std::string::npos) closed = i;
            }
        }
        EXPECT_EQ(depth, 0) << entry;
        EXPECT_EQ(rtf.find_first_not_of("\r\n", closed + 1), std::string::npos) << entry << ": text after the group";

        // Streamed into the licence page's control where there is a display to make it on.
        const std::string text = StreamedIntoRichEdit1(rtf);
        if (text == "<no window>") {
            Measured("Rich Edit 1.0 check", "skipped, no display");
            continue;
        }
        const std::string product =
            std::string(entry[10] == 'w' ? "Tessaport RDP Edition - Workstation" : "Tessaport RDP Edition - Server") +
            "\r";
        EXPECT_EQ(text.compare(0, product.size(), product), 0) << text;
        EXPECT_NE(text.find("LICENCE AGREEMENT (STAND-IN)"), std::string::npos) << text;
        EXPECT_EQ(text.find('{'), std::string::npos) << text;
        EXPECT_EQ(text.find('\\'), std::string::npos) << text;
    }
}

// ---- the editions' services ----

const char* const WS_EVENT = "Global\\E524B22C-E6D7-4350-9864-55A30C96ED04";
const char* const WS_PIPE = "\\\\.\\pipe\\C9833C64-5102-4878-A513-AF5D0BC397EA";
const char* const TS_EVENT = "Global\\CAA0AA68-96DC-4316-A5EE-8B9794506479";
const char* const TS_PIPE = "\\\\.\\pipe\\9E977A6D-4B07-4dbb-8E38-F77BBD5696DC";
const DWORD REQUEST_VERSION = 0x00003007;
const DWORD CLIENT_ABILITIES = 3;
const DWORD READ_LIMIT_MS = 10000;

bool EventExists(const char* name) {
    KernelHandle event(OpenEventA(SYNCHRONIZE, FALSE, name));
    return event != nullptr;
}

// The client side of the pipe, with every read bounded in time.
class CPipeClient {
public:
    // 0 when connected, else the error of the wait or the open.
    DWORD Open(const char* pipe) {
        if (!WaitNamedPipeA(pipe, 1000)) return GetLastError();
        m_pipe = OwnFile(CreateFileA(pipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        return m_pipe ? 0 : GetLastError();
    }
    void Close() { m_pipe.reset(); }

    bool Write(DWORD value) {
        DWORD written = 0;
        return WriteFile(m_pipe.get(), &value, sizeof value, &written, nullptr) && written == sizeof value;
    }

    // Exactly count bytes, or false with the reason in LastError().
    bool Read(void* buffer, DWORD count, DWORD limitMs = READ_LIMIT_MS) {
        auto* out = static_cast<char*>(buffer);
        DWORD got = 0;
        const Clock::time_point start = Clock::now();
        while (got < count) {
            DWORD available = 0;
            if (!PeekNamedPipe(m_pipe.get(), nullptr, 0, nullptr, &available, nullptr)) {
                m_error = GetLastError();
                return false;
            }
            if (available == 0) {
                if (MsSince(start) > limitMs) {
                    m_error = WAIT_TIMEOUT;
                    return false;
                }
                Sleep(5);
                continue;
            }
            DWORD read = 0;
            if (!ReadFile(m_pipe.get(), out + got, std::min(available, count - got), &read, nullptr)) {
                m_error = GetLastError();
                return false;
            }
            got += read;
        }
        return true;
    }
    bool Read(DWORD* value, DWORD limitMs = READ_LIMIT_MS) { return Read(value, sizeof *value, limitMs); }
    DWORD LastError() const { return m_error; }

    // The handshake as the setup program makes it; the server's answer comes back.
    bool Handshake(DWORD* asked) {
        if (!Write(CLIENT_ABILITIES) || !Read(asked)) return false;
        if ((*asked & ~CLIENT_ABILITIES) != 0) return true;  // the client gives up here
        DWORD session = 0;
        if ((*asked & 1) != 0 && (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || !Write(session)))
            return false;
        return (*asked & 2) == 0 || Write(GetCurrentProcessId());
    }

    bool QueryVersion(DWORD* version, std::string* text) {
        DWORD length = 0;
        if (!Write(REQUEST_VERSION) || !Read(version) || !Read(&length) || length > 4096) return false;
        text->assign(length, '\0');
        return length == 0 || Read(text->data(), length);
    }

private:
    KernelHandle m_pipe;
    DWORD m_error = 0;
};

class ProductService : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& name : m_installed) RemoveService(name.c_str());
    }

    // Installs and starts the edition's service program; the status it reached comes back.
    SERVICE_STATUS_PROCESS Run(const char* name, const char* program) {
        SERVICE_STATUS_PROCESS status = {};
        ServiceHandle manager = OpenManager();
        EXPECT_TRUE(manager) << GetLastError();
        if (!manager) return status;
        ServiceHandle service = CreateOwnProcessService(manager.get(), name, Beside(program));
        EXPECT_TRUE(service) << name << " " << GetLastError();
        if (!service) return status;
        m_installed.push_back(name);
        for (const auto& value : m_pendingValues) SetParameter(name, value.first.c_str(), value.second);
        const Clock::time_point start = Clock::now();
        if (!StartServiceA(service.get(), 0, nullptr)) Measured(std::string("StartServiceA ") + name + " error",
                                                                std::to_string(GetLastError()));
        // Running, or stopped when it refused to run.
        for (int i = 0; i < 1000 && MsSince(start) < STATE_WAIT_MS; ++i) {
            DWORD needed = 0;
            if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                      sizeof status, &needed) ||
                status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_STOPPED)
                break;
            Sleep(20);
        }
        Measured(std::string(name) + " state " + std::to_string(status.dwCurrentState) + " after ms",
                 std::to_string(MsSince(start)));
        return status;
    }

    // Stops the service; the time it took in ms, or -1 when it did not stop in time.
    long long Stop(const char* name) {
        ServiceHandle manager = OpenManager();
        ServiceHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS) : nullptr);
        if (!service) return -1;
        const Clock::time_point start = Clock::now();
        SERVICE_STATUS plain = {};
        if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &plain)) return -1;
        SERVICE_STATUS_PROCESS status = {};
        if (!WaitForState(service.get(), SERVICE_STOPPED, STATE_WAIT_MS, &status)) return -1;
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR)) << name;
        return MsSince(start);
    }

    struct Value {
        DWORD type;
        std::string data;
    };
    static Value Dword(DWORD value) { return {REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4)}; }
    static Value Text(const std::string& text) { return {REG_SZ, text + '\0'}; }

    static void SetParameter(const char* service, const char* name, const Value& value) {
        const std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Parameters";
        HKEY raw = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                                  nullptr),
                  ERROR_SUCCESS);
        RegKey key(raw);
        ASSERT_EQ(RegSetValueExA(key.get(), name, 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
    }

    // Values written into the service's key between its creation and its start.
    std::vector<std::pair<std::string, Value>> m_pendingValues;
    std::vector<std::string> m_installed;
};

TEST_F(ProductService, WorkstationServiceAnnouncesItselfAndReportsTheConfiguredVersion) {
    EXPECT_FALSE(EventExists(WS_EVENT));
    EXPECT_FALSE(WaitNamedPipeA(WS_PIPE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    m_pendingValues = {{"Version", Dword(0x00037001)}, {"VersionText", Text("3.7.1 (test)")}};
    ASSERT_EQ(Run("tessaportwssrv", "tessaportwssrv.exe").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(EventExists(WS_EVENT));
    EXPECT_FALSE(EventExists(TS_EVENT));

    CPipeClient client;
    ASSERT_EQ(client.Open(WS_PIPE), 0u);
    DWORD asked = 0;
    ASSERT_TRUE(client.Handshake(&asked)) << client.LastError();
    EXPECT_EQ(asked, 3u);  // session id, then process id
    DWORD version = 0;
    std::string text;
    ASSERT_TRUE(client.QueryVersion(&version, &text)) << client.LastError();
    EXPECT_EQ(version, 0x00037001u);
    EXPECT_EQ(text, "3.7.1 (test)");

    // Read at every query: a changed value shows on the same connection.
    SetParameter("tessaportwssrv", "Version", Dword(0x00036000));
    SetParameter("tessaportwssrv", "VersionText", Text("3.6"));
    ASSERT_TRUE(client.QueryVersion(&version, &text)) << client.LastError();
    EXPECT_EQ(version, 0x00036000u);
    EXPECT_EQ(text, "3.6");
    client.Close();

    // The instance serves the next client.
    CPipeClient next;
    ASSERT_EQ(next.Open(WS_PIPE), 0u);
    ASSERT_TRUE(next.Handshake(&asked)) << next.LastError();
    ASSERT_TRUE(next.QueryVersion(&version, &text)) << next.LastError();
    EXPECT_EQ(version, 0x00036000u);
    next.Close();

    const long long stopped = Stop("tessaportwssrv");
    ASSERT_GE(stopped, 0);
    Measured("workstation service stopped after ms", std::to_string(stopped));
    EXPECT_FALSE(EventExists(WS_EVENT));
    EXPECT_FALSE(WaitNamedPipeA(WS_PIPE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ProductService, ServerServiceUsesItsOwnNamesAndReportsTheBuiltInVersion) {
    ASSERT_EQ(Run("tessaporttssrv", "tessaporttssrv.exe").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(EventExists(TS_EVENT));
    EXPECT_FALSE(EventExists(WS_EVENT));
    CPipeClient wrongEdition;
    EXPECT_EQ(wrongEdition.Open(WS_PIPE), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    CPipeClient client;
    ASSERT_EQ(client.Open(TS_PIPE), 0u);
    DWORD asked = 0;
    ASSERT_TRUE(client.Handshake(&asked)) << client.LastError();
    DWORD version = 0;
    std::string text;
    ASSERT_TRUE(client.QueryVersion(&version, &text)) << client.LastError();
    EXPECT_EQ(version, 0x00037000u);
    EXPECT_EQ(text, "3.7");
    client.Close();
    EXPECT_GE(Stop("tessaporttssrv"), 0);
    EXPECT_FALSE(EventExists(TS_EVENT));
}

// The setup's running-instance check against the real workstation service and its pipe,
// with the edition's own names and the setup's own version 3.7.
TEST_F(ProductService, SetupRefusesOnlyARunningWorkstationNewerThanItself) {
    os::UseWin32();
    const EditionInfo& info = WorkstationEdition().Info();
    const RunningProductQuery query{info.presenceEvent, info.pipeName, 0x00037000u, "3.7"};
    // The message as the setup would show it: string 59 with both versions filled in.
    const auto expected = [](const std::string& running) {
        std::string text = TSP_OLDER_VERSION_TEXT;
        for (const std::string& version : {std::string("3.7"), running}) {
            const size_t at = text.find("%s");
            if (at == std::string::npos) return std::string("<string 59 lacks a %s>");
            text.replace(at, 2, version);
        }
        return text;
    };

    // Nothing running: nobody to ask, nothing refused.
    std::string message = "unchanged";
    EXPECT_EQ(CheckInstalledVersion(query, TSP_OLDER_VERSION_TEXT, &message), 0);
    EXPECT_EQ(message, "unchanged");

    m_pendingValues = {{"Version", Dword(0x00037001)}, {"VersionText", Text("3.7.1 (newer)")}};
    ASSERT_EQ(Run("tessaportwssrv", "tessaportwssrv.exe").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(CheckInstalledVersion(query, TSP_OLDER_VERSION_TEXT, &message), 1);
    EXPECT_EQ(message, expected("3.7.1 (newer)"));
    EXPECT_NE(message.find("3.7.1 (newer)"), std::string::npos) << message;

    // A '%' from the pipe is text: shown unchanged, never taken as a directive.
    SetParameter("tessaportwssrv", "Version", Dword(0x00038000));
    SetParameter("tessaportwssrv", "VersionText", Text("3.8 %s"));
    EXPECT_EQ(CheckInstalledVersion(query, TSP_OLDER_VERSION_TEXT, &message), 1);
    EXPECT_EQ(message, expected("3.8 %s"));

    // The same version as the setup's own goes on, read afresh by the running service.
    SetParameter("tessaportwssrv", "Version", Dword(0x00037000));
    SetParameter("tessaportwssrv", "VersionText", Text("3.7"));
    message = "unchanged";
    EXPECT_EQ(CheckInstalledVersion(query, TSP_OLDER_VERSION_TEXT, &message), 0);
    EXPECT_EQ(message, "unchanged");

    ASSERT_GE(Stop("tessaportwssrv"), 0);
    EXPECT_EQ(CheckInstalledVersion(query, TSP_OLDER_VERSION_TEXT, &message), 0);
    EXPECT_EQ(message, "unchanged");
}

TEST_F(ProductService, ConfiguredAbilitiesAreWhatTheServiceAsksFor) {
    ASSERT_EQ(Run("tessaportwssrv", "tessaportwssrv.exe").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    DWORD version = 0;
    std::string text;

    // Only the session id: the process id must not be sent, or it would be taken as a request.
    SetParameter("tessaportwssrv", "Abilities", Dword(1));
    {
        CPipeClient client;
        ASSERT_EQ(client.Open(WS_PIPE), 0u);
        DWORD asked = 0;
        ASSERT_TRUE(client.Handshake(&asked)) << client.LastError();
        EXPECT_EQ(asked, 1u);
        ASSERT_TRUE(client.QueryVersion(&version, &text)) << client.LastError();
        EXPECT_EQ(version, 0x00037000u);
    }
    // Nothing asked: the query follows the answer at once.
    SetParameter("tessaportwssrv", "Abilities", Dword(0));
    {
        CPipeClient client;
        ASSERT_EQ(client.Open(WS_PIPE), 0u);
        DWORD asked = 7;
        ASSERT_TRUE(client.Handshake(&asked)) << client.LastError();
        EXPECT_EQ(asked, 0u);
        ASSERT_TRUE(client.QueryVersion(&version, &text)) << client.LastError();
        EXPECT_EQ(text, "3.7");
    }
    // An ability no client has (bit 31 too): the service ends the connection after answering.
    SetParameter("tessaportwssrv", "Abilities", Dword(0x80000004));
    {
        CPipeClient client;
        ASSERT_EQ(client.Open(WS_PIPE), 0u);
        DWORD asked = 0;
        ASSERT_TRUE(client.Handshake(&asked)) << client.LastError();
        EXPECT_EQ(asked, 0x80000004u);
        EXPECT_FALSE(client.Read(&version));
        Measured("client error after the service ended the connection", std::to_string(client.LastError()));
        EXPECT_TRUE(client.LastError() == ERROR_BROKEN_PIPE || client.LastError() == ERROR_PIPE_NOT_CONNECTED)
            << client.LastError();
    }
    EXPECT_GE(Stop("tessaportwssrv"), 0);
}

TEST_F(ProductService, UnknownRequestOrSilenceEndsOnlyThatConnection) {
    ASSERT_EQ(Run("tessaportwssrv", "tessaportwssrv.exe").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    DWORD asked = 0;
    DWORD version = 0;
    std::string text;
    {
        CPipeClient client;
        ASSERT_EQ(client.Open(WS_PIPE), 0u);
        ASSERT_TRUE(client.Handshake(&asked)) << client.LastError();
        ASSERT_TRUE(client.Write(0x00001234));
        EXPECT_FALSE(client.Read(&version));
        Measured("client error after an unknown request", std::to_string(client.LastError()));
        EXPECT_TRUE(client.LastError() == ERROR_BROKEN_PIPE || client.LastError() == ERROR_PIPE_NOT_CONNECTED)
            << client.LastError();
    }
    // A client that connects and says nothing holds the only instance until the service
    // gives up on it; then the next client is served.
    CPipeClient silent;
    ASSERT_EQ(silent.Open(WS_PIPE), 0u);
    const Clock::time_point start = Clock::now();
    CPipeClient next;
    DWORD opened = ERROR_PIPE_BUSY;
    for (int i = 0; i < 30 && opened != 0 && MsSince(start) < 15000; ++i) opened = next.Open(WS_PIPE);
    ASSERT_EQ(opened, 0u);
    Measured("next client connected after a silent one, after ms", std::to_string(MsSince(start)));
    EXPECT_GE(MsSince(start), 2000);
    ASSERT_TRUE(next.Handshake(&asked)) << next.LastError();
    ASSERT_TRUE(next.QueryVersion(&version, &text)) << next.LastError();
    EXPECT_EQ(version, 0x00037000u);

    // A stop does not wait for a connected client.
    const long long stopped = Stop("tessaportwssrv");
    ASSERT_GE(stopped, 0);
    Measured("service with a connected client stopped after ms", std::to_string(stopped));
    EXPECT_FALSE(EventExists(WS_EVENT));
}

TEST_F(ProductService, SecondCopyOfAnEditionRefusesToRun) {
    ASSERT_EQ(Run("tessaportwssrv", "tessaportwssrv.exe").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    const SERVICE_STATUS_PROCESS second = Run("tsp_second_workstation", "tessaportwssrv.exe");
    EXPECT_EQ(second.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(second.dwWin32ExitCode, static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    // The first one is untouched.
    CPipeClient client;
    ASSERT_EQ(client.Open(WS_PIPE), 0u);
    DWORD asked = 0;
    DWORD version = 0;
    std::string text;
    ASSERT_TRUE(client.Handshake(&asked)) << client.LastError();
    ASSERT_TRUE(client.QueryVersion(&version, &text)) << client.LastError();
    EXPECT_EQ(text, "3.7");
    client.Close();
    EXPECT_GE(Stop("tessaportwssrv"), 0);
}

// ---- the Citrix support installer ----

const char* const RESTART_EVENT = "Global\\{3448EDF9-E4FA-4C0F-8137-13EE6B9D972E}";
const char* const ACTION_VARIABLE = "TSP_RDE_STANDIN_ACTION";
const DWORD RDE_WAIT_MS = 20000;

// The program in a folder whose name has spaces, started as the setup program starts it.
class RdeInstaller : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = TempFolder() + "Tessaport RDE Test Folder";
        m_record = TempFolder() + "tsport_rde_installer.log";
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        m_program = m_folder + "\\tsport_rde_installer.exe";
        ASSERT_TRUE(CopyFileA(Beside("tsport_rde_installer.exe").c_str(), m_program.c_str(), FALSE)) << GetLastError();
        DeleteFileA(m_record.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA(ACTION_VARIABLE, nullptr);
        DeleteFileA(m_program.c_str());
        RemoveDirectoryA(m_folder.c_str());
        DeleteFileA(m_record.c_str());
    }

    // The record of one run. Windows hands the program its command line as given; Wine
    // puts quotes around a program path that it found in an unquoted one with spaces.
    std::string Expected(const std::string& commandLine, const char* keyword, const char* action) const {
        std::string received = commandLine;
        if (m_wineQuotes && received.compare(0, m_program.size(), m_program) == 0)
            received = "\"" + m_program + "\"" + received.substr(m_program.size());
        return "command line: " + received + "\r\nkeyword: " + keyword + "\r\naction: " + action + "\r\n";
    }

    bool m_wineQuotes = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;

    std::string m_folder;
    std::string m_program;
    std::string m_record;
};

TEST_F(RdeInstaller, RecordsEachKeywordOfAnUnquotedPathWithSpaces) {
    const std::string registering = m_program + " RegisterCitrixDllEx";
    const ProcessRun first = RunProgram(registering, RDE_WAIT_MS);
    ASSERT_TRUE(first.started) << GetLastError();
    ASSERT_TRUE(first.ended);
    EXPECT_EQ(first.exitCode, 0u);
    Measured("Citrix stand-in run took ms", std::to_string(first.ms));

    const std::string unregistering = m_program + " UnregisterCitrixDllEx";
    const ProcessRun second = RunProgram(unregistering, RDE_WAIT_MS);
    ASSERT_TRUE(second.ended);
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_EQ(ReadWholeFile(m_record), Expected(registering, "RegisterCitrixDllEx", "none") +
                                           Expected(unregistering, "UnregisterCitrixDllEx", "none"));
}

TEST_F(RdeInstaller, WithoutArgumentsItRecordsNoKeyword) {
    // As from the Start Menu shortcut; its message box cannot show without a display.
    const std::string quoted = "\"" + m_program + "\"";
    const ProcessRun run = RunProgram(quoted, 90000);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadWholeFile(m_record), Expected(quoted, "(none)", "none"));
}

TEST_F(RdeInstaller, SetsTheRestartEventWhenItsEnvironmentAsks) {
    // Made by the setup program before the start: manual reset, not signalled.
    KernelHandle restart(CreateEventA(nullptr, TRUE, FALSE, RESTART_EVENT));
    ASSERT_TRUE(restart) << GetLastError();
    ASSERT_TRUE(SetEnvironmentVariableA(ACTION_VARIABLE, "restart"));
    const std::string commandLine = m_program + " RegisterCitrixDllEx";
    const ProcessRun run = RunProgram(commandLine, RDE_WAIT_MS);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(WaitForSingleObject(restart.get(), 1), WAIT_OBJECT_0);
    EXPECT_EQ(ReadWholeFile(m_record), Expected(commandLine, "RegisterCitrixDllEx", "restart event set"));
}

TEST_F(RdeInstaller, AskedForARestartWithoutTheEventItSaysSoAndFails) {
    ASSERT_TRUE(SetEnvironmentVariableA(ACTION_VARIABLE, "restart"));
    const std::string commandLine = m_program + " RegisterCitrixDllEx";
    const ProcessRun run = RunProgram(commandLine, RDE_WAIT_MS);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(ReadWholeFile(m_record),
              Expected(commandLine, "RegisterCitrixDllEx", "restart event not set (error 2)"));
    EXPECT_FALSE(EventExists(RESTART_EVENT));
}

TEST_F(RdeInstaller, HangsUntilItIsEndedWhenItsEnvironmentAsks) {
    ASSERT_TRUE(SetEnvironmentVariableA(ACTION_VARIABLE, "hang"));
    const std::string commandLine = m_program + " UnregisterCitrixDllEx";
    const ProcessRun run = RunProgram(commandLine, 2000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.exitCode, 0xFFFFFFFFu);  // ended as the setup program ends it
    EXPECT_EQ(ReadWholeFile(m_record),
              Expected(commandLine, "UnregisterCitrixDllEx", "hanging for at most 120 s"));
}

// How the stand-ins find their arguments, with this program's own file name in the lines
// (Wine rewrites an unquoted path before a child sees it, so the unquoted form is fed directly).
TEST(StandInArguments, FollowTheProgramsFileNameQuotedOrNot) {
    EXPECT_STREQ(standin::ArgumentsOf("C:\\Program Files\\Tessaport RDP\\wine_payload_tests.exe RegisterCitrixDllEx"),
                 " RegisterCitrixDllEx");
    EXPECT_STREQ(standin::ArgumentsOf("\"C:\\Program Files\\T\\WINE_PAYLOAD_TESTS.EXE\" -close 5"), " -close 5");
    EXPECT_STREQ(standin::ArgumentsOf("C:\\x\\wine_payload_tests.exe"), "");
    EXPECT_STREQ(standin::ArgumentsOf("C:\\x\\old_wine_payload_tests.exe a"), " a");
    // A folder that merely starts like the file name is not the program.
    EXPECT_STREQ(standin::ArgumentsOf("C:\\wine_payload_tests.exe.d\\wine_payload_tests.exe Unregister"),
                 " Unregister");
    // Another program's line: the first word, quoted or not, is the program.
    EXPECT_STREQ(standin::ArgumentsOf("\"C:\\a b\\other.exe\" one two"), " one two");
    EXPECT_STREQ(standin::ArgumentsOf("other.exe one"), " one");

    DWORD value = 0;
    EXPECT_TRUE(standin::SwitchValue(" -close 5", "close", &value));
    EXPECT_EQ(value, 5u);
    EXPECT_TRUE(standin::SwitchValue(" x -CLOSE  0", "close", &value));
    EXPECT_EQ(value, 0u);
    value = 77;
    EXPECT_FALSE(standin::SwitchValue(" -close", "close", &value));
    EXPECT_FALSE(standin::SwitchValue(" -close 5x", "close", &value));
    EXPECT_FALSE(standin::SwitchValue(" -closer 5", "close", &value));
    EXPECT_FALSE(standin::SwitchValue(" a-close 5", "close", &value));
    EXPECT_FALSE(standin::SwitchValue(" -close 12345678901", "close", &value));
    EXPECT_EQ(value, 77u);
}

// ---- user program, uninstallers, auxiliary programs ----

TEST(UserProgram, RecordsItsStartAndEnds) {
    for (const char* edition : {"tessaportws", "tessaportts"}) {
        const std::string record = TempFolder() + edition + ".log";
        DeleteFileA(record.c_str());
        const std::string commandLine = "\"" + Beside(std::string(edition) + ".exe") + "\" -close 1";
        const ProcessRun run = RunProgram(commandLine, 90000);
        ASSERT_TRUE(run.started) << edition << " " << GetLastError();
        ASSERT_TRUE(run.ended) << edition;
        EXPECT_EQ(run.exitCode, 0u) << edition;
        EXPECT_EQ(ReadWholeFile(record), "started: " + commandLine + "\r\n") << edition;
        DeleteFileA(record.c_str());
    }
}

TEST(Uninstaller, EachPackageCarriesItsOwnEditionsUninstaller) {
    const std::string workstation = EntryFile("uninstall.exe", "workstation");
    const std::string server = EntryFile("uninstall.exe", "server");
    EXPECT_EQ(VersionString(workstation, "FileDescription"), "Velotrinex LLC Tessaport RDP Edition Workstation Uninstaller");
    EXPECT_EQ(VersionString(server, "FileDescription"), "Velotrinex LLC Tessaport RDP Edition Server Uninstaller");
    EXPECT_NE(ReadWholeFile(workstation), ReadWholeFile(server));
    // The packing lists take each from its own edition's folder.
    const std::string workstationListed = ListedPath("workstation_entries.txt", "uninstall.exe");
    const std::string serverListed = ListedPath("server_entries.txt", "uninstall.exe");
    const std::string workstationEnd = "/uninstall/workstation/uninstall.exe", serverEnd = "/uninstall/server/uninstall.exe";
    ASSERT_GT(workstationListed.size(), workstationEnd.size()) << workstationListed;
    ASSERT_GT(serverListed.size(), serverEnd.size()) << serverListed;
    EXPECT_EQ(workstationListed.substr(workstationListed.size() - workstationEnd.size()), workstationEnd);
    EXPECT_EQ(serverListed.substr(serverListed.size() - serverEnd.size()), serverEnd);
}

TEST(AuxiliaryPrograms, SayWhatTheyAre) {
    const std::string output = TempFolder() + "tsp_aux_output.txt";
    const char* const expected[][2] = {
        {"tsprdpwsh.exe",
         "tsprdpwsh.exe: stand-in of an auxiliary program of Tessaport RDP Edition - Workstation; "
         "it does nothing.\r\n"},
        {"tsprdptsh.exe",
         "tsprdptsh.exe: stand-in of an auxiliary program of Tessaport RDP Edition - Server; it does nothing.\r\n"},
    };
    for (const auto& program : expected) {
        const ProcessRun run = RunProgram("\"" + Beside(program[0]) + "\"", PROCESS_WAIT_MS, output);
        ASSERT_TRUE(run.ended) << program[0];
        EXPECT_EQ(run.exitCode, 0u) << program[0];
        EXPECT_EQ(ReadWholeFile(output), program[1]);
    }
    DeleteFileA(output.c_str());
}

}  // namespace
