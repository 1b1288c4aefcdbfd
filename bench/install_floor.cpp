// The floor of the installation benchmark (bench/install_bench.sh): what the workstation
// edition's silent installation changes on a new machine, done with the same Win32 calls
// and nothing else. The files are this program's own resources (the stand-ins as they are:
// no package, no inflating, no digests) and are written straight from the mapped image; no
// journal, no backups, no checks for what is already there, no pauses. The services are
// created and started, the devices searched, the driver's INF staged, the Citrix support
// installer run, the shortcuts, the uninstall entry and the firewall rules made, and the
// setup log written and copied, as the installer does on that machine (Windows Vista or
// later, nothing of the product there yet).
//
// Exit code 0 when everything was done; otherwise the number of the step that failed.
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>
#include <setupapi.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "install_floor_entries.h"

namespace {

const char* const PRODUCT = "Tessaport RDP Edition - Workstation";
const char* const LOG_NAME = "tessaport-rdp-workstation-setup.log";

enum Step : int {
    STEP_RESOURCE = 1,
    STEP_FOLDERS,
    STEP_SERVICE_MANAGER,
    STEP_DEVICES,
    STEP_FILE,
    STEP_DIRECTORY,
    STEP_DRIVER_SERVICE,
    STEP_OEM_INF,
    STEP_MAIN_SERVICE,
    STEP_START,
    STEP_CITRIX,
    STEP_SHORTCUT,
    STEP_UNINSTALL_ENTRY,
    STEP_FIREWALL,
    STEP_LOG,
};

struct CStepFailed {
    int step;
};

[[noreturn]] void Fail(int step) { throw CStepFailed{step}; }

// Owners of what the steps open.
struct CHandle {
    HANDLE h;
    explicit CHandle(HANDLE handle) : h(handle) {}
    ~CHandle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
};
struct CService {
    SC_HANDLE h;
    explicit CService(SC_HANDLE handle) : h(handle) {}
    ~CService() {
        if (h != nullptr) CloseServiceHandle(h);
    }
    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;
};
struct CKey {
    HKEY h = nullptr;
    CKey() = default;
    ~CKey() {
        if (h != nullptr) RegCloseKey(h);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
};
template <typename T>
struct CCom {
    T* p = nullptr;
    CCom() = default;
    ~CCom() {
        if (p != nullptr) p->Release();
    }
    CCom(const CCom&) = delete;
    CCom& operator=(const CCom&) = delete;
};
struct CBstr {
    BSTR b;
    explicit CBstr(const wchar_t* text) : b(SysAllocString(text)) {}
    ~CBstr() { SysFreeString(b); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
};

std::string Join(const std::string& dir, const char* name) { return dir + "\\" + name; }

std::string Folder(int csidl, bool create) {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, csidl, create ? TRUE : FALSE)) Fail(STEP_FOLDERS);
    return path;
}

void WriteWhole(const std::string& path, const void* data, DWORD size) {
    CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.h == INVALID_HANDLE_VALUE) Fail(STEP_FILE);
    DWORD written = 0;
    if (!WriteFile(file.h, data, size, &written, nullptr) || written != size) Fail(STEP_FILE);
}

// A payload file from this program's resources, written under name into dir.
void InstallEntry(const char* entry, const std::string& dir, const char* name = nullptr) {
    int id = 0;
    for (std::size_t i = 0; i < sizeof FLOOR_ENTRIES / sizeof FLOOR_ENTRIES[0]; ++i) {
        if (std::strcmp(FLOOR_ENTRIES[i], entry) == 0) id = static_cast<int>(i) + 1;
    }
    HRSRC found = id != 0 ? FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10)) : nullptr;  // RT_RCDATA
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) Fail(STEP_RESOURCE);
    WriteWhole(Join(dir, name != nullptr ? name : entry), data, SizeofResource(nullptr, found));
}

void RemoveStubDevices() {
    HDEVINFO set = SetupDiGetClassDevsExA(&GUID_DEVCLASS_USB, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) Fail(STEP_DEVICES);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    char ids[4096];
    for (DWORD index = 0; index < 4096 && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        DWORD type = 0, required = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(ids),
                                               sizeof ids - 2, &required)) {
            continue;
        }
        ids[sizeof ids - 2] = ids[sizeof ids - 1] = '\0';
        for (const char* id = ids; *id != '\0'; id += std::strlen(id) + 1) {
            if (lstrcmpiA(id, "VELOTRINEX\\TSPRDPSTUB") == 0) {
                SP_REMOVEDEVICE_PARAMS remove{};
                remove.ClassInstallHeader.cbSize = sizeof remove.ClassInstallHeader;
                remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
                remove.Scope = DI_REMOVEDEVICE_GLOBAL;
                SetupDiSetClassInstallParamsA(set, &device, &remove.ClassInstallHeader, sizeof remove);
                SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
                break;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

void CreateLink(const std::string& target, const std::string& workDir, const std::string& linkDir, const char* name) {
    CCom<IShellLinkA> link;
    CCom<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link.p))) ||
        FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p)))) {
        Fail(STEP_SHORTCUT);
    }
    link.p->SetPath(target.c_str());
    link.p->SetDescription(name);
    link.p->SetWorkingDirectory(workDir.c_str());
    link.p->SetIconLocation(target.c_str(), 0);
    wchar_t wide[MAX_PATH];
    const std::string path = Join(linkDir, name) + ".lnk";
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0 || FAILED(file.p->Save(wide, TRUE))) {
        Fail(STEP_SHORTCUT);
    }
}

