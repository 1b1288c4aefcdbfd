// Included before everything else in the setup programs' code (see cmake/windows_part.cmake).
// The standard library declares its std::string members as instantiated in the library
// itself, so a static link brings the object that holds all of them, used or not. With
// that declaration off, each program instantiates the members it calls and keeps no more.
#pragma once
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
