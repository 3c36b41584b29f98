// One value of a row (udb_field) and one row (udb_record).
#pragma once

#include "ole_variant.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

class udb_field : public ole_variant {
public:
    udb_field();
    udb_field(const std::wstring& name, std::uint32_t size, const ole_variant& value, bool b_not_null = false,
              bool b_autoincrement = false);
    udb_field(const udb_field&) = default;
    udb_field(udb_field&&) noexcept = default;
    udb_field& operator=(const udb_field&) = default;
    udb_field& operator=(udb_field&&) noexcept = default;
    ~udb_field() override = default;

    // Assigning a value keeps the name, size and flags, so that a source can
    // refill the fields of its current record in place.
    using ole_variant::operator=;
    udb_field& operator=(const ole_variant& value);
    udb_field& operator=(ole_variant&& value) noexcept;

    virtual VARTYPE get_type() const;

    std::uint32_t size = 0;  // the column's declared length
    std::wstring name;
    // Copied from the column when the row comes from an existing table.
    bool b_not_null = false;
    bool b_autoincrement = false;
};

// One row: the fields in column order. The record owns its fields. Whoever
// reads a record from a source table does not own the record: the table
// keeps it and refills it on the next read. Names are looked up ignoring
// case; of two names that differ only in case, the first answers.
class udb_record {
    using container = std::vector<std::unique_ptr<udb_field>>;

    // Walks the fields as references rather than as owning pointers.
    template <typename Base, typename Field>
    class basic_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = udb_field;
        using difference_type = std::ptrdiff_t;
        using pointer = Field*;
        using reference = Field&;

        basic_iterator() = default;
        explicit basic_iterator(Base it) : it(it) {}
        reference operator*() const { return **it; }
        pointer operator->() const { return it->get(); }
        basic_iterator& operator++() { ++it; return *this; }
        basic_iterator operator++(int) { basic_iterator old = *this; ++it; return old; }
        basic_iterator& operator--() { --it; return *this; }
        difference_type operator-(const basic_iterator& other) const { return it - other.it; }
        bool operator==(const basic_iterator& other) const { return it == other.it; }
        bool operator!=(const basic_iterator& other) const { return it != other.it; }

    private:
        Base it{};
    };

public:
    using iterator = basic_iterator<container::iterator, udb_field>;
    using const_iterator = basic_iterator<container::const_iterator, const udb_field>;

    udb_record() = default;
    udb_record(const udb_record&) = delete;
    udb_record& operator=(const udb_record&) = delete;
    udb_record(udb_record&&) noexcept = default;
    udb_record& operator=(udb_record&&) noexcept = default;
    virtual ~udb_record() = default;

    bool find_field(const std::wstring& name) const;
    // The named field, or null.
    udb_field* get_field(const std::wstring& name);
    const udb_field* get_field(const std::wstring& name) const;

    // Deletes every field; the record keeps its capacity for the next row.
    void clear() noexcept { fields.clear(); }
    // Keeps the first count fields and deletes the rest, or appends empty
    // fields up to count: a source whose rows share one layout names its
    // fields once and then only assigns their values.
    void resize(std::size_t count);
    void reserve(std::size_t count) { fields.reserve(count); }
    // A null field raises std::invalid_argument.
    void push_back(std::unique_ptr<udb_field> field);
    udb_field& emplace_back(const std::wstring& name, std::uint32_t size, const ole_variant& value);

    std::size_t size() const { return fields.size(); }
    bool empty() const { return fields.empty(); }
    udb_field& operator[](std::size_t i) { return *fields[i]; }
    const udb_field& operator[](std::size_t i) const { return *fields[i]; }
    iterator begin() { return iterator(fields.begin()); }
    iterator end() { return iterator(fields.end()); }
    const_iterator begin() const { return const_iterator(fields.begin()); }
    const_iterator end() const { return const_iterator(fields.end()); }

private:
    const udb_field* find(const std::wstring& name) const;

    container fields;
};
