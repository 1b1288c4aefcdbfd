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
    bool unwound = false;
    int mode = 0;  // 0 nothing, 1 access violation, 2 C++ object, 3 installer error, 4 divide, 5 wait
};

volatile int* volatile g_nowhere = nullptr;
volatile int g_zero = 0;
HANDLE g_release = nullptr;

void Body(void* context) {
    Outcome* outcome = static_cast<Outcome*>(context);
    switch (outcome->mode) {
        case 1: *g_nowhere = 1; break;
        case 2: throw std::runtime_error("stray");
        case 3: throw new CExceptionEx(19, 7, 5);
        case 4: outcome->code = static_cast<DWORD>(100 / g_zero); break;
        case 5:  // waits to be let go, then faults
            WaitForSingleObject(g_release, 30000);
            *g_nowhere = 1;
            break;
        default: break;
    }
    outcome->bodyEnded = true;
}

void Report(void* context, DWORD code, std::uint64_t address, bool unwound) {
    Outcome* outcome = static_cast<Outcome*>(context);
    ++outcome->reports;
    outcome->code = code;
    outcome->address = address;
    outcome->unwound = unwound;
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
        // The report tells which way it came: only an unwound stack may be used afterwards.
        EXPECT_EQ(outcome.unwound, ended == 7);
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
        EXPECT_TRUE(outcome.unwound);
    }
}

TEST(InstallGuard, GuardsOnTwoThreadsKeepApartAndATerminatedOneLeavesNoTrace) {
    // The welcome page's start-up thread and the install worker each have a guard, and the
    // welcome page ends its thread by force when it hangs.
    g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(g_release, nullptr);
    Outcome first;
    first.mode = 5;
    HANDLE thread = CreateThread(nullptr, 0, Guarded, &first, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Sleep(200);
    Outcome second;
    second.mode = 2;
    EXPECT_EQ(RunOnThread(&second), 7u);  // a whole guarded run while the first one waits
    EXPECT_EQ(second.reports, 1);
    SetEvent(g_release);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(first.reports, 1);
    EXPECT_EQ(first.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

    ResetEvent(g_release);
    Outcome hung;
    hung.mode = 5;
    thread = CreateThread(nullptr, 0, Guarded, &hung, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Sleep(200);
    ASSERT_TRUE(TerminateThread(thread, 0xFFFFFFFF));
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    Outcome next;
    next.mode = 1;
    RunOnThread(&next);
    EXPECT_EQ(next.reports, 1);
    EXPECT_EQ(next.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(hung.reports, 0);
    CloseHandle(g_release);
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
