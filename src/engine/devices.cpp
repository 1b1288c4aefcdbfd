// Devices and INF files: staging driver packages, removing device records by hardware id,
// and creating root-enumerated devices with their driver (taken away again by rollback
// phase 1).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/installer.h"
#include "platform/constants.h"

namespace {

// Where giving devices their driver fails (module 19).
constexpr std::uint16_t LOCATION_INF_CLASS = 1788;
constexpr std::uint16_t LOCATION_DEVICE_LIST = 1798;
constexpr std::uint16_t LOCATION_DEVICE_CREATE = 1815;
constexpr std::uint16_t LOCATION_DEVICE_IDS = 1828;
constexpr std::uint16_t LOCATION_DEVICE_REGISTER = 1840;
constexpr std::uint16_t LOCATION_DEVICE_DRIVER = 1858;    // the new root device's
constexpr std::uint16_t LOCATION_DEVICE_SEARCH = 1880;    // whether the device is there already
constexpr std::uint16_t LOCATION_EXISTING_DRIVER = 1898;  // the present devices'

// Property buffers, from VirtualAlloc (zero-filled).
struct PropertyBlockTraits {
    using Handle = void*;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { os::Kernel().VirtualFree(h); }
};
using PropertyBlock = os::UniqueHandle<PropertyBlockTraits>;

constexpr os::DWORD HARDWARE_ID_BUFFER_SIZE = 8192;  // usable; two more bytes hold the terminating zeros
constexpr os::DWORD INSTANCE_ID_SIZE = 200;
// A hardware-id list is a few hundred bytes; anything near this is not one we can trust.
constexpr os::DWORD MAX_PROPERTY_SIZE = 1024 * 1024;
// A property that keeps growing between two reads is given up after this many.
constexpr int MAX_PROPERTY_READS = 8;
// The driver store's list of INF names: a few thousand names at most.
constexpr os::DWORD INF_LIST_FIRST_SIZE = 64 * 1024;
constexpr os::DWORD MAX_INF_LIST_SIZE = 4 * 1024 * 1024;
// Devices looked at in one set at most.
constexpr os::DWORD MAX_DEVICES_LISTED = 100000;

// "(0x5)": the form of the error code in the device-removal log lines.
std::string ErrorText(os::DWORD error) {
    char text[16];
    std::snprintf(text, sizeof text, "(0x%x)", static_cast<unsigned>(error));
    return text;
}

bool SameIgnoringCase(const char* a, std::size_t length, const char* b) {
    for (std::size_t i = 0; i < length; ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
        if (x != y) return false;
    }
    return true;
}

// How a walk matches a device's hardware-id list against one id.
enum class IdRule {
    FirstIgnoringCase,  // the list's first id, letters without case
    AnyExact,           // any id of the list, byte for byte
    AnyIgnoringCase,    // any id of the list, letters without case
};

enum class IdMatch { Carries, DoesNot, Failed };

// Reads the hardware-id lists of a set's devices, one after the other, into one buffer that
// grows to the largest list met, and matches each against an id by a rule.
class CDeviceIds {
public:
    CDeviceIds(const char* id, IdRule rule) : m_id(id), m_idLength(std::strlen(id)), m_rule(rule) {}

