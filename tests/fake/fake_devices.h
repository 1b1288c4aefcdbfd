// The Plug and Play side of the in-memory machine: a device tree with classes, present
// and phantom devices, device information sets, class installer calls and a driver store.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "platform/devices.h"

namespace fake {

class CFakeDevices final : public os::IDevices {
public:
    explicit CFakeDevices(CFakeMachine& machine);
    ~CFakeDevices() override;

    os::HDEVINFO SetupDiGetClassDevsA(const os::Guid* classGuid, const char* enumerator, os::DWORD flags) override;
    os::HDEVINFO SetupDiGetClassDevsExA(const os::Guid* classGuid, const char* enumerator, os::DWORD flags,
                                        const char* machineName) override;
    os::BOOL SetupDiGetDeviceInfoListDetailA(os::HDEVINFO set, os::DeviceInfoListDetail* detail) override;
    os::BOOL SetupDiEnumDeviceInfo(os::HDEVINFO set, os::DWORD index, os::DeviceInfoData* data) override;
    os::BOOL SetupDiGetDeviceRegistryPropertyA(os::HDEVINFO set, os::DeviceInfoData* data, os::DWORD property,
                                               os::DWORD* regType, os::BYTE* buffer, os::DWORD size,
                                               os::DWORD* required) override;
    os::BOOL SetupDiSetDeviceRegistryPropertyA(os::HDEVINFO set, os::DeviceInfoData* data, os::DWORD property,
                                               const os::BYTE* buffer, os::DWORD size) override;
    os::BOOL SetupDiGetDeviceInstanceIdA(os::HDEVINFO set, os::DeviceInfoData* data, char* id, os::DWORD size,
                                         os::DWORD* required) override;
    os::BOOL SetupDiSetClassInstallParamsA(os::HDEVINFO set, os::DeviceInfoData* data,
                                           const os::RemoveDeviceParams* params, os::DWORD size) override;
    os::BOOL SetupDiCallClassInstaller(os::DWORD installFunction, os::HDEVINFO set, os::DeviceInfoData* data) override;
    os::BOOL SetupDiGetDeviceInstallParamsA(os::HDEVINFO set, os::DeviceInfoData* data,
                                            os::DeviceInstallParams* params) override;
    os::BOOL SetupDiGetINFClassA(const char* infName, os::Guid* classGuid, char* className, os::DWORD size,
                                 os::DWORD* required) override;
    os::HDEVINFO SetupDiCreateDeviceInfoList(const os::Guid* classGuid) override;
    os::BOOL SetupDiCreateDeviceInfoA(os::HDEVINFO set, const char* deviceName, const os::Guid* classGuid,
                                      const char* description, os::DWORD flags, os::DeviceInfoData* data) override;
    os::BOOL SetupDiDestroyDeviceInfoList(os::HDEVINFO set) override;
    os::BOOL SetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, os::DWORD mediaType,
                              os::DWORD copyStyle, char* destName, os::DWORD destSize, os::DWORD* required) override;
    os::BOOL SetupGetInfFileListA(const char* directory, os::DWORD infStyle, char* buffer, os::DWORD size,
                                  os::DWORD* required) override;
    os::BOOL SetupQueryInfOriginalFileNameA(const char* infPath, char* originalName, os::DWORD size) override;
    os::BOOL SetupUninstallOEMInfA(const char* infFileName, os::DWORD flags) override;
    os::BOOL UpdateDriverForPlugAndPlayDevicesA(const char* hardwareId, const char* fullInfPath, os::DWORD flags,
                                                os::BOOL* rebootRequired) override;

    struct Device {
        std::string instanceId;  // "USB\VID_1234&PID_0001\5&2F3A&0&1", "ROOT\SYSTEM\0000"
        os::Guid classGuid = {};
        std::string className;
        std::vector<std::string> hardwareIds;  // SPDRP_HARDWAREID; none: the property is absent
        std::vector<std::string> compatibleIds;
        std::string description;
        bool present = true;        // false: a phantom, remembered but not attached
        os::DWORD removeFlags = 0;  // DI_NEEDREBOOT / DI_NEEDRESTART the class installer reports on DIF_REMOVE
        std::string driverInf;      // driver-store name of the INF its driver was installed from
        bool registered = true;     // false while only the set that created it knows it
        os::DWORD devInst = 0;
    };
    // The driver store is %windir%\INF: SetupGetInfFileListA lists it (and no other folder),
    // SetupQueryInfOriginalFileNameA gives the file name of an entry's source, and
    // SetupUninstallOEMInfA takes an entry out unless a device's driver came from it.
    struct StagedInf {
        std::string name;    // "oem0.inf", "oem1.inf", ...
        std::string source;  // the path it was copied from
        std::string content;
    };

