#include "product/edition.h"

#include <cstring>

#include "platform/constants.h"
#include "platform/platform.h"

std::string JoinPath(const std::string& dir, const char* name) {
    std::string path(dir);
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name;
    return path;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool PlacedByEarlierRow(const EditionInfo& info, const EditionFile& file) {
    for (const EditionFile& earlier : info.files) {
        if (&earlier == &file) return false;
        if (earlier.folder == file.folder && std::strcmp(InstalledName(earlier), InstalledName(file)) == 0) return true;
    }
    return false;
}

std::string LinkFileName(const EditionLink& link) {
    std::string name = link.name;
    if (link.place != EditionLinkPlace::MenuWeb) name += ".lnk";
    return name;
}

bool QueryFolder(os::DWORD (*query)(char* buffer, os::DWORD size), std::string* folder) {
    char path[os::MAX_PATH] = {};
    const os::DWORD length = query(path, os::MAX_PATH);
    if (length == 0) return false;
    if (length >= os::MAX_PATH) {
        os::Kernel().SetLastError(os::ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    folder->assign(path, length);
    return true;
}

bool ResolveEditionFolder(EditionFolder folder, const std::string& targetFolder, std::string* path) {
    switch (folder) {
        case EditionFolder::System:
        case EditionFolder::Drivers:
            if (!QueryFolder([](char* b, os::DWORD n) { return os::Kernel().GetSystemDirectoryA(b, n); }, path)) {
                return false;
            }
            if (folder == EditionFolder::Drivers) *path += "\\Drivers";
            return true;
        case EditionFolder::Wow64:
            return QueryFolder([](char* b, os::DWORD n) { return os::Kernel().GetSystemWow64DirectoryA(b, n); },
                               path);
        case EditionFolder::Target:
            *path = targetFolder;
            return !path->empty();
    }
    return false;
}

bool FirewallProgramPath(const EditionInfo& info, std::string* path) {
    std::string system;
    if (!ResolveEditionFolder(EditionFolder::System, std::string(), &system)) return false;
    *path = JoinPath(system, info.serviceProgramName);
    return true;
}
