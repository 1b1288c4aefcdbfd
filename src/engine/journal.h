// What an installation changed, kept so that a failed one can be undone in a fixed order:
// the records of what it made (files, directories, services, devices), the backups of the
// files it overwrote, and the size of every file it placed.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// What a journal record stands for (the value stored with each key).
constexpr std::int32_t JOURNAL_DIRECTORY = 0;
constexpr std::int32_t JOURNAL_FILE = 1;
constexpr std::int32_t JOURNAL_STARTED_SERVICE = 3;
constexpr std::int32_t JOURNAL_SERVICE = 4;
constexpr std::int32_t JOURNAL_WDM_DEVICE = 5;

class CJournal {
public:
    // Keys compare byte by byte: "C:\X" comes before "C:\a", a prefix before its extensions.
    using Records = std::map<std::string, std::int32_t>;
    using FileBackups = std::map<std::string, std::string>;  // target -> backup

    void Record(const std::string& key, std::int32_t kind) { m_records[key] = kind; }
    bool Holds(const std::string& key) const { return m_records.count(key) != 0; }
    bool HoldsFile(const std::string& path) const {
        const auto record = m_records.find(path);
        return record != m_records.end() && record->second == JOURNAL_FILE;
    }
    // A file of this run that is gone again: nothing is left for a rollback to do.
    void ForgetFile(const std::string& path) {
        if (HoldsFile(path)) m_records.erase(path);
    }
    const Records& Entries() const { return m_records; }

    void RecordBackup(const std::string& target, const std::string& backup) { m_backups[target] = backup; }
    bool HasBackup(const std::string& target) const { return m_backups.count(target) != 0; }
    const FileBackups& Backups() const { return m_backups; }
    // restore(target, backup) for each backup; a backup it could not put back at once is
    // forgotten: left for the next start, it is the only copy of the user's file and the
    // commit must not delete it.
    template <typename Restore>
    void RestoreBackups(Restore restore) {
        for (auto it = m_backups.begin(); it != m_backups.end();) {
            it = restore(it->first, it->second) ? std::next(it) : m_backups.erase(it);
        }
    }
    // The backups are of no more use (committed), or must never be deleted (uncommitted).
    void ForgetBackups() { m_backups.clear(); }

    // What a file written at target weighs; the last write counts.
    void RecordPlaced(const std::string& target, std::uint32_t size) {
        m_placed[target] = static_cast<std::int32_t>(size);
    }
    std::uint64_t PlacedBytes() const {
        std::uint64_t bytes = 0;
        for (const auto& placed : m_placed) bytes += static_cast<std::uint32_t>(placed.second);
        return bytes;
    }

    void ForgetAll() {
        m_records.clear();
        m_backups.clear();
        m_placed.clear();
    }

private:
    Records m_records;
    FileBackups m_backups;
    Records m_placed;  // target -> size; the records' map type, so the programs carry one
};
