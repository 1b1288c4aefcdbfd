#include "fake/fake_devices.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/constants.h"

namespace fake {

using namespace os;

namespace {

constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;
constexpr DWORD SPOST_URL = 2;

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string MultiSz(const std::vector<std::string>& strings) {
    std::string out;
    for (const std::string& s : strings) {
        out += s;
        out += '\0';
    }
    out += '\0';
    return out;
}

// Strings of a REG_MULTI_SZ of size bytes, up to the empty string or the end of the data.
std::vector<std::string> ParseMultiSz(const BYTE* data, DWORD size) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < size) {
        std::size_t end = i;
        while (end < size && data[end] != 0) ++end;
        if (end == i) break;
        out.emplace_back(reinterpret_cast<const char*>(data) + i, end - i);
        i = end + 1;
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "{36FC9E60-C465-11CF-8056-444553540000}"
bool ParseGuid(const std::string& text, Guid* guid) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    const std::string hex = text.substr(1, 36);
    std::string digits;
    for (std::size_t i = 0; i < hex.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (hex[i] != '-') return false;
            continue;
        }
        if (HexValue(hex[i]) < 0) return false;
        digits += hex[i];
    }
    auto field = [&digits](std::size_t at, std::size_t count) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < count; ++i)
            value = value * 16 + static_cast<std::uint32_t>(HexValue(digits[at + i]));
        return value;
    };
    guid->data1 = field(0, 8);
    guid->data2 = static_cast<WORD>(field(8, 4));
    guid->data3 = static_cast<WORD>(field(12, 4));
    for (std::size_t i = 0; i < 8; ++i) guid->data4[i] = static_cast<BYTE>(field(16 + 2 * i, 2));
    return true;
}

// The value of key in the [Version] section of an INF text; empty when absent.
std::string VersionValue(const std::string& inf, const std::string& key) {
    std::string section;
    std::size_t pos = 0;
    while (pos <= inf.size()) {
        std::size_t end = inf.find('\n', pos);
        if (end == std::string::npos) end = inf.size();
        std::string line = inf.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t comment = line.find(';');
        if (comment != std::string::npos) line.erase(comment);
        line = Trim(line);
        if (line.empty()) continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            continue;
        }
        if (!EqualNoCase(section, "Version")) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || !EqualNoCase(Trim(line.substr(0, equals)), key)) continue;
        std::string value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        return value;
    }
    return "";
}

struct KnownClass {
    Guid guid;
    const char* name;
};
const KnownClass KNOWN_CLASSES[] = {
    {GUID_DEVCLASS_USB, "USB"},
    {GUID_DEVCLASS_SYSTEM, "System"},
    {GUID_DEVCLASS_HIDCLASS, "HIDClass"},
    {GUID_DEVCLASS_NET, "Net"},
};

}  // namespace

std::string DeviceClassName(const Guid& classGuid) {
    for (const KnownClass& known : KNOWN_CLASSES) {
        if (known.guid == classGuid) return known.name;
    }
    return "";
}

CFakeDevices::CFakeDevices(CFakeMachine& machine) : m_machine(machine) {}

CFakeDevices::~CFakeDevices() = default;

BOOL CFakeDevices::SetError(DWORD error) {
    m_machine.lastError = error;
    return 0;
}

void CFakeDevices::Record(const char* name, const Guid* classGuid, const char* text, const char* text2, DWORD flags,
                          DWORD value, DWORD size, const void* bytes, std::size_t byteCount) {
    Call call;
    call.name = name;
    call.hasClass = classGuid != nullptr;
    if (classGuid != nullptr) call.classGuid = *classGuid;
    call.text = text != nullptr ? text : "";
    call.text2 = text2 != nullptr ? text2 : "";
    call.flags = flags;
    call.value = value;
    call.size = size;
    if (bytes != nullptr) {
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        call.bytes.assign(first, first + byteCount);
    }
    calls.push_back(std::move(call));
}

// ---- sets ---------------------------------------------------------------------------

CFakeDevices::Set* CFakeDevices::FindSet(HDEVINFO set) {
    auto it = m_sets.find(reinterpret_cast<std::uintptr_t>(set));
    if (it == m_sets.end()) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &it->second;
}

