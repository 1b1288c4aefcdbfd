// MD5 message digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

namespace md5 {

constexpr std::size_t DIGEST_SIZE = 16;

class CMd5 {
public:
    CMd5();
    void Update(const void* data, std::size_t size);
    // Writes the 16 digest bytes; the object must be reset before it is used again.
    void Final(std::uint8_t digest[DIGEST_SIZE]);
    void Reset();

private:
    void Transform(const std::uint8_t* blocks, std::size_t count);

    std::uint32_t m_state[4];
    std::uint64_t m_length;  // bytes hashed so far
    std::uint8_t m_buffer[64];
};

void Digest(const void* data, std::size_t size, std::uint8_t digest[DIGEST_SIZE]);

}  // namespace md5
