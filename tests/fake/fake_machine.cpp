#include "fake/fake_machine.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "fake/fake_devices.h"
#include "fake/fake_firewall.h"
#include "fake/fake_processes.h"
#include "fake/fake_security.h"
#include "fake/fake_services.h"
#include "fake/fake_registry.h"
#include "fake/fake_shell.h"
#include "platform/constants.h"

namespace fake {

using namespace os;

namespace {

int FoldChar(char c) { return std::toupper(static_cast<unsigned char>(c == '/' ? '\\' : c)); }

// '*' and '?' in the last component of a FindFirstFileA pattern.
bool WildcardMatch(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') return WildcardMatch(pattern + 1, name) || (*name != '\0' && WildcardMatch(pattern, name + 1));
    if (*name == '\0') return false;
    if (*pattern != '?' && FoldChar(*pattern) != FoldChar(*name)) return false;
    return WildcardMatch(pattern + 1, name + 1);
}

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool PathLess::operator()(const std::string& a, const std::string& b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = FoldChar(a[i]), cb = FoldChar(b[i]);
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

bool SamePath(const std::string& a, const std::string& b) {
    PathLess less;
    return !less(a, b) && !less(b, a);
}

std::string NormalizePath(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    while (p.size() > 3 && p.back() == '\\') p.pop_back();  // keep "C:\"
    return p;
}

std::string ParentPath(const std::string& path) {
    const std::string p = NormalizePath(path);
    const std::size_t slash = p.find_last_of('\\');
    if (slash == std::string::npos) return "";
    if (slash == 2 && p.size() > 3) return p.substr(0, 3);  // "C:\x" -> "C:\"
    if (slash == 2) return "";
    return p.substr(0, slash);
}

// ---- machine ------------------------------------------------------------------------

CFakeMachine::CFakeMachine()
    : kernel(*this),
      files(*this),
      security(*new CFakeSecurity(*this)),
      services(*new CFakeServices(*this)),
      registry(*new CFakeRegistry(*this)),
      shell(*new CFakeShell(*this)),
      devices(*new CFakeDevices(*this)),
      firewall(*new CFakeFirewall(*this)),
      processes(*new CFakeProcesses(*this)),
      m_security(&security),
      m_services(&services),
      m_registry(&registry),
      m_shell(&shell),
      m_devices(&devices),
      m_firewall(&firewall),
      m_processes(&processes) {
    m_previous = Current();
    files.MakeDirectory("C:\\");
    files.MakeDirectory(kernel.windowsDirectory + "\\system32\\drivers");
    files.MakeDirectory(kernel.wow64Directory);
    files.MakeDirectory(kernel.currentDirectory);
    files.MakeDirectory(kernel.windowsDirectory + "\\inf");
    files.MakeDirectory(NormalizePath(kernel.tempPath));
    files.MakeDirectory("C:\\Program Files");
    Install();
}

CFakeMachine::~CFakeMachine() { os::Install(m_previous); }

void CFakeMachine::Install() {
    Platform platform;
    platform.kernel = &kernel;
    platform.files = &files;
    platform.security = &security;
    platform.services = &services;
    platform.registry = &registry;
    platform.shell = &shell;
    platform.devices = &devices;
    platform.firewall = &firewall;
    platform.processes = &processes;
    os::Install(platform);
}

bool CFakeMachine::Fail(const char* call) {
    std::uint32_t error = 0;
    if (!m_faults.Hit(call, &error)) return false;
    lastError = error;
    return true;
}

HANDLE CFakeMachine::NewHandle(IHandleOwner* owner) {
    const std::uintptr_t handle = m_nextHandle;
    m_nextHandle += 4;
    m_handles[handle] = owner;
    return reinterpret_cast<HANDLE>(handle);
}

IHandleOwner* CFakeMachine::HandleOwner(HANDLE handle) const {
    auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == m_handles.end() ? nullptr : it->second;
}

void CFakeMachine::ForgetHandle(HANDLE handle) { m_handles.erase(reinterpret_cast<std::uintptr_t>(handle)); }

// ---- kernel -------------------------------------------------------------------------

OsVersion CFakeKernel::DefaultVersion() {
    OsVersion v;
    v.major = 6;
    v.minor = 1;
    v.build = 7601;
    v.platformId = 2;
    std::strcpy(v.servicePack, "Service Pack 1");
    v.servicePackMajor = 1;
    v.productType = VER_NT_WORKSTATION;
    return v;
}

DWORD CFakeKernel::GetLastError() { return m_machine.lastError; }

void CFakeKernel::SetLastError(DWORD error) { m_machine.lastError = error; }

BOOL CFakeKernel::CloseHandle(HANDLE handle) {
    IHandleOwner* owner = m_machine.HandleOwner(handle);
    if (owner == nullptr) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    owner->CloseOwned(handle);
    m_machine.ForgetHandle(handle);
    return 1;
}

DWORD CFakeKernel::GetModuleFileNameA(char* buffer, DWORD size) {
    if (m_machine.Fail("GetModuleFileNameA")) return 0;
    if (size == 0) {
        m_machine.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    // As on Windows: a short buffer gets a truncated, terminated path, the buffer's size
    // as result and ERROR_INSUFFICIENT_BUFFER.
    const std::size_t n = std::min<std::size_t>(modulePath.size(), size - 1);
    std::memcpy(buffer, modulePath.data(), n);
    buffer[n] = '\0';
    if (modulePath.size() >= size) {
        m_machine.lastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    return static_cast<DWORD>(n);
}

DWORD CFakeKernel::GetTickCount() {
    tickCount += tickStep;
    return tickCount;
}

void CFakeKernel::Sleep(DWORD milliseconds) {
    tickCount += milliseconds;
    sleptMilliseconds += milliseconds;
    sleeps.push_back(milliseconds);
}

BOOL CFakeKernel::GenRandom(void* buffer, DWORD size) {
    if (m_machine.Fail("GenRandom")) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (DWORD i = 0; i < size; ++i) {
        // xorshift64*: any fixed sequence will do.
        m_randomState ^= m_randomState >> 12;
        m_randomState ^= m_randomState << 25;
        m_randomState ^= m_randomState >> 27;
        out[i] = static_cast<std::uint8_t>((m_randomState * 0x2545F4914F6CDD1Du) >> 56);
    }
    return 1;
}

BOOL CFakeKernel::GetVersionExA(OsVersion* out) {
    if (m_machine.Fail("GetVersionExA")) return 0;
    *out = version;
    return 1;
}

namespace {
DWORD CopyOut(const std::string& value, char* buffer, DWORD size) {
    if (value.size() + 1 > size) return static_cast<DWORD>(value.size() + 1);
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<DWORD>(value.size());
}
}  // namespace

DWORD CFakeKernel::GetWindowsDirectoryA(char* buffer, DWORD size) {
    if (m_machine.Fail("GetWindowsDirectoryA")) return 0;
    return CopyOut(windowsDirectory, buffer, size);
}

DWORD CFakeKernel::GetTempPathA(DWORD size, char* buffer) {
    if (m_machine.Fail("GetTempPathA")) return 0;
    return CopyOut(tempPath, buffer, size);
}

DWORD CFakeKernel::GetSystemDirectoryA(char* buffer, DWORD size) {
    if (m_machine.Fail("GetSystemDirectoryA")) return 0;
    return CopyOut(systemDirectory, buffer, size);
}

DWORD CFakeKernel::GetSystemWow64DirectoryA(char* buffer, DWORD size) {
    if (m_machine.Fail("GetSystemWow64DirectoryA")) return 0;
    if (wow64Directory.empty()) {
        m_machine.lastError = ERROR_CALL_NOT_IMPLEMENTED;
        return 0;
    }
    return CopyOut(wow64Directory, buffer, size);
}

DWORD CFakeKernel::GetCurrentDirectoryA(DWORD size, char* buffer) {
    if (m_machine.Fail("GetCurrentDirectoryA")) return 0;
    return CopyOut(currentDirectory, buffer, size);
}

void* CFakeKernel::VirtualAlloc(std::size_t size) {
    if (m_machine.Fail("VirtualAlloc")) return nullptr;
    if (size == 0) {
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]());
    void* address = block.get();
    m_blocks.emplace(address, std::move(block));
    return address;
}

BOOL CFakeKernel::VirtualFree(void* block) {
    if (m_blocks.erase(block) == 0) {
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    return 1;
}

void CFakeKernel::OutputDebugStringA(const char* text) { debugOutput.emplace_back(text ? text : ""); }

void CFakeKernel::GetLocalTime(os::SystemTime* time) { *time = localTime; }

// ---- files --------------------------------------------------------------------------

CFakeFiles::CFakeFiles(CFakeMachine& machine) : m_machine(machine) {}

CFakeFiles::~CFakeFiles() = default;

bool CFakeFiles::Fail(const char* call) { return m_machine.Fail(call); }

bool CFakeFiles::SetError(DWORD error) {
    m_machine.lastError = error;
    return false;
}

CFakeFiles::Open* CFakeFiles::FindOpen(HANDLE file) {
    auto it = m_opens.find(reinterpret_cast<std::uintptr_t>(file));
    if (it == m_opens.end() || it->second.external) return nullptr;
    return &it->second;
}

void CFakeFiles::CloseOwned(HANDLE handle) {
    m_opens.erase(reinterpret_cast<std::uintptr_t>(handle));
    m_finds.erase(reinterpret_cast<std::uintptr_t>(handle));
}

bool CFakeFiles::SharingConflict(const std::string& key, DWORD access, DWORD share) const {
    for (const auto& [handle, open] : m_opens) {
        if (!SamePath(open.key, key)) continue;
        if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
        if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
        if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
        if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    }
    return false;
}

bool CFakeFiles::HeldWithoutDeleteSharing(const std::string& key) const {
    for (const auto& [handle, open] : m_opens) {
        if (SamePath(open.key, key) && !(open.share & FILE_SHARE_DELETE)) return true;
    }
    return false;
}

bool CFakeFiles::HasChildren(const std::string& key) const {
    for (auto it = m_nodes.upper_bound(key); it != m_nodes.end(); ++it) {
        if (SamePath(ParentPath(it->first), key)) return true;
        const std::string& name = it->first;
        if (name.size() <= key.size() || !SamePath(name.substr(0, key.size()), key)) break;
    }
    return false;
}

HANDLE CFakeFiles::CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD attributes) {
    if (Fail("CreateFileA")) return InvalidHandle();
    if (CFakeProcesses::IsPipeName(path)) return m_machine.processes.OpenPipe(path, access, attributes);
    if (path == nullptr || *path == '\0') {
        SetError(ERROR_PATH_NOT_FOUND);
        return InvalidHandle();
    }
    const std::string key = Resolve(NormalizePath(path), (attributes & FILE_FLAG_OPEN_REPARSE_POINT) == 0);
    auto it = m_nodes.find(key);
    const bool exists = it != m_nodes.end();
    if (exists && it->second.directory && !(attributes & FILE_FLAG_BACKUP_SEMANTICS)) {
        SetError(ERROR_ACCESS_DENIED);
        return InvalidHandle();
    }
    if (!exists) {
        const std::string parent = ParentPath(key);
        if (parent.empty() || !DirectoryExists(parent)) {
            SetError(ERROR_PATH_NOT_FOUND);
            return InvalidHandle();
        }
    }
    switch (disposition) {
    case CREATE_NEW:
        if (exists) {
            SetError(ERROR_FILE_EXISTS);
            return InvalidHandle();
        }
        break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
        if (!exists) {
            SetError(ERROR_FILE_NOT_FOUND);
            return InvalidHandle();
        }
        break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
        break;
    default:
        SetError(ERROR_INVALID_PARAMETER);
        return InvalidHandle();
    }
    const bool truncates = exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (exists && (it->second.attributes & FILE_ATTRIBUTE_READONLY) && ((access & GENERIC_WRITE) || truncates)) {
        SetError(ERROR_ACCESS_DENIED);
        return InvalidHandle();
    }
    if (exists && SharingConflict(key, access, shareMode)) {
        SetError(ERROR_SHARING_VIOLATION);
        return InvalidHandle();
    }
    if (!exists) {
        Node node;
        node.name = key;
        const DWORD fileAttributes = attributes & 0xFFFF;  // the rest are flags
        node.attributes = fileAttributes == 0 ? FILE_ATTRIBUTE_NORMAL : fileAttributes;
        m_nodes.emplace(key, std::move(node));
        m_machine.lastError = ERROR_SUCCESS;
    } else {
        if (truncates) it->second.data.clear();
        m_machine.lastError = (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS;
    }
    HANDLE handle = m_machine.NewHandle(this);
    m_opens[reinterpret_cast<std::uintptr_t>(handle)] = Open{key, access, shareMode, 0, false};
    return handle;
}

DWORD CFakeFiles::GetFileSize(HANDLE file) {
    if (Fail("GetFileSize")) return INVALID_FILE_SIZE;
    Open* open = FindOpen(file);
    if (open == nullptr) {
        SetError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    return static_cast<DWORD>(m_nodes.at(open->key).data.size());
}

DWORD CFakeFiles::SetFilePointer(HANDLE file, LONG distance, DWORD origin) {
    if (Fail("SetFilePointer")) return INVALID_SET_FILE_POINTER;
    Open* open = FindOpen(file);
    if (open == nullptr) {
        SetError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t base = 0;
    if (origin == FILE_CURRENT) {
        base = static_cast<std::int64_t>(open->position);
    } else if (origin == FILE_END) {
        base = static_cast<std::int64_t>(m_nodes.at(open->key).data.size());
    } else if (origin != FILE_BEGIN) {
        SetError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const std::int64_t target = base + distance;
    if (target < 0) {
        SetError(ERROR_INVALID_PARAMETER);  // Windows: ERROR_NEGATIVE_SEEK
        return INVALID_SET_FILE_POINTER;
    }
    open->position = static_cast<std::size_t>(target);
    m_machine.lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(target);
}

BOOL CFakeFiles::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
    if (read) *read = 0;
    if (Fail("ReadFile")) return 0;
    if (m_machine.processes.IsPipe(file)) return m_machine.processes.ReadPipe(file, buffer, size, read);
    Open* open = FindOpen(file);
    if (open == nullptr || !(open->access & GENERIC_READ)) {
        return SetError(open == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    }
    const std::vector<std::uint8_t>& data = m_nodes.at(open->key).data;
    const std::size_t available = open->position < data.size() ? data.size() - open->position : 0;
    const std::size_t n = std::min<std::size_t>(available, size);
    if (n != 0) std::memcpy(buffer, data.data() + open->position, n);
    open->position += n;
    if (read) *read = static_cast<DWORD>(n);
    return 1;
}

BOOL CFakeFiles::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
    if (written) *written = 0;
    if (Fail("WriteFile")) return 0;
    if (m_machine.processes.IsPipe(file)) return m_machine.processes.WritePipe(file, buffer, size, written);
    Open* open = FindOpen(file);
    if (open == nullptr || !(open->access & GENERIC_WRITE)) {
        return SetError(open == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    }
    std::vector<std::uint8_t>& data = m_nodes.at(open->key).data;
    if (data.size() < open->position + size) data.resize(open->position + size);
    if (size != 0) std::memcpy(data.data() + open->position, buffer, size);
    open->position += size;
    if (written) *written = size;
    return 1;
}

BOOL CFakeFiles::SetEndOfFile(HANDLE file) {
    if (Fail("SetEndOfFile")) return 0;
    Open* open = FindOpen(file);
    if (open == nullptr || !(open->access & GENERIC_WRITE)) {
        return SetError(open == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    }
    m_nodes.at(open->key).data.resize(open->position);
    return 1;
}

BOOL CFakeFiles::GetFileInformationByHandle(HANDLE file, DWORD* attributes, DWORD* links) {
    if (Fail("GetFileInformationByHandle")) return 0;
    Open* open = FindOpen(file);
    if (open == nullptr) return SetError(ERROR_INVALID_HANDLE);
    const Node& node = m_nodes.at(open->key);
    DWORD names = 1;
    for (const auto& [key, other] : m_nodes) {
        if (!(other.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && SamePath(other.linkOf, open->key)) ++names;
    }
    if (attributes) *attributes = node.attributes;
    if (links) *links = names;
    return 1;
}

BOOL CFakeFiles::FlushFileBuffers(HANDLE file) {
    if (Fail("FlushFileBuffers")) return 0;
    Open* open = FindOpen(file);
    if (open == nullptr || !(open->access & GENERIC_WRITE)) {
        return SetError(open == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    }
    return 1;
}

HANDLE CFakeFiles::FindFirstFileA(const char* path, FindData* data) {
    if (Fail("FindFirstFileA")) return InvalidHandle();
    const std::string key = NormalizePath(path ? path : "");
    const std::string parent = ParentPath(key);
    const std::string pattern = LastComponent(key);
    if (parent.empty() || !DirectoryExists(parent)) {
        SetError(ERROR_PATH_NOT_FOUND);
        return InvalidHandle();
    }
    for (const auto& [name, node] : m_nodes) {
        if (!SamePath(ParentPath(name), parent) || name.size() <= parent.size()) continue;
        const std::string leaf = LastComponent(node.name);
        if (!WildcardMatch(pattern.c_str(), leaf.c_str())) continue;
        if (data != nullptr) {
            *data = FindData{};
            data->attributes = node.attributes;
            data->sizeLow = static_cast<DWORD>(node.data.size());
            data->sizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(node.data.size()) >> 32);
            std::strncpy(data->name, leaf.c_str(), sizeof data->name - 1);
        }
        HANDLE handle = m_machine.NewHandle(this);
        m_finds[reinterpret_cast<std::uintptr_t>(handle)] = key;
        return handle;
    }
    SetError(ERROR_FILE_NOT_FOUND);
    return InvalidHandle();
}

BOOL CFakeFiles::FindClose(HANDLE find) {
    if (m_finds.count(reinterpret_cast<std::uintptr_t>(find)) == 0) return SetError(ERROR_INVALID_HANDLE);
    m_finds.erase(reinterpret_cast<std::uintptr_t>(find));
    m_machine.ForgetHandle(find);
    return 1;
}

DWORD CFakeFiles::GetFileAttributesA(const char* path) {
    if (Fail("GetFileAttributesA")) return INVALID_FILE_ATTRIBUTES;
    const DWORD attributes = Attributes(path ? path : "");
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const std::string parent = ParentPath(NormalizePath(path ? path : ""));
        SetError(parent.empty() || DirectoryExists(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    return attributes;
}

BOOL CFakeFiles::SetFileAttributesA(const char* path, DWORD attributes) {
    if (Fail("SetFileAttributesA")) return 0;
    auto it = m_nodes.find(NormalizePath(path ? path : ""));
    if (it == m_nodes.end()) return SetError(ERROR_FILE_NOT_FOUND);
    it->second.attributes = (attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) |
                            (it->second.directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    return 1;
}

BOOL CFakeFiles::CopyFileA(const char* from, const char* to, BOOL failIfExists) {
    if (Fail("CopyFileA")) return 0;
    const std::string source = NormalizePath(from ? from : "");
    const std::string target = NormalizePath(to ? to : "");
    auto src = m_nodes.find(source);
    if (src == m_nodes.end()) return SetError(ERROR_FILE_NOT_FOUND);
    if (src->second.directory) return SetError(ERROR_ACCESS_DENIED);
    if (SharingConflict(source, GENERIC_READ, FILE_SHARE_READ)) return SetError(ERROR_SHARING_VIOLATION);
    auto dst = m_nodes.find(target);
    if (dst != m_nodes.end()) {
        if (failIfExists) return SetError(ERROR_FILE_EXISTS);
        if (dst->second.directory || (dst->second.attributes & FILE_ATTRIBUTE_READONLY)) {
            return SetError(ERROR_ACCESS_DENIED);
        }
        if (SharingConflict(target, GENERIC_WRITE, 0)) return SetError(ERROR_SHARING_VIOLATION);
    } else if (!DirectoryExists(ParentPath(target))) {
        return SetError(ERROR_PATH_NOT_FOUND);
    }
    Node copy = src->second;
    copy.name = dst != m_nodes.end() ? dst->second.name : target;
    m_nodes[target] = std::move(copy);
    return 1;
}

BOOL CFakeFiles::MoveFileExA(const char* from, const char* to, DWORD flags) {
    if (Fail("MoveFileExA")) return 0;
    const std::string source = NormalizePath(from ? from : "");
    const std::string target = to ? NormalizePath(to) : std::string();
    auto src = m_nodes.find(source);
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        // Windows rejects these; Wine accepts them (the fake keeps to Windows).
        if (flags & MOVEFILE_COPY_ALLOWED) return SetError(ERROR_INVALID_PARAMETER);
        if (src == m_nodes.end()) return SetError(ERROR_FILE_NOT_FOUND);
        m_pending.push_back({source, target, flags});
        return 1;
    }
    if (src == m_nodes.end()) return SetError(ERROR_FILE_NOT_FOUND);
    if (target.empty()) return SetError(ERROR_INVALID_PARAMETER);
    if (src->second.directory) return SetError(ERROR_ACCESS_DENIED);
    if (HeldWithoutDeleteSharing(source)) return SetError(ERROR_SHARING_VIOLATION);
    auto dst = m_nodes.find(target);
    if (dst != m_nodes.end() && !SamePath(source, target)) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return SetError(ERROR_ALREADY_EXISTS);
        if (dst->second.directory || (dst->second.attributes & FILE_ATTRIBUTE_READONLY) ||
            SharingConflict(target, GENERIC_WRITE, 0)) {
            return SetError(ERROR_ACCESS_DENIED);
        }
    } else if (!DirectoryExists(ParentPath(target))) {
        return SetError(ERROR_PATH_NOT_FOUND);
    }
    Node moved = std::move(src->second);
    m_nodes.erase(src);
    moved.name = target;
    m_nodes[target] = std::move(moved);
    for (std::string& image : m_running) {
        if (SamePath(image, source)) image = target;
    }
    return 1;
}

BOOL CFakeFiles::DeleteFileA(const char* path) {
    if (Fail("DeleteFileA")) return 0;
    const std::string key = NormalizePath(path ? path : "");
    auto it = m_nodes.find(key);
    if (it == m_nodes.end()) {
        return SetError(DirectoryExists(ParentPath(key)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    if (it->second.directory || (it->second.attributes & FILE_ATTRIBUTE_READONLY) || IsRunning(key)) {
        return SetError(ERROR_ACCESS_DENIED);
    }
    if (HeldWithoutDeleteSharing(key)) return SetError(ERROR_SHARING_VIOLATION);
    m_nodes.erase(it);
    return 1;
}

void CFakeFiles::MarkRunning(const std::string& path) { m_running.push_back(NormalizePath(path)); }

bool CFakeFiles::IsRunning(const std::string& path) const {
    for (const std::string& image : m_running) {
        if (SamePath(image, path)) return true;
    }
    return false;
}

BOOL CFakeFiles::CreateDirectoryA(const char* path, const char* security) {
    if (Fail("CreateDirectoryA")) return 0;
    const std::string key = NormalizePath(path ? path : "");
    if (m_nodes.count(key) != 0) return SetError(ERROR_ALREADY_EXISTS);
    const std::string parent = ParentPath(key);
    if (parent.empty() || !DirectoryExists(parent)) return SetError(ERROR_PATH_NOT_FOUND);
    Node node;
    node.name = key;
    node.directory = true;
    node.attributes = FILE_ATTRIBUTE_DIRECTORY;
    if (security != nullptr) {
        // Only the access list counts here; the owner stays the creator.
        const std::string text = security;
        const std::size_t list = text.find("D:");
        if (list == std::string::npos) return SetError(ERROR_INVALID_PARAMETER);
        node.accessList = text.substr(list);
    }
    m_nodes.emplace(key, std::move(node));
    return 1;
}

BOOL CFakeFiles::RemoveDirectoryA(const char* path) {
    if (Fail("RemoveDirectoryA")) return 0;
    const std::string key = NormalizePath(path ? path : "");
    auto it = m_nodes.find(key);
    if (it == m_nodes.end()) return SetError(ERROR_FILE_NOT_FOUND);
    if (!it->second.directory) return SetError(267 /* ERROR_DIRECTORY */);
    if (HasChildren(key)) return SetError(ERROR_DIR_NOT_EMPTY);
    m_nodes.erase(it);
    return 1;
}

// ---- arranging and inspecting -------------------------------------------------------

void CFakeFiles::PutFile(const std::string& path, const std::vector<std::uint8_t>& content, DWORD attributes) {
    const std::string key = NormalizePath(path);
    MakeDirectory(ParentPath(key));
    Node& node = m_nodes[key];
    if (node.name.empty()) node.name = key;
    node.directory = false;
    node.data = content;
    node.attributes = attributes;
}

void CFakeFiles::PutFile(const std::string& path, const std::string& content) {
    PutFile(path, std::vector<std::uint8_t>(content.begin(), content.end()));
}

void CFakeFiles::MakeDirectory(const std::string& path) {
    const std::string key = NormalizePath(path);
    if (key.empty() || DirectoryExists(key)) return;
    MakeDirectory(ParentPath(key));
    Node& node = m_nodes[key];
    node.name = key;
    node.directory = true;
    node.attributes = FILE_ATTRIBUTE_DIRECTORY;
}

void CFakeFiles::PutHardLink(const std::string& link, const std::string& target) {
    const std::string key = NormalizePath(link);
    MakeDirectory(ParentPath(key));
    Node node;
    node.name = key;
    node.linkOf = NormalizePath(target);
    node.attributes = FILE_ATTRIBUTE_NORMAL;
    m_nodes[key] = std::move(node);
}

void CFakeFiles::PutSymbolicLink(const std::string& link, const std::string& target) {
    PutHardLink(link, target);
    m_nodes[NormalizePath(link)].attributes = FILE_ATTRIBUTE_REPARSE_POINT;
}

std::string CFakeFiles::Resolve(const std::string& key, bool followReparse) const {
    auto it = m_nodes.find(key);
    if (it == m_nodes.end() || it->second.linkOf.empty()) return key;
    const bool reparse = (it->second.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return reparse && !followReparse ? key : it->second.linkOf;
}

void CFakeFiles::SetSecurity(const std::string& path, const std::string& owner, const std::string& accessList) {
    Node& node = m_nodes.at(NormalizePath(path));
    node.owner = owner;
    node.accessList = accessList;
}

std::string CFakeFiles::AccessList(const std::string& path) const {
    auto it = m_nodes.find(NormalizePath(path));
    return it == m_nodes.end() ? std::string() : it->second.accessList;
}

bool CFakeFiles::SecurityOfHandle(HANDLE file, std::string* sddl) const {
    auto open = m_opens.find(reinterpret_cast<std::uintptr_t>(file));
    if (open == m_opens.end() || open->second.external) return false;
    const Node& node = m_nodes.at(open->second.key);
    *sddl = "O:" + node.owner + node.accessList;
    return true;
}

void CFakeFiles::Remove(const std::string& path) {
    const std::string key = NormalizePath(path);
    for (auto it = m_nodes.begin(); it != m_nodes.end();) {
        const std::string& name = it->first;
        const bool inside = SamePath(name, key) ||
                            (name.size() > key.size() && SamePath(name.substr(0, key.size()), key) &&
                             name[key.size()] == '\\');
        it = inside ? m_nodes.erase(it) : std::next(it);
    }
}

bool CFakeFiles::FileExists(const std::string& path) const {
    auto it = m_nodes.find(NormalizePath(path));
    return it != m_nodes.end() && !it->second.directory;
}

bool CFakeFiles::DirectoryExists(const std::string& path) const {
    auto it = m_nodes.find(NormalizePath(path));
    return it != m_nodes.end() && it->second.directory;
}

std::vector<std::uint8_t> CFakeFiles::Content(const std::string& path) const {
    auto it = m_nodes.find(NormalizePath(path));
    if (it == m_nodes.end() || it->second.directory) return {};
    return it->second.data;
}

std::string CFakeFiles::Text(const std::string& path) const {
    const std::vector<std::uint8_t> data = Content(path);
    return std::string(data.begin(), data.end());
}

DWORD CFakeFiles::Attributes(const std::string& path) const {
    auto it = m_nodes.find(NormalizePath(path));
    return it == m_nodes.end() ? INVALID_FILE_ATTRIBUTES : it->second.attributes;
}

void CFakeFiles::Lock(const std::string& path, DWORD access, DWORD shareMode) {
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(m_machine.NewHandle(this));
    m_opens[handle] = Open{NormalizePath(path), access, shareMode, 0, true};
}

void CFakeFiles::Unlock(const std::string& path) {
    const std::string key = NormalizePath(path);
    for (auto it = m_opens.begin(); it != m_opens.end();) {
        if (it->second.external && SamePath(it->second.key, key)) {
            m_machine.ForgetHandle(reinterpret_cast<HANDLE>(it->first));
            it = m_opens.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t CFakeFiles::OpenHandleCount() const {
    return m_finds.size() + static_cast<std::size_t>(std::count_if(
                                m_opens.begin(), m_opens.end(), [](const auto& entry) { return !entry.second.external; }));
}

std::vector<std::string> CFakeFiles::ListFiles() const {
    std::vector<std::string> names;
    for (const auto& [key, node] : m_nodes) {
        if (!node.directory) names.push_back(node.name);
    }
    return names;
}

std::vector<std::string> CFakeFiles::ListFilesUnder(const std::string& directory) const {
    const std::string key = NormalizePath(directory);
    std::vector<std::string> names;
    for (const auto& [name, node] : m_nodes) {
        if (!node.directory && name.size() > key.size() + 1 && SamePath(name.substr(0, key.size()), key) &&
            name[key.size()] == '\\') {
            names.push_back(node.name);
        }
    }
    return names;
}

std::vector<std::string> CFakeFiles::ListDirectories() const {
    std::vector<std::string> names;
    for (const auto& [key, node] : m_nodes) {
        if (node.directory) names.push_back(node.name);
    }
    return names;
}

void CFakeFiles::Restart() {
    for (auto it = m_opens.begin(); it != m_opens.end();) {
        m_machine.ForgetHandle(reinterpret_cast<HANDLE>(it->first));
        it = m_opens.erase(it);
    }
    m_running.clear();
    std::vector<PendingOperation> pending;
    pending.swap(m_pending);
    for (const PendingOperation& op : pending) {
        auto src = m_nodes.find(op.from);
        if (src == m_nodes.end()) continue;
        if (op.to.empty()) {
            if (!src->second.directory || !HasChildren(op.from)) m_nodes.erase(src);
            continue;
        }
        const bool exists = m_nodes.count(op.to) != 0;
        if (exists && !(op.flags & MOVEFILE_REPLACE_EXISTING)) continue;
        Node moved = std::move(src->second);
        m_nodes.erase(src);
        moved.name = op.to;
        m_nodes[op.to] = std::move(moved);
    }
}

std::map<std::string, std::string> CFakeFiles::Snapshot() const {
    std::map<std::string, std::string> out;
    for (const auto& [key, node] : m_nodes) {
        std::string upper = key;
        for (char& c : upper) c = static_cast<char>(FoldChar(c));
        out[upper] = node.directory ? std::string("<dir>")
                                    : std::to_string(node.attributes) + ":" +
                                          std::string(node.data.begin(), node.data.end());
    }
    return out;
}

}  // namespace fake
