// LoadFromFile on a realistic package, side by side with the floor: zlib's one-shot
// uncompress into preallocated buffers plus OpenSSL's MD5 over the same bytes.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "pack/package_writer.h"
#include "package/package_layout.h"
#include "package/packed_tools.h"
#include "platform/constants.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Executable-like data: short instruction-ish records, tables and strings; text: words.
Bytes ExecutableLike(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        const std::size_t block = (i / 512) % 4;
        if (block == 0) out[i] = static_cast<std::uint8_t>(x >> 24);                  // packed code
        else if (block == 1) out[i] = static_cast<std::uint8_t>((x >> 28) * 3);       // opcodes, small alphabet
        else if (block == 2) out[i] = i % 8 < 4 ? static_cast<std::uint8_t>(i >> 3) : 0;  // tables
        else out[i] = static_cast<std::uint8_t>("GetProcAddress\0kernel32.dll\0"[i % 28]);
    }
    return out;
}

Bytes TextLike(std::size_t size, std::uint32_t seed) {
    static const char* words[] = {"device ", "share ", "the ", "session ", "USB ", "remote ", "driver ",
                                  "install ", "license ", "of ", "and ", "Tessaport ", "\r\n"};
    Bytes out;
    std::uint32_t x = seed;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        const char* w = words[(x >> 16) % 13];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(size);
    return out;
}

// About 20 entries, about 5 MB inflated, as an installer carries them.
struct Fixture {
    Fixture() {
        const std::size_t sizes[] = {1400000, 900000, 30000, 60000, 400000, 8000, 350000, 120000, 70000, 60000,
                                     110000,  12000,  9000,  12000, 300000, 500000, 600000, 310000, 40000, 40000};
        for (std::size_t i = 0; i < 20; ++i) {
            const bool text = i == 2 || i == 3 || i == 5 || i == 12;
            entries.push_back({"entry" + std::to_string(i),
                               text ? TextLike(sizes[i], static_cast<std::uint32_t>(i))
                                    : ExecutableLike(sizes[i], static_cast<std::uint32_t>(i))});
            inflated += sizes[i];
        }
        Bytes image = ExecutableLike(250000, 77);
        const Bytes package = package::BuildPackage(entries);
        file = image;
        file.insert(file.end(), package.begin(), package.end());
        machine.files.PutFile("C:\\bench\\setup.exe", file);

        // Locations of the streams for the floor.
        const std::uint8_t* p = file.data() + image.size() + package::PACKAGE_HEADER_SIZE;
        region = p;
        regionSize = package.size() - package::PACKAGE_HEADER_SIZE;
        for (const auto& entry : entries) {
            const std::uint32_t packedSize = package::ReadLe32(p);
            const std::uint32_t nameLength = package::ReadLe32(p + 4);
            streams.push_back({p + 24 + nameLength, packedSize, entry.content.size()});
            p += 24 + nameLength + packedSize;
        }
    }

    struct Stream {
        const std::uint8_t* packed;
        std::size_t packedSize;
        std::size_t size;
    };
    fake::CFakeMachine machine;
    std::vector<package::PackEntry> entries;
    Bytes file;
    const std::uint8_t* region = nullptr;
    std::size_t regionSize = 0;
    std::vector<Stream> streams;
    std::size_t inflated = 0;
};

void Md5(const void* data, std::size_t size, unsigned char* digest) {
    unsigned int length = 0;
    EVP_Digest(data, size, digest, &length, EVP_md5(), nullptr);
}

Fixture& TheFixture() {
    static Fixture fixture;
    return fixture;
}

void BM_LoadFromFile(benchmark::State& state) {
    Fixture& f = TheFixture();
    for (auto _ : state) {
        CPackedTools tools;
        os::KernelHandle file(os::Files().CreateFileA("C:\\bench\\setup.exe", os::GENERIC_READ,
                                                    os::FILE_SHARE_READ | os::FILE_SHARE_WRITE, os::OPEN_EXISTING,
                                                    os::FILE_ATTRIBUTE_NORMAL));
        if (tools.LoadFromFile(file.Get()) != 1) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(tools.GetFileCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.inflated));
}

void BM_Floor_UncompressAndOpenSslMd5(benchmark::State& state) {
    Fixture& f = TheFixture();
    std::vector<Bytes> outputs;
    for (const auto& s : f.streams) outputs.emplace_back(s.size);
    for (auto _ : state) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        Md5(f.region, f.regionSize, digest);
        benchmark::DoNotOptimize(digest);
        for (std::size_t i = 0; i < f.streams.size(); ++i) {
            uLongf size = static_cast<uLongf>(outputs[i].size());
            if (uncompress(outputs[i].data(), &size, f.streams[i].packed, static_cast<uLong>(f.streams[i].packedSize)) !=
                Z_OK) {
                state.SkipWithError("uncompress failed");
            }
            Md5(outputs[i].data(), size, digest);
            benchmark::DoNotOptimize(digest);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.inflated));
}

BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Floor_UncompressAndOpenSslMd5)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