CFakeDevices::Element* CFakeDevices::FindElement(HDEVINFO set, const DeviceInfoData* data) {
    Set* s = FindSet(set);
    if (s == nullptr) return nullptr;
    if (data == nullptr || data->reserved >= s->elements.size() ||
        s->elements[data->reserved].devInst != data->devInst) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &s->elements[data->reserved];
}

CFakeDevices::Device* CFakeDevices::DeviceOf(const Element& element) {
    for (Device& device : m_devices) {
        if (device.devInst == element.devInst) return &device;
    }
    SetError(ERROR_NO_SUCH_DEVINST);
    return nullptr;
}

void CFakeDevices::Describe(const Set& set, std::size_t index, DeviceInfoData* data) const {
    if (data == nullptr) return;
    data->classGuid = set.elements[index].classGuid;
    data->devInst = set.elements[index].devInst;
    data->reserved = index;
}

HDEVINFO CFakeDevices::ClassDevs(const Guid* classGuid, const char* enumerator, DWORD flags) {
    const bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
    if (!allClasses && classGuid == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return InvalidHandle();
    }
    Set set;
    set.hasClass = !allClasses;
    if (!allClasses) set.classGuid = *classGuid;
    const std::string prefix = enumerator != nullptr && *enumerator != '\0' ? std::string(enumerator) + "\\" : "";
    for (const Device& device : m_devices) {
        if (!device.registered) continue;
        if (!allClasses && device.classGuid != *classGuid) continue;
        if ((flags & DIGCF_PRESENT) && !device.present) continue;
        if (!prefix.empty() && !StartsWithNoCase(device.instanceId, prefix)) continue;
        Element element;
        element.instanceId = device.instanceId;
        element.devInst = device.devInst;
        element.classGuid = device.classGuid;
        set.elements.push_back(element);
    }
    const std::uintptr_t handle = m_nextSet;
    m_nextSet += 4;
    m_sets[handle] = std::move(set);
    return reinterpret_cast<HDEVINFO>(handle);
}

HDEVINFO CFakeDevices::SetupDiGetClassDevsA(const Guid* classGuid, const char* enumerator, DWORD flags) {
    Record("SetupDiGetClassDevsA", classGuid, enumerator, nullptr, flags);
    if (m_machine.Fail("SetupDiGetClassDevsA")) return InvalidHandle();
    return ClassDevs(classGuid, enumerator, flags);
}

HDEVINFO CFakeDevices::SetupDiGetClassDevsExA(const Guid* classGuid, const char* enumerator, DWORD flags,
                                              const char* machineName) {
    Record("SetupDiGetClassDevsExA", classGuid, enumerator, machineName, flags);
    if (m_machine.Fail("SetupDiGetClassDevsExA")) return InvalidHandle();
    if (machineName != nullptr && *machineName != '\0') {
        SetError(ERROR_INVALID_PARAMETER);  // only the local machine exists here
        return InvalidHandle();
    }
    return ClassDevs(classGuid, enumerator, flags);
}

BOOL CFakeDevices::SetupDiGetDeviceInfoListDetailA(HDEVINFO set, DeviceInfoListDetail* detail) {
    Record("SetupDiGetDeviceInfoListDetailA");
    if (m_machine.Fail("SetupDiGetDeviceInfoListDetailA")) return 0;
    Set* s = FindSet(set);
    if (s == nullptr) return 0;
    if (detail == nullptr) return SetError(ERROR_INVALID_USER_BUFFER);
    *detail = DeviceInfoListDetail{};
    detail->classGuid = s->classGuid;
    return 1;
}

BOOL CFakeDevices::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, DeviceInfoData* data) {
    Record("SetupDiEnumDeviceInfo", nullptr, nullptr, nullptr, 0, index);
    if (m_machine.Fail("SetupDiEnumDeviceInfo")) return 0;
    Set* s = FindSet(set);
    if (s == nullptr) return 0;
    if (data == nullptr) return SetError(ERROR_INVALID_PARAMETER);
    if (index >= s->elements.size()) return SetError(ERROR_NO_MORE_ITEMS);
    Describe(*s, index, data);
    return 1;
}

