// The package reader: finds the package behind the installer's own image, verifies it
// and inflates every entry into an in-memory table of named files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "package/keyed_table.h"
#include "platform/types.h"

// Package status values.
constexpr int PACK_OK = 0;
constexpr int PACK_E_READ = -1;
constexpr int PACK_E_DAMAGED = -2;
constexpr int PACK_E_NOMEM = -3;

// One inflated entry. The content block belongs to the reader; it stays valid until
// CPackedTools::Clear or the reader's destruction.
struct PackedFile {
    const std::uint8_t* content = nullptr;
    std::uint32_t size = 0;
};

class CPackedTools {
public:
    static constexpr int CHUNK_SIZE = 16384;

    CPackedTools();
    virtual ~CPackedTools();
    CPackedTools(const CPackedTools&) = delete;
    CPackedTools& operator=(const CPackedTools&) = delete;

    // Loads the package of the running program. 1 when loaded, else 0 (see GetStatus).
    int LoadFromSelf();
    // Loads the package of an open file; the handle stays open. 1 when loaded, else 0.
    int LoadFromFile(os::HANDLE file);
    // Inflates one zlib stream into out. Returns zlib's code of the last step; out holds
    // the whole content on success and is empty on any failure.
    int InflateEntry(std::string& out, const std::uint8_t* packed, std::uint32_t packedSize);
    // 1 and both outputs set when an entry of exactly this name exists, else 0.
    int FindFile(const char* name, const std::uint8_t** content, std::uint32_t* size) const;
    void Clear();

    int GetStatus() const { return m_status; }
    std::size_t GetFileCount() const { return m_files.size(); }

private:
    int LoadSelf();
    int LoadFile(os::HANDLE file);
    int LoadFromImage(const std::uint8_t* image, std::size_t imageSize);
    int OutOfMemory();  // empties the table, sets PACK_E_NOMEM, returns 0

    int m_status;
    std::uint8_t* m_chunk;
    int m_chunkSize;
    CKeyedTable<PackedFile> m_files;
};
