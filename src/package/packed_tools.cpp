#include "package/packed_tools.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "package/md5.h"
#include "package/package_layout.h"
#include "platform/constants.h"
#include "platform/platform.h"

using namespace package;

namespace {

bool DigestMatches(const std::uint8_t* data, std::size_t size, const std::uint8_t* expected) {
    std::uint8_t digest[md5::DIGEST_SIZE];
    md5::Digest(data, size, digest);
    return std::memcmp(digest, expected, md5::DIGEST_SIZE) == 0;
}

}  // namespace

CPackedTools::CPackedTools() : m_status(PACK_OK), m_chunk(nullptr), m_chunkSize(CHUNK_SIZE) {
    m_chunk = new (std::nothrow) std::uint8_t[CHUNK_SIZE];
    if (m_chunk == nullptr) {
        m_chunkSize = 0;
        m_status = PACK_E_NOMEM;
    }
}

CPackedTools::~CPackedTools() {
    Clear();
    delete[] m_chunk;
}

// The reader never throws: memory that runs out anywhere in a load is its status.
int CPackedTools::LoadFromSelf() {
    try {
        return LoadSelf();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

int CPackedTools::LoadFromFile(os::HANDLE file) {
    try {
        return LoadFile(file);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

int CPackedTools::OutOfMemory() {
    Clear();
    m_status = PACK_E_NOMEM;
    return 0;
}

int CPackedTools::LoadSelf() {
    m_status = PACK_E_READ;
    char path[os::MAX_PATH];
    const os::DWORD length = os::Kernel().GetModuleFileNameA(path, sizeof path);
    if (length == 0 || length >= sizeof path) return 0;  // a truncated path names another file
    os::KernelHandle file(os::Files().CreateFileA(path, os::GENERIC_READ,
                                                os::FILE_SHARE_READ | os::FILE_SHARE_WRITE,
                                                os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL));
    if (!file.IsValid()) return 0;
    return LoadFile(file.Get());
}

int CPackedTools::LoadFile(os::HANDLE file) {
    m_status = PACK_OK;
    const os::DWORD size = os::Files().GetFileSize(file);
    if (size == os::INVALID_FILE_SIZE ||
        os::Files().SetFilePointer(file, 0, os::FILE_BEGIN) == os::INVALID_SET_FILE_POINTER) {
        m_status = PACK_E_READ;
        return 0;
    }
    std::unique_ptr<std::uint8_t[]> image(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (!image) {
        m_status = PACK_E_NOMEM;
        return 0;
    }
    os::DWORD read = 0;
    if (!os::Files().ReadFile(file, image.get(), size, &read) || read < size) {
        m_status = PACK_E_READ;
        return 0;
    }
    m_status = LoadFromImage(image.get(), size);
    if (m_status != PACK_OK) Clear();  // a failed load never leaves a partial table
    return m_status == PACK_OK ? 1 : 0;
}

int CPackedTools::LoadFromImage(const std::uint8_t* image, std::size_t imageSize) {
    const std::uint8_t* header = FindPackageHeader(image, imageSize);
    if (header == nullptr) return PACK_E_DAMAGED;
    const std::size_t available = imageSize - static_cast<std::size_t>(header - image);
    if (available < PACKAGE_HEADER_SIZE) return PACK_E_DAMAGED;

    const std::uint32_t dataLength = ReadLe32(header + PACKAGE_DATA_LENGTH_OFFSET);
    std::uint32_t entryCount = ReadLe32(header + PACKAGE_ENTRY_COUNT_OFFSET);
    if (dataLength > available - PACKAGE_HEADER_SIZE) return PACK_E_DAMAGED;
    const std::uint8_t* entry = header + PACKAGE_HEADER_SIZE;
    if (!DigestMatches(entry, dataLength, header + PACKAGE_DIGEST_OFFSET)) return PACK_E_DAMAGED;

    // The digest matched, but a package can still be packed wrong: every size field is
    // checked against what is left of the entry region before it is used.
    std::size_t left = dataLength;
    std::string content;
    for (; entryCount > 0; --entryCount) {
        if (left < ENTRY_HEADER_SIZE) return PACK_E_DAMAGED;
        const std::uint32_t packedSize = ReadLe32(entry + ENTRY_PACKED_SIZE_OFFSET);
        const std::uint32_t nameLength = ReadLe32(entry + ENTRY_NAME_LENGTH_OFFSET);
        if (nameLength > left - ENTRY_HEADER_SIZE ||
            packedSize > left - ENTRY_HEADER_SIZE - nameLength) {
            return PACK_E_DAMAGED;
        }
        const std::uint8_t* name = entry + ENTRY_HEADER_SIZE;
        const std::uint8_t* packed = name + nameLength;

        content.clear();  // keeps its capacity from the entries before
        const int zresult = InflateEntry(content, packed, packedSize);
        if (content.empty()) return zresult == Z_MEM_ERROR ? PACK_E_NOMEM : PACK_E_DAMAGED;

        auto* block = new (std::nothrow) std::uint8_t[content.size()];
        if (block == nullptr) return PACK_E_NOMEM;
        std::memcpy(block, content.data(), content.size());
        if (!DigestMatches(block, content.size(), entry + ENTRY_DIGEST_OFFSET)) {
            delete[] block;
            return PACK_E_DAMAGED;
        }
        try {
            PackedFile& slot = m_files[std::string(reinterpret_cast<const char*>(name), nameLength)];
            delete[] slot.content;  // a repeated name keeps the later content
            slot.content = block;
            slot.size = static_cast<std::uint32_t>(content.size());
        } catch (const std::bad_alloc&) {
            delete[] block;
            return PACK_E_NOMEM;
        }
        const std::size_t entrySize = ENTRY_HEADER_SIZE + nameLength + packedSize;
        entry += entrySize;
        left -= entrySize;
    }
    return PACK_OK;
}

int CPackedTools::InflateEntry(std::string& out, const std::uint8_t* packed, std::uint32_t packedSize) {
    out.clear();
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(packed);
    stream.avail_in = packedSize;
    stream.next_out = m_chunk;
    stream.avail_out = static_cast<uInt>(m_chunkSize);
    if (m_chunk == nullptr || m_chunkSize <= 0) return Z_MEM_ERROR;
    int result = inflateInit(&stream);
    if (result != Z_OK) return result;

    int flush = Z_NO_FLUSH;
    try {
        for (;;) {
            result = inflate(&stream, flush);
            if (result == Z_STREAM_END) break;
            if (result != Z_OK) {
                out.clear();
                inflateEnd(&stream);
                return result;
            }
            if (stream.avail_in == 0 && flush == Z_NO_FLUSH) flush = Z_FINISH;
            if (stream.avail_out == 0) {
                if (out.size() > UINT32_MAX - static_cast<std::size_t>(m_chunkSize)) {
                    // More than a 32-bit size can describe: no real entry is this large.
                    out.clear();
                    inflateEnd(&stream);
                    return Z_DATA_ERROR;
                }
                out.append(reinterpret_cast<const char*>(m_chunk), static_cast<std::size_t>(m_chunkSize));
                stream.next_out = m_chunk;
                stream.avail_out = static_cast<uInt>(m_chunkSize);
            }
        }
        out.append(reinterpret_cast<const char*>(m_chunk),
                   static_cast<std::size_t>(m_chunkSize) - stream.avail_out);
        if (out.size() > UINT32_MAX) {
            out.clear();
            inflateEnd(&stream);
            return Z_DATA_ERROR;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        inflateEnd(&stream);
        return Z_MEM_ERROR;
    }
    return inflateEnd(&stream);
}

int CPackedTools::FindFile(const char* name, const std::uint8_t** content, std::uint32_t* size) const {
    if (name == nullptr) return 0;
    const auto it = m_files.find(std::string_view(name));
    if (it == m_files.end()) return 0;
    if (content != nullptr) *content = it->second.content;
    if (size != nullptr) *size = it->second.size;
    return 1;
}

void CPackedTools::Clear() {
    for (auto& entry : m_files) delete[] entry.second.content;
    m_files.clear();
}
