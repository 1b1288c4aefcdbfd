// Smaller stand-ins for pieces of the static C and C++ runtimes. Linked as an object of
// each setup program, they are found before the libraries' own, which then stay out:
//
// - the verbose terminate handler, which prints the type of an uncaught exception to a
//   console the GUI program does not have, and brings the whole C++ demangler for it;
// - MinGW's own printf core, which brings floating-point conversion for formats that use
//   none: msvcrt's formatter does the same for %s, %c, %d, %u and %x with flags and
//   widths, and the functions below keep the C99 results (terminated output, the length
//   the whole text needs); formats are checked against it (setup_rules.h);
// - zlib's table-driven CRC-32, which inflate needs only for gzip streams: a package holds
//   zlib streams, checked with Adler-32, so the bitwise form (same results) is enough;
// - the eight thread functions the exception runtime calls (its allocation lock, and the
//   thread-local storage of its per-thread state): the whole threads library came in for
//   them. A lock only guards a few instructions, so it spins; the thread-local keys are
//   Windows' own, without destructors (a thread's few runtime bytes stay when it ends, and
//   a setup run has three threads at most).
//
// The standard library's throw helpers are replaced too, in throw_helpers.cpp (portable, so
// that the host's tests link them as well). docs/build.md has the rules that follow.
#include <windows.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

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

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
    if (buf == nullptr) return 0;
    crc = ~crc & 0xFFFFFFFFul;
    while (len-- > 0) {
        crc ^= *buf++;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320ul & (0ul - (crc & 1ul)));
    }
    return ~crc & 0xFFFFFFFFul;
}

// The threads library's own types and values: a mutex word holds -1, -2 or -3 (its static
// initialisers) or 0 when free, 1 when held; a once word 0, then 1 while running, 2 once run.
extern "C" {
using pthread_mutex_t = intptr_t;
using pthread_mutexattr_t = unsigned;
using pthread_once_t = long;
using pthread_key_t = unsigned;

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
    *mutex = 0;
    return 0;
}

int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    volatile LONG64* word = reinterpret_cast<volatile LONG64*>(mutex);
    for (;;) {
        const LONG64 seen = *word;
        if (seen != 1 && InterlockedCompareExchange64(word, 1, seen) == seen) return 0;
        YieldProcessor();
        SwitchToThread();
    }
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    InterlockedExchange64(reinterpret_cast<volatile LONG64*>(mutex), 0);
    return 0;
}

int pthread_once(pthread_once_t* once, void (*run)(void)) {
    volatile LONG* state = reinterpret_cast<volatile LONG*>(once);
    if (InterlockedCompareExchange(state, 1, 0) == 0) {
        run();
        InterlockedExchange(state, 2);
        return 0;
    }
    while (*state != 2) SwitchToThread();
    return 0;
}

int pthread_key_create(pthread_key_t* key, void (*)(void*)) {
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return EAGAIN;
    *key = index;
    return 0;
}

void* pthread_getspecific(pthread_key_t key) { return TlsGetValue(key); }

int pthread_setspecific(pthread_key_t key, const void* value) {
    return TlsSetValue(key, const_cast<void*>(value)) ? 0 : ENOMEM;
}
}  // extern "C"
