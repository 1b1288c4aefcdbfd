#include "fake/fault_plan.h"

#include <new>

namespace fake {

void CFaultPlan::FailNth(unsigned nth, std::uint32_t error) { m_rules.push_back({"", nth, error, 0}); }

void CFaultPlan::ThrowNth(unsigned nth, FaultKind kind) { m_rules.push_back({"", nth, 0, 0, kind}); }

void CFaultPlan::FailCall(const std::string& name, unsigned nth, std::uint32_t error) {
    m_rules.push_back({name, nth, error, 0});
}

void CFaultPlan::ThrowCall(const std::string& name, unsigned nth, FaultKind kind) {
    m_rules.push_back({name, nth, 0, 0, kind});
}

void CFaultPlan::Clear() {
    m_rules.clear();
    m_calls.clear();
    m_count = 0;
    m_injected = 0;
}

void CFaultPlan::Throw(FaultKind kind) {
    if (kind == FaultKind::Error) return;
    ++m_injected;
    if (kind == FaultKind::OutOfMemory) throw std::bad_alloc();
    throw FaultPlanForeignException{m_count};
}

bool CFaultPlan::Hit(const char* name, std::uint32_t* error) {
    ++m_count;
    m_calls.emplace_back(name);
    bool fail = false;
    for (Rule& rule : m_rules) {
        if (rule.name.empty()) {
            if (rule.nth == m_count && !fail) {
                Throw(rule.kind);
                fail = true;
                *error = rule.error;
            }
            continue;
        }
        if (rule.name != name) continue;
        ++rule.seen;
        if ((rule.nth == 0 || rule.nth == rule.seen) && !fail) {
            Throw(rule.kind);
            fail = true;
            *error = rule.error;
        }
    }
    if (fail) ++m_injected;
    return fail;
}

}  // namespace fake