HDEVINFO CFakeDevices::SetupDiCreateDeviceInfoList(const Guid* classGuid) {
    Record("SetupDiCreateDeviceInfoList", classGuid);
    if (m_machine.Fail("SetupDiCreateDeviceInfoList")) return InvalidHandle();
    Set set;
    if (classGuid != nullptr) {
        set.hasClass = true;
        set.classGuid = *classGuid;
    }
    const std::uintptr_t handle = m_nextSet;
    m_nextSet += 4;
    m_sets[handle] = std::move(set);
    return reinterpret_cast<HDEVINFO>(handle);
}

BOOL CFakeDevices::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    Record("SetupDiDestroyDeviceInfoList");
    Set* s = FindSet(set);
    if (s == nullptr) return 0;
    // Elements the set created and never registered go with it.
    for (const Element& element : s->elements) {
        if (!element.created) continue;
        m_devices.erase(
            std::remove_if(m_devices.begin(), m_devices.end(),
                           [&element](const Device& d) { return d.devInst == element.devInst && !d.registered; }),
            m_devices.end());
    }
    m_sets.erase(reinterpret_cast<std::uintptr_t>(set));
    return 1;
}

// ---- device properties --------------------------------------------------------------

BOOL CFakeDevices::SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property, DWORD* regType,
                                                     BYTE* buffer, DWORD size, DWORD* required) {
    Record("SetupDiGetDeviceRegistryPropertyA", nullptr, nullptr, nullptr, 0, property, size);
    if (m_machine.Fail("SetupDiGetDeviceRegistryPropertyA")) return 0;
    Element* element = FindElement(set, data);
    if (element == nullptr) return 0;
    const Device* device = DeviceOf(*element);
    if (device == nullptr) return 0;
    std::string value;
    DWORD type = REG_MULTI_SZ;
    if (property == SPDRP_HARDWAREID || property == SPDRP_COMPATIBLEIDS) {
        const std::vector<std::string>& ids =
            property == SPDRP_HARDWAREID ? device->hardwareIds : device->compatibleIds;
        if (ids.empty()) return SetError(ERROR_INVALID_DATA);
        value = MultiSz(ids);
    } else if (property == SPDRP_DEVICEDESC) {
        if (device->description.empty()) return SetError(ERROR_INVALID_DATA);
        value = device->description + '\0';
        type = REG_SZ;
    } else {
        return SetError(ERROR_INVALID_DATA);
    }
    if (buffer == nullptr && size != 0) return SetError(ERROR_INVALID_USER_BUFFER);
    if (regType != nullptr) *regType = type;
    if (required != nullptr) *required = static_cast<DWORD>(value.size());
    if (size < value.size()) return SetError(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, value.data(), value.size());
    return 1;
}

BOOL CFakeDevices::SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, DeviceInfoData* data, DWORD property,
                                                     const BYTE* buffer, DWORD size) {
    Record("SetupDiSetDeviceRegistryPropertyA", nullptr, nullptr, nullptr, 0, property, size, buffer,
           buffer != nullptr ? size : 0);
    if (m_machine.Fail("SetupDiSetDeviceRegistryPropertyA")) return 0;
    Element* element = FindElement(set, data);
    if (element == nullptr) return 0;
    Device* device = DeviceOf(*element);
    if (device == nullptr) return 0;
    if (buffer == nullptr && size != 0) return SetError(ERROR_INVALID_USER_BUFFER);
    if (property == SPDRP_HARDWAREID || property == SPDRP_COMPATIBLEIDS) {
        std::vector<std::string>& ids = property == SPDRP_HARDWAREID ? device->hardwareIds : device->compatibleIds;
        ids = buffer != nullptr ? ParseMultiSz(buffer, size) : std::vector<std::string>();
        return 1;
    }
    if (property == SPDRP_DEVICEDESC) {
        const std::vector<std::string> text =
            buffer != nullptr ? ParseMultiSz(buffer, size) : std::vector<std::string>();
        device->description = text.empty() ? std::string() : text.front();
        return 1;
    }
    return SetError(ERROR_INVALID_REG_PROPERTY);
}

