#include "pack/package_writer.h"

#include <zlib.h>

#include <cstring>
#include <set>

#include "package/md5.h"
#include "package/package_layout.h"

namespace package {

std::string CheckEntries(const std::vector<PackEntry>& entries) {
    std::set<std::string> names;
    for (const PackEntry& entry : entries) {
        const std::string quoted = "\"" + entry.name + "\"";
        if (entry.name.empty()) return "an entry has an empty name";
        if (entry.name.size() > MAX_ENTRY_NAME) {
            return "entry name " + quoted + " is longer than " + std::to_string(MAX_ENTRY_NAME) + " bytes";
        }
        for (unsigned char c : entry.name) {
            if (c == '\\' || c == '/' || c == ':') return "entry name " + quoted + " holds a path separator";
            if (c < 32 || std::strchr("<>\"|?*", c) != nullptr) {
                return "entry name " + quoted + " holds a character Windows does not allow in file names";
            }
        }
        if (!names.insert(entry.name).second) return "entry name " + quoted + " occurs twice";
        if (entry.content.empty()) return "entry " + quoted + " is empty; a package carries no empty files";
        if (entry.content.size() > UINT32_MAX) return "entry " + quoted + " is larger than 4 GiB";
    }
    return "";
}

std::vector<std::uint8_t> BuildPackage(const std::vector<PackEntry>& entries, int key) {
    const std::string problem = CheckEntries(entries);
    if (!problem.empty()) throw std::invalid_argument(problem);

    std::vector<std::uint8_t> region;
    for (const PackEntry& entry : entries) {
        uLongf packedSize = compressBound(static_cast<uLong>(entry.content.size()));
        std::vector<std::uint8_t> packed(packedSize);
        if (compress2(packed.data(), &packedSize, entry.content.data(), static_cast<uLong>(entry.content.size()),
                      Z_BEST_COMPRESSION) != Z_OK) {
            throw std::runtime_error("zlib could not compress \"" + entry.name + "\"");
        }
        std::uint8_t fixed[ENTRY_HEADER_SIZE];
        WriteLe32(fixed + ENTRY_PACKED_SIZE_OFFSET, static_cast<std::uint32_t>(packedSize));
        WriteLe32(fixed + ENTRY_NAME_LENGTH_OFFSET, static_cast<std::uint32_t>(entry.name.size()));
        md5::Digest(entry.content.data(), entry.content.size(), fixed + ENTRY_DIGEST_OFFSET);
        region.insert(region.end(), fixed, fixed + sizeof fixed);
        region.insert(region.end(), entry.name.begin(), entry.name.end());
        region.insert(region.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packedSize));
        if (region.size() > UINT32_MAX) throw std::invalid_argument("the package is larger than 4 GiB");
    }

    std::vector<std::uint8_t> package(PACKAGE_HEADER_SIZE);
    std::uint8_t* header = package.data();
    std::memcpy(header, PACKAGE_MAGIC, PACKAGE_MAGIC_SIZE);
    md5::Digest(region.data(), region.size(), header + PACKAGE_DIGEST_OFFSET);
    header[PACKAGE_KEY_OFFSET] = static_cast<std::uint8_t>(key >= 0 ? key : header[PACKAGE_DIGEST_OFFSET]);
    for (std::size_t k = 0; k < PACKAGE_CHECK_SIZE; ++k) {
        header[PACKAGE_CHECK_OFFSET + k] = header[k] ^ header[PACKAGE_KEY_OFFSET];
    }
    WriteLe32(header + PACKAGE_DATA_LENGTH_OFFSET, static_cast<std::uint32_t>(region.size()));
    WriteLe32(header + PACKAGE_ENTRY_COUNT_OFFSET, static_cast<std::uint32_t>(entries.size()));
    package.insert(package.end(), region.begin(), region.end());
    return package;
}

}  // namespace package
