// Oracle column types: the maps from dump type codes and declarations to
// the value types the reader produces.
#include "t_orcale_ftd.h"
#include "tk_exception.h"

#include <gtest/gtest.h>

namespace {

TEST(OraDumpTypes, Native2OratypeMapsDumpCodes)
{
    struct row {
        int code;
        unsigned charset;
        int expected;
    } rows[] = {
        {96, 2000, t_orcale_ftd::ora_nchar},   {96, 871, t_orcale_ftd::ora_char},
        {1, 0, t_orcale_ftd::ora_varchar2},    {1, 2000, t_orcale_ftd::ora_nvarchar2},
        {181, 0, t_orcale_ftd::ora_timestamp_tz}, {122, 0, t_orcale_ftd::ora_collection},
        {188, 0, t_orcale_ftd::ora_timestamp_tz}, {232, 0, t_orcale_ftd::ora_timestamp_tz},
        {180, 0, t_orcale_ftd::ora_timestamp},    {187, 0, t_orcale_ftd::ora_timestamp},
        {23, 0, t_orcale_ftd::ora_raw},
        {123, 0, t_orcale_ftd::ora_array},     {121, 0, t_orcale_ftd::ora_sdo_geometry},
        // The IEEE types are no FLOAT and no unknown type.
        {100, 0, t_orcale_ftd::ora_binary_float}, {101, 0, t_orcale_ftd::ora_binary_double},
        {4, 0, t_orcale_ftd::ora_float},       {2, 0, t_orcale_ftd::ora_number},
        {112, 0, t_orcale_ftd::ora_clob},      {113, 0, t_orcale_ftd::ora_blob},
        {231, 0, t_orcale_ftd::ora_timestamp_tz}, {999, 0, t_orcale_ftd::ora_none},
    };
    for (const row& r : rows)
        EXPECT_EQ(t_orcale_ftd::native2oratype(r.code, r.charset), r.expected) << "code " << r.code;
}

TEST(OraDumpTypes, Ora2OletypeKeepsEveryDigit)
{
    using T = t_orcale_ftd;
    struct row {
        int ora_type;
        unsigned size;
        int precision;
        int scale;
        unsigned charset;
        VARTYPE expected;
    } rows[] = {
        {T::ora_number, 22, 2, 0, 0, VT_I1},       {T::ora_number, 22, 3, 0, 0, VT_I2},
        {T::ora_number, 22, 4, 0, 0, VT_I2},       {T::ora_number, 22, 5, 0, 0, VT_I4},
        {T::ora_number, 22, 9, 0, 0, VT_I4},       {T::ora_number, 22, 10, 0, 0, VT_I8},
        {T::ora_number, 22, 18, 0, 0, VT_I8},      {T::ora_number, 22, 19, 0, 0, VT_DECIMAL},
        {T::ora_number, 22, 20, 0, 0, VT_DECIMAL}, {T::ora_number, 22, 38, 0, 0, VT_DECIMAL},
        // Neither precision nor scale: unconstrained, the size plays no part.
        {T::ora_number, 22, 0, 0, 0, VT_DECIMAL},  {T::ora_number, 22, 10, 2, 0, VT_DECIMAL},
        {T::ora_number, 22, 2, 5, 0, VT_DECIMAL},  {T::ora_number, 22, 10, -2, 0, VT_DECIMAL},
        {T::ora_float, 22, 126, 0, 0, VT_R8},      {T::ora_binary_float, 4, 0, 0, 0, VT_R4},
        {T::ora_binary_double, 8, 0, 0, 0, VT_R8}, {T::ora_xmltype, 0, 0, 0, 0, VT_BLOB},
        {T::ora_xmltype, 0, 0, 0, 873, VT_BSTR},   {T::ora_none, 0, 0, 0, 0, VT_NULL},
        {T::ora_unknown, 0, 0, 0, 0, VT_NULL},     {T::ora_date, 7, 0, 0, 0, VT_DATE},
        {T::ora_timestamp, 11, 0, 0, 0, VT_DATE},  {T::ora_clob, 0, 0, 0, 0, VT_BSTR},
        {T::ora_timestamp_tz, 13, 0, 0, 0, VT_DATE},
        {T::ora_sdo_geometry, 0, 0, 0, 0, VT_BLOB}, {T::ora_long_raw, 0, 0, 0, 0, VT_BLOB},
    };
    for (const row& r : rows)
        EXPECT_EQ(t_orcale_ftd::ora2oletype(r.ora_type, r.size, r.precision, r.scale, r.charset), r.expected)
            << "type " << r.ora_type << " p=" << r.precision << " s=" << r.scale;
}

TEST(OraDumpTypes, Native2OratextDeclarations)
{
    struct row {
        int code;
        unsigned length;
        unsigned charset;
        int precision;
        int scale;
        const wchar_t* expected;
    } rows[] = {
        {2, 22, 0, 126, 0, L"FLOAT"},      {2, 22, 0, 10, 0, L"NUMBER(10, 0)"},
        {2, 22, 0, 0, 0, L"NUMBER"},       {23, 1999, 0, 0, 0, L"RAW(1999)"},
        {23, 2000, 0, 0, 0, L"BLOB"},      {123, 100, 0, 0, 0, L"RAW(100)"},
        {1, 20, 2000, 0, 0, L"NVARCHAR2(20)"}, {96, 5, 0, 0, 0, L"CHAR(5)"},
        {100, 4, 0, 0, 0, L"BINARY_FLOAT"}, {101, 8, 0, 0, 0, L"BINARY_DOUBLE"},
        {4, 22, 0, 0, 0, L"FLOAT"},        {187, 11, 0, 0, 0, L"TIMESTAMP"},
        {181, 13, 0, 0, 0, L"TIMESTAMP WITH TIME ZONE"}, {231, 11, 0, 0, 0, L"TIMESTAMP WITH LOCAL TIME ZONE"},
    };
    for (const row& r : rows)
        EXPECT_EQ(t_orcale_ftd::native2oratext(r.code, r.length, r.charset, r.precision, r.scale), r.expected);
    try {
        t_orcale_ftd::native2oratext(122, 0, 0, 0, 0);
        FAIL() << "code 122 has no declaration";
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Unknown field type");
        EXPECT_EQ(e.level, 0);
    }
}

TEST(OraDumpTypes, ReservedWordKeepsPrecisionAndSignedScale)
{
    struct row {
        VARTYPE vt;
        int precision;
        int scale;
        std::uint32_t expected;
    } rows[] = {
        {VT_DECIMAL, 10, 2, 0x0A02},
        // Never swapped: values like 0.00012 need scale 5.
        {VT_DECIMAL, 2, 5, 0x0205},
        {VT_DECIMAL, 10, -2, 0x0AFE},
        {VT_DECIMAL, 38, 0, 0x2600},
        {VT_DECIMAL, 0, 0, 0},
        {VT_DECIMAL, 38, -84, 0x26AC},
        {VT_I4, 5, 0, 0x0500},
        {VT_DATE, 0, 0, 1},
        {VT_R8, 126, 0, 0},
        {VT_BSTR, 0, 0, 0},
    };
    for (const row& r : rows) {
        t_orcale_ftd f(8, t_orcale_ftd::ora_number, L"C", r.vt);
        f.apply_reserved(r.precision, r.scale);
        EXPECT_EQ(f.reserved, r.expected) << r.precision << "," << r.scale;
    }
    t_orcale_ftd tz(0, t_orcale_ftd::ora_timestamp_tz, L"T", VT_DATE);
    tz.apply_reserved(0, 0);
    EXPECT_EQ(tz.reserved, t_ftd::date_time_utc);
    t_orcale_ftd f(8, t_orcale_ftd::ora_number, L"C", VT_DECIMAL);
    f.apply_reserved(10, -2);
    EXPECT_EQ(t_ftd::decimal_precision(f.reserved), 10);
    EXPECT_EQ(t_ftd::decimal_scale(f.reserved), -2);
    EXPECT_EQ(f.charset_id, 0);
}

}  // namespace
