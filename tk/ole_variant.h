// The value carrier: one column value on its way from the dump reader to the
// PostgreSQL writer.
//
// A tagged value with the type codes of OLE Automation (the column model
// speaks them), but no OLE underneath: text is a std::wstring, a byte array a
// std::vector, a date its calendar fields, a decimal an exact ole_decimal.
// Numbers live inside the object, so carrying them allocates nothing. The
// texts of to_string are the ones the writer sends to the server, so every
// conversion is exact and none depends on the process locale.
#pragma once

#include "ole_decimal.h"
#include "t_systemtime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using VARTYPE = std::uint16_t;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_CY = 6;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_DECIMAL = 14;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_LPWSTR = 31;
inline constexpr VARTYPE VT_BLOB = 65;
inline constexpr VARTYPE VT_BLOB_OBJECT = 70;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
// A one-dimensional array of bytes (8209): the form every binary value takes.
inline constexpr VARTYPE VT_BYTE_ARRAY = VT_ARRAY | VT_UI1;

class ole_variant {
public:
    ole_variant() noexcept;
    ole_variant(const t_systemtime& time);
    ole_variant(ole_cy value);
    ole_variant(const ole_decimal& value);
    ole_variant(ole_decimal&& value);
    // Text up to its first NUL; a null pointer gives an empty text.
    ole_variant(const wchar_t* text);
    // UTF-8, up to its first NUL.
    ole_variant(const char* text);
    ole_variant(const std::string& text);
    ole_variant(const std::wstring& text);
    ole_variant(std::wstring&& text);
    ole_variant(bool value);  // -1 for true, 0 for false
    ole_variant(char value);
    ole_variant(signed char value);
    ole_variant(unsigned char value);
    ole_variant(short value);
    ole_variant(unsigned short value);
    ole_variant(int value);
    ole_variant(unsigned int value);
    ole_variant(long value);
    ole_variant(unsigned long value);
    ole_variant(long long value);
    ole_variant(unsigned long long value);
    ole_variant(float value);
    ole_variant(double value);
    // A byte array holding a copy of the bytes.
    ole_variant(std::size_t count, const void* bytes);
    ole_variant(const std::vector<std::uint8_t>& bytes);
    ole_variant(std::vector<std::uint8_t>&& bytes);

    // Copies are deep. A moved-from value is VT_EMPTY.
    ole_variant(const ole_variant&) = default;
    ole_variant(ole_variant&& other) noexcept;
    ole_variant& operator=(const ole_variant&) = default;
    ole_variant& operator=(ole_variant&& other) noexcept;
    virtual ~ole_variant();

    ole_variant& operator=(const wchar_t* text);
    ole_variant& operator=(const char* text);
    ole_variant& operator=(const std::string& text);
    ole_variant& operator=(const std::wstring& text);
    ole_variant& operator=(std::wstring&& text);

    // VT_BSTR of UTF-8 text, cut at its first NUL.
    void attach_string(std::string_view text);
    // VT_BSTR of all characters, embedded NULs included.
    void attach_wstring(const std::wstring& text);
    void attach_wstring(std::wstring&& text);
    // VT_BSTR kept as the UTF-8 given (valid UTF-8, cut here at its first
    // NUL), for a text so long that its wide characters would cost four
    // times its bytes: the wide text is made only when get_bstr asks for it,
    // and the value then keeps that form instead.
    void attach_utf8(std::string&& text);
    // A byte array of exactly count bytes. A count of 0 gives an empty array
    // whatever the pointer; a null pointer with bytes to copy is an internal
    // error.
    void attach_binary(std::size_t count, const void* bytes);
    void attach_binary(const std::vector<std::uint8_t>& bytes);
    void attach_binary(std::vector<std::uint8_t>&& bytes);
    // Makes the value a byte array of count bytes: an existing array is
    // resized (its first bytes kept), anything else becomes a zeroed array.
    void allocate_safe_array(std::size_t count);

    void clear() noexcept;     // VT_EMPTY
    void set_null() noexcept;  // VT_NULL

    VARTYPE get_vt() const noexcept { return vt; }
    bool is_binary() const noexcept { return is_binary_type(vt); }
    bool is_string_or_date() const noexcept { return vt == VT_BSTR || vt == VT_DATE; }
    static bool is_binary_type(VARTYPE type) noexcept
    {
        return type == VT_BLOB || type == VT_BLOB_OBJECT || type == VT_BYTE_ARRAY;
    }

