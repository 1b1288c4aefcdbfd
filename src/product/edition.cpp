#include "product/edition.h"

#include "platform/constants.h"
#include "platform/platform.h"

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
