#include "t_orcale_ftd.h"

#include "tk_exception.h"
#include "tk_logger.h"

t_orcale_ftd::t_orcale_ftd(std::uint32_t size, std::int32_t ora_type, const std::wstring& name, VARTYPE vartype,
                           bool b_not_null, bool b_autoincrement, const ole_variant& default_value,
                           std::uint32_t reserved)
    : t_ftd(size, name, vartype, b_not_null, b_autoincrement, default_value, reserved), ora_type(ora_type)
{
}

std::int32_t t_orcale_ftd::native2oratype(int native_type, unsigned charset_id)
{
    TK_TRACE(1, "t_orcale_ftd::native2oratype(%d)", native_type);
    const bool national = charset_id == national_charset;
    switch (native_type) {
    case 2:
    case 3:
    case 68:
        return ora_number;
    case 96:
        return national ? ora_nchar : ora_char;
    case 1:
    case 5:
    case 9:
    case 97:
        return national ? ora_nvarchar2 : ora_varchar2;
    case 113:
        return ora_blob;
    case 114:
        return ora_bfile;
    case 112:
    case 115:
        return ora_clob;
    case 23:
        return ora_raw;
    case 24:
        return ora_long_raw;
    case 12:
    case 184:
        return ora_date;
    case 4:
        return ora_float;
    // The IEEE types have layouts of their own; they are no NUMBER.
    case 100:
        return ora_binary_float;
    case 101:
        return ora_binary_double;
    case 8:
        return ora_long;
    case 11:
    case 69:
        return ora_rowid;
    case 180:
    case 185:
    case 186:
    case 187:
        return ora_timestamp;
    case 181:
    case 188:
    case 231:
    case 232:
        return ora_timestamp_tz;
    case 58:
        return ora_xmltype;
    case 121:
        return ora_sdo_geometry;
    case 122:
        return ora_collection;
    case 123:
        return ora_array;
    default:
        return ora_none;
    }
}

VARTYPE t_orcale_ftd::ora2oletype(std::int32_t ora_type, std::uint32_t size, int precision, int scale,
                                  unsigned charset_id)
{
    TK_TRACE(1, "t_orcale_ftd::ora2oletype(type=%d,s=%d,p=%d)", ora_type, scale, precision);
    (void)size;
    switch (ora_type) {
    case ora_number:
        // Neither given: NUMBER or NUMBER(*), any value at all.
        if (precision == 0 && scale == 0)
            return VT_DECIMAL;
        if (scale != 0)
            return VT_DECIMAL;
        if (precision <= 2)
            return VT_I1;
        if (precision <= 4)
            return VT_I2;
        if (precision <= 9)
            return VT_I4;
        if (precision <= 18)
            return VT_I8;
        return VT_DECIMAL;
    case ora_float:
        return VT_R8;
    case ora_binary_float:
        return VT_R4;
    case ora_binary_double:
        return VT_R8;
    case ora_date:
    case ora_timestamp:
    case ora_timestamp_tz:
        return VT_DATE;
    case ora_xmltype:
        return charset_id != 0 ? VT_BSTR : VT_BLOB;
    case ora_blob:
    case ora_bfile:
    case ora_raw:
    case ora_long_raw:
    case ora_sdo_geometry:
    case ora_collection:
    case ora_array:
        return VT_BLOB;
    case ora_char:
    case ora_nchar:
    case ora_varchar2:
    case ora_nvarchar2:
    case ora_clob:
    case ora_long:
    case ora_rowid:
    case ora_key:
        return VT_BSTR;
    default:
        return VT_NULL;
    }
}

std::wstring t_orcale_ftd::native2oratext(int native_type, std::uint32_t length, unsigned charset_id,
                                          int precision, int scale)
{
    const bool national = charset_id == national_charset;
    auto sized = [&](const wchar_t* word) { return std::wstring(word) + L"(" + std::to_wstring(length) + L")"; };
    switch (native_type) {
    case 1:
    case 5:
    case 9:
    case 97:
        return sized(national ? L"NVARCHAR2" : L"VARCHAR2");
    case 96:
        return sized(national ? L"NCHAR" : L"CHAR");
    case 2:
    case 3:
    case 68:
        if (precision == 0 && scale == 0)
            return L"NUMBER";
        if (length == 22 && precision == 126 && scale == 0)
            return L"FLOAT";
        return L"NUMBER(" + std::to_wstring(precision) + L", " + std::to_wstring(scale) + L")";
    case 4:
        return L"FLOAT";
    case 100:
        return L"BINARY_FLOAT";
    case 101:
        return L"BINARY_DOUBLE";
    case 8:
    case 112:
    case 115:
        return L"CLOB";
    case 11:
    case 69:
        return L"ROWID";
    case 12:
    case 184:
        return L"DATE";
    case 23:
    case 123:
        return length < 2000 ? sized(L"RAW") : std::wstring(L"BLOB");
    case 113:
        return L"BLOB";
    case 24:
        return L"LONG RAW";
    case 58:
        return L"XMLTYPE";
    case 114:
        return L"BFILE";
    case 121:
        return L"SDO_GEOMETRY";
    case 180:
    case 185:
    case 186:
    case 187:
        return L"TIMESTAMP";
    case 181:
    case 188:
        return L"TIMESTAMP WITH TIME ZONE";
    case 231:
    case 232:
        return L"TIMESTAMP WITH LOCAL TIME ZONE";
    default:
        throw tk_exception("Unknown field type", 0);
    }
}

std::uint32_t t_orcale_ftd::reserved_word(VARTYPE vartype, int precision, int scale)
{
    switch (vartype) {
    case VT_DATE:
        TK_TRACE(2, "Set 'trusted date' flag");
        return t_ftd::date_and_time;
    case VT_DECIMAL:
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
        return t_ftd::encode_decimal(precision, scale);
    default:
        return 0;
    }
}

void t_orcale_ftd::apply_reserved(int precision, int scale)
{
    reserved = reserved_word(vartype, precision, scale);
    if (vartype == VT_DATE && ora_type == ora_timestamp_tz)
        reserved = t_ftd::date_time_utc;
}
