// The columns of one table, in table order.
#pragma once

#include "t_ftd.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The schema refers to its descriptors and never deletes them: whoever built
// them (the table object) keeps them alive at least as long as the schema.
// Names are looked up ignoring case; of two names that differ only in case,
// the first in table order answers.
class udb_schema {
public:
    using container = std::vector<t_ftd*>;
    using const_iterator = container::const_iterator;

    udb_schema();
    udb_schema(const udb_schema& other);
    udb_schema& operator=(const udb_schema& other);
    virtual ~udb_schema();

    bool find_field(const std::wstring& name) const;
    // Zero-based position, or -1 when no column has that name.
    int get_field_idx(const std::wstring& name) const;
    // The named descriptor, or null (with the level-3 line "Field '%s' not
    // found").
    t_ftd* get_field1(const std::wstring& name);
    const t_ftd* get_field2(const std::wstring& name) const;

    void push_back(t_ftd* descriptor);
    void clear();
    std::size_t size() const { return fields.size(); }
    bool empty() const { return fields.empty(); }
    t_ftd* operator[](std::size_t i) const { return fields[i]; }
    const_iterator begin() const { return fields.begin(); }
    const_iterator end() const { return fields.end(); }

    // A stamp that no other column list of the process has carried: it is
    // renewed by every change, copy and assignment, so that users can keep
    // what they derived from the names for as long as it stays the same.
    std::uint64_t generation() const { return stamp; }

    std::int32_t seed = 1;       // start value of the auto-increment column
    std::int32_t increment = 1;  // and its step

private:
    int find(const std::wstring& name) const;
    t_ftd* named(const std::wstring& name, const char* operation) const;

    void restamp();

    container fields;
    std::uint64_t stamp = 0;
};
