#include "package/package_layout.h"

#include <cstring>

namespace package {

namespace {

bool CheckBlockMatches(const std::uint8_t* header) {
    const std::uint8_t key = header[PACKAGE_KEY_OFFSET];
    for (std::size_t k = 0; k < PACKAGE_CHECK_SIZE; ++k) {
        if (header[PACKAGE_CHECK_OFFSET + k] != static_cast<std::uint8_t>(header[k] ^ key)) return false;
    }
    return true;
}

}  // namespace

const std::uint8_t* FindPackageHeader(const std::uint8_t* buffer, std::size_t length) {
    constexpr std::size_t candidateSize = PACKAGE_CHECK_OFFSET + PACKAGE_CHECK_SIZE;
    if (buffer == nullptr || length < candidateSize) return nullptr;
    const std::uint8_t* const last = buffer + (length - candidateSize);  // last possible start
    const auto first = static_cast<std::uint8_t>(PACKAGE_MAGIC[0]);
    const std::uint8_t* p = buffer;
    // Every position is a possible start: after a partial match or a rejected check block
    // the search resumes at the next byte, never behind the bytes it has looked at.
    while (p <= last) {
        p = static_cast<const std::uint8_t*>(std::memchr(p, first, static_cast<std::size_t>(last - p) + 1));
        if (p == nullptr) return nullptr;
        if (std::memcmp(p, PACKAGE_MAGIC, PACKAGE_MAGIC_SIZE) == 0 && CheckBlockMatches(p)) return p;
        ++p;
    }
    return nullptr;
}

}  // namespace package
