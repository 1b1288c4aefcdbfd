// Checks the files given for a package against the entries of its edition, before
// anything is written: a release must carry exactly the edition's files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/package_writer.h"
#include "product/package_contents.h"

namespace package {

// One file given for the package: its entry name, where it came from and its size.
struct EntrySource {
    std::string name;
    std::string path;
    std::uint64_t size;
};

// Every problem, one line each, in the order the files were given and then the missing
// entries in stored order; empty when the files are exactly the edition's entries.
std::vector<std::string> CheckEditionEntries(const PackageContents& edition, const std::vector<EntrySource>& sources);

// The entries put into the edition's stored order. Only for a list that passed the check.
std::vector<PackEntry> InStoredOrder(const PackageContents& edition, std::vector<PackEntry> entries);

}  // namespace package
