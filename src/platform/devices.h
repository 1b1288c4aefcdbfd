// Plug and Play: SetupAPI device information sets, device properties, class installer
// calls, INF classes, the driver store (SetupCopyOEMInfA) and newdev's driver update.
//
// Calls report failure the Windows way: FALSE (or INVALID_HANDLE_VALUE for a set), the
// reason from Kernel().GetLastError(). No call takes a window: the installer never lets
// SetupAPI show one.
#pragma once

#include <cstdint>

#include "platform/guid.h"
#include "platform/types.h"

namespace os {

// A device information set; INVALID_HANDLE_VALUE when there is none.
using HDEVINFO = void*;

// SP_DEVINFO_DATA without its size field (the implementation fills that in): one device
// information element of a set. Filled by SetupDiEnumDeviceInfo and SetupDiCreateDeviceInfoA;
// pass it back unchanged.
struct DeviceInfoData {
    Guid classGuid = {};
    DWORD devInst = 0;
    std::uintptr_t reserved = 0;
};

// SP_DEVINFO_LIST_DETAIL_DATA_A without its size field.
struct DeviceInfoListDetail {
    Guid classGuid = {};
    HANDLE remoteMachineHandle = nullptr;  // null for the local machine
    char remoteMachineName[263] = {};      // SP_MAX_MACHINENAME_LENGTH
};

// SP_CLASSINSTALL_HEADER and SP_REMOVEDEVICE_PARAMS, laid out as Windows lays them out.
struct ClassInstallHeader {
    DWORD size;  // sizeof(ClassInstallHeader), 8
    DWORD installFunction;
};
struct RemoveDeviceParams {
    ClassInstallHeader header;
    DWORD scope;      // DI_REMOVEDEVICE_GLOBAL or DI_REMOVEDEVICE_CONFIGSPECIFIC
    DWORD hwProfile;  // 0: the current profile
};

// The parts of SP_DEVINSTALL_PARAMS_A the installer reads.
struct DeviceInstallParams {
    DWORD flags = 0;  // DI_NEEDRESTART, DI_NEEDREBOOT, ...
    DWORD flagsEx = 0;
    char driverPath[260] = {};
};

class IDevices {
public:
    virtual ~IDevices() = default;

    // classGuid may be null with DIGCF_ALLCLASSES; enumerator may be null. Local machine.
    virtual HDEVINFO SetupDiGetClassDevsA(const Guid* classGuid, const char* enumerator, DWORD flags) = 0;
    // machineName null: the local machine.
    virtual HDEVINFO SetupDiGetClassDevsExA(const Guid* classGuid, const char* enumerator, DWORD flags,
                                            const char* machineName) = 0;
    virtual BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO set, DeviceInfoListDetail* detail) = 0;
    // ERROR_NO_MORE_ITEMS past the last element.
    virtual BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, DeviceInfoData* data) = 0;
    // buffer may be null with size 0 to ask the size. A short buffer gives
    // ERROR_INSUFFICIENT_BUFFER with *required and *regType set; a property the device does
    // not have gives ERROR_INVALID_DATA. regType and required may be null.
    virtual BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property, DWORD* regType,
                                                   BYTE* buffer, DWORD size, DWORD* required) = 0;
    virtual BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property,
                                                   const BYTE* buffer, DWORD size) = 0;
    // required (may be null) receives the size with the terminator.
    virtual BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, DeviceInfoData* data, char* id, DWORD size,
                                             DWORD* required) = 0;
    // params null clears them; size is sizeof(RemoveDeviceParams) for DIF_REMOVE.
    virtual BOOL SetupDiSetClassInstallParamsA(HDEVINFO set, DeviceInfoData* data, const RemoveDeviceParams* params,
                                               DWORD size) = 0;
    virtual BOOL SetupDiCallClassInstaller(DWORD installFunction, HDEVINFO set, DeviceInfoData* data) = 0;
    virtual BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO set, DeviceInfoData* data, DeviceInstallParams* params) = 0;
    // Reads the class of an INF file; className gets at most size bytes (MAX_CLASS_NAME_LEN).
    virtual BOOL SetupDiGetINFClassA(const char* infName, Guid* classGuid, char* className, DWORD size,
                                     DWORD* required) = 0;
    // classGuid may be null: a set for any class.
    virtual HDEVINFO SetupDiCreateDeviceInfoList(const Guid* classGuid) = 0;
    // With DICD_GENERATE_ID, deviceName is a class name and the instance id is generated
    // (ROOT\NAME\0000, ...). description may be null. data (may be null) receives the element.
    virtual BOOL SetupDiCreateDeviceInfoA(HDEVINFO set, const char* deviceName, const Guid* classGuid,
                                          const char* description, DWORD flags, DeviceInfoData* data) = 0;
    virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;

    // Stages an INF file in the driver store (%windir%\inf\oemN.inf). destName may be null
    // with size 0; required (may be null) receives the size of the destination name.
    virtual BOOL SetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, DWORD mediaType, DWORD copyStyle,
                                  char* destName, DWORD destSize, DWORD* required) = 0;
    // The INF files of a folder (null: %windir%\inf) in one of the styles (INF_STYLE_*):
    // names without path, each with its zero, then one more zero. buffer may be null with
    // size 0 to ask the size; required (may be null) receives the size of the whole list.
    virtual BOOL SetupGetInfFileListA(const char* directory, DWORD infStyle, char* buffer, DWORD size,
                                      DWORD* required) = 0;
    // The file name (without path) an INF of the driver store had before it was staged:
    // SetupGetInfInformationA on the full path, then SetupQueryInfOriginalFileInformationA.
    virtual BOOL SetupQueryInfOriginalFileNameA(const char* infPath, char* originalName, DWORD size) = 0;
    // Takes a staged INF (its name in %windir%\inf, without path) out of the driver store,
    // with its .pnf and its catalogue. flags: SUOI_FORCEDELETE or 0 (then an INF that a
    // device still uses stays, ERROR_INF_IN_USE_BY_DEVICES).
    virtual BOOL SetupUninstallOEMInfA(const char* infFileName, DWORD flags) = 0;
    // newdev: installs the INF's driver on every present device carrying hardwareId.
    // rebootRequired (may be null) receives TRUE when the change needs a restart.
    virtual BOOL UpdateDriverForPlugAndPlayDevicesA(const char* hardwareId, const char* fullInfPath, DWORD flags,
                                                    BOOL* rebootRequired) = 0;
};

}  // namespace os
