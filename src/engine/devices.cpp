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

bool EqualIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 'a' + 'A') : *a;
        const char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

enum class IdMatch { Carries, DoesNot, Failed };

bool SameIgnoringCase(const char* a, std::size_t length, const char* b) {
    for (std::size_t i = 0; i < length; ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
        if (x != y) return false;
    }
    return true;
}

// Whether the device carries id anywhere in its hardware-id list (exact bytes, or ignoring
// case). The list is read with a size probe into an allocation of the reported size.
// Failed: an error other than a short buffer or a missing list.
IdMatch DeviceCarriesId(os::HDEVINFO set, os::DeviceInfoData* device, const char* id, bool ignoreCase = false) {
    os::DWORD type = 0, required = 0;
    if (os::Devices().SetupDiGetDeviceRegistryPropertyA(set, device, os::SPDRP_HARDWAREID, &type, nullptr, 0,
                                                        &required)) {
        return IdMatch::DoesNot;  // an empty list
    }
    PropertyBlock block;
    os::DWORD size = 0;
    for (int read = 0;; ++read) {
        const os::DWORD error = os::Kernel().GetLastError();
        if (error == os::ERROR_INVALID_DATA) return IdMatch::DoesNot;
        if (error != os::ERROR_INSUFFICIENT_BUFFER) return IdMatch::Failed;
        if (read == MAX_PROPERTY_READS || required == 0 || required > MAX_PROPERTY_SIZE) return IdMatch::DoesNot;
        block.Reset(os::Kernel().VirtualAlloc(required));
        if (!block.IsValid()) return IdMatch::Failed;
        size = required;
        if (os::Devices().SetupDiGetDeviceRegistryPropertyA(set, device, os::SPDRP_HARDWAREID, &type,
                                                            static_cast<os::BYTE*>(block.Get()), size, &required)) {
            break;
        }
    }
    const char* list = static_cast<const char*>(block.Get());
    const std::size_t used = required < size ? required : size;
    const std::size_t idLength = std::strlen(id);
    for (std::size_t at = 0; at < used;) {
        const void* zero = std::memchr(list + at, '\0', used - at);
        const std::size_t length = zero != nullptr ? static_cast<const char*>(zero) - (list + at) : used - at;
        if (length == 0) break;
        if (length == idLength &&
            (ignoreCase ? SameIgnoringCase(list + at, length, id) : std::memcmp(list + at, id, length) == 0)) {
            return IdMatch::Carries;
        }
        at += length + 1;
    }
    return IdMatch::DoesNot;
}

}  // namespace

int CInstaller::CopyOemInf(const char* infPath) {
    return os::Devices().SetupCopyOEMInfA(infPath, nullptr, os::SPOST_NONE, 0, nullptr, 0, nullptr) ? 1 : 0;
}

