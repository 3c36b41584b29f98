// The description of one Oracle column: the generic column descriptor with
// the Oracle type code and the column's Oracle character set, and the maps
// between the type codes a dump stores, the Oracle types and the value types
// the reader produces.
#pragma once

#include "t_ftd.h"

#include <cstdint>
#include <string>

class t_orcale_ftd : public t_ftd {
public:
    // The Oracle type codes (`ora_type`).
    enum : std::int32_t {
        ora_none = 0,
        ora_number = 1,
        ora_char = 2,
        ora_nchar = 3,
        ora_varchar2 = 4,
        ora_nvarchar2 = 5,
        ora_blob = 6,
        ora_bfile = 7,
        ora_clob = 8,
        ora_raw = 9,
        ora_long_raw = 10,
        ora_date = 11,
        ora_float = 12,
        ora_long = 13,
        ora_rowid = 14,
        ora_timestamp = 15,
        ora_key = 16,
        ora_xmltype = 17,
        ora_sdo_geometry = 18,
        ora_collection = 19,
        ora_array = 20,
        // A type word the DDL parser does not know; the field descriptions
        // of a dump's rows may refine it.
        ora_unknown = 21,
        ora_binary_float = 22,
        ora_binary_double = 23,
        // TIMESTAMP WITH TIME ZONE and WITH LOCAL TIME ZONE: an instant,
        // whose date bytes hold its UTC time.
        ora_timestamp_tz = 24,
    };

    // The national character set (AL16UTF16).
    static constexpr std::uint16_t national_charset = 2000;

    t_orcale_ftd(std::uint32_t size, std::int32_t ora_type, const std::wstring& name, VARTYPE vartype,
                 bool b_not_null = false, bool b_autoincrement = false,
                 const ole_variant& default_value = ole_variant(), std::uint32_t reserved = 0);
    t_orcale_ftd(const t_orcale_ftd&) = default;
    t_orcale_ftd& operator=(const t_orcale_ftd&) = default;
    ~t_orcale_ftd() override = default;

    // The Oracle type of a dump type code; 0 for a code without one.
    static std::int32_t native2oratype(int native_type, unsigned charset_id);
    // The value type of a column. NUMBER with neither precision nor scale
    // is an unconstrained decimal: integer types are taken only for a
    // declared precision that they hold, so no NUMBER loses a digit.
    static VARTYPE ora2oletype(std::int32_t ora_type, std::uint32_t size, int precision, int scale,
                               unsigned charset_id);
    // The Oracle declaration of a dump type code; raises the level-0
    // "Unknown field type" for a code without one.
    static std::wstring native2oratext(int native_type, std::uint32_t length, unsigned charset_id, int precision,
                                       int scale);

    // The `reserved` word of a column of the given value type: the date kind
    // for VT_DATE; precision in bits 8-15 and the scale as a signed byte in
    // bits 0-7 for decimals and integers (both as declared, never swapped);
    // 0 otherwise.
    static std::uint32_t reserved_word(VARTYPE vartype, int precision, int scale);
    // Sets `reserved` of this column by reserved_word; a zone-bearing
    // timestamp keeps the UTC kind.
    void apply_reserved(int precision, int scale);

    std::int32_t ora_type;
    std::uint16_t charset_id = 0;
};
