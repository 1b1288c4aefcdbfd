// The Win32 implementations of the seam areas: each call is the Windows call it
// stands for, and nothing more.
#pragma once

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/firewall.h"
#include "platform/kernel.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/services.h"
#include "platform/shell.h"

namespace os {

class Win32Kernel final : public IKernel {
public:
    DWORD GetLastError() override;
    void SetLastError(DWORD error) override;
    BOOL CloseHandle(HANDLE handle) override;
    DWORD GetModuleFileNameA(char* buffer, DWORD size) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD milliseconds) override;
    BOOL GenRandom(void* buffer, DWORD size) override;
    BOOL GetVersionExA(OsVersion* version) override;
    DWORD GetWindowsDirectoryA(char* buffer, DWORD size) override;
    DWORD GetTempPathA(DWORD size, char* buffer) override;
    DWORD GetSystemDirectoryA(char* buffer, DWORD size) override;
    DWORD GetSystemWow64DirectoryA(char* buffer, DWORD size) override;
    DWORD GetCurrentDirectoryA(DWORD size, char* buffer) override;
    void* VirtualAlloc(std::size_t size) override;
    BOOL VirtualFree(void* block) override;
    void OutputDebugStringA(const char* text) override;
    void GetLocalTime(SystemTime* time) override;
};

class Win32Files final : public IFiles {
public:
    HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD attributes) override;
    DWORD GetFileSize(HANDLE file) override;
    DWORD SetFilePointer(HANDLE file, LONG distance, DWORD origin) override;
    BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
    BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
    BOOL SetEndOfFile(HANDLE file) override;
    BOOL FlushFileBuffers(HANDLE file) override;
    BOOL GetFileInformationByHandle(HANDLE file, DWORD* attributes, DWORD* links) override;
    HANDLE FindFirstFileA(const char* path, FindData* data) override;
    BOOL FindClose(HANDLE find) override;
    DWORD GetFileAttributesA(const char* path) override;
    BOOL SetFileAttributesA(const char* path, DWORD attributes) override;
    BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists) override;
    BOOL MoveFileExA(const char* from, const char* to, DWORD flags) override;
    BOOL DeleteFileA(const char* path) override;
    BOOL CreateDirectoryA(const char* path, const char* security) override;
    BOOL RemoveDirectoryA(const char* path) override;
};

class Win32Registry final : public IRegistry {
public:
    LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result,
                         DWORD* disposition) override;
    LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD access, HKEY* result) override;
    LONG RegQueryInfoKeyA(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values,
                          DWORD* maxValueNameLength, DWORD* maxValueLength) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize) override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                       DWORD* dataSize) override;
    LONG RegQueryValueExA(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* dataSize) override;
    LONG RegSetValueExA(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override;
    LONG RegDeleteValueA(HKEY key, const char* name) override;
    LONG RegDeleteKeyA(HKEY key, const char* subKey) override;
    LONG RegCloseKey(HKEY key) override;
};

class Win32Security final : public ISecurity {
public:
    BOOL OpenProcessToken(DWORD access, HANDLE* token) override;
    BOOL GetTokenGroups(HANDLE token, void* buffer, DWORD size, DWORD* needed) override;
    BOOL AllocateAndInitializeSid(const BYTE authority[6], BYTE count, const DWORD* subAuthorities,
                                  PSID* sid) override;
    void FreeSid(PSID sid) override;
    BOOL EqualSid(PSID a, PSID b) override;
    BOOL LookupPrivilegeValueA(const char* system, const char* name, Luid* luid) override;
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TokenPrivileges* newState, DWORD bufferLength,
                               TokenPrivileges* previous, DWORD* returnLength) override;
    BOOL GetSecurityText(HANDLE object, std::string* sddl) override;
    BOOL GetTokenUserText(HANDLE token, std::string* sid) override;
};

class Win32Services final : public IServices {
public:
    SC_HANDLE OpenSCManagerA(DWORD access) override;
    BOOL CloseServiceHandle(SC_HANDLE handle) override;
    SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, DWORD access) override;
    SC_HANDLE CreateServiceA(SC_HANDLE manager, const char* name, const char* displayName, DWORD access,
                             DWORD serviceType, DWORD startType, DWORD errorControl, const char* binaryPath,
                             const char* loadOrderGroup, DWORD* tagId, const char* dependencies, const char* account,
                             const char* password) override;
    BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                              const char* binaryPath, const char* loadOrderGroup, DWORD* tagId,
                              const char* dependencies, const char* account, const char* password,
                              const char* displayName) override;
    BOOL ChangeServiceConfig2A(SC_HANDLE service, DWORD infoLevel, void* info) override;
    BOOL QueryServiceStatus(SC_HANDLE service, ServiceStatus* status) override;
    BOOL ControlService(SC_HANDLE service, DWORD control, ServiceStatus* status) override;
    BOOL StartServiceA(SC_HANDLE service, DWORD argumentCount, const char** arguments) override;
    BOOL DeleteService(SC_HANDLE service) override;
    SC_LOCK LockServiceDatabase(SC_HANDLE manager) override;
    BOOL UnlockServiceDatabase(SC_LOCK lock) override;
};

