#include <windows.h>
// SetupAPI and newdev need <windows.h> first.
#include <newdev.h>
#include <setupapi.h>

#include <cstring>

#include "platform/win32/system_library.h"
#include "platform/win32/win32_areas.h"

namespace os {

static_assert(sizeof(Guid) == sizeof(GUID), "Guid must match GUID");
static_assert(sizeof(RemoveDeviceParams) == sizeof(SP_REMOVEDEVICE_PARAMS), "RemoveDeviceParams must match");

namespace {

GUID ToWin(const Guid& guid) {
    GUID out;
    std::memcpy(&out, &guid, sizeof out);
    return out;
}

Guid FromWin(const GUID& guid) {
    Guid out;
    std::memcpy(&out, &guid, sizeof out);
    return out;
}

// SP_DEVINFO_DATA for one call: filled from the caller's element, copied back afterwards.
class CElement {
public:
    explicit CElement(DeviceInfoData* data) : m_data(data) {
        std::memset(&m_win, 0, sizeof m_win);
        m_win.cbSize = sizeof m_win;
        if (m_data != nullptr) {
            m_win.ClassGuid = ToWin(m_data->classGuid);
            m_win.DevInst = m_data->devInst;
            m_win.Reserved = static_cast<ULONG_PTR>(m_data->reserved);
        }
    }
    ~CElement() {
        if (m_data != nullptr) {
            m_data->classGuid = FromWin(m_win.ClassGuid);
            m_data->devInst = m_win.DevInst;
            m_data->reserved = static_cast<std::uintptr_t>(m_win.Reserved);
        }
    }
    CElement(const CElement&) = delete;
    CElement& operator=(const CElement&) = delete;

    SP_DEVINFO_DATA* Get() { return m_data != nullptr ? &m_win : nullptr; }

private:
    DeviceInfoData* m_data;
    SP_DEVINFO_DATA m_win;
};

}  // namespace

HDEVINFO Win32Devices::SetupDiGetClassDevsA(const Guid* classGuid, const char* enumerator, DWORD flags) {
    GUID guid = classGuid != nullptr ? ToWin(*classGuid) : GUID{};
    return ::SetupDiGetClassDevsA(classGuid != nullptr ? &guid : nullptr, enumerator, nullptr, flags);
}

HDEVINFO Win32Devices::SetupDiGetClassDevsExA(const Guid* classGuid, const char* enumerator, DWORD flags,
                                              const char* machineName) {
    GUID guid = classGuid != nullptr ? ToWin(*classGuid) : GUID{};
    return ::SetupDiGetClassDevsExA(classGuid != nullptr ? &guid : nullptr, enumerator, nullptr, flags, nullptr,
                                    machineName, nullptr);
}

BOOL Win32Devices::SetupDiGetDeviceInfoListDetailA(HDEVINFO set, DeviceInfoListDetail* detail) {
    SP_DEVINFO_LIST_DETAIL_DATA_A win;
    std::memset(&win, 0, sizeof win);
    win.cbSize = sizeof win;
    const BOOL ok = ::SetupDiGetDeviceInfoListDetailA(set, &win);
    if (ok && detail != nullptr) {
        detail->classGuid = FromWin(win.ClassGuid);
        detail->remoteMachineHandle = win.RemoteMachineHandle;
        static_assert(sizeof detail->remoteMachineName == sizeof win.RemoteMachineName, "machine name size");
        std::memcpy(detail->remoteMachineName, win.RemoteMachineName, sizeof win.RemoteMachineName);
    }
    return ok;
}

BOOL Win32Devices::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, DeviceInfoData* data) {
    CElement element(data);
    return ::SetupDiEnumDeviceInfo(set, index, element.Get());
}

BOOL Win32Devices::SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property, DWORD* regType,
                                                     BYTE* buffer, DWORD size, DWORD* required) {
    CElement element(data);
    ::DWORD type = 0, needed = 0;
    const BOOL ok = ::SetupDiGetDeviceRegistryPropertyA(set, element.Get(), property, &type, buffer, size, &needed);
    if (regType != nullptr) *regType = type;
    if (required != nullptr) *required = needed;
    return ok;
}

BOOL Win32Devices::SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property,
                                                     const BYTE* buffer, DWORD size) {
    CElement element(data);
    return ::SetupDiSetDeviceRegistryPropertyA(set, element.Get(), property, buffer, size);
}

BOOL Win32Devices::SetupDiGetDeviceInstanceIdA(HDEVINFO set, DeviceInfoData* data, char* id, DWORD size,
                                               DWORD* required) {
    CElement element(data);
    ::DWORD needed = 0;
    const BOOL ok = ::SetupDiGetDeviceInstanceIdA(set, element.Get(), id, size, &needed);
    if (required != nullptr) *required = needed;
    return ok;
}

BOOL Win32Devices::SetupDiSetClassInstallParamsA(HDEVINFO set, DeviceInfoData* data, const RemoveDeviceParams* params,
                                                 DWORD size) {
    CElement element(data);
    SP_REMOVEDEVICE_PARAMS win;
    std::memset(&win, 0, sizeof win);
    if (params != nullptr) {
        win.ClassInstallHeader.cbSize = params->header.size;
        win.ClassInstallHeader.InstallFunction = params->header.installFunction;
        win.Scope = params->scope;
        win.HwProfile = params->hwProfile;
    }
    return ::SetupDiSetClassInstallParamsA(set, element.Get(), params != nullptr ? &win.ClassInstallHeader : nullptr,
                                           size);
}