    // The buffer for the first list; false when it cannot be had.
    bool Reserve() {
        if (!m_block.IsValid()) m_block.Reset(os::Kernel().VirtualAlloc(m_usable + 2));
        return m_block.IsValid();
    }
    // Failed: the list could not be read for another reason than its absence; OutOfMemory()
    // tells whether the buffer could not grow.
    IdMatch Match(os::HDEVINFO set, os::DeviceInfoData* device) {
        m_outOfMemory = false;
        os::DWORD type = 0, required = 0;
        for (int read = 0;; ++read) {
            if (!Reserve()) {
                m_outOfMemory = true;
                return IdMatch::Failed;
            }
            if (os::Devices().SetupDiGetDeviceRegistryPropertyA(set, device, os::SPDRP_HARDWAREID, &type,
                                                                static_cast<os::BYTE*>(m_block.Get()), m_usable,
                                                                &required)) {
                break;
            }
            const os::DWORD error = os::Kernel().GetLastError();
            if (error == os::ERROR_INVALID_DATA) return IdMatch::DoesNot;  // no list at all
            if (error != os::ERROR_INSUFFICIENT_BUFFER) return IdMatch::Failed;
            if (read + 1 == MAX_PROPERTY_READS || required <= m_usable || required > MAX_PROPERTY_SIZE) {
                return IdMatch::DoesNot;
            }
            m_block.Reset();
            m_usable = required;
        }
        char* list = Text();
        const os::DWORD used = required < m_usable ? required : m_usable;
        list[used] = '\0';
        list[used + 1] = '\0';
        for (std::size_t at = 0; at < used;) {
            const std::size_t length = std::strlen(list + at);
            if (length == 0) break;
            if (length == m_idLength && (m_rule == IdRule::AnyExact ? std::memcmp(list + at, m_id, length) == 0
                                                                     : SameIgnoringCase(list + at, length, m_id))) {
                return IdMatch::Carries;
            }
            if (m_rule == IdRule::FirstIgnoringCase) break;
            at += length + 1;
        }
        return IdMatch::DoesNot;
    }
    bool OutOfMemory() const { return m_outOfMemory; }
    // The buffer, at least HARDWARE_ID_BUFFER_SIZE bytes, for the caller's own use between reads.
    char* Text() const { return static_cast<char*>(m_block.Get()); }

private:
    const char* m_id;
    std::size_t m_idLength;
    IdRule m_rule;
    os::DWORD m_usable = HARDWARE_ID_BUFFER_SIZE;
    PropertyBlock m_block;
    bool m_outOfMemory = false;
};

// Calls visit(device) for each device of the set, at most MAX_DEVICES_LISTED (a set holds
// what was there when it was made; the bound only guards a broken one), until visit returns
// false. The enumeration's error, or 0 when it ran to the end of the set or visit stopped it.
template <typename Visit>
os::DWORD ForEachDevice(os::HDEVINFO set, Visit visit) {
    os::DeviceInfoData device;
    for (os::DWORD index = 0; index < MAX_DEVICES_LISTED; ++index) {
        if (!os::Devices().SetupDiEnumDeviceInfo(set, index, &device)) {
            const os::DWORD error = os::Kernel().GetLastError();
            return error == os::ERROR_NO_MORE_ITEMS ? 0 : error;
        }
        if (!visit(&device)) return 0;
    }
    return 0;
}

}  // namespace

int CInstaller::CopyOemInf(const char* infPath) {
    return os::Devices().SetupCopyOEMInfA(infPath, nullptr, os::SPOST_NONE, 0, nullptr, 0, nullptr) ? 1 : 0;
}

int CInstaller::RemoveDevicesByHardwareId(const char* hardwareId) {
    CDeviceIds ids(hardwareId, IdRule::FirstIgnoringCase);
    if (!ids.Reserve()) {
        Log("failed on alloc()", ErrorText(os::Kernel().GetLastError()).c_str());
        return 0;
    }

    os::DeviceInfoSet set(os::Devices().SetupDiGetClassDevsExA(&os::GUID_DEVCLASS_USB, nullptr, 0, nullptr));
    if (!set.IsValid()) {
        Log("failed on SetupDiGetClassDevsEx()", ErrorText(os::Kernel().GetLastError()).c_str());
        return 0;
    }
    os::DeviceInfoListDetail detail;
    if (!os::Devices().SetupDiGetDeviceInfoListDetailA(set.Get(), &detail)) {
        Log("failed on SetupDiGetDeviceInfoListDetail()", ErrorText(os::Kernel().GetLastError()).c_str());
        return 0;
    }

    int result = 0;
    ForEachDevice(set.Get(), [&](os::DeviceInfoData* device) {
        const IdMatch match = ids.Match(set.Get(), device);
        if (match == IdMatch::Failed && ids.OutOfMemory()) {
            Log("failed on alloc()", ErrorText(os::Kernel().GetLastError()).c_str());
            return false;
        }
        // A device whose ids cannot be read is skipped without a word.
        if (match != IdMatch::Carries) return true;

        // The instance id goes into the same buffer.
        char* instance = ids.Text();
        if (!os::Devices().SetupDiGetDeviceInstanceIdA(set.Get(), device, instance, INSTANCE_ID_SIZE, nullptr)) {
            instance[0] = '\0';
        }
        Log("Cleanup record... ", instance);

        os::RemoveDeviceParams params;
        params.header.size = sizeof(os::ClassInstallHeader);
        params.header.installFunction = os::DIF_REMOVE;
        params.scope = os::DI_REMOVEDEVICE_GLOBAL;
        params.hwProfile = 0;
        if (!os::Devices().SetupDiSetClassInstallParamsA(set.Get(), device, &params, sizeof params)) {
            Log("failed on SetupDiSetClassInstallParams()", ErrorText(os::Kernel().GetLastError()).c_str());
            return true;
        }
        if (!os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), device)) {
            Log("failed on SetupDiCallClassInstaller()", ErrorText(os::Kernel().GetLastError()).c_str());
            return true;
        }
        os::DeviceInstallParams installParams;
        if (os::Devices().SetupDiGetDeviceInstallParamsA(set.Get(), device, &installParams) &&
            (installParams.flags & (os::DI_NEEDRESTART | os::DI_NEEDREBOOT))) {
            RequireReboot("Reboot required to complete operation");
        } else {
            result = 1;
        }
        return true;
    });
    return result;
}

