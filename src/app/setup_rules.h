// Included before everything else in the setup programs' code, after lean_templates.h (see
// cmake/windows_part.cmake). Two rules of their runtime, docs/build.md, as build errors.
#pragma once
#include <cstddef>
#include <cstdio>

// No function-local static that needs a guard. The setup code is compiled with thread-safe
// statics, so such a static calls this, and the build stops at it (with link-time
// optimisation, at the link of the program that reaches it). The programs carry no guard
// functions: the library's would bring its threads library back.
extern "C" int __cxa_guard_acquire(long long* guard) __attribute__((error(
    "a function-local static with a constructor or destructor in setup code: "
    "keep the object at namespace scope (docs/build.md)")));

// In the setup programs snprintf and vsnprintf format with msvcrt's formatter
// (lean_runtime.cpp). Each format is checked as msvcrt reads it too, beside the C99 check the
// library's declarations carry: with -Werror=format only what both read alike builds.
__attribute__((format(ms_printf, 3, 4))) int snprintf(char* buffer, size_t size, const char* format, ...);
__attribute__((format(ms_printf, 3, 0))) int vsnprintf(char* buffer, size_t size, const char* format,
                                                       __builtin_va_list args);
