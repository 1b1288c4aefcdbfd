// tsport_pad: grows a payload stand-in to the size of the product file it stands for, so
// that benchmarks see packages of the real size and about the real compressed size. The
// stand-in keeps working:
//
//   pe      bytes after the image (the loader maps only the sections, as with a signature)
//   binary  bytes at the end of an opaque file (help file, catalogue placeholders)
//   text    lines of words at the end of a text
//   inf     the same lines as INF comments (each begins with "; ")
//   rtf     the same words in an ignorable group ({\*\tsppadding ...}) before the last "}"
//
//   tsport_pad --kind KIND --size BYTES --random PERCENT IN OUT
//
// The padding is made of 4 KiB blocks. PERCENT of them (pe and binary) are random bytes,
// which deflate cannot shrink; the others are executable-like: instruction bytes of a
// skewed alphabet, tables of offsets and names, as a linker lays them out. Text padding is
// words. Everything is derived from the output's file name, so builds are repeatable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t BLOCK = 4096;

class CRandom {
public:
    explicit CRandom(std::uint64_t seed) : m_state(seed | 1) {}
    std::uint32_t Next() {  // xorshift64*
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return static_cast<std::uint32_t>((m_state * 0x2545F4914F6CDD1Dull) >> 32);
    }

private:
    std::uint64_t m_state;
};

std::uint64_t NameSeed(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

const char* const WORDS[] = {"device ", "share ", "the ", "session ", "USB ", "remote ", "driver ", "install ",
                             "license ", "of ", "and ", "to ", "a ", "is ", "Tessaport ", "server ", "client ",
                             "connection ", "may ", "not ", "software ", "use ", "in ", "this ", "agreement ",
                             "for ", "any ", "with ", "by ", "or ", "be ", "you ", "shall ", "terms ", "copy ",
                             "rights ", "product ", "computer ", "network ", "port ", "hub ", "printer ",
                             "scanner ", "camera ", "key ", "token ", "virtual ", "bus ", "host ", "user "};
constexpr std::size_t WORD_COUNT = sizeof WORDS / sizeof WORDS[0];

const char* const NAMES[] = {"CreateFileA", "ReadFile", "WriteFile", "CloseHandle", "DeviceIoControl",
                             "RegOpenKeyExA", "RegQueryValueExA", "WaitForSingleObject", "SetEvent",
                             "IoCreateDevice", "IoDeleteDevice", "KeInitializeSpinLock", "ExAllocatePoolWithTag",
                             "WTSQuerySessionInformationA", "WSAStartup", "connect", "send", "recv",
                             "CUsbDevice", "CSessionChannel", "OnDeviceArrival", "OnDeviceRemoval"};
constexpr std::size_t NAME_COUNT = sizeof NAMES / sizeof NAMES[0];

// One line of words, CR LF at the end; prefix before the words.
std::string TextLine(CRandom& random, const char* prefix) {
    std::string line = prefix;
    const std::size_t words = 8 + random.Next() % 8;
    for (std::size_t i = 0; i < words; ++i) line += WORDS[random.Next() % WORD_COUNT];
    line.back() = '.';
    line += "\r\n";
    return line;
}

std::string TextPadding(std::size_t size, CRandom& random, const char* prefix) {
    std::string text;
    while (text.size() < size) text += TextLine(random, prefix);
    text.resize(size);
    if (size >= 2) text.replace(size - 2, 2, "\r\n");
    return text;
}

void RandomBlock(std::uint8_t* out, std::size_t size, CRandom& random) {
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(random.Next() >> 24);
}

// Code: a few very common bytes (prefixes, moves, calls) among less common ones, with
// 32-bit displacements; tables: ascending offsets; strings: names with their zeros.
void StructuredBlock(std::uint8_t* out, std::size_t size, CRandom& random) {
    static const std::uint8_t common[] = {0x48, 0x89, 0x8B, 0xE8, 0x00, 0xFF, 0x0F, 0x85, 0x84, 0xC3,
                                          0x4C, 0x8D, 0x83, 0x74, 0x75, 0x31, 0xC0, 0x44, 0x24, 0x20};
    const std::uint32_t kind = random.Next() % 8;
    std::size_t i = 0;
    if (kind < 3) {
        while (i < size) {
            const std::uint32_t r = random.Next();
            if (r % 8 == 0 && i + 4 <= size) {
                const std::uint32_t displacement = (r >> 8) % 0x1000;
                for (int b = 0; b < 4; ++b) out[i++] = static_cast<std::uint8_t>(displacement >> (8 * b));
            } else {
                out[i++] = r % 7 == 0 ? static_cast<std::uint8_t>(r >> 16) : common[(r >> 8) % sizeof common];
            }
        }
    } else if (kind < 6) {
        std::uint32_t offset = random.Next() % 0x100000;
        while (i < size) {
            offset += 8 + random.Next() % 120;
            for (int b = 0; b < 4 && i < size; ++b) out[i++] = static_cast<std::uint8_t>(offset >> (8 * b));
            for (int b = 0; b < 4 && i < size; ++b) out[i++] = 0;
        }
    } else {
        while (i < size) {
            const char* name = NAMES[random.Next() % NAME_COUNT];
            for (std::size_t k = 0; name[k] != '\0' && i < size; ++k) out[i++] = static_cast<std::uint8_t>(name[k]);
            if (i < size) out[i++] = 0;
        }
    }
}

Bytes BinaryPadding(std::size_t size, unsigned randomPercent, CRandom& random) {
    Bytes out(size);
    unsigned share = 0;  // Bresenham-like: exactly randomPercent of the blocks, spread out
    for (std::size_t at = 0; at < size; at += BLOCK) {
        const std::size_t length = size - at < BLOCK ? size - at : BLOCK;
        share += randomPercent;
        if (share >= 100) {
            share -= 100;
            RandomBlock(&out[at], length, random);
        } else {
            StructuredBlock(&out[at], length, random);
        }
    }
    return out;
}

bool ReadWholeFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "tsport_pad: %s\n", message.c_str());
    return 2;
}

