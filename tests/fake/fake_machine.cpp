#include "fake/fake_machine.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/constants.h"

namespace fake {

using namespace os;

bool PathLess::operator()(const std::string& a, const std::string& b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int ca = std::toupper(static_cast<unsigned char>(a[i] == '/' ? '\\' : a[i]));
        int cb = std::toupper(static_cast<unsigned char>(b[i] == '/' ? '\\' : b[i]));
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
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

CFakeMachine::CFakeMachine() : kernel(*this), files(*this) {
    m_previous = Current();
    files.MakeDirectory("C:\\");
    Install();
}

CFakeMachine::~CFakeMachine() { os::Install(m_previous); }

void CFakeMachine::Install() {
    Platform platform;
    platform.kernel = &kernel;
    platform.files = &files;
    os::Install(platform);
}

bool CFakeMachine::Fail(const char* call) {
    std::uint32_t error = 0;
    if (!m_faults.Hit(call, &error)) return false;
    lastError = error;
    return true;
}

// ---- kernel -------------------------------------------------------------------------

DWORD CFakeKernel::GetLastError() { return m_machine.lastError; }

void CFakeKernel::SetLastError(DWORD error) { m_machine.lastError = error; }

DWORD CFakeKernel::GetModuleFileNameA(char* buffer, DWORD size) {
    if (m_machine.Fail("GetModuleFileNameA")) return 0;
    if (size == 0) {
        m_machine.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    // As on Windows: a short buffer gets a truncated, terminated path, the full size
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

// ---- files --------------------------------------------------------------------------

CFakeFiles::CFakeFiles(CFakeMachine& machine) : m_machine(machine) {}

CFakeFiles::~CFakeFiles() = default;

bool CFakeFiles::Fail(const char* call) { return m_machine.Fail(call); }

CFakeFiles::Open* CFakeFiles::FindOpen(HANDLE file) {
    auto it = m_opens.find(reinterpret_cast<std::uintptr_t>(file));
    if (it == m_opens.end() || it->second.external) return nullptr;
    return &it->second;
}

bool CFakeFiles::SharingConflict(const std::string& key, DWORD access, DWORD share) const {
    PathLess less;
    for (const auto& [handle, open] : m_opens) {
        if (less(open.key, key) || less(key, open.key)) continue;
        if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
        if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
        if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
        if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    }
    return false;
}

HANDLE CFakeFiles::CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD attributes) {
    if (Fail("CreateFileA")) return InvalidHandle();
    if (path == nullptr || *path == '\0') {
        m_machine.lastError = ERROR_PATH_NOT_FOUND;
        return InvalidHandle();
    }
    const std::string key = NormalizePath(path);
    auto it = m_nodes.find(key);
    const bool exists = it != m_nodes.end();
    if (exists && it->second.directory) {
        m_machine.lastError = ERROR_ACCESS_DENIED;
        return InvalidHandle();
    }
    if (!exists) {
        const std::string parent = ParentPath(key);
        if (parent.empty() || !DirectoryExists(parent)) {
            m_machine.lastError = ERROR_PATH_NOT_FOUND;
            return InvalidHandle();
        }
    }
    switch (disposition) {
    case CREATE_NEW:
        if (exists) {
            m_machine.lastError = ERROR_FILE_EXISTS;
            return InvalidHandle();
        }
        break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
        if (!exists) {
            m_machine.lastError = ERROR_FILE_NOT_FOUND;
            return InvalidHandle();
        }
        break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
        break;
    default:
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return InvalidHandle();
    }
    const bool truncates = exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (exists && (it->second.attributes & FILE_ATTRIBUTE_READONLY) && ((access & GENERIC_WRITE) || truncates)) {
        m_machine.lastError = ERROR_ACCESS_DENIED;
        return InvalidHandle();
    }
    if (exists && SharingConflict(key, access, shareMode)) {
        m_machine.lastError = ERROR_SHARING_VIOLATION;
        return InvalidHandle();
    }
    if (!exists) {
        Node node;
        node.name = key;
        node.attributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
        m_nodes.emplace(key, std::move(node));
        m_machine.lastError = ERROR_SUCCESS;
    } else {
        if (truncates) it->second.data.clear();
        m_machine.lastError = (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS;
    }
    const std::uintptr_t handle = m_nextHandle;
    m_nextHandle += 4;
    m_opens[handle] = Open{key, access, shareMode, 0, false};
    return reinterpret_cast<HANDLE>(handle);
}

BOOL CFakeFiles::CloseHandle(HANDLE file) {
    if (FindOpen(file) == nullptr) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    m_opens.erase(reinterpret_cast<std::uintptr_t>(file));
    return 1;
}

DWORD CFakeFiles::GetFileSize(HANDLE file) {
    if (Fail("GetFileSize")) return INVALID_FILE_SIZE;
    Open* open = FindOpen(file);
    if (open == nullptr) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return INVALID_FILE_SIZE;
    }
    return static_cast<DWORD>(m_nodes.at(open->key).data.size());
}

DWORD CFakeFiles::SetFilePointer(HANDLE file, LONG distance, DWORD origin) {
    if (Fail("SetFilePointer")) return INVALID_SET_FILE_POINTER;
    Open* open = FindOpen(file);
    if (open == nullptr) {
        m_machine.lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t base = 0;
    if (origin == FILE_CURRENT) base = static_cast<std::int64_t>(open->position);
    else if (origin == FILE_END) base = static_cast<std::int64_t>(m_nodes.at(open->key).data.size());
    else if (origin != FILE_BEGIN) {
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    const std::int64_t target = base + distance;
    if (target < 0) {
        m_machine.lastError = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    open->position = static_cast<std::size_t>(target);
    m_machine.lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(target);
}

BOOL CFakeFiles::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
    if (read) *read = 0;
    if (Fail("ReadFile")) return 0;
    Open* open = FindOpen(file);
    if (open == nullptr || !(open->access & GENERIC_READ)) {
        m_machine.lastError = open == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED;
        return 0;
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
    Open* open = FindOpen(file);
    if (open == nullptr || !(open->access & GENERIC_WRITE)) {
        m_machine.lastError = open == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED;
        return 0;
    }
    std::vector<std::uint8_t>& data = m_nodes.at(open->key).data;
    if (data.size() < open->position + size) data.resize(open->position + size);
    if (size != 0) std::memcpy(data.data() + open->position, buffer, size);
    open->position += size;
    if (written) *written = size;
    return 1;
}

void CFakeFiles::PutFile(const std::string& path, const std::vector<std::uint8_t>& content, DWORD attributes) {
    const std::string key = NormalizePath(path);
    MakeDirectory(ParentPath(key));
    Node& node = m_nodes[key];
    node.name = key;
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

void CFakeFiles::Lock(const std::string& path, DWORD access, DWORD shareMode) {
    const std::uintptr_t handle = m_nextHandle;
    m_nextHandle += 4;
    m_opens[handle] = Open{NormalizePath(path), access, shareMode, 0, true};
}

void CFakeFiles::Unlock(const std::string& path) {
    PathLess less;
    const std::string key = NormalizePath(path);
    for (auto it = m_opens.begin(); it != m_opens.end();) {
        const bool same = !less(it->second.key, key) && !less(key, it->second.key);
        it = (same && it->second.external) ? m_opens.erase(it) : std::next(it);
    }
}

std::size_t CFakeFiles::OpenHandleCount() const {
    return static_cast<std::size_t>(
        std::count_if(m_opens.begin(), m_opens.end(), [](const auto& entry) { return !entry.second.external; }));
}

std::vector<std::string> CFakeFiles::ListFiles() const {
    std::vector<std::string> names;
    for (const auto& [key, node] : m_nodes) {
        if (!node.directory) names.push_back(node.name);
    }
    return names;
}

}  // namespace fake
