// The indexes of one table: name, unique and primary-key flags, and the
// indexed column names in key order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class udb_index {
public:
    udb_index() = default;
    udb_index(std::wstring name, bool b_unique, bool b_primary, std::vector<std::wstring> columns = {});

    // True when this index's columns begin with the given names, in order,
    // each compared ignoring case; an empty list always leads.
    bool starts_with_fields(const std::vector<std::wstring>& fields) const;

    std::wstring name;
    bool b_unique = false;
    bool b_primary = false;
    std::vector<std::wstring> columns;
};

// Index names are compared ignoring case; the list keeps the order in which
// indexes were added.
class udb_indexes {
public:
    using container = std::vector<udb_index>;
    using iterator = container::iterator;
    using const_iterator = container::const_iterator;

    // Adds a copy, or merges it into the index of the same name: a primary
    // key is never replaced, a primary key replaces any other index, a unique
    // index is never replaced by a plain one and replaces a plain one.
    void push_back(const udb_index& index);

    bool find2(const std::wstring& name) const;
    // The name must be present (test with find2 first); an absent name is an
    // internal error.
    udb_index& get_index(const std::wstring& name);
    const udb_index& get_index(const std::wstring& name) const;
    bool is_acceptable_name(const std::wstring& name) const;
    // Column names are compared exactly here, unlike index names.
    bool is_idx_field(const std::wstring& column_name, bool primary_only) const;

    std::size_t size() const { return list.size(); }
    bool empty() const { return list.empty(); }
    void clear() { list.clear(); }
    udb_index& operator[](std::size_t i) { return list[i]; }
    const udb_index& operator[](std::size_t i) const { return list[i]; }
    iterator begin() { return list.begin(); }
    iterator end() { return list.end(); }
    const_iterator begin() const { return list.begin(); }
    const_iterator end() const { return list.end(); }

private:
    const udb_index* find(const std::wstring& name) const;

    container list;
};
