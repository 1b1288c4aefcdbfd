// What a run knows of the services it touched: which it started, which running ones of an
// earlier installation it stopped, which could only be made after the next start, and the
// values of the service keys it reconfigured, so that a rollback can write them back.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/journal.h"
#include "platform/types.h"

// One value of a service's registry key, kept so that a rollback can write it back.
struct SavedRegValue {
    std::string name;
    std::string data;  // exactly the bytes the registry returned
    os::DWORD type = 0;
};

class CServiceBook {
public:
    using Started = CJournal::Records;  // name -> JOURNAL_STARTED_SERVICE
    using KeyBackups = std::map<std::string, std::vector<SavedRegValue>>;  // subkey of HKLM -> values

    void RecordStarted(const std::string& name) { m_started[name] = JOURNAL_STARTED_SERVICE; }
    bool WasStarted(const std::string& name) const { return m_started.count(name) != 0; }
    const Started& StartedServices() const { return m_started; }

    void RecordStopped(const std::string& name) { m_stopped.push_back(name); }
    // Last stopped, first: a driver a service depends on was stopped after it. The list is
    // empty afterwards.
    template <typename Visit>
    void TakeStoppedLastFirst(Visit visit) {
        for (auto it = m_stopped.rbegin(); it != m_stopped.rend(); ++it) visit(*it);
        m_stopped.clear();
    }

    void RecordDeferred(const std::string& name) { m_deferred.push_back(name); }
    const std::vector<std::string>& Deferred() const { return m_deferred; }

    bool HasKeyBackup(const std::string& subKey) const { return m_keyBackups.count(subKey) != 0; }
    void SaveKey(const std::string& subKey, std::vector<SavedRegValue> values) {
        m_keyBackups[subKey] = std::move(values);
    }
    void ForgetKey(const std::string& subKey) { m_keyBackups.erase(subKey); }
    const KeyBackups& KeyBackupsHeld() const { return m_keyBackups; }
    void ForgetKeyBackups() { m_keyBackups.clear(); }

    void ForgetStarted() { m_started.clear(); }

private:
    Started m_started;
    std::vector<std::string> m_stopped;  // running ones this run stopped, in order
    std::vector<std::string> m_deferred;
    KeyBackups m_keyBackups;
};