    // Typed reads. Each gives the value when the type matches and a zero
    // (or an empty object) otherwise.
    std::int8_t get_i1() const noexcept { return vt == VT_I1 ? num.i1 : 0; }
    std::uint8_t get_ui1() const noexcept { return vt == VT_UI1 ? num.ui1 : 0; }
    std::int16_t get_i2() const noexcept { return vt == VT_I2 ? num.i2 : 0; }
    std::uint16_t get_ui2() const noexcept { return vt == VT_UI2 ? num.ui2 : 0; }
    std::int32_t get_i4() const noexcept { return vt == VT_I4 ? num.i4 : 0; }
    std::uint32_t get_ui4() const noexcept { return vt == VT_UI4 ? num.ui4 : 0; }
    std::int32_t get_int() const noexcept { return vt == VT_INT ? num.i4 : 0; }
    std::uint32_t get_uint() const noexcept { return vt == VT_UINT ? num.ui4 : 0; }
    float get_r4() const noexcept { return vt == VT_R4 ? num.r4 : 0.0f; }
    double get_r8() const noexcept { return vt == VT_R8 ? num.r8 : 0.0; }
    std::int16_t get_bool() const noexcept { return vt == VT_BOOL ? num.boolean : 0; }
    ole_cy get_cy() const noexcept { return vt == VT_CY ? ole_cy::from_units(num.cy) : ole_cy(); }
    // The two 64-bit fields, whatever the type: a VT_I8 or VT_UI8 value
    // lives in its field, and a change between the two copies the bits into
    // the other field.
    std::int64_t get_int64() const noexcept { return int64_value; }
    std::uint64_t get_uint64() const noexcept { return uint64_value; }
    const t_systemtime& get_time() const noexcept { return time; }
    const ole_decimal& get_decimal() const noexcept { return decimal; }
    // The wide text. A text kept as UTF-8 turns into its wide form here, so
    // a value must not be read this way from two threads at once.
    const std::wstring& get_bstr() const;
    // Whether a VT_BSTR is kept as UTF-8 (attach_utf8), and that UTF-8,
    // for a writer that sends it without making the wide text.
    bool is_compact_text() const noexcept { return compact; }
    std::string_view compact_text() const noexcept { return text8; }
    // The bytes of a byte array, for writers that need them as they are.
    const std::vector<std::uint8_t>& get_bytes() const noexcept { return bytes; }
    const std::uint8_t* byte_data() const noexcept { return bytes.data(); }
    std::size_t byte_count() const noexcept { return bytes.size(); }
    // Writable bytes of a byte array (after allocate_safe_array); null for
    // other types or an empty array.
    std::uint8_t* access_bytes() noexcept { return vt == VT_BYTE_ARRAY && !bytes.empty() ? bytes.data() : nullptr; }

    static std::vector<std::uint8_t> convert_to_byte_array(const std::uint8_t* data, std::size_t count);

    // The text the writer sends to the server (see append_string).
    virtual std::string to_string() const;
    // A VT_BSTR gives its text up to the first NUL, anything else the
    // to_string text.
    virtual std::wstring to_wstring() const;
    // Appends the to_string text, so that a writer can build a whole line
    // without a string per value.
    void append_string(std::string& out) const;

    // A new value of the requested type read from text. Integers read as
    // strtoll reads them (a text without digits is 0) and raise
    // ole_cast_exception beyond the type's range; currency and decimal texts
    // that do not read give VT_EMPTY and a level-3 trace line; a date that
    // does not read gives VT_EMPTY; other types go through change_type and
    // raise ole_type_exception when that fails.
    static ole_variant from_string(std::string_view text, VARTYPE type);
    static ole_variant from_wstring(std::wstring_view text, VARTYPE type);

    // Changes the value to the given type in place. A conversion that would
    // lose the value raises ole_cast_exception and leaves the value as it
    // was.
    void change_type(VARTYPE type);

private:
    // Frees the text or the bytes of the old value when the new type does
    // not keep them, and sets the type.
    void set_type(VARTYPE type) noexcept;
    void set_bool(bool value) noexcept;
    // Turns a text kept as UTF-8 into its wide form.
    void widen() const;
    // Stores an integer that fits the type.
    void store_integer(VARTYPE type, bool negative, std::uint64_t magnitude) noexcept;
    // The value of an integer or BOOL type as sign and magnitude; false for
    // other types.
    bool exact_integer(bool& negative, std::uint64_t& magnitude) const noexcept;
    void change_from_64(VARTYPE type);
    void change_to_64(VARTYPE type);
    void change_to_small_int(VARTYPE type);
    void change_binary_to(VARTYPE type);
    void change_to_binary(VARTYPE type);
    void change_by_table(VARTYPE type);

    // Fields in this order: the two 64-bit fields, the date, then the type
    // and the value of every other type.
    std::int64_t int64_value = 0;
    std::uint64_t uint64_value = 0;
    t_systemtime time;
    VARTYPE vt = VT_EMPTY;
    // A VT_BSTR whose text is in text8, not in bstr.
    mutable bool compact = false;
    union number {
        std::int8_t i1;
        std::uint8_t ui1;
        std::int16_t i2;
        std::uint16_t ui2;
        std::int32_t i4;  // VT_I4 and VT_INT
        std::uint32_t ui4;  // VT_UI4 and VT_UINT
        float r4;
        double r8;
        std::int16_t boolean;
        std::int64_t cy;
    } num{};
    mutable std::wstring bstr;
    mutable std::string text8;
    std::vector<std::uint8_t> bytes;
    ole_decimal decimal;
};