void CInstaller::UninstallWdmDriver(const char* hardwareId) {
    Log("Uninstall WDM Driver: ", hardwareId);
    os::DeviceInfoSet set(
        os::Devices().SetupDiGetClassDevsA(nullptr, nullptr, os::DIGCF_PRESENT | os::DIGCF_ALLCLASSES));
    if (!set.IsValid()) return;
    CDeviceIds ids(hardwareId, IdRule::AnyExact);
    ForEachDevice(set.Get(), [&](os::DeviceInfoData* device) {
        const IdMatch match = ids.Match(set.Get(), device);
        if (match == IdMatch::Carries) os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), device);
        return match != IdMatch::Failed;
    });
}

os::DeviceInfoSet CInstaller::FindDeviceByHardwareId(const char* hardwareId, os::DeviceInfoData* device,
                                                     os::DWORD* searchError) {
    os::DWORD ignored = 0;
    os::DWORD& error = searchError != nullptr ? *searchError : ignored;
    error = 0;
    os::DeviceInfoSet set(
        os::Devices().SetupDiGetClassDevsA(nullptr, nullptr, os::DIGCF_PRESENT | os::DIGCF_ALLCLASSES));
    bool found = false;
    if (set.IsValid()) {
        CDeviceIds ids(hardwareId, IdRule::AnyExact);
        const os::DWORD enumError = ForEachDevice(set.Get(), [&](os::DeviceInfoData* element) {
            const IdMatch match = ids.Match(set.Get(), element);
            if (match == IdMatch::Failed) {
                error = os::Kernel().GetLastError();
                if (error == os::ERROR_SUCCESS) error = os::ERROR_GEN_FAILURE;
                return false;
            }
            found = match == IdMatch::Carries;
            if (found && device != nullptr) *device = *element;
            return !found;
        });
        if (found) return set;
        if (enumError != 0) error = enumError;
    } else {
        error = os::Kernel().GetLastError();
    }
    // A search that stops early says nothing about the devices it did not look at.
    if (error == os::ERROR_SUCCESS && !set.IsValid()) error = os::ERROR_GEN_FAILURE;
    return os::DeviceInfoSet();
}

std::unique_ptr<CExceptionEx> CInstaller::CreateRootDevice(const char* hardwareId, const char* infPath,
                                                           os::BOOL* rebootRequired) {
    auto failure = [](std::uint16_t location, os::DWORD error) {
        return std::make_unique<CExceptionEx>(ENGINE_MODULE, location, error);
    };

    os::Guid classGuid = {};
    char className[os::MAX_CLASS_NAME_LEN] = {};
    if (!os::Devices().SetupDiGetINFClassA(infPath, &classGuid, className, sizeof className, nullptr)) {
        return failure(LOCATION_INF_CLASS, os::Kernel().GetLastError());
    }
    os::DeviceInfoSet set(os::Devices().SetupDiCreateDeviceInfoList(&classGuid));
    if (!set.IsValid()) return failure(LOCATION_DEVICE_LIST, os::Kernel().GetLastError());

    os::DeviceInfoData device;
    if (!os::Devices().SetupDiCreateDeviceInfoA(set.Get(), className, &classGuid, nullptr, os::DICD_GENERATE_ID,
                                                &device)) {
        return failure(LOCATION_DEVICE_CREATE, os::Kernel().GetLastError());
    }
    // The id alone as a multi-string: its bytes, its terminator and the list's.
    std::string ids(hardwareId);
    ids.append(2, '\0');
    if (!os::Devices().SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, os::SPDRP_HARDWAREID,
                                                         reinterpret_cast<const os::BYTE*>(ids.data()),
                                                         static_cast<os::DWORD>(ids.size()))) {
        return failure(LOCATION_DEVICE_IDS, os::Kernel().GetLastError());
    }
    if (!os::Devices().SetupDiCallClassInstaller(os::DIF_REGISTERDEVICE, set.Get(), &device)) {
        return failure(LOCATION_DEVICE_REGISTER, os::Kernel().GetLastError());
    }
    os::BOOL updated = 0;
    try {
        updated = os::Devices().UpdateDriverForPlugAndPlayDevicesA(hardwareId, infPath, os::INSTALLFLAG_FORCE,
                                                                   rebootRequired);
    } catch (...) {
        // The device is not journalled yet: it must not outlive an exception either.
        os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), &device);
        throw;
    }
    if (!updated) {
        const os::DWORD error = os::Kernel().GetLastError();
        os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), &device);
        return failure(LOCATION_DEVICE_DRIVER, error);
    }
    return nullptr;
}

