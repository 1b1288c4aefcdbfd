// The installation body's guard against exceptions nothing else handles: hardware faults
// (access violation, stack overflow, ...) and C++ objects other than the installer's own.
//
// MinGW has no __try, so two nets stand in for it. A first-chance vectored handler only
// records the guarded thread's latest exception code and address. A catch-all takes what
// unwinds to the guard (C++ objects and, through the SEH unwinder, foreign exceptions) and
// reports what was recorded. What does not unwind reaches the unhandled-exception filter,
// which reports it and ends the guarded thread only, not the program; the thread's stack is
// abandoned then, which is why the body should run on a thread of its own.
#pragma once

#include <windows.h>

#include <cstdint>

// The code MinGW's runtime raises for a thrown C++ object.
constexpr DWORD GUARD_CXX_EXCEPTION = 0x20474343;

using GuardBody = void (*)(void* context);
// unwound: the exception unwound to the guard (every destructor ran), so what the body
// left is as consistent as after any error; false: the stack is abandoned.
using GuardReport = void (*)(void* context, DWORD code, std::uint64_t address, bool unwound);

// Runs body(context) on the calling thread. When an exception escapes it, report(context,
// code, address, unwound) runs on the same thread; then the call returns, or, when the
// exception could not unwind, the thread ends with exit code 0. Guards on several threads
// keep apart, also when a guarded thread is terminated.
void CallGuarded(GuardBody body, GuardReport report, void* context);
