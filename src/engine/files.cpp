// Payload files and directories: written with a backup first, in-use files replaced at
// the next restart, and all of it undone by the rollback phases 3 to 5.
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "engine/installer.h"
#include "engine/trust.h"
#include "package/md5.h"
#include "platform/constants.h"

namespace {

// Where a file or directory operation fails (module 19).
constexpr std::uint16_t LOCATION_BACKUP = 423;          // the copy of a file about to be overwritten
constexpr std::uint16_t LOCATION_CREATE = 618;          // a new file
constexpr std::uint16_t LOCATION_WRITE = 676;           // the content, new or overwritten
constexpr std::uint16_t LOCATION_PENDING_CREATE = 640;  // the file beside one in use
constexpr std::uint16_t LOCATION_PENDING_WRITE = 650;
constexpr std::uint16_t LOCATION_PENDING_MOVE = 659;    // its move over the target at the next start
constexpr std::uint16_t LOCATION_DIRECTORY = 723;

std::string JoinPath(const char* dir, const char* name) {
    std::string path(dir);
    path += '\\';
    path += name;
    return path;
}

constexpr os::DWORD NO_LINK_FOLLOWED = os::FILE_ATTRIBUTE_NORMAL | os::FILE_FLAG_OPEN_REPARSE_POINT;

// The file at path, for writing, never through a link: a name that is a hard link or a
// reparse point (planted where others can write) is taken away and a file of our own made in
// its place. Its content was saved by the backup.
os::HANDLE OpenTargetForWrite(const std::string& path) {
    os::KernelHandle file(os::Files().CreateFileA(path.c_str(), os::GENERIC_WRITE, 0, os::OPEN_EXISTING,
                                                  NO_LINK_FOLLOWED));
    if (!file.IsValid()) return os::InvalidHandle();
    os::DWORD attributes = 0, links = 0;
    if (os::Files().GetFileInformationByHandle(file.Get(), &attributes, &links) && links == 1 &&
        (attributes & os::FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return file.Release();
    }
    file.Reset();
    if (!os::Files().DeleteFileA(path.c_str())) return os::InvalidHandle();
    return os::Files().CreateFileA(path.c_str(), os::GENERIC_WRITE, 0, os::CREATE_NEW, NO_LINK_FOLLOWED);
}

// Truncates and writes the whole block in one call; false on a short write, with the
// reason in the last error.
bool WriteWhole(os::HANDLE file, const void* data, std::uint32_t size) {
    os::Files().SetEndOfFile(file);
    os::DWORD written = 0;
    return os::Files().WriteFile(file, data, size, &written) && written >= size;
}

}  // namespace

std::string CInstaller::MakeTempFileName(const char* name, const char* dir) {
    std::string path = JoinPath(dir, name);
    path += '_';
    std::string digits;
    if (!RandomDigits(8, &digits)) {
        // Never fails: without the generator the name is only less unlikely. Every user of
        // the name creates it new, so a name someone guessed only makes that step fail.
        os::DWORD ticks = os::Kernel().GetTickCount();
        digits.clear();
        for (int i = 0; i < 8; ++i, ticks /= 9) digits += static_cast<char>('1' + ticks % 9);
    }
    path += digits;
    path += ".tmp";
    return path;
}

void CInstaller::BackupFile(const char* name, const char* dir) {
    const std::string target = JoinPath(dir, name);
    const std::string backup = MakeTempFileName(name, dir) + ".backup";
    if (!os::Files().CopyFileA(target.c_str(), backup.c_str(), 1)) ThrowEngineError(LOCATION_BACKUP);
    m_journal.RecordBackup(target, backup);
}

void CInstaller::InstallFile(const char* name, const char* dir, const void* data, std::uint32_t size) {
    const std::string target = JoinPath(dir, name);
    Log("Install File: ", target.c_str());

    os::FindData found;
    const bool exists = os::FindHandle(os::Files().FindFirstFileA(target.c_str(), &found)).IsValid();

    if (!exists) {
        // Never CREATE_ALWAYS here: when the search failed for another reason than absence,
        // a file that is there after all would be overwritten without a backup and then
        // deleted by a rollback as one of ours.
        os::KernelHandle file(
            os::Files().CreateFileA(target.c_str(), os::GENERIC_WRITE, 0, os::CREATE_NEW, os::FILE_ATTRIBUTE_NORMAL));
        if (!file.IsValid()) ThrowEngineError(LOCATION_CREATE);
        // Journalled before writing: a failed write still leaves the file to the rollback.
        RecordInstalledFile(target.c_str());
        if (!WriteWhole(file.Get(), data, size)) ThrowEngineError(LOCATION_WRITE);
        m_journal.RecordPlaced(target, size);
        return;
    }

    BackupFile(name, dir);
    {
        os::KernelHandle file(OpenTargetForWrite(target));
        if (file.IsValid()) {
            if (!WriteWhole(file.Get(), data, size)) ThrowEngineError(LOCATION_WRITE);
            m_journal.RecordPlaced(target, size);
            return;
        }
    }

    // In use or read-only: the new content waits beside the target for the next start.
    const std::string temp = MakeTempFileName(name, dir);
    os::KernelHandle file(os::Files().CreateFileA(temp.c_str(), os::GENERIC_WRITE, 0, os::CREATE_NEW, NO_LINK_FOLLOWED));
    if (!file.IsValid()) ThrowEngineError(LOCATION_PENDING_CREATE);
    RecordInstalledFile(temp.c_str());
    std::uint16_t failedAt = 0;
    os::DWORD error = 0;
    if (!WriteWhole(file.Get(), data, size)) {
        failedAt = LOCATION_PENDING_WRITE;
        error = os::Kernel().GetLastError();
    }
    file.Reset();
    RequireReboot();
    if (!os::Files().MoveFileExA(temp.c_str(), target.c_str(),
                                 os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_DELAY_UNTIL_REBOOT)) {
        failedAt = LOCATION_PENDING_MOVE;
        error = os::Kernel().GetLastError();
    }
    if (failedAt != 0) ThrowEngineError(failedAt, error);
    m_journal.RecordPlaced(target, size);  // it becomes the target at the next start
}

void CInstaller::CreateInstallDirectory(const char* path) {
    Log("CreateDirectory: ", path);
    // Made outside Program Files, a folder would take its parent's access list, which may let
    // every user change the programs an administrator later runs from it.
    if (os::Files().CreateDirectoryA(path, SDDL_PROGRAM_FOLDER)) {
        RecordCreatedDirectory(path);
        return;
    }
    const os::DWORD error = os::Kernel().GetLastError();
    // A directory that was already there is never removed by a rollback.
    if (error != os::ERROR_ALREADY_EXISTS) ThrowEngineError(LOCATION_DIRECTORY, error);
}

void CInstaller::RemoveInstallFiles() {
    for (const auto& [path, kind] : m_journal.Entries()) {
        if (kind != JOURNAL_FILE) continue;
        Log("RemoveInstallFiles: ", path.c_str());
        if (!os::Files().DeleteFileA(path.c_str())) {
            os::Files().MoveFileExA(path.c_str(), nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT);
            RequireReboot();
        }
    }
}

void CInstaller::RollBackInstallFiles() {
    m_journal.RestoreBackups([this](const std::string& target, const std::string& backup) {
        Log("RollBackInstallFiles: ", target.c_str());
        if (os::Files().MoveFileExA(backup.c_str(), target.c_str(), os::MOVEFILE_REPLACE_EXISTING)) return true;
        os::Files().MoveFileExA(backup.c_str(), target.c_str(),
                                os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_DELAY_UNTIL_REBOOT);
        RequireReboot();
        return false;
    });
}

void CInstaller::RemoveInstallDirectories() {
    for (const auto& [path, kind] : m_journal.Entries()) {
        if (kind == JOURNAL_DIRECTORY) os::Files().RemoveDirectoryA(path.c_str());
    }
}

bool CInstaller::FileDigest(const char* path, std::string* digest) {
    os::KernelHandle file(
        os::Files().CreateFileA(path, os::GENERIC_READ, os::FILE_SHARE_READ, os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL));
    if (!file.IsValid()) return false;
    const os::DWORD size = os::Files().GetFileSize(file.Get());
    if (size == os::INVALID_FILE_SIZE || size > MAX_DIGEST_FILE_SIZE) return false;
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size > 0 ? size : 1]);
    if (!data) return false;
    // Read to the size found; a file that ends early or goes on is not the one measured.
    os::DWORD total = 0;
    while (total < size) {
        os::DWORD read = 0;
        if (!os::Files().ReadFile(file.Get(), data.get() + total, size - total, &read) || read == 0) return false;
        if (read > size - total) return false;
        total += read;
    }
    std::uint8_t probe = 0;
    os::DWORD extra = 0;
    if (!os::Files().ReadFile(file.Get(), &probe, 1, &extra) || extra != 0) return false;

    std::uint8_t bytes[md5::DIGEST_SIZE];
    md5::Digest(data.get(), size, bytes);
    std::string hex;
    for (std::uint8_t b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(b));
        hex += pair;
    }
    *digest = hex;
    return true;
}
