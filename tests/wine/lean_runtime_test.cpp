// The setup programs' runtime replacements (src/app/lean_runtime.cpp), linked the same way
// and run under Wine: the printf family keeps C99 results on msvcrt's formatter, the
// bitwise CRC-32 gives zlib's values (a gzip stream, whose trailer zlib checks with it,
// inflates), the standard library's throw helpers still throw what the callers catch, and
// threads that throw at the same time keep their own exception state.
// A plain program: a test framework would bring the library's own throw helpers back.
// Exit code 0 when every check passed; the last line says how many did.
#include <windows.h>
#include <zlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "../../src/app/thread_slot.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const char* what) {
    char line[256];
    std::snprintf(line, sizeof line, "%s: %s\n", ok ? "ok" : "FAILED", what);
    std::fputs(line, stdout);
    ++(ok ? g_passed : g_failed);
}

int Format(char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    return length;
}

void FormatsLikeC99() {
    char text[64];
    static const char error[] = "Error code = 0x00000005, arg0 = 0x100000fd";
    Check(std::snprintf(text, sizeof text, "Error code = 0x%.8x, arg0 = 0x%.8x", 5u, 0x100000FDu) ==
                  static_cast<int>(sizeof error - 1) &&
              std::strcmp(text, error) == 0,
          "the texts of the error messages (%.8x)");
    Check(std::snprintf(text, sizeof text, "#%d (0x%x) %u %s %c", -12, 255u, 4000000000u, "name", 'z') > 0 &&
              std::strcmp(text, "#-12 (0xff) 4000000000 name z") == 0,
          "%d, %x, %u, %s and %c");
    Check(std::snprintf(nullptr, 0, "Setup - %s", "Tessaport RDP Edition - Workstation") == 43,
          "a null buffer of size 0 gives the length the text needs");

    std::memset(text, 'x', sizeof text);
    const int length = std::snprintf(text, 8, "%s", "0123456789");
    Check(length == 10 && std::strcmp(text, "0123456") == 0 && text[8] == 'x',
          "a text that does not fit is cut, terminated inside the buffer, and its full length returned");
    std::memset(text, 'x', sizeof text);
    Check(std::snprintf(text, 11, "%s", "0123456789") == 10 && std::strcmp(text, "0123456789") == 0,
          "a text that just fits keeps every character");
    text[0] = 'x';
    Check(std::snprintf(text, 1, "%s", "abc") == 3 && text[0] == '\0', "a buffer of one byte holds the terminator");
    Check(Format(text, sizeof text, "%s=%d", "LogLevel", 65535) == 14 && std::strcmp(text, "LogLevel=65535") == 0,
          "vsnprintf, as the setup log's writer calls it");
}

void ChecksLikeZlib() {
    const char* check = "123456789";
    Check(crc32(0, reinterpret_cast<const Bytef*>(check), 9) == 0xCBF43926ul, "CRC-32 check value of \"123456789\"");
    Check(crc32(0, nullptr, 0) == 0, "CRC-32 start value");
    const uLong first = crc32(0, reinterpret_cast<const Bytef*>(check), 4);
    Check(crc32(first, reinterpret_cast<const Bytef*>(check + 4), 5) == 0xCBF43926ul, "CRC-32 in two parts");

    // gzip -n -9 of "hello, package\n": inflate checks its CRC-32 trailer.
    static const unsigned char gzip[] = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03, 0xcb,
                                         0x48, 0xcd, 0xc9, 0xc9, 0xd7, 0x51, 0x28, 0x48, 0x4c, 0xce, 0x4e,
                                         0x4c, 0x4f, 0xe5, 0x02, 0x00, 0xbe, 0xfc, 0xf9, 0x28, 0x0f, 0x00,
                                         0x00, 0x00};
    for (int damaged = 0; damaged < 2; ++damaged) {
        unsigned char input[sizeof gzip];
        std::memcpy(input, gzip, sizeof gzip);
        if (damaged) input[sizeof gzip - 8] ^= 0x01;  // first byte of the stored CRC
        char output[64] = {};
        z_stream stream{};
        stream.next_in = input;
        stream.avail_in = sizeof input;
        stream.next_out = reinterpret_cast<Bytef*>(output);
        stream.avail_out = sizeof output - 1;
        const bool initialised = inflateInit2(&stream, 16 + MAX_WBITS) == Z_OK;
        const int result = initialised ? inflate(&stream, Z_FINISH) : Z_STREAM_ERROR;
        if (initialised) inflateEnd(&stream);
        if (damaged) {
            Check(result == Z_DATA_ERROR, "a gzip stream with a wrong CRC-32 is refused");
        } else {
            Check(result == Z_STREAM_END && std::strcmp(output, "hello, package\n") == 0,
                  "a gzip stream inflates and its CRC-32 matches");
        }
    }
}

void ThrowsWhatCallersCatch() {
    std::string text = "short";
    bool caught = false;
    try {
        text.reserve(text.max_size() + 1);
    } catch (const std::bad_alloc&) {
        caught = true;
    }
    Check(caught, "a string asked to outgrow its largest size fails as an allocation (std::bad_alloc)");

    caught = false;
    try {
        text.append(text.max_size(), 'x');
    } catch (const std::bad_alloc&) {
        caught = true;
    }
    Check(caught && text == "short", "an append past the largest size fails as an allocation, the string unchanged");

    caught = false;
    try {
        const std::string rest = text.substr(6);
        Check(false, "substr behind the end returned");
    } catch (const std::exception&) {
        caught = true;
    }
    Check(caught, "substr behind the end throws a std::exception");

    caught = false;
    try {
        const char* none = nullptr;
        const std::string empty(none);
        Check(false, "a string made from a null pointer was made");
    } catch (const std::exception&) {
        caught = true;
    }
    Check(caught, "a string made from a null pointer throws a std::exception");
}

}  // namespace

// Threads that throw and catch at the same time: each has its own exception state (in a
// thread slot of the runtime's) and the runtime's allocation lock keeps them apart; the
// slots the setup code keeps per thread stay apart too.
CThreadSlot mine;
volatile LONG g_good = 0;

DWORD WINAPI Thrower(void* param) {
    const int me = static_cast<int>(reinterpret_cast<intptr_t>(param));
    mine.Set(param);
    for (int i = 0; i < 2000; ++i) {
        try {
            throw std::bad_alloc();
        } catch (const std::bad_alloc&) {
            try {
                throw me;
            } catch (int caught) {
                if (caught != me || mine.Get() != param) return 1;
            }
        }
    }
    InterlockedIncrement(&g_good);
    return 0;
}

void ThreadsKeepTheirOwnState() {
    HANDLE threads[4];
    for (int i = 0; i < 4; ++i) {
        threads[i] = CreateThread(nullptr, 0, Thrower, reinterpret_cast<void*>(static_cast<intptr_t>(i + 1)), 0,
                                  nullptr);
    }
    const DWORD waited = WaitForMultipleObjects(4, threads, TRUE, 60000);
    for (HANDLE thread : threads) CloseHandle(thread);
    Check(waited == WAIT_OBJECT_0, "four throwing threads ended");
    Check(g_good == 4, "each caught its own exceptions and kept its own slot value");
    Check(mine.Get() == nullptr, "the main thread's slot value is its own");
}

int main() {
    FormatsLikeC99();
    ChecksLikeZlib();
    ThrowsWhatCallersCatch();
    ThreadsKeepTheirOwnState();
    char line[64];
    std::snprintf(line, sizeof line, "%d passed, %d failed\n", g_passed, g_failed);
    std::fputs(line, stdout);
    return g_failed == 0 ? 0 : 1;
}
