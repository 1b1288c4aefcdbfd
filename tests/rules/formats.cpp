// Breaks a rule of the setup code (docs/build.md): formats msvcrt reads otherwise. The test
// windows_setup_rules expects the compiler to refuse the first two and the format check
// (cmake/check_formats.cmake) to name the third, which the compiler accepts.
#include <cstdio>

#include "log/setup_log.h"

void ProbeFormats(char* text, std::size_t size, long long value) {
    std::snprintf(text, size, "%zu", size);
    DebugTrace("%zu entries", size);
    std::snprintf(text, size, "%lld", value);
}