void SetString(HKEY key, const char* name, const std::string& value) {
    if (RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
        Fail(STEP_UNINSTALL_ENTRY);
    }
}

void AddFirewallRule(INetFwRules* rules, const wchar_t* name, const wchar_t* program, NET_FW_RULE_DIRECTION direction) {
    CCom<INetFwRule> rule;
    if (FAILED(CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule),
                                reinterpret_cast<void**>(&rule.p)))) {
        Fail(STEP_FIREWALL);
    }
    CBstr ruleName(name), application(program);
    rule.p->put_Name(ruleName.b);
    rule.p->put_Description(ruleName.b);
    rule.p->put_ApplicationName(application.b);
    rule.p->put_Protocol(NET_FW_IP_PROTOCOL_TCP);
    rule.p->put_Direction(direction);
    rule.p->put_Profiles(NET_FW_PROFILE2_ALL);
    rule.p->put_Action(NET_FW_ACTION_ALLOW);
    rule.p->put_Enabled(VARIANT_TRUE);
    if (FAILED(rules->Add(rule.p))) Fail(STEP_FIREWALL);
}

void Install() {
    char temp[MAX_PATH];
    const DWORD tempLength = GetTempPathA(MAX_PATH, temp);
    if (tempLength == 0 || tempLength >= MAX_PATH) Fail(STEP_FOLDERS);
    const std::string tempLog = std::string(temp) + LOG_NAME;
    std::string log = std::string(PRODUCT) + " installation...\r\n";

    char system[MAX_PATH], wow64[MAX_PATH], programFiles[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryA(system, MAX_PATH);
    const UINT wow64Length = GetSystemWow64DirectoryA(wow64, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH || wow64Length == 0 || wow64Length >= MAX_PATH ||
        FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles))) {
        Fail(STEP_FOLDERS);
    }
    const std::string drivers = std::string(system) + "\\Drivers";
    const std::string target = Join(programFiles, PRODUCT);

    CService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.h == nullptr) Fail(STEP_SERVICE_MANAGER);
    {
        CKey parent, runOnce;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, nullptr, 0, KEY_WRITE,
                        nullptr, &parent.h, nullptr);
        if (parent.h != nullptr) {
            RegCreateKeyExA(parent.h, "RunOnce", 0, nullptr, 0, KEY_WRITE, nullptr, &runOnce.h, nullptr);
        }
    }

    // The stub driver is not there, so its stale devices go.
    RemoveStubDevices();

    InstallEntry("tessaportwssrv.exe", system);
    InstallEntry("tsprdpclnt.dll", system);
    InstallEntry("tspctxclnt.dll", wow64);
    InstallEntry("tsprdpclnt_x86_64.dll", wow64, "tsprdpclnt.dll");
    InstallEntry("tsppnptls.sys", drivers);
    InstallEntry("tspvd_vista.sys", drivers, "tspvd.sys");

    if (!CreateDirectoryA(target.c_str(), nullptr)) Fail(STEP_DIRECTORY);
    for (const char* name : {"tessaportws.exe", "tsport_rde_installer.exe", "tessaport-ws-license.txt", "readme.txt",
                             "tessaport-ws-help.chm", "uninstall.exe"}) {
        InstallEntry(name, target);
    }

    {
        CService driver(CreateServiceA(manager.h, "tsppnptls", "Tessaport RDP Edition PnP Device", SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       (drivers + "\\tsppnptls.sys").c_str(), nullptr, nullptr, nullptr, nullptr,
                                       nullptr));
        if (driver.h == nullptr) Fail(STEP_DRIVER_SERVICE);
    }
    InstallEntry("tspvd_vista.sys", target, "tspvd.sys");
    InstallEntry("tspvd_vista.cat", target, "tspvd.cat");
    InstallEntry("tspvd.inf", target);
    if (!SetupCopyOEMInfA(Join(target, "tspvd.inf").c_str(), nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr)) {
        Fail(STEP_OEM_INF);
    }

    {
        static const char dependencies[] = "tsppnptls\0";
        CService service(CreateServiceA(manager.h, "tessaportwssrv", "Tessaport RDP Edition Workstation Service",
                                        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                        SERVICE_ERROR_NORMAL, Join(system, "tessaportwssrv.exe").c_str(), "PlugPlay",
                                        nullptr, dependencies, nullptr, nullptr));
        if (service.h == nullptr) Fail(STEP_MAIN_SERVICE);
        ChangeServiceConfigA(service.h, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                             nullptr, dependencies, nullptr, nullptr, nullptr);
        char description[] = "Tessaport RDP Edition Workstation - helps to share USB devices over IP";
        SERVICE_DESCRIPTIONA info{description};
        ChangeServiceConfig2A(service.h, SERVICE_CONFIG_DESCRIPTION, &info);
    }

    for (const char* name : {"tsppnptls", "tessaportwssrv"}) {
        CService service(OpenServiceA(manager.h, name, SERVICE_START | SERVICE_QUERY_STATUS));
        if (service.h == nullptr || !StartServiceA(service.h, 0, nullptr)) Fail(STEP_START);
    }

    {
        CHandle restart(CreateEventA(nullptr, TRUE, FALSE, "Global\\{3448EDF9-E4FA-4C0F-8137-13EE6B9D972E}"));
        std::string commandLine = "\"" + Join(target, "tsport_rde_installer.exe") + "\" RegisterCitrixDllEx";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &started)) {
            Fail(STEP_CITRIX);
        }
        CHandle process(started.hProcess), thread(started.hThread);
        if (WaitForSingleObject(process.h, 25000) != WAIT_OBJECT_0) Fail(STEP_CITRIX);
    }

    if (FAILED(CoInitialize(nullptr))) Fail(STEP_SHORTCUT);
    try {
        const std::string menu = Join(Folder(CSIDL_COMMON_PROGRAMS, true), PRODUCT);
        if (!CreateDirectoryA(menu.c_str(), nullptr)) Fail(STEP_DIRECTORY);
        CreateLink(Join(target, "tessaportws.exe"), target, menu, PRODUCT);
        CreateLink(Join(target, "tessaport-ws-help.chm"), target, menu, "Tessaport RDP Edition - Workstation Help");
        CreateLink(Join(target, "tessaport-ws-license.txt"), target, menu,
                   "Tessaport RDP Edition - Workstation License");
        CreateLink(Join(target, "uninstall.exe"), target, menu, "Tessaport RDP Edition - Workstation Uninstall Wizard");
        static const char url[] = "[InternetShortcut]\r\nURL=http://www.velotrinex.com/tessaport-rdp/";
        WriteWhole(Join(menu, "Tessaport RDP Edition - Workstation on Web.url"), url, sizeof url - 1);
        CreateLink(Join(target, "tsport_rde_installer.exe"), target, menu,
                   "Install Cirtix support for Tessaport RDP Edition - Workstation");
        CreateLink(Join(target, "tessaportws.exe"), target, Folder(CSIDL_COMMON_DESKTOPDIRECTORY, true), PRODUCT);
        const std::string quickLaunch = Join(Folder(CSIDL_APPDATA, false), "Microsoft\\Internet Explorer\\Quick Launch");
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(quickLaunch.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            CreateLink(Join(target, "tessaportws.exe"), target, quickLaunch, PRODUCT);
        }
    } catch (...) {
        CoUninitialize();
        throw;
    }
    CoUninitialize();

    {
        CKey key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                            "{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}",
                            0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key.h,
                            nullptr) != ERROR_SUCCESS) {
            Fail(STEP_UNINSTALL_ENTRY);
        }
        SetString(key.h, "InstallLocation", target);
        SetString(key.h, "UninstallString", "\"" + Join(target, "uninstall.exe") + "\"");
        SetString(key.h, "StartMenuLocation", PRODUCT);
        SetString(key.h, "DisplayName", PRODUCT);
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) Fail(STEP_FIREWALL);
    try {
        CCom<INetFwPolicy2> policy;
        CCom<INetFwRules> rules;
        if (FAILED(CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                                    reinterpret_cast<void**>(&policy.p))) ||
            FAILED(policy.p->get_Rules(&rules.p))) {
            Fail(STEP_FIREWALL);
        }
        wchar_t program[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, Join(system, "tessaportwssrv.exe").c_str(), -1, program, MAX_PATH) == 0) {
            Fail(STEP_FIREWALL);
        }
        AddFirewallRule(rules.p, L"Tessaport RDP Edition Workstation Service", program, NET_FW_RULE_DIR_IN);
        AddFirewallRule(rules.p, L"Tessaport RDP Edition Workstation Service (Out)", program, NET_FW_RULE_DIR_OUT);
    } catch (...) {
        CoUninitialize();
        throw;
    }
    CoUninitialize();

    log += "Firewall rules was created succesful\r\n";
    WriteWhole(tempLog, log.data(), static_cast<DWORD>(log.size()));
    if (!CopyFileA(tempLog.c_str(), Join(target, LOG_NAME).c_str(), FALSE) || !DeleteFileA(tempLog.c_str())) {
        Fail(STEP_LOG);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        Install();
    } catch (const CStepFailed& failed) {
        return failed.step;
    }
    return 0;
}
