// Source columns and indexes for the PostgreSQL target's tests, kept alive
// for the schema that refers to them.
#pragma once

#include "t_ftd.h"
#include "udb_indexes.h"
#include "udb_schema.h"

#include <memory>
#include <string>
#include <vector>

struct source_table {
    std::vector<std::unique_ptr<t_ftd>> kept;
    udb_schema schema;
    udb_indexes indexes;

    t_ftd& add(const std::wstring& name, VARTYPE vt, std::uint32_t size = 0, bool not_null = false,
               bool autoinc = false, const ole_variant& def = ole_variant(), std::uint32_t reserved = 0)
    {
        kept.push_back(std::make_unique<t_ftd>(size, name, vt, not_null, autoinc, def, reserved));
        schema.push_back(kept.back().get());
        return *kept.back();
    }
};
