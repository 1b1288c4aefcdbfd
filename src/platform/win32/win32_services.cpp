#include <windows.h>

#include "platform/win32/win32_areas.h"

namespace os {

namespace {
static_assert(sizeof(ServiceStatus) == sizeof(SERVICE_STATUS), "ServiceStatus is SERVICE_STATUS");
static_assert(sizeof(ServiceDescription) == sizeof(SERVICE_DESCRIPTIONA), "ServiceDescription is SERVICE_DESCRIPTIONA");

::SC_HANDLE Sc(SC_HANDLE handle) { return static_cast<::SC_HANDLE>(handle); }
::LPSERVICE_STATUS Status(ServiceStatus* status) { return reinterpret_cast<::LPSERVICE_STATUS>(status); }
}  // namespace

SC_HANDLE Win32Services::OpenSCManagerA(DWORD access) { return ::OpenSCManagerA(nullptr, nullptr, access); }

BOOL Win32Services::CloseServiceHandle(SC_HANDLE handle) { return ::CloseServiceHandle(Sc(handle)); }

SC_HANDLE Win32Services::OpenServiceA(SC_HANDLE manager, const char* name, DWORD access) {
    return ::OpenServiceA(Sc(manager), name, access);
}

SC_HANDLE Win32Services::CreateServiceA(SC_HANDLE manager, const char* name, const char* displayName, DWORD access,
                                        DWORD serviceType, DWORD startType, DWORD errorControl, const char* binaryPath,
                                        const char* loadOrderGroup, DWORD* tagId, const char* dependencies,
                                        const char* account, const char* password) {
    return ::CreateServiceA(Sc(manager), name, displayName, access, serviceType, startType, errorControl, binaryPath,
                            loadOrderGroup, reinterpret_cast<::LPDWORD>(tagId), dependencies, account, password);
}

BOOL Win32Services::ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                                         const char* binaryPath, const char* loadOrderGroup, DWORD* tagId,
                                         const char* dependencies, const char* account, const char* password,
                                         const char* displayName) {
    return ::ChangeServiceConfigA(Sc(service), serviceType, startType, errorControl, binaryPath, loadOrderGroup,
                                  reinterpret_cast<::LPDWORD>(tagId), dependencies, account, password, displayName);
}

BOOL Win32Services::ChangeServiceConfig2A(SC_HANDLE service, DWORD infoLevel, void* info) {
    return ::ChangeServiceConfig2A(Sc(service), infoLevel, info);
}

BOOL Win32Services::QueryServiceStatus(SC_HANDLE service, ServiceStatus* status) {
    return ::QueryServiceStatus(Sc(service), Status(status));
}

BOOL Win32Services::ControlService(SC_HANDLE service, DWORD control, ServiceStatus* status) {
    return ::ControlService(Sc(service), control, Status(status));
}

BOOL Win32Services::StartServiceA(SC_HANDLE service, DWORD argumentCount, const char** arguments) {
    return ::StartServiceA(Sc(service), argumentCount, const_cast<::LPCSTR*>(arguments));
}

BOOL Win32Services::DeleteService(SC_HANDLE service) { return ::DeleteService(Sc(service)); }

SC_LOCK Win32Services::LockServiceDatabase(SC_HANDLE manager) { return ::LockServiceDatabase(Sc(manager)); }

BOOL Win32Services::UnlockServiceDatabase(SC_LOCK lock) {
    return ::UnlockServiceDatabase(static_cast<::SC_LOCK>(lock));
}

}  // namespace os