int Usage() {
    std::fprintf(stderr, "usage: tsport_pad --kind pe|binary|text|inf|rtf --size BYTES --random PERCENT IN OUT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string kind, input, output;
    unsigned long long size = 0;
    unsigned long randomPercent = 0;
    bool haveSize = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--kind" && i + 1 < argc) {
            kind = argv[++i];
        } else if (arg == "--size" && i + 1 < argc) {
            char* end = nullptr;
            size = std::strtoull(argv[++i], &end, 10);
            haveSize = end != argv[i] && *end == '\0' && size <= 0x40000000ull;
            if (!haveSize) return Usage();
        } else if (arg == "--random" && i + 1 < argc) {
            char* end = nullptr;
            randomPercent = std::strtoul(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || randomPercent > 100) return Usage();
        } else if (input.empty()) {
            input = arg;
        } else if (output.empty()) {
            output = arg;
        } else {
            return Usage();
        }
    }
    if (kind.empty() || !haveSize || input.empty() || output.empty()) return Usage();

    Bytes content;
    if (!ReadWholeFile(input, content)) return Fail("cannot read " + input);
    if (content.size() > size) {
        return Fail(input + " has " + std::to_string(content.size()) + " bytes, more than the size asked for (" +
                    std::to_string(size) + ")");
    }
    const std::size_t padding = static_cast<std::size_t>(size) - content.size();
    CRandom random(NameSeed(output));

    if (kind == "pe" || kind == "binary") {
        const Bytes bytes = BinaryPadding(padding, static_cast<unsigned>(randomPercent), random);
        content.insert(content.end(), bytes.begin(), bytes.end());
    } else if (kind == "text" || kind == "inf") {
        std::string text;
        if (!content.empty() && content.back() != '\n') text = "\r\n";
        if (padding < text.size()) return Fail(input + " leaves no room for padding");
        text += TextPadding(padding - text.size(), random, kind == "inf" ? "; " : "");
        content.insert(content.end(), text.begin(), text.end());
    } else if (kind == "rtf") {
        static const char open[] = "{\\*\\tsppadding ";
        const std::size_t frame = sizeof open - 1 + 1;  // the group's braces and its keyword
        std::size_t last = content.size();
        while (last > 0 && content[last - 1] != '}') --last;
        if (last == 0) return Fail(input + " has no closing brace");
        if (padding < frame) return Fail(input + " leaves no room for padding");
        std::string group = open;
        group += TextPadding(padding - frame, random, "");
        group += "}";
        content.insert(content.begin() + static_cast<std::ptrdiff_t>(last - 1), group.begin(), group.end());
    } else {
        return Usage();
    }

    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) return Fail("cannot write " + output);
    return 0;
}
