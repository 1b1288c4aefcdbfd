// Byte layout of the package appended to an installer file.
//
// All integers are unsigned 32-bit little-endian; there is no padding. Offsets in the
// header are counted from the first magic byte, offsets in an entry from its first byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

// The magic, 31 bytes without terminator.
constexpr char PACKAGE_MAGIC[] = "Velotrinex LLC installer system";
constexpr std::size_t PACKAGE_MAGIC_SIZE = sizeof(PACKAGE_MAGIC) - 1;
static_assert(PACKAGE_MAGIC_SIZE == 31, "the magic is 31 bytes");

// Header: magic, key byte, check block (bytes 0..31 each XORed with the key), data length,
// entry count, MD5 of the entry region.
constexpr std::size_t PACKAGE_KEY_OFFSET = 31;
constexpr std::size_t PACKAGE_CHECK_OFFSET = 32;
constexpr std::size_t PACKAGE_CHECK_SIZE = 32;
constexpr std::size_t PACKAGE_DATA_LENGTH_OFFSET = 64;
constexpr std::size_t PACKAGE_ENTRY_COUNT_OFFSET = 68;
constexpr std::size_t PACKAGE_DIGEST_OFFSET = 72;
constexpr std::size_t PACKAGE_HEADER_SIZE = 88;

// Entry: packed size, name length, MD5 of the inflated content, name, zlib stream.
constexpr std::size_t ENTRY_PACKED_SIZE_OFFSET = 0;
constexpr std::size_t ENTRY_NAME_LENGTH_OFFSET = 4;
constexpr std::size_t ENTRY_DIGEST_OFFSET = 8;
constexpr std::size_t ENTRY_HEADER_SIZE = 24;

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Returns the first byte of the first package header in the buffer (magic followed by a
// valid check block), or null. Copies of the magic without a valid check block, such as
// the constant above inside a program's own data, are passed over.
const std::uint8_t* FindPackageHeader(const std::uint8_t* buffer, std::size_t length);

}  // namespace package
