// Values by text key, walked in byte-wise key order ("C:\X" before "C:\a", a prefix before
// its extensions). One sorted vector: the tables hold tens of rows, and the setup programs
// carry no tree code for them.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The first row whose key is not below key, among count rows stride bytes apart, the first
// row's key at firstKey. One search serves every table's row type.
std::size_t LowerKeyBound(const std::string* firstKey, std::size_t count, std::size_t stride, std::string_view key);

template <typename Value>
class CKeyedTable {
public:
    using Row = std::pair<std::string, Value>;
    using iterator = typename std::vector<Row>::iterator;
    using const_iterator = typename std::vector<Row>::const_iterator;

    CKeyedTable() = default;
    CKeyedTable(std::initializer_list<Row> rows) {
        for (const Row& row : rows) (*this)[row.first] = row.second;
    }

    Value& operator[](std::string_view key) {
        const std::size_t at = LowerBound(key);
        if (at == m_rows.size() || m_rows[at].first != key) {
            m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at), Row(std::string(key), Value()));
        }
        return m_rows[at].second;
    }
    const_iterator find(std::string_view key) const {
        const std::size_t at = LowerBound(key);
        return at != m_rows.size() && m_rows[at].first == key ? m_rows.begin() + static_cast<std::ptrdiff_t>(at)
                                                               : m_rows.end();
    }
    std::size_t count(std::string_view key) const { return find(key) != end() ? 1 : 0; }
    const Value& at(std::string_view key) const {
        const auto row = find(key);
        if (row == end()) throw std::out_of_range("no such key");
        return row->second;
    }
    iterator erase(const_iterator row) { return m_rows.erase(row); }
    void erase(std::string_view key) {
        const auto row = find(key);
        if (row != end()) m_rows.erase(row);
    }
    void clear() { m_rows.clear(); }

    std::size_t size() const { return m_rows.size(); }
    bool empty() const { return m_rows.empty(); }
    iterator begin() { return m_rows.begin(); }
    iterator end() { return m_rows.end(); }
    const_iterator begin() const { return m_rows.begin(); }
    const_iterator end() const { return m_rows.end(); }

    friend bool operator==(const CKeyedTable& a, const CKeyedTable& b) { return a.m_rows == b.m_rows; }

private:
    std::size_t LowerBound(std::string_view key) const {
        return m_rows.empty() ? 0 : LowerKeyBound(&m_rows.front().first, m_rows.size(), sizeof(Row), key);
    }

    std::vector<Row> m_rows;
};
