#include "app/exception_guard.h"

#include "app/thread_slot.h"
#include "engine/exception.h"

namespace {

struct Guard {
    DWORD threadId = 0;
    GuardReport report = nullptr;
    void* context = nullptr;
    volatile LONG recorded = 0;
    volatile DWORD code = 0;
    volatile std::uint64_t address = 0;
};

// Each thread's own guard: a guarded thread that is terminated leaves no pointer to its
// dead stack where another thread could find it.
CThreadSlot activeGuard;

LONG WINAPI Record(EXCEPTION_POINTERS* info) {
    Guard* guard = static_cast<Guard*>(activeGuard.Get());
    if (guard != nullptr && guard->threadId == GetCurrentThreadId()) {
        guard->code = info->ExceptionRecord->ExceptionCode;
        guard->address = reinterpret_cast<std::uint64_t>(info->ExceptionRecord->ExceptionAddress);
        guard->recorded = 1;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI LastChance(EXCEPTION_POINTERS* info) {
    Guard* guard = static_cast<Guard*>(activeGuard.Get());
    if (guard == nullptr || guard->threadId != GetCurrentThreadId()) return EXCEPTION_CONTINUE_SEARCH;
    activeGuard.Set(nullptr);
    guard->report(guard->context, info->ExceptionRecord->ExceptionCode,
                  reinterpret_cast<std::uint64_t>(info->ExceptionRecord->ExceptionAddress), false);
    // Nothing on this thread's stack can be trusted any more: end the thread, not the program.
    ExitThread(0);
}

}  // namespace

void CallGuarded(GuardBody body, GuardReport report, void* context) {
    Guard guard;
    guard.threadId = GetCurrentThreadId();
    guard.report = report;
    guard.context = context;
    activeGuard.Set(&guard);
    PVOID recorder = AddVectoredExceptionHandler(0, Record);
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(LastChance);
    bool escaped = false;
    try {
        body(context);
    } catch (CExceptionEx* e) {
        delete e;
        escaped = true;
    } catch (...) {
        escaped = true;
    }
    activeGuard.Set(nullptr);
    SetUnhandledExceptionFilter(previous);
    if (recorder != nullptr) RemoveVectoredExceptionHandler(recorder);
    if (escaped) {
        if (guard.recorded != 0) {
            report(context, guard.code, guard.address, true);
        } else {
            report(context, GUARD_CXX_EXCEPTION, 0, true);
        }
    }
}