void CInstaller::InstallWdmDriver(const char* serviceName, const char* infPath, const char* hardwareId) {
    Log("Install WDM Driver: ", hardwareId);
    os::BOOL rebootRequired = 0;
    os::DWORD searchError = 0;
    os::DeviceInfoSet existing = FindDeviceByHardwareId(hardwareId, nullptr, &searchError);
    // Not knowing whether the device is there is no reason to make a second one.
    if (!existing.IsValid() && searchError != 0) ThrowEngineError(LOCATION_DEVICE_SEARCH, searchError);
    if (!existing.IsValid()) {
        if (std::unique_ptr<CExceptionEx> failure = CreateRootDevice(hardwareId, infPath, &rebootRequired)) {
            throw failure.release();
        }
        m_journal.Record(hardwareId, JOURNAL_WDM_DEVICE);
    } else {
        existing.Reset();
        BackupServiceKey(serviceName);
        if (!os::Devices().UpdateDriverForPlugAndPlayDevicesA(hardwareId, infPath, os::INSTALLFLAG_FORCE,
                                                              &rebootRequired)) {
            ThrowEngineError(LOCATION_EXISTING_DRIVER);
        }
    }
    if (rebootRequired) RequireReboot();
}

int CInstaller::RemoveDevicesCarryingId(const char* hardwareId) {
    Log("Remove Devices: ", hardwareId);
    // Every class, present or not: devices of an earlier installation that are not attached
    // now would come back with the driver this removal takes away.
    os::DeviceInfoSet set(os::Devices().SetupDiGetClassDevsA(nullptr, nullptr, os::DIGCF_ALLCLASSES));
    if (!set.IsValid()) {
        Log("failed on SetupDiGetClassDevs()", ErrorText(os::Kernel().GetLastError()).c_str());
        return 0;
    }
    int result = 1;
    CDeviceIds ids(hardwareId, IdRule::AnyIgnoringCase);
    const os::DWORD error = ForEachDevice(set.Get(), [&](os::DeviceInfoData* device) {
        const IdMatch match = ids.Match(set.Get(), device);
        if (match == IdMatch::DoesNot) return true;
        if (match == IdMatch::Failed) {
            // It may be one of ours: not knowing is not having removed it.
            Log("failed on SetupDiGetDeviceRegistryProperty()", ErrorText(os::Kernel().GetLastError()).c_str());
            result = 0;
            return true;
        }
        char instance[INSTANCE_ID_SIZE] = {};
        if (!os::Devices().SetupDiGetDeviceInstanceIdA(set.Get(), device, instance, sizeof instance, nullptr)) {
            instance[0] = '\0';
        }
        instance[sizeof instance - 1] = '\0';
        Log("Cleanup record... ", instance);
        if (!os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), device)) {
            Log("failed on SetupDiCallClassInstaller()", ErrorText(os::Kernel().GetLastError()).c_str());
            result = 0;
            return true;
        }
        os::DeviceInstallParams installParams;
        if (os::Devices().SetupDiGetDeviceInstallParamsA(set.Get(), device, &installParams) &&
            (installParams.flags & (os::DI_NEEDRESTART | os::DI_NEEDREBOOT))) {
            RequireReboot();
        }
        return true;
    });
    if (error != 0) {
        Log("failed on SetupDiEnumDeviceInfo()", ErrorText(error).c_str());
        return 0;
    }
    return result;
}

