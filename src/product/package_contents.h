// The entries each edition's package carries, in the order they are stored, as the
// editions' tables give them. The packing tool checks a package's files against these and
// the build takes the names of the stand-ins from it: the host's view of the tables.
#pragma once

#include <string>
#include <vector>

struct PackageContents {
    const char* edition;               // "workstation" or "server"
    std::vector<const char*> entries;  // exact names, in stored order
};

// Both editions, workstation first.
const std::vector<PackageContents>& AllPackageContents();

// The edition of that name, or null.
const PackageContents* FindPackageContents(const std::string& edition);