int CInstaller::RemoveDevicesByHardwareId(const char* hardwareId) {
    os::DWORD usable = HARDWARE_ID_BUFFER_SIZE;
    PropertyBlock buffer(os::Kernel().VirtualAlloc(usable + 2));
    if (!buffer.IsValid()) {
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
    os::DeviceInfoData device;
    for (os::DWORD index = 0; os::Devices().SetupDiEnumDeviceInfo(set.Get(), index, &device); ++index) {
        os::DWORD type = 0, required = 0;
        bool read = false;
        for (int attempt = 0; attempt < MAX_PROPERTY_READS; ++attempt) {
            read = os::Devices().SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, os::SPDRP_HARDWAREID, &type,
                                                                   static_cast<os::BYTE*>(buffer.Get()), usable,
                                                                   &required) != 0;
            // The buffer only ever grows, so the instance id below always fits.
            if (read || os::Kernel().GetLastError() != os::ERROR_INSUFFICIENT_BUFFER || type != os::REG_MULTI_SZ ||
                required <= usable || required > MAX_PROPERTY_SIZE) {
                break;
            }
            buffer.Reset(os::Kernel().VirtualAlloc(static_cast<std::size_t>(required) + 2));
            if (!buffer.IsValid()) {
                Log("failed on alloc()", ErrorText(os::Kernel().GetLastError()).c_str());
                return result;
            }
            usable = required;
        }
        if (!read) continue;

        char* ids = static_cast<char*>(buffer.Get());
        const os::DWORD end = required < usable ? required : usable;
        ids[end] = '\0';
        ids[end + 1] = '\0';
        if (!EqualIgnoringCase(ids, hardwareId)) continue;

        // The instance id goes into the same buffer.
        if (!os::Devices().SetupDiGetDeviceInstanceIdA(set.Get(), &device, ids, INSTANCE_ID_SIZE, nullptr)) {
            ids[0] = '\0';
        }
        Log("Cleanup record... ", ids);

        os::RemoveDeviceParams params;
        params.header.size = sizeof(os::ClassInstallHeader);
        params.header.installFunction = os::DIF_REMOVE;
        params.scope = os::DI_REMOVEDEVICE_GLOBAL;
        params.hwProfile = 0;
        if (!os::Devices().SetupDiSetClassInstallParamsA(set.Get(), &device, &params, sizeof params)) {
            Log("failed on SetupDiSetClassInstallParams()", ErrorText(os::Kernel().GetLastError()).c_str());
            continue;
        }
        if (!os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), &device)) {
            Log("failed on SetupDiCallClassInstaller()", ErrorText(os::Kernel().GetLastError()).c_str());
            continue;
        }
        os::DeviceInstallParams installParams;
        if (os::Devices().SetupDiGetDeviceInstallParamsA(set.Get(), &device, &installParams) &&
            (installParams.flags & (os::DI_NEEDRESTART | os::DI_NEEDREBOOT))) {
            RequireReboot("Reboot required to complete operation");
        } else {
            result = 1;
        }
    }
    return result;
}

void CInstaller::UninstallWdmDriver(const char* hardwareId) {
    Log("Uninstall WDM Driver: ", hardwareId);
    os::DeviceInfoSet set(
        os::Devices().SetupDiGetClassDevsA(nullptr, nullptr, os::DIGCF_PRESENT | os::DIGCF_ALLCLASSES));
    if (!set.IsValid()) return;
    os::DeviceInfoData device;
    for (os::DWORD index = 0; os::Devices().SetupDiEnumDeviceInfo(set.Get(), index, &device); ++index) {
        const IdMatch match = DeviceCarriesId(set.Get(), &device, hardwareId);
        if (match == IdMatch::Failed) break;
        if (match == IdMatch::Carries) os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), &device);
    }
}

os::DeviceInfoSet CInstaller::FindDeviceByHardwareId(const char* hardwareId, os::DeviceInfoData* device,
                                                     os::DWORD* searchError) {
    os::DWORD ignored = 0;
    os::DWORD& error = searchError != nullptr ? *searchError : ignored;
    error = 0;
    // A search that stops early says nothing about the devices it did not look at.
    auto failed = [&error]() {
        error = os::Kernel().GetLastError();
        if (error == os::ERROR_SUCCESS) error = os::ERROR_GEN_FAILURE;
        return os::DeviceInfoSet();
    };
    os::DeviceInfoSet set(
        os::Devices().SetupDiGetClassDevsA(nullptr, nullptr, os::DIGCF_PRESENT | os::DIGCF_ALLCLASSES));
    if (!set.IsValid()) return failed();
    os::DeviceInfoData element;
    for (os::DWORD index = 0;; ++index) {
        if (!os::Devices().SetupDiEnumDeviceInfo(set.Get(), index, &element)) {
            if (os::Kernel().GetLastError() == os::ERROR_NO_MORE_ITEMS) break;
            return failed();
        }
        const IdMatch match = DeviceCarriesId(set.Get(), &element, hardwareId);
        if (match == IdMatch::Failed) return failed();
        if (match == IdMatch::Carries) {
            if (device != nullptr) *device = element;
            return set;
        }
    }
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
        return failure(1788, os::Kernel().GetLastError());
    }
    os::DeviceInfoSet set(os::Devices().SetupDiCreateDeviceInfoList(&classGuid));
    if (!set.IsValid()) return failure(1798, os::Kernel().GetLastError());

    os::DeviceInfoData device;
    if (!os::Devices().SetupDiCreateDeviceInfoA(set.Get(), className, &classGuid, nullptr, os::DICD_GENERATE_ID,
                                                &device)) {
        return failure(1815, os::Kernel().GetLastError());
    }
    // The id alone as a multi-string: its bytes, its terminator and the list's.
    std::string ids(hardwareId);
    ids.append(2, '\0');
    if (!os::Devices().SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, os::SPDRP_HARDWAREID,
                                                         reinterpret_cast<const os::BYTE*>(ids.data()),
                                                         static_cast<os::DWORD>(ids.size()))) {
        return failure(1828, os::Kernel().GetLastError());
    }
    if (!os::Devices().SetupDiCallClassInstaller(os::DIF_REGISTERDEVICE, set.Get(), &device)) {
        return failure(1840, os::Kernel().GetLastError());
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
        return failure(1858, error);
    }
    return nullptr;
}

