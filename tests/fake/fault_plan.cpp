#include "fake/fault_plan.h"

namespace fake {

void CFaultPlan::FailNth(unsigned nth, std::uint32_t error) { m_rules.push_back({"", nth, error, 0}); }

void CFaultPlan::FailCall(const std::string& name, unsigned nth, std::uint32_t error) {
    m_rules.push_back({name, nth, error, 0});
}

void CFaultPlan::Clear() {
    m_rules.clear();
    m_calls.clear();
    m_count = 0;
    m_injected = 0;
}

bool CFaultPlan::Hit(const char* name, std::uint32_t* error) {
    ++m_count;
    m_calls.emplace_back(name);
    bool fail = false;
    for (Rule& rule : m_rules) {
        if (rule.name.empty()) {
            if (rule.nth == m_count && !fail) {
                fail = true;
                *error = rule.error;
            }
            continue;
        }
        if (rule.name != name) continue;
        ++rule.seen;
        if ((rule.nth == 0 || rule.nth == rule.seen) && !fail) {
            fail = true;
            *error = rule.error;
        }
    }
    if (fail) ++m_injected;
    return fail;
}

}  // namespace fake
