// Smaller stand-ins for three pieces of the static C and C++ runtimes. Linked as an object
// of each setup program, they are found before the libraries' own, which then stay out:
//
// - the verbose terminate handler, which prints the type of an uncaught exception to a
//   console the GUI program does not have, and brings the whole C++ demangler for it;
// - MinGW's own printf core, which brings floating-point conversion for formats that use
//   none: msvcrt's formatter does the same for %s, %c, %d, %u and %x with flags and
//   widths, and the functions below keep the C99 results (terminated output, the length
//   the whole text needs);
// - the standard library's throw helpers, whose one object brings every standard
//   exception class and a second string implementation with them;
// - zlib's table-driven CRC-32, which inflate needs only for gzip streams: a package holds
//   zlib streams, checked with Adler-32, so the bitwise form (same results) is enough.
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include <zlib.h>

namespace __gnu_cxx {
// Reached only through std::terminate: end the process the way abort does.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

extern "C" int __cdecl __mingw_vsnprintf(char* __restrict__ buffer, size_t size, const char* __restrict__ format,
                                         va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int needed = _vscprintf(format, measure);
    va_end(measure);
    if (size == 0) return needed;
    if (needed < 0) {
        buffer[0] = '\0';
        return needed;
    }
    const size_t fits = static_cast<size_t>(needed) < size - 1 ? static_cast<size_t>(needed) : size - 1;
    _vsnprintf(buffer, fits, format, args);
    buffer[fits] = '\0';
    return needed;
}

extern "C" int __cdecl __mingw_snprintf(char* __restrict__ buffer, size_t size, const char* __restrict__ format, ...) {
    va_list args;
    va_start(args, format);
    const int length = __mingw_vsnprintf(buffer, size, format, args);
    va_end(args);
    return length;
}

// Allocation failures keep their types. A string or vector asked to outgrow its largest
// size is an allocation that cannot succeed, so it fails as one (the callers turn
// std::bad_alloc into their out-of-memory error). The others mark a programming error:
// they stay exceptions that every catch-all still sees.
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw exception(); }
void __throw_out_of_range(const char*) { throw exception(); }
void __throw_out_of_range_fmt(const char*, ...) { throw exception(); }
}  // namespace std

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
    if (buf == nullptr) return 0;
    crc = ~crc & 0xFFFFFFFFul;
    while (len-- > 0) {
        crc ^= *buf++;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320ul & (0ul - (crc & 1ul)));
    }
    return ~crc & 0xFFFFFFFFul;
}