BOOL Win32Devices::SetupDiCallClassInstaller(DWORD installFunction, HDEVINFO set, DeviceInfoData* data) {
    CElement element(data);
    return ::SetupDiCallClassInstaller(installFunction, set, element.Get());
}

BOOL Win32Devices::SetupDiGetDeviceInstallParamsA(HDEVINFO set, DeviceInfoData* data, DeviceInstallParams* params) {
    CElement element(data);
    SP_DEVINSTALL_PARAMS_A win;
    std::memset(&win, 0, sizeof win);
    win.cbSize = sizeof win;
    const BOOL ok = ::SetupDiGetDeviceInstallParamsA(set, element.Get(), &win);
    if (ok && params != nullptr) {
        params->flags = win.Flags;
        params->flagsEx = win.FlagsEx;
        static_assert(sizeof params->driverPath == sizeof win.DriverPath, "driver path size");
        std::memcpy(params->driverPath, win.DriverPath, sizeof win.DriverPath);
    }
    return ok;
}

BOOL Win32Devices::SetupDiGetINFClassA(const char* infName, Guid* classGuid, char* className, DWORD size,
                                       DWORD* required) {
    GUID guid{};
    ::DWORD needed = 0;
    const BOOL ok = ::SetupDiGetINFClassA(infName, &guid, className, size, &needed);
    if (ok && classGuid != nullptr) *classGuid = FromWin(guid);
    if (required != nullptr) *required = needed;
    return ok;
}

HDEVINFO Win32Devices::SetupDiCreateDeviceInfoList(const Guid* classGuid) {
    GUID guid = classGuid != nullptr ? ToWin(*classGuid) : GUID{};
    return ::SetupDiCreateDeviceInfoList(classGuid != nullptr ? &guid : nullptr, nullptr);
}

BOOL Win32Devices::SetupDiCreateDeviceInfoA(HDEVINFO set, const char* deviceName, const Guid* classGuid,
                                            const char* description, DWORD flags, DeviceInfoData* data) {
    CElement element(data);
    GUID guid = classGuid != nullptr ? ToWin(*classGuid) : GUID{};
    return ::SetupDiCreateDeviceInfoA(set, deviceName, classGuid != nullptr ? &guid : nullptr, description, nullptr,
                                      flags, element.Get());
}

BOOL Win32Devices::SetupDiDestroyDeviceInfoList(HDEVINFO set) { return ::SetupDiDestroyDeviceInfoList(set); }

BOOL Win32Devices::SetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, DWORD mediaType, DWORD copyStyle,
                                    char* destName, DWORD destSize, DWORD* required) {
    ::DWORD needed = 0;
    const BOOL ok =
        ::SetupCopyOEMInfA(sourceInf, mediaLocation, mediaType, copyStyle, destName, destSize, &needed, nullptr);
    if (required != nullptr) *required = needed;
    return ok;
}

BOOL Win32Devices::SetupGetInfFileListA(const char* directory, DWORD infStyle, char* buffer, DWORD size,
                                        DWORD* required) {
    ::DWORD needed = 0;
    const BOOL ok = ::SetupGetInfFileListA(directory, infStyle, buffer, size, &needed);
    if (required != nullptr) *required = needed;
    return ok;
}

BOOL Win32Devices::SetupQueryInfOriginalFileNameA(const char* infPath, char* originalName, DWORD size) {
    if (originalName == nullptr || size == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    originalName[0] = '\0';
    ::DWORD needed = 0;
    if (!::SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &needed) && needed == 0) {
        return FALSE;
    }
    // The information block holds the INF's [Version] section: a few kilobytes.
    if (needed < sizeof(SP_INF_INFORMATION) || needed > 1024 * 1024) {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    void* block = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
    if (block == nullptr) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    auto* information = static_cast<PSP_INF_INFORMATION>(block);
    SP_ORIGINAL_FILE_INFO_A original;
    std::memset(&original, 0, sizeof original);
    original.cbSize = sizeof original;
    BOOL ok = ::SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, information, needed, nullptr) &&
              ::SetupQueryInfOriginalFileInformationA(information, 0, nullptr, &original);
    const ::DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    ::HeapFree(::GetProcessHeap(), 0, block);
    if (ok) {
        const std::size_t length = ::strnlen(original.OriginalInfName, sizeof original.OriginalInfName);
        if (length >= size || length == sizeof original.OriginalInfName) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(originalName, original.OriginalInfName, length);
        originalName[length] = '\0';
        return TRUE;
    }
    ::SetLastError(error);
    return FALSE;
}

BOOL Win32Devices::SetupUninstallOEMInfA(const char* infFileName, DWORD flags) {
    return ::SetupUninstallOEMInfA(infFileName, flags, nullptr);
}

BOOL Win32Devices::UpdateDriverForPlugAndPlayDevicesA(const char* hardwareId, const char* fullInfPath, DWORD flags,
                                                      BOOL* rebootRequired) {
    // newdev is no KnownDLL: from the system folder only, when it is first needed.
    auto update = SystemFunction<decltype(&::UpdateDriverForPlugAndPlayDevicesA)>(
        "newdev.dll", "UpdateDriverForPlugAndPlayDevicesA");
    if (update == nullptr) return FALSE;
    return update(nullptr, hardwareId, fullInfPath, flags, rebootRequired);
}

}  // namespace os
