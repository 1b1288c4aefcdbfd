// Builds the package that is appended to an installer image.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace package {

struct PackEntry {
    std::string name;
    std::vector<std::uint8_t> content;
};

// Longest entry name accepted: a file name component on Windows.
constexpr std::size_t MAX_ENTRY_NAME = 255;

// Why an entry list cannot be packed, or "" when it can.
std::string CheckEntries(const std::vector<PackEntry>& entries);

// The whole package, in the given order, every stream at the highest level. The key byte
// is taken from the package digest unless one is given (0..255). Throws
// std::invalid_argument with CheckEntries' reason for a list that cannot be packed.
std::vector<std::uint8_t> BuildPackage(const std::vector<PackEntry>& entries, int key = -1);

}  // namespace package
