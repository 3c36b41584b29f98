// The description of one column, shared by every source and destination.
#pragma once

#include "ole_variant.h"

#include <cstdint>
#include <string>

class t_ftd {
public:
    // The kinds a VT_DATE column keeps in `reserved`.
    static constexpr std::uint32_t date_and_time = 1;
    static constexpr std::uint32_t date_only = 2;
    static constexpr std::uint32_t time_only = 3;
    // A date and time that is an instant in UTC (a zone-bearing timestamp).
    static constexpr std::uint32_t date_time_utc = 4;

    t_ftd(std::uint32_t size, const std::wstring& name, VARTYPE vartype, bool b_not_null = false,
          bool b_autoincrement = false, const ole_variant& default_value = ole_variant(),
          std::uint32_t reserved = 0, const std::wstring& native_type = std::wstring());
    t_ftd(const t_ftd&) = default;
    t_ftd& operator=(const t_ftd&) = default;
    // Readers derive their own descriptors and the tables keep them as
    // t_ftd, so the destructor is virtual although nothing else is.
    virtual ~t_ftd() = default;

    // The `reserved` word of a VT_DECIMAL column: the precision in bits 8 to
    // 15 (0 when none was declared) and the scale in bits 0 to 7 as a signed
    // byte, since Oracle scales run from -84 to 127. For a scale of zero or
    // more this is precision * 256 + scale. A pair that does not fit (a
    // precision outside 0..255, a scale outside -128..127) encodes as 0, a
    // numeric without precision, which holds every value of the column.
    static std::uint32_t encode_decimal(int precision, int scale) noexcept;
    static int decimal_precision(std::uint32_t reserved) noexcept;
    static int decimal_scale(std::uint32_t reserved) noexcept;

    std::uint32_t size;  // characters for text, bytes for binary; 0 unbounded
    std::wstring name;
    VARTYPE vartype;
    std::wstring native_type;  // the source's own type text, when asked for
    bool b_autoincrement;
    bool b_not_null;
    ole_variant default_value;  // VT_EMPTY when there is none
    // VT_DECIMAL: see encode_decimal; VT_DATE: the date kind; else unused.
    std::uint32_t reserved;
    std::wstring comment;
};