class Win32Shell final : public IShell {
public:
    HRESULT CoInitialize() override;
    void CoUninitialize() override;
    HRESULT CreateShellLink(PSHELLLINK* link) override;
    HRESULT QueryPersistFile(PSHELLLINK link, PPERSISTFILE* file) override;
    ULONG ReleaseShellLink(PSHELLLINK link) override;
    ULONG ReleasePersistFile(PPERSISTFILE file) override;
    HRESULT SetPath(PSHELLLINK link, const char* path) override;
    HRESULT SetArguments(PSHELLLINK link, const char* arguments) override;
    HRESULT SetWorkingDirectory(PSHELLLINK link, const char* directory) override;
    HRESULT SetDescription(PSHELLLINK link, const char* description) override;
    HRESULT SetIconLocation(PSHELLLINK link, const char* path, int index) override;
    HRESULT Save(PPERSISTFILE file, const char* path, BOOL remember) override;
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override;
    BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create) override;
};

class Win32Firewall final : public IFirewall {
public:
    HRESULT CoInitializeEx(DWORD coInit) override;
    int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, char16_t* wide,
                            int wideLength) override;
    HRESULT CreateNetFwMgr(PNETFWMGR* manager) override;
    HRESULT CreateNetFwPolicy2(PNETFWPOLICY2* policy) override;
    HRESULT CreateNetFwRule(PNETFWRULE* rule) override;
    HRESULT CreateNetFwAuthorizedApplication(PNETFWAUTHAPP* application) override;
    HRESULT GetLocalPolicy(PNETFWMGR manager, PNETFWPOLICY* policy) override;
    HRESULT GetCurrentProfile(PNETFWPOLICY policy, PNETFWPROFILE* profile) override;
    HRESULT GetAuthorizedApplications(PNETFWPROFILE profile, PNETFWAUTHAPPS* applications) override;
    HRESULT AuthorizedApplicationsItem(PNETFWAUTHAPPS applications, const char16_t* imageFileName,
                                       PNETFWAUTHAPP* application) override;
    HRESULT AuthorizedApplicationsAdd(PNETFWAUTHAPPS applications, PNETFWAUTHAPP application) override;
    HRESULT AuthorizedApplicationsRemove(PNETFWAUTHAPPS applications, const char16_t* imageFileName) override;
    HRESULT SetAuthorizedApplicationName(PNETFWAUTHAPP application, const char16_t* name) override;
    HRESULT SetAuthorizedApplicationImageFileName(PNETFWAUTHAPP application, const char16_t* imageFileName) override;
    HRESULT SetAuthorizedApplicationEnabled(PNETFWAUTHAPP application, VARIANT_BOOL enabled) override;
    HRESULT GetRules(PNETFWPOLICY2 policy, PNETFWRULES* rules) override;
    HRESULT RulesAdd(PNETFWRULES rules, PNETFWRULE rule) override;
    HRESULT RulesRemove(PNETFWRULES rules, const char16_t* name) override;
    HRESULT GetRulesNewEnum(PNETFWRULES rules, PUNKNOWN* enumerator) override;
    HRESULT QueryEnumVariant(PUNKNOWN enumerator, PENUMVARIANT* items) override;
    HRESULT EnumNextDispatch(PENUMVARIANT items, PDISPATCH* item) override;
    HRESULT QueryNetFwRule(PDISPATCH item, PNETFWRULE* rule) override;
    HRESULT GetRuleApplicationName(PNETFWRULE rule, std::u16string* applicationName) override;
    HRESULT GetRuleDirection(PNETFWRULE rule, LONG* direction) override;
    HRESULT GetRuleName(PNETFWRULE rule, std::u16string* name) override;
    HRESULT SetRuleName(PNETFWRULE rule, const char16_t* name) override;
    HRESULT SetRuleDescription(PNETFWRULE rule, const char16_t* description) override;
    HRESULT SetRuleApplicationName(PNETFWRULE rule, const char16_t* applicationName) override;
    HRESULT SetRuleProtocol(PNETFWRULE rule, LONG protocol) override;
    HRESULT SetRuleDirection(PNETFWRULE rule, LONG direction) override;
    HRESULT SetRuleProfiles(PNETFWRULE rule, LONG profiles) override;
    HRESULT SetRuleAction(PNETFWRULE rule, LONG action) override;
    HRESULT SetRuleEnabled(PNETFWRULE rule, VARIANT_BOOL enabled) override;
    ULONG ReleaseNetFwMgr(PNETFWMGR manager) override;
    ULONG ReleasePolicy(PNETFWPOLICY policy) override;
    ULONG ReleaseProfile(PNETFWPROFILE profile) override;
    ULONG ReleaseAuthorizedApplications(PNETFWAUTHAPPS applications) override;
    ULONG ReleaseAuthorizedApplication(PNETFWAUTHAPP application) override;
    ULONG ReleasePolicy2(PNETFWPOLICY2 policy) override;
    ULONG ReleaseRules(PNETFWRULES rules) override;
    ULONG ReleaseRule(PNETFWRULE rule) override;
    ULONG ReleaseUnknown(PUNKNOWN object) override;
    ULONG ReleaseEnumVariant(PENUMVARIANT items) override;
    ULONG ReleaseDispatch(PDISPATCH item) override;
};

