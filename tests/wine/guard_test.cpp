// The installation guard on a real (Wine) machine: hardware faults and stray C++ objects
// on the guarded thread are reported with their code, and the program goes on.
#include "app/exception_guard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

#include "engine/exception.h"

namespace {

struct Outcome {
    int reports = 0;
    DWORD code = 0;
    std::uint64_t address = 0;
    bool bodyEnded = false;
    int mode = 0;  // 0 nothing, 1 access violation, 2 C++ object, 3 installer error, 4 divide
};

volatile int* volatile g_nowhere = nullptr;
volatile int g_zero = 0;

void Body(void* context) {
    Outcome* outcome = static_cast<Outcome*>(context);
    switch (outcome->mode) {
        case 1: *g_nowhere = 1; break;
        case 2: throw std::runtime_error("stray");
        case 3: throw new CExceptionEx(19, 7, 5);
        case 4: outcome->code = static_cast<DWORD>(100 / g_zero); break;
        default: break;
    }
    outcome->bodyEnded = true;
}

void Report(void* context, DWORD code, std::uint64_t address) {
    Outcome* outcome = static_cast<Outcome*>(context);
    ++outcome->reports;
    outcome->code = code;
    outcome->address = address;
}

DWORD WINAPI Guarded(LPVOID context) {
    CallGuarded(Body, Report, context);
    return 7;  // only when the guard returned
}

// Runs the guarded body on a thread of its own, as the installer does; its exit code tells
// whether the guard returned (7) or ended the thread (0).
DWORD RunOnThread(Outcome* outcome) {
    HANDLE thread = CreateThread(nullptr, 0, Guarded, outcome, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    if (thread == nullptr) return 1;
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    return exitCode;
}

LONG WINAPI Sentinel(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

bool InThisModule(std::uint64_t address) {
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(address), &module) &&
           module == GetModuleHandleA(nullptr);
}

TEST(InstallGuard, AQuietBodyIsNotReported) {
    Outcome outcome;
    EXPECT_EQ(RunOnThread(&outcome), 7u);
    EXPECT_TRUE(outcome.bodyEnded);
    EXPECT_EQ(outcome.reports, 0);
}

TEST(InstallGuard, HardwareFaultsAreReportedWithCodeAndAddress) {
    const struct {
        int mode;
        DWORD code;
    } cases[] = {{1, EXCEPTION_ACCESS_VIOLATION}, {4, EXCEPTION_INT_DIVIDE_BY_ZERO}};
    for (const auto& c : cases) {
        Outcome outcome;
        outcome.mode = c.mode;
        const DWORD ended = RunOnThread(&outcome);
        // Either net may take a fault, depending on the unwinder; both must report it.
        std::printf("fault 0x%08lx: %s\n", static_cast<unsigned long>(c.code),
                    ended == 7 ? "unwound to the guard" : "taken by the last-chance filter");
        EXPECT_FALSE(outcome.bodyEnded);
        EXPECT_EQ(outcome.reports, 1);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_TRUE(InThisModule(outcome.address)) << std::hex << outcome.address;
    }
}

TEST(InstallGuard, StrayCppObjectsAreReportedAndInstallerErrorsFreed) {
    for (int mode : {2, 3}) {
        Outcome outcome;
        outcome.mode = mode;
        EXPECT_EQ(RunOnThread(&outcome), 7u);
        EXPECT_FALSE(outcome.bodyEnded);
        EXPECT_EQ(outcome.reports, 1);
        EXPECT_EQ(outcome.code, GUARD_CXX_EXCEPTION);
    }
}

TEST(InstallGuard, TheProgramsOwnFilterIsBackAfterward) {
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(Sentinel);
    Outcome outcome;
    outcome.mode = 2;
    RunOnThread(&outcome);
    EXPECT_EQ(SetUnhandledExceptionFilter(before), Sentinel);
    // And a fault on an unguarded thread is not the guard's: a second guarded run still works.
    Outcome again;
    again.mode = 1;
    RunOnThread(&again);
    EXPECT_EQ(again.reports, 1);
    EXPECT_EQ(again.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

}  // namespace