    // Arranging and inspecting the machine (never fail, never counted).
    // className empty: the class's usual name (USB, System, HIDClass, Net).
    Device& AddDevice(const std::string& instanceId, const os::Guid& classGuid,
                      const std::vector<std::string>& hardwareIds, bool present = true,
                      const std::string& className = "");
    const Device* FindDevice(const std::string& instanceId) const;  // registered devices, case-insensitive
    Device* FindDevice(const std::string& instanceId);
    std::vector<std::string> InstanceIds() const;  // registered devices, in tree order
    // Registered devices carrying id anywhere in their hardware-id list (exact bytes).
    std::vector<std::string> DevicesWithHardwareId(const std::string& id) const;
    const std::vector<StagedInf>& DriverStore() const { return m_store; }
    void StageInf(const std::string& name, const std::string& source, const std::string& content);
    // Device information sets not yet destroyed.
    std::size_t OpenSetCount() const { return m_sets.size(); }
    // UpdateDriverForPlugAndPlayDevicesA reports that its change needs a restart.
    bool updateNeedsRestart = false;
    // As Wine: SetupUninstallOEMInfA without SUOI_FORCEDELETE succeeds and keeps the INF;
    // SetupGetInfFileListA with a buffer too small succeeds, writes nothing and gives the size.
    bool uninstallNeedsForce = false;
    bool shortListSucceeds = false;

    // Every call the area receives with the arguments it was given, in order (recorded
    // before the fault plan is asked).
    struct Call {
        std::string name;                 // "SetupDiGetClassDevsA", "UpdateDriverForPlugAndPlayDevicesA", ...
        bool hasClass = false;            // a class GUID was passed
        os::Guid classGuid = {};
        std::string text;                 // enumerator, device name, INF path or hardware id
        std::string text2;                // machine name, description, media location or the driver's INF path
        os::DWORD flags = 0;              // DIGCF_*, DICD_*, INSTALLFLAG_*, copy style, class installer function
        os::DWORD value = 0;              // the property, the media type or the device index
        os::DWORD size = 0;               // the size passed with a buffer
        std::vector<std::uint8_t> bytes;  // the property data or the class install parameters, exactly as passed
    };
    std::vector<Call> calls;

private:
    struct Element {
        std::string instanceId;
        os::DWORD devInst = 0;
        os::Guid classGuid = {};
        os::DeviceInstallParams installParams;
        bool hasRemoveParams = false;
        os::RemoveDeviceParams removeParams = {};
        bool created = false;  // made by SetupDiCreateDeviceInfoA in this set
    };
    struct Set {
        bool hasClass = false;
        os::Guid classGuid = {};
        std::vector<Element> elements;
    };

    os::HDEVINFO ClassDevs(const os::Guid* classGuid, const char* enumerator, os::DWORD flags);
    Set* FindSet(os::HDEVINFO set);
    // The element data designates, or null with the last error set.
    Element* FindElement(os::HDEVINFO set, const os::DeviceInfoData* data);
    Device* DeviceOf(const Element& element);
    void Describe(const Set& set, std::size_t index, os::DeviceInfoData* data) const;
    std::string StageOrFind(const std::string& source, const std::string& content, bool* existed);
    os::BOOL SetError(os::DWORD error);
    void Record(const char* name, const os::Guid* classGuid = nullptr, const char* text = nullptr,
                const char* text2 = nullptr, os::DWORD flags = 0, os::DWORD value = 0, os::DWORD size = 0,
                const void* bytes = nullptr, std::size_t byteCount = 0);

    CFakeMachine& m_machine;
    std::vector<Device> m_devices;
    std::vector<StagedInf> m_store;
    std::map<std::uintptr_t, Set> m_sets;
    std::uintptr_t m_nextSet = 0x9000;
    os::DWORD m_nextDevInst = 1;
};

// The usual name of a device class ("USB" for GUID_DEVCLASS_USB); empty when unknown.
std::string DeviceClassName(const os::Guid& classGuid);

}  // namespace fake