class Win32Devices final : public IDevices {
public:
    HDEVINFO SetupDiGetClassDevsA(const Guid* classGuid, const char* enumerator, DWORD flags) override;
    HDEVINFO SetupDiGetClassDevsExA(const Guid* classGuid, const char* enumerator, DWORD flags,
                                    const char* machineName) override;
    BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO set, DeviceInfoListDetail* detail) override;
    BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, DeviceInfoData* data) override;
    BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property, DWORD* regType,
                                           BYTE* buffer, DWORD size, DWORD* required) override;
    BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property, const BYTE* buffer,
                                           DWORD size) override;
    BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, DeviceInfoData* data, char* id, DWORD size,
                                     DWORD* required) override;
    BOOL SetupDiSetClassInstallParamsA(HDEVINFO set, DeviceInfoData* data, const RemoveDeviceParams* params,
                                       DWORD size) override;
    BOOL SetupDiCallClassInstaller(DWORD installFunction, HDEVINFO set, DeviceInfoData* data) override;
    BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO set, DeviceInfoData* data, DeviceInstallParams* params) override;
    BOOL SetupDiGetINFClassA(const char* infName, Guid* classGuid, char* className, DWORD size,
                             DWORD* required) override;
    HDEVINFO SetupDiCreateDeviceInfoList(const Guid* classGuid) override;
    BOOL SetupDiCreateDeviceInfoA(HDEVINFO set, const char* deviceName, const Guid* classGuid, const char* description,
                                  DWORD flags, DeviceInfoData* data) override;
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
    BOOL SetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, DWORD mediaType, DWORD copyStyle,
                          char* destName, DWORD destSize, DWORD* required) override;
    BOOL SetupGetInfFileListA(const char* directory, DWORD infStyle, char* buffer, DWORD size,
                              DWORD* required) override;
    BOOL SetupQueryInfOriginalFileNameA(const char* infPath, char* originalName, DWORD size) override;
    BOOL SetupUninstallOEMInfA(const char* infFileName, DWORD flags) override;
    BOOL UpdateDriverForPlugAndPlayDevicesA(const char* hardwareId, const char* fullInfPath, DWORD flags,
                                            BOOL* rebootRequired) override;
};

class Win32Processes final : public IProcesses {
public:
    BOOL CreateProcessA(const char* applicationName, char* commandLine, BOOL inheritHandles, DWORD creationFlags,
                        const char* currentDirectory, ProcessInformation* information) override;
    BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
    BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
    DWORD GetCurrentProcessId() override;
    BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) override;
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
    HANDLE CreateEventA(BOOL manualReset, BOOL initialState, const char* name, const char* security) override;
    HANDLE OpenEventA(DWORD access, BOOL inheritHandle, const char* name) override;
    BOOL SetEvent(HANDLE event) override;
    BOOL ResetEvent(HANDLE event) override;
    BOOL WaitNamedPipeA(const char* name, DWORD timeout) override;
    BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* totalAvailable,
                       DWORD* leftThisMessage) override;
    std::intptr_t ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                                const char* directory, int showCommand) override;
};

}  // namespace os
