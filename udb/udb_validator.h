// The rule set that tells whether a name may be used in the destination and,
// when it may not, makes a valid and unique replacement.
//
// Names are measured and cut through two virtual operations, so that a
// destination that limits names by bytes rather than by characters (such as
// PostgreSQL's 63 bytes) can count its own way while sharing the numbering
// below. The base counts code points.
#pragma once

#include "udb_names_map.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

class udb_validator {
public:
    // A maximum length of 0 means no limit.
    explicit udb_validator(std::uint32_t max_length);
    virtual ~udb_validator();

    udb_validator(const udb_validator&) = delete;
    udb_validator& operator=(const udb_validator&) = delete;

    // The base rule: not too long, not restricted, no illegal character.
    // An empty name passes.
    virtual bool is_acceptable(const std::wstring& name);
    // True when the name equals an existing name, letter case ignored.
    virtual bool is_duplicated(const std::wstring& name);
    // A name that is acceptable and not duplicated; changes no list. Raises
    // a level-0 tk_exception when every numbered candidate is refused.
    virtual std::wstring get_safe_name(const std::wstring& name);

    // The measure of a name in the units of the maximum length.
    virtual std::size_t name_length(const std::wstring& name) const;
    // The longest leading part of the name that measures at most n units.
    virtual std::wstring cut_name(const std::wstring& name, std::size_t n) const;

    void add_existing_name(const std::wstring& name);
    void add_mapped_pair(const std::wstring& source_name, const std::wstring& generated_name);
    void add_restricted_name(const std::wstring& name);

    std::uint32_t get_max_length() const { return max_length; }
    t_names_map& get_mapped_pairs() { return mapped_pairs; }
    const t_names_map& get_mapped_pairs() const { return mapped_pairs; }
    const std::vector<std::wstring>& get_restricted_names() const { return restricted_names; }
    const std::vector<std::wstring>& get_existing_names() const { return existing_names; }

protected:
    bool is_restricted(const std::wstring& name) const;

    std::uint32_t max_length;
    t_names_map mapped_pairs;
    // A subclass fills this; every occurrence is replaced by '_' in a safe
    // name.
    std::vector<wchar_t> illegal_characters;

private:
    // The lists keep their order for the traces; the sets of their
    // case-folded forms answer the tests, which the numbering loop makes up
    // to 100000 times per name.
    std::vector<std::wstring> restricted_names;
    std::vector<std::wstring> existing_names;
    std::unordered_set<std::wstring> restricted_folded;
    std::unordered_set<std::wstring> existing_folded;
};

