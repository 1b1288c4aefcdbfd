// The service control manager.
#pragma once

#include "platform/types.h"

namespace os {

using SC_LOCK = void*;

// SERVICE_STATUS, field for field.
struct ServiceStatus {
    DWORD serviceType = 0;
    DWORD currentState = 0;
    DWORD controlsAccepted = 0;
    DWORD win32ExitCode = 0;
    DWORD serviceSpecificExitCode = 0;
    DWORD checkPoint = 0;
    DWORD waitHint = 0;
};

// SERVICE_DESCRIPTIONA: the information of SERVICE_CONFIG_DESCRIPTION.
struct ServiceDescription {
    char* description = nullptr;
};

class IServices {
public:
    virtual ~IServices() = default;

    // Local machine, active database. Null on failure.
    virtual SC_HANDLE OpenSCManagerA(DWORD access) = 0;
    virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;

    // Null on failure.
    virtual SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, DWORD access) = 0;
    // dependencies: null for none, else names each with its zero, then one more zero
    // (a leading '+' names a load-order group). account null: LocalSystem.
    virtual SC_HANDLE CreateServiceA(SC_HANDLE manager, const char* name, const char* displayName, DWORD access,
                                     DWORD serviceType, DWORD startType, DWORD errorControl, const char* binaryPath,
                                     const char* loadOrderGroup, DWORD* tagId, const char* dependencies,
                                     const char* account, const char* password) = 0;
    // SERVICE_NO_CHANGE for a number and null for a text leave that setting as it is.
    virtual BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                                      const char* binaryPath, const char* loadOrderGroup, DWORD* tagId,
                                      const char* dependencies, const char* account, const char* password,
                                      const char* displayName) = 0;
    // info points to the structure of the level (ServiceDescription for
    // SERVICE_CONFIG_DESCRIPTION).
    virtual BOOL ChangeServiceConfig2A(SC_HANDLE service, DWORD infoLevel, void* info) = 0;
    virtual BOOL QueryServiceStatus(SC_HANDLE service, ServiceStatus* status) = 0;
    virtual BOOL ControlService(SC_HANDLE service, DWORD control, ServiceStatus* status) = 0;
    virtual BOOL StartServiceA(SC_HANDLE service, DWORD argumentCount, const char** arguments) = 0;
    // Marks the service for deletion; it goes once it is stopped and its last handle closed.
    virtual BOOL DeleteService(SC_HANDLE service) = 0;
    // Null on failure.
    virtual SC_LOCK LockServiceDatabase(SC_HANDLE manager) = 0;
    virtual BOOL UnlockServiceDatabase(SC_LOCK lock) = 0;
};

}  // namespace os
