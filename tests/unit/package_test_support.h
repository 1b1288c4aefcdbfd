// Building packages, well-formed or deliberately broken, for the reader's tests.
#pragma once

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/md5.h"
#include "package/package_layout.h"
#include "pack/package_writer.h"

namespace testpkg {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Deterministic content that compresses like a mix of code and text.
inline Bytes MakeContent(std::size_t size, unsigned seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = (i / 64) % 3 == 0 ? static_cast<std::uint8_t>(x >> 24) : static_cast<std::uint8_t>("setup "[i % 6]);
    }
    return out;
}

inline Bytes Compress(const Bytes& content, int level = Z_BEST_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(content.size()));
    Bytes out(size);
    compress2(out.data(), &size, content.data(), static_cast<uLong>(content.size()), level);
    out.resize(size);
    return out;
}

// One entry with every field given as is, so a test can make it lie.
struct RawEntry {
    std::string name;
    Bytes packed;
    Bytes content;  // what the digest is taken of
    std::uint32_t packedSizeField = 0xFFFFFFFFu;   // default: packed.size()
    std::uint32_t nameLengthField = 0xFFFFFFFFu;   // default: name.size()
};

inline RawEntry Raw(const std::string& name, const Bytes& content) {
    return RawEntry{name, Compress(content), content};
}

inline Bytes EntryRegion(const std::vector<RawEntry>& entries) {
    Bytes region;
    for (const RawEntry& e : entries) {
        std::uint8_t fixed[package::ENTRY_HEADER_SIZE];
        package::WriteLe32(fixed + package::ENTRY_PACKED_SIZE_OFFSET,
                           e.packedSizeField != 0xFFFFFFFFu ? e.packedSizeField
                                                            : static_cast<std::uint32_t>(e.packed.size()));
        package::WriteLe32(fixed + package::ENTRY_NAME_LENGTH_OFFSET,
                           e.nameLengthField != 0xFFFFFFFFu ? e.nameLengthField
                                                            : static_cast<std::uint32_t>(e.name.size()));
        md5::Digest(e.content.data(), e.content.size(), fixed + package::ENTRY_DIGEST_OFFSET);
        region.insert(region.end(), fixed, fixed + sizeof fixed);
        region.insert(region.end(), e.name.begin(), e.name.end());
        region.insert(region.end(), e.packed.begin(), e.packed.end());
    }
    return region;
}

// Header over a region. The digest is that of the first digestLength bytes of the
// region (default: all of it), so a lying data length can still carry a matching digest.
inline Bytes Header(const Bytes& region, std::uint32_t entryCount, std::uint8_t key, std::uint32_t dataLength,
                    std::size_t digestLength) {
    Bytes header(package::PACKAGE_HEADER_SIZE);
    std::memcpy(header.data(), package::PACKAGE_MAGIC, package::PACKAGE_MAGIC_SIZE);
    header[package::PACKAGE_KEY_OFFSET] = key;
    for (std::size_t k = 0; k < package::PACKAGE_CHECK_SIZE; ++k) {
        header[package::PACKAGE_CHECK_OFFSET + k] = header[k] ^ key;
    }
    package::WriteLe32(&header[package::PACKAGE_DATA_LENGTH_OFFSET], dataLength);
    package::WriteLe32(&header[package::PACKAGE_ENTRY_COUNT_OFFSET], entryCount);
    md5::Digest(region.data(), digestLength, &header[package::PACKAGE_DIGEST_OFFSET]);
    return header;
}

inline Bytes Assemble(const std::vector<RawEntry>& entries, std::uint8_t key = 0x5A) {
    Bytes region = EntryRegion(entries);
    Bytes out = Header(region, static_cast<std::uint32_t>(entries.size()), key,
                       static_cast<std::uint32_t>(region.size()), region.size());
    out.insert(out.end(), region.begin(), region.end());
    return out;
}

// A stand-in executable image for a package to follow.
inline Bytes FakeImage(std::size_t size = 4096) {
    Bytes image = MakeContent(size, 99);
    image[0] = 'M';
    image[1] = 'Z';
    return image;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace testpkg
