// What an elevated program may trust on a machine where ordinary users share folders with it
// (a download folder, SYSTEM's temporary folder): random names, folders of its own, writes
// that never go through a link or into a file someone else made, and the question whether
// others can change a file it is about to run.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

// Access lists in SDDL form, protected from what the parent folder passes on.
// The private folder of one run: SYSTEM and administrators only.
constexpr const char* SDDL_PRIVATE_FOLDER = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// What Program Files has: SYSTEM and administrators full control, users read and run.
constexpr const char* SDDL_PROGRAM_FOLDER = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// A named object only SYSTEM and administrators can open.
constexpr const char* SDDL_ADMIN_OBJECT = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// count digits 1..9 from the system's cryptographic generator; false when it fails.
bool RandomDigits(std::size_t count, std::string* digits);

// Makes parent\<8 random digits> with the private access list. The call fails when the name
// exists (another name is tried then); false when no folder could be made.
bool CreatePrivateFolder(const std::string& parent, std::string* folder);

// A file opened for an elevated write in a folder others may write to.
struct TrustedFile {
    os::KernelHandle handle;
    std::string path;      // where the data goes
    bool renamed = false;  // the name asked for was taken: path is a fresh one beside it
};

enum class WriteStart { Empty, End };

// Opens path for reading and writing (sharing share) without following a link. A file already there is
// used only when it is a plain file with one name, owned by SYSTEM, administrators or this
// program's own account; anything else at the name (a hard link, a reparse point, a folder,
// a file someone else made) is taken away, or, when it cannot be, the data goes to a fresh
// name beside it ("name-DDDDDDDD.ext"). start: an existing file of ours is emptied, or
// written on at its end. False when no file could be had.
bool OpenForTrustedWrite(const std::string& path, os::DWORD share, WriteStart start, TrustedFile* file);

// Writes the whole content of from (opened for reading) into to at its position; from
// ends up at its end again. False when a read or a write failed.
bool CopyFileContent(os::HANDLE from, os::HANDLE to);

// True when someone other than SYSTEM, administrators, the installer service and this
// program's own account may change path (write it, add to or delete from a folder, change
// its access list or owner), or when that cannot be told.
bool OthersCanChange(const std::string& path);