BOOL CFakeDevices::SetupDiGetDeviceInstanceIdA(HDEVINFO set, DeviceInfoData* data, char* id, DWORD size,
                                               DWORD* required) {
    Record("SetupDiGetDeviceInstanceIdA", nullptr, nullptr, nullptr, 0, 0, size);
    if (m_machine.Fail("SetupDiGetDeviceInstanceIdA")) return 0;
    Element* element = FindElement(set, data);
    if (element == nullptr) return 0;
    const DWORD needed = static_cast<DWORD>(element->instanceId.size() + 1);
    if (required != nullptr) *required = needed;
    if (id == nullptr || size < needed) return SetError(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(id, element->instanceId.c_str(), needed);
    return 1;
}

// ---- class installer ----------------------------------------------------------------

BOOL CFakeDevices::SetupDiSetClassInstallParamsA(HDEVINFO set, DeviceInfoData* data, const RemoveDeviceParams* params,
                                                 DWORD size) {
    Record("SetupDiSetClassInstallParamsA", nullptr, nullptr, nullptr, 0, 0, size, params,
           params != nullptr ? sizeof(RemoveDeviceParams) : 0);
    if (m_machine.Fail("SetupDiSetClassInstallParamsA")) return 0;
    Element* element = FindElement(set, data);
    if (element == nullptr) return 0;
    if (params == nullptr) {
        element->hasRemoveParams = false;
        return 1;
    }
    if (params->header.size != sizeof(ClassInstallHeader)) return SetError(ERROR_INVALID_USER_BUFFER);
    if (params->header.installFunction != DIF_REMOVE || size != sizeof(RemoveDeviceParams)) {
        return SetError(ERROR_INVALID_PARAMETER);
    }
    if (params->scope != DI_REMOVEDEVICE_GLOBAL && params->scope != DI_REMOVEDEVICE_CONFIGSPECIFIC) {
        return SetError(ERROR_INVALID_FLAGS);
    }
    element->hasRemoveParams = true;
    element->removeParams = *params;
    return 1;
}

BOOL CFakeDevices::SetupDiCallClassInstaller(DWORD installFunction, HDEVINFO set, DeviceInfoData* data) {
    Record("SetupDiCallClassInstaller", nullptr, nullptr, nullptr, installFunction);
    if (m_machine.Fail("SetupDiCallClassInstaller")) return 0;
    if (FindSet(set) == nullptr) return 0;
    if (installFunction != DIF_REMOVE && installFunction != DIF_REGISTERDEVICE) return 1;  // nothing to do here
    if (data == nullptr) return SetError(ERROR_NO_DEVICE_SELECTED);
    Element* element = FindElement(set, data);
    if (element == nullptr) return 0;
    Device* device = DeviceOf(*element);
    if (device == nullptr) return 0;
    if (installFunction == DIF_REGISTERDEVICE) {
        if (device->registered) return SetError(ERROR_DEVINST_ALREADY_EXISTS);
        device->registered = true;
        device->present = true;  // a root device is attached as soon as it is registered
        return 1;
    }
    if (!device->registered) return SetError(ERROR_DEVINFO_NOT_REGISTERED);
    element->installParams.flags |= device->removeFlags;
    if (element->hasRemoveParams && element->removeParams.scope == DI_REMOVEDEVICE_CONFIGSPECIFIC) {
        device->present = false;  // gone from this hardware profile only
        return 1;
    }
    const DWORD devInst = device->devInst;
    m_devices.erase(
        std::remove_if(m_devices.begin(), m_devices.end(), [devInst](const Device& d) { return d.devInst == devInst; }),
        m_devices.end());
    return 1;
}

BOOL CFakeDevices::SetupDiGetDeviceInstallParamsA(HDEVINFO set, DeviceInfoData* data, DeviceInstallParams* params) {
    Record("SetupDiGetDeviceInstallParamsA");
    if (m_machine.Fail("SetupDiGetDeviceInstallParamsA")) return 0;
    if (params == nullptr) return SetError(ERROR_INVALID_PARAMETER);
    if (data == nullptr) {
        if (FindSet(set) == nullptr) return 0;
        *params = DeviceInstallParams{};
        return 1;
    }
    Element* element = FindElement(set, data);
    if (element == nullptr) return 0;
    *params = element->installParams;
    return 1;
}

// ---- INF classes and device creation ------------------------------------------------

BOOL CFakeDevices::SetupDiGetINFClassA(const char* infName, Guid* classGuid, char* className, DWORD size,
                                       DWORD* required) {
    Record("SetupDiGetINFClassA", nullptr, infName, nullptr, 0, 0, size);
    if (m_machine.Fail("SetupDiGetINFClassA")) return 0;
    if (infName == nullptr || classGuid == nullptr) return SetError(ERROR_INVALID_PARAMETER);
    if (!m_machine.files.FileExists(infName)) return SetError(ERROR_FILE_NOT_FOUND);
    const std::string inf = m_machine.files.Text(infName);
    std::string name = VersionValue(inf, "Class");
    const std::string guidText = VersionValue(inf, "ClassGuid");
    Guid guid = {};
    if (!guidText.empty()) {
        if (!ParseGuid(guidText, &guid)) return SetError(ERROR_INVALID_CLASS);
        if (name.empty()) name = DeviceClassName(guid);
    } else if (!name.empty()) {
        for (const KnownClass& known : KNOWN_CLASSES) {
            if (EqualNoCase(name, known.name)) guid = known.guid;
        }
    } else {
        return SetError(ERROR_NO_ASSOCIATED_CLASS);
    }
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (required != nullptr) *required = needed;
    if (className == nullptr || size < needed) return SetError(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(className, name.c_str(), needed);
    *classGuid = guid;
    return 1;
}

BOOL CFakeDevices::SetupDiCreateDeviceInfoA(HDEVINFO set, const char* deviceName, const Guid* classGuid,
                                            const char* description, DWORD flags, DeviceInfoData* data) {
    Record("SetupDiCreateDeviceInfoA", classGuid, deviceName, description, flags);
    if (m_machine.Fail("SetupDiCreateDeviceInfoA")) return 0;
    Set* s = FindSet(set);
    if (s == nullptr) return 0;
    if (flags & ~(DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS)) return SetError(ERROR_INVALID_FLAGS);
    if (classGuid == nullptr) return SetError(ERROR_INVALID_PARAMETER);
    if (s->hasClass && s->classGuid != *classGuid) return SetError(ERROR_CLASS_MISMATCH);
    const std::string name = deviceName != nullptr ? deviceName : "";
    if (name.empty()) return SetError(ERROR_INVALID_DEVINST_NAME);
    std::string instanceId;
    if (flags & DICD_GENERATE_ID) {
        if (name.find('\\') != std::string::npos) return SetError(ERROR_INVALID_DEVINST_NAME);
        const std::string prefix = "ROOT\\" + Upper(name) + "\\";
        for (unsigned n = 0; n < 10000 && instanceId.empty(); ++n) {
            char number[8];
            std::snprintf(number, sizeof number, "%04u", n);
            bool taken = false;
            for (const Device& device : m_devices) taken = taken || EqualNoCase(device.instanceId, prefix + number);
            if (!taken) instanceId = prefix + number;
        }
        if (instanceId.empty()) return SetError(ERROR_DEVINST_ALREADY_EXISTS);
    } else {
        for (const Device& device : m_devices) {
            if (EqualNoCase(device.instanceId, name)) return SetError(ERROR_DEVINST_ALREADY_EXISTS);
        }
        instanceId = name;
    }
    Device device;
    device.instanceId = instanceId;
    device.classGuid = *classGuid;
    device.className = DeviceClassName(*classGuid).empty() ? name : DeviceClassName(*classGuid);
    device.description = description != nullptr ? description : "";
    device.present = false;
    device.registered = false;
    device.devInst = m_nextDevInst++;
    m_devices.push_back(device);
    Element element;
    element.instanceId = instanceId;
    element.devInst = device.devInst;
    element.classGuid = *classGuid;
    element.created = true;
    s->elements.push_back(element);
    Describe(*s, s->elements.size() - 1, data);
    return 1;
}

// ---- driver store and driver update -------------------------------------------------

std::string CFakeDevices::StageOrFind(const std::string& source, const std::string& content, bool* existed) {
    for (const StagedInf& staged : m_store) {
        if (staged.content == content) {
            *existed = true;
            return staged.name;
        }
    }
    *existed = false;
    for (unsigned n = 0;; ++n) {
        const std::string name = "oem" + std::to_string(n) + ".inf";
        if (std::none_of(m_store.begin(), m_store.end(), [&name](const StagedInf& s) { return s.name == name; })) {
            m_store.push_back({name, source, content});
            return name;
        }
    }
}

void CFakeDevices::StageInf(const std::string& name, const std::string& source, const std::string& content) {
    m_store.push_back({name, source, content});
}

BOOL CFakeDevices::SetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, DWORD mediaType, DWORD copyStyle,
                                    char* destName, DWORD destSize, DWORD* required) {
    Record("SetupCopyOEMInfA", nullptr, sourceInf, mediaLocation, copyStyle, mediaType, destSize);
    if (m_machine.Fail("SetupCopyOEMInfA")) return 0;
    if (mediaType > SPOST_URL) return SetError(ERROR_INVALID_PARAMETER);
    if (sourceInf == nullptr || !m_machine.files.FileExists(sourceInf)) return SetError(ERROR_FILE_NOT_FOUND);
    bool existed = false;
    const std::string name = StageOrFind(NormalizePath(sourceInf), m_machine.files.Text(sourceInf), &existed);
    const std::string path = m_machine.kernel.windowsDirectory + "\\INF\\" + name;
    const DWORD needed = static_cast<DWORD>(path.size() + 1);
    if (required != nullptr) *required = needed;
    if (destName != nullptr) {
        if (destSize < needed) return SetError(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(destName, path.c_str(), needed);
    }
    if (existed && (copyStyle & SP_COPY_NOOVERWRITE)) return SetError(ERROR_FILE_EXISTS);
    return 1;
}

BOOL CFakeDevices::SetupGetInfFileListA(const char* directory, DWORD infStyle, char* buffer, DWORD size,
                                        DWORD* required) {
    if (m_machine.Fail("SetupGetInfFileListA")) return 0;
    if ((infStyle & (INF_STYLE_OLDNT | INF_STYLE_WIN4)) == 0) return SetError(ERROR_INVALID_PARAMETER);
    if (directory != nullptr && !SamePath(directory, m_machine.kernel.windowsDirectory + "\\INF")) {
        return SetError(ERROR_PATH_NOT_FOUND);
    }
    std::string list;
    for (const StagedInf& staged : m_store) list += staged.name + '\0';
    list += '\0';
    if (required != nullptr) *required = static_cast<DWORD>(list.size());
    if (buffer == nullptr || size < list.size()) {
        if (shortListSucceeds) return 1;
        return SetError(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, list.data(), list.size());
    return 1;
}

BOOL CFakeDevices::SetupQueryInfOriginalFileNameA(const char* infPath, char* originalName, DWORD size) {
    if (m_machine.Fail("SetupQueryInfOriginalFileNameA")) return 0;
    if (infPath == nullptr || originalName == nullptr || size == 0) return SetError(ERROR_INVALID_PARAMETER);
    for (const StagedInf& staged : m_store) {
        if (!SamePath(infPath, m_machine.kernel.windowsDirectory + "\\INF\\" + staged.name)) continue;
        const std::string::size_type slash = staged.source.find_last_of('\\');
        const std::string original = slash == std::string::npos ? staged.source : staged.source.substr(slash + 1);
        if (original.size() >= size) return SetError(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(originalName, original.c_str(), original.size() + 1);
        return 1;
    }
    return SetError(ERROR_FILE_NOT_FOUND);
}

BOOL CFakeDevices::SetupUninstallOEMInfA(const char* infFileName, DWORD flags) {
    if (m_machine.Fail("SetupUninstallOEMInfA")) return 0;
    if (infFileName == nullptr || std::strchr(infFileName, '\\') != nullptr) return SetError(ERROR_INVALID_PARAMETER);
    if (flags & ~SUOI_FORCEDELETE) return SetError(ERROR_INVALID_FLAGS);
    for (auto it = m_store.begin(); it != m_store.end(); ++it) {
        if (!EqualNoCase(it->name, infFileName)) continue;
        const std::string name = it->name;
        const bool used = std::any_of(m_devices.begin(), m_devices.end(), [&name](const Device& d) {
            return d.registered && EqualNoCase(d.driverInf, name);
        });
        if (uninstallNeedsForce && !(flags & SUOI_FORCEDELETE)) return 1;
        if (used && !(flags & SUOI_FORCEDELETE)) return SetError(ERROR_INF_IN_USE_BY_DEVICES);
        m_store.erase(it);
        return 1;
    }
    return SetError(ERROR_FILE_NOT_FOUND);
}

BOOL CFakeDevices::UpdateDriverForPlugAndPlayDevicesA(const char* hardwareId, const char* fullInfPath, DWORD flags,
                                                      BOOL* rebootRequired) {
    Record("UpdateDriverForPlugAndPlayDevicesA", nullptr, hardwareId, fullInfPath, flags);
    if (m_machine.Fail("UpdateDriverForPlugAndPlayDevicesA")) return 0;
    if (flags & ~(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY | INSTALLFLAG_NONINTERACTIVE)) {
        return SetError(ERROR_INVALID_FLAGS);
    }
    if (hardwareId == nullptr || *hardwareId == '\0' || fullInfPath == nullptr)
        return SetError(ERROR_INVALID_PARAMETER);
    if (!m_machine.files.FileExists(fullInfPath)) return SetError(ERROR_FILE_NOT_FOUND);
    std::vector<Device*> matches;
    for (Device& device : m_devices) {
        if (!device.registered || !device.present) continue;
        auto same = [hardwareId](const std::string& id) { return EqualNoCase(id, hardwareId); };
        if (std::any_of(device.hardwareIds.begin(), device.hardwareIds.end(), same) ||
            std::any_of(device.compatibleIds.begin(), device.compatibleIds.end(), same)) {
            matches.push_back(&device);
        }
    }
    // Windows fails here; Wine reports success.
    if (matches.empty()) return SetError(ERROR_NO_SUCH_DEVINST);
    bool existed = false;
    const std::string name = StageOrFind(NormalizePath(fullInfPath), m_machine.files.Text(fullInfPath), &existed);
    if (!(flags & INSTALLFLAG_FORCE) &&
        std::all_of(matches.begin(), matches.end(), [&name](const Device* d) { return d->driverInf == name; })) {
        return SetError(ERROR_NO_MORE_ITEMS);  // not a better driver than the one installed
    }
    for (Device* device : matches) device->driverInf = name;
    if (rebootRequired != nullptr) *rebootRequired = updateNeedsRestart ? 1 : 0;
    return 1;
}

// ---- arranging and inspecting -------------------------------------------------------

CFakeDevices::Device& CFakeDevices::AddDevice(const std::string& instanceId, const Guid& classGuid,
                                              const std::vector<std::string>& hardwareIds, bool present,
                                              const std::string& className) {
    Device device;
    device.instanceId = instanceId;
    device.classGuid = classGuid;
    device.className = className.empty() ? DeviceClassName(classGuid) : className;
    device.hardwareIds = hardwareIds;
    device.present = present;
    device.devInst = m_nextDevInst++;
    m_devices.push_back(device);
    return m_devices.back();
}

const CFakeDevices::Device* CFakeDevices::FindDevice(const std::string& instanceId) const {
    for (const Device& device : m_devices) {
        if (device.registered && EqualNoCase(device.instanceId, instanceId)) return &device;
    }
    return nullptr;
}

CFakeDevices::Device* CFakeDevices::FindDevice(const std::string& instanceId) {
    return const_cast<Device*>(static_cast<const CFakeDevices*>(this)->FindDevice(instanceId));
}

std::vector<std::string> CFakeDevices::InstanceIds() const {
    std::vector<std::string> ids;
    for (const Device& device : m_devices) {
        if (device.registered) ids.push_back(device.instanceId);
    }
    return ids;
}

std::vector<std::string> CFakeDevices::DevicesWithHardwareId(const std::string& id) const {
    std::vector<std::string> ids;
    for (const Device& device : m_devices) {
        if (device.registered &&
            std::find(device.hardwareIds.begin(), device.hardwareIds.end(), id) != device.hardwareIds.end()) {
            ids.push_back(device.instanceId);
        }
    }
    return ids;
}

}  // namespace fake