void CInstaller::InstallWdmDriver(const char* serviceName, const char* infPath, const char* hardwareId) {
    Log("Install WDM Driver: ", hardwareId);
    os::BOOL rebootRequired = 0;
    os::DWORD searchError = 0;
    os::DeviceInfoSet existing = FindDeviceByHardwareId(hardwareId, nullptr, &searchError);
    // Not knowing whether the device is there is no reason to make a second one.
    if (!existing.IsValid() && searchError != 0) ThrowEngineError(1880, searchError);
    if (!existing.IsValid()) {
        if (std::unique_ptr<CExceptionEx> failure = CreateRootDevice(hardwareId, infPath, &rebootRequired)) {
            throw failure.release();
        }
        m_journal[hardwareId] = JOURNAL_WDM_DEVICE;
    } else {
        existing.Reset();
        BackupServiceKey(serviceName);
        if (!os::Devices().UpdateDriverForPlugAndPlayDevicesA(hardwareId, infPath, os::INSTALLFLAG_FORCE,
                                                              &rebootRequired)) {
            ThrowEngineError(1898);
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
    os::DeviceInfoData device;
    // A set holds what was there when it was made; the bound only guards a broken one.
    for (os::DWORD index = 0; index < MAX_DEVICES_LISTED; ++index) {
        if (!os::Devices().SetupDiEnumDeviceInfo(set.Get(), index, &device)) {
            const os::DWORD error = os::Kernel().GetLastError();
            if (error == os::ERROR_NO_MORE_ITEMS) break;
            Log("failed on SetupDiEnumDeviceInfo()", ErrorText(error).c_str());
            return 0;
        }
        const IdMatch match = DeviceCarriesId(set.Get(), &device, hardwareId, true);
        if (match == IdMatch::DoesNot) continue;
        if (match == IdMatch::Failed) {
            // It may be one of ours: not knowing is not having removed it.
            Log("failed on SetupDiGetDeviceRegistryProperty()", ErrorText(os::Kernel().GetLastError()).c_str());
            result = 0;
            continue;
        }
        char instance[INSTANCE_ID_SIZE] = {};
        if (!os::Devices().SetupDiGetDeviceInstanceIdA(set.Get(), &device, instance, sizeof instance, nullptr)) {
            instance[0] = '\0';
        }
        instance[sizeof instance - 1] = '\0';
        Log("Cleanup record... ", instance);
        if (!os::Devices().SetupDiCallClassInstaller(os::DIF_REMOVE, set.Get(), &device)) {
            Log("failed on SetupDiCallClassInstaller()", ErrorText(os::Kernel().GetLastError()).c_str());
            result = 0;
            continue;
        }
        os::DeviceInstallParams installParams;
        if (os::Devices().SetupDiGetDeviceInstallParamsA(set.Get(), &device, &installParams) &&
            (installParams.flags & (os::DI_NEEDRESTART | os::DI_NEEDREBOOT))) {
            RequireReboot();
        }
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
