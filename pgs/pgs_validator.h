// The PostgreSQL rules for table, column and index names.
//
// PostgreSQL cuts identifiers at 63 bytes, not characters, so these
// validators measure and cut names in UTF-8 bytes, also when they number a
// name. They never change letter case and compare names ignoring it.
#pragma once

#include "tk_singleton.h"
#include "udb_indexes.h"
#include "udb_record.h"
#include "udb_schema.h"
#include "udb_validator.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class pgs_validator : public udb_validator {
public:
    static constexpr std::uint32_t max_name_bytes = 63;

    pgs_validator();

    // Not empty, at most 63 UTF-8 bytes, only letters and digits of any
    // script and the characters " #$-._", not restricted.
    bool is_acceptable(const std::wstring& name) override;
    // Cuts a long name to at most 62 bytes at a character boundary and
    // replaces refused characters by '_', then makes the name unique.
    std::wstring get_safe_name(const std::wstring& name) override;

    std::size_t name_length(const std::wstring& name) const override;
    std::wstring cut_name(const std::wstring& name, std::size_t n) const override;

    static bool is_name_char(wchar_t c);

    // The users' protocol for one name: keep it when acceptable, otherwise
    // take its safe name, add that to the existing names and, with
    // keep_pair, record the pair; the final name is then restricted.
    std::wstring take_name(const std::wstring& name, bool keep_pair = true);
};

// Column names of one table.
class pgs_fn_validator : public pgs_validator {
public:
    explicit pgs_fn_validator(const udb_schema& columns);
    explicit pgs_fn_validator(const udb_record& record);
};

// Index names, unique for as long as the program runs.
class pgs_in_validator : public tk_singleton<pgs_in_validator>, public pgs_validator {
public:
    pgs_in_validator();
    ~pgs_in_validator() override;
    void add_index_names(const udb_indexes& indexes);
};

// Table names of one run. Every list is kept in bare form (no schema), the
// form the candidates come in: destination entries count by their table
// part.
class pgs_tn_validator : public pgs_validator {
public:
    pgs_tn_validator(const std::vector<std::wstring>& selected, const std::vector<std::wstring>& destination);
};

// A plain record that nothing reads.
struct pgs_dump_options {
    bool b_flag1 = true;
    bool b_flag2 = true;
    bool b_flag3 = false;
    bool b_flag4 = true;
    std::wstring text1;
    std::wstring text2;
};
