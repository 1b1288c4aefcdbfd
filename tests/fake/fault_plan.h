// Makes chosen calls of the in-memory machine fail with a chosen error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// How a chosen call goes wrong: it fails the Windows way with an error, or it throws, as
// code that runs out of memory does (std::bad_alloc) or as code that meets a fault nothing
// of the installer's own handles (FaultPlanForeignException).
enum class FaultKind { Error, OutOfMemory, Foreign };

struct FaultPlanForeignException {
    unsigned call;  // the call that threw
};

class CFaultPlan {
public:
    // The nth fallible call of any kind (1-based) fails with error.
    void FailNth(unsigned nth, std::uint32_t error);
    // The nth fallible call of any kind throws instead of returning.
    void ThrowNth(unsigned nth, FaultKind kind = FaultKind::OutOfMemory);
    // The nth call (1-based) of the named call fails with error; nth 0 makes every call fail.
    void FailCall(const std::string& name, unsigned nth, std::uint32_t error);
    // The nth call (1-based) of the named call throws.
    void ThrowCall(const std::string& name, unsigned nth, FaultKind kind = FaultKind::OutOfMemory);
    void Clear();

    // Counts one fallible call; true (and the error) when the plan says it fails. Throws
    // when the plan says so.
    bool Hit(const char* name, std::uint32_t* error);

    unsigned CallCount() const { return m_count; }
    // Names of every fallible call so far, in order: which call the nth one was.
    const std::vector<std::string>& Calls() const { return m_calls; }
    unsigned FailuresInjected() const { return m_injected; }

private:
    void Throw(FaultKind kind);  // returns only for FaultKind::Error

    struct Rule {
        std::string name;  // empty: any call
        unsigned nth;
        std::uint32_t error;
        unsigned seen;
        FaultKind kind = FaultKind::Error;
    };
    std::vector<Rule> m_rules;
    std::vector<std::string> m_calls;
    unsigned m_count = 0;
    unsigned m_injected = 0;
};

}  // namespace fake