int CInstaller::RemoveDriverPackages(const char* infName) {
    Log("Remove Driver Package: ", infName);
    char windows[os::MAX_PATH] = {};
    const os::DWORD length = os::Kernel().GetWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows) {
        Log("failed on GetWindowsDirectory()", ErrorText(os::Kernel().GetLastError()).c_str());
        return 0;
    }
    const std::string store = std::string(windows, length) + "\\INF\\";

    // The list of every INF in the store. A buffer that is too small is told by the size
    // wanted, which some SetupAPI versions (Wine's) report with success instead of a failure,
    // and which may grow between reads.
    const os::DWORD styles = os::INF_STYLE_OLDNT | os::INF_STYLE_WIN4;
    std::string names;
    bool listed = false;
    os::DWORD size = INF_LIST_FIRST_SIZE;
    for (int read = 0; read < MAX_PROPERTY_READS; ++read) {
        names.assign(static_cast<std::size_t>(size) + 2, '\0');
        os::DWORD needed = 0;
        const bool ok = os::Devices().SetupGetInfFileListA(nullptr, styles, &names[0], size, &needed) != 0;
        if (ok && needed <= size) {
            listed = true;
            break;
        }
        if (!ok && os::Kernel().GetLastError() != os::ERROR_INSUFFICIENT_BUFFER) break;
        if (needed <= size || needed > MAX_INF_LIST_SIZE) break;
        size = needed;
    }
    if (!listed) {
        Log("failed on SetupGetInfFileList()", ErrorText(os::Kernel().GetLastError()).c_str());
        return 0;
    }

    int result = 1;
    const std::size_t ownLength = std::strlen(infName);
    for (std::size_t at = 0; at < names.size();) {
        const std::size_t end = names.find('\0', at);
        const std::string name = names.substr(at, (end == std::string::npos ? names.size() : end) - at);
        if (name.empty()) break;
        at += name.size() + 1;
        // Windows stages a package as oemN.inf; some SetupAPI versions keep its own name.
        const bool oemName = name.size() > 7 && SameIgnoringCase(name.c_str(), 3, "oem") &&
                             SameIgnoringCase(name.c_str() + name.size() - 4, 4, ".inf");
        const bool ownName = name.size() == ownLength && SameIgnoringCase(name.c_str(), ownLength, infName);
        if (!oemName && !ownName) continue;

        const std::string path = store + name;
        char original[os::MAX_PATH] = {};
        if (!os::Devices().SetupQueryInfOriginalFileNameA(path.c_str(), original, sizeof original)) {
            // Unreadable, so perhaps ours: it counts as staying.
            Log("failed on SetupQueryInfOriginalFileInformation()", (name + " " +
                ErrorText(os::Kernel().GetLastError())).c_str());
            result = 0;
            continue;
        }
        original[sizeof original - 1] = '\0';
        if (std::strlen(original) != ownLength || !SameIgnoringCase(original, ownLength, infName)) continue;

        Log("Uninstall OEM INF: ", name.c_str());
        // Not forced: an INF that a device still uses is not the uninstaller's to take.
        if (!os::Devices().SetupUninstallOEMInfA(name.c_str(), 0)) {
            Log("failed on SetupUninstallOEMInf()", ErrorText(os::Kernel().GetLastError()).c_str());
            result = 0;
            continue;
        }
        // Compatibility step: some SetupAPI versions (Wine's) report success and keep the INF
        // unless forced, and then keep its precompiled .pnf as well. The edition's devices are
        // gone by now, so forcing takes only what no device uses; where the first call did
        // its work, the INF no longer answers and nothing more happens.
        char still[os::MAX_PATH] = {};
        if (os::Devices().SetupQueryInfOriginalFileNameA(path.c_str(), still, sizeof still) &&
            !os::Devices().SetupUninstallOEMInfA(name.c_str(), os::SUOI_FORCEDELETE)) {
            Log("failed on SetupUninstallOEMInf()", ErrorText(os::Kernel().GetLastError()).c_str());
            result = 0;
            continue;
        }
        const std::string precompiled = store + name.substr(0, name.size() - 4) + ".pnf";  // "x.inf" -> "x.pnf"
        if (!os::Files().DeleteFileA(precompiled.c_str())) {
            const os::DWORD error = os::Kernel().GetLastError();
            if (error != os::ERROR_FILE_NOT_FOUND && error != os::ERROR_PATH_NOT_FOUND) {
                Log("failed on DeleteFile()", (precompiled + " " + ErrorText(error)).c_str());
                result = 0;
            }
        }
    }
    return result;
}
