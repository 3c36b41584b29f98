// Exact numbers for the value carrier: the currency `ole_cy` and the decimal
// `ole_decimal`.
//
// An Oracle NUMBER has up to 40 significant decimal digits and an exponent
// from 10^-130 to below 10^126, which neither a double nor a 96-bit decimal
// can carry. `ole_decimal` keeps the digits as text with a decimal exponent,
// so a value reaches PostgreSQL's numeric exactly. Values a numeric column
// cannot hold (more than 131072 digits before the point or 16383 after) are
// refused as overflow; nothing ever wraps.
//
// Up to `inline_digits` digits live inside the object, so the values of a
// dump row need no heap allocation; longer coefficients (texts read back
// from a numeric column) go to the heap.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The outcome of reading a number.
enum class ole_number_status {
    ok,
    not_a_number,  // the text is not a number at all
    overflow,      // a number, but beyond what the target type holds
};

// A currency: a signed count of 1/10000.
struct ole_cy {
    static constexpr std::int64_t scale = 10000;

    std::int64_t units = 0;

    static constexpr ole_cy from_units(std::int64_t u) noexcept
    {
        ole_cy c;
        c.units = u;
        return c;
    }

    // Reads optional blanks, a sign, digits with at most one point and an
    // optional exponent, then optional blanks; nothing else may follow.
    // The value is rounded half to even to four places. With
    // comma_as_point a ',' stands for the point.
    static ole_number_status parse(std::string_view text, ole_cy& out, bool comma_as_point = false);

    // Plain positional text: "-" for negatives, "." as the point, no
    // trailing fraction zeros, "0" for zero. 5.0000 gives "5".
    std::string to_string() const;
    void append_to(std::string& out) const;

    friend constexpr auto operator<=>(const ole_cy&, const ole_cy&) = default;
};

class ole_decimal {
public:
    static constexpr std::size_t inline_digits = 40;
    static constexpr std::int64_t max_integer_digits = 131072;
    static constexpr std::int64_t max_fraction_digits = 16383;

    // Zero.
    ole_decimal() noexcept = default;
    ole_decimal(const ole_decimal&) = default;
    ole_decimal& operator=(const ole_decimal&) = default;
    // A moved-from decimal is zero: its digit count must never outlive the
    // heap digits it gave away.
    ole_decimal(ole_decimal&& other) noexcept;
    ole_decimal& operator=(ole_decimal&& other) noexcept;

    // The value (negative ? -1 : 1) * digits * 10^exponent. The digit text
    // may carry leading and trailing zeros. Raises ole_cast_exception when
    // the text holds anything but decimal digits or the value is out of
    // range.
    ole_decimal(bool negative, std::string_view digits, std::int32_t exponent);

    // The same without raising; out is changed only on success. The
    // exponent is 64-bit so that callers can pass sums that an int32 would
    // wrap.
    static ole_number_status make(bool negative, std::string_view digits, std::int64_t exponent,
                                  ole_decimal& out);

    // The syntax of ole_cy::parse; out is changed only on success.
    static ole_number_status parse(std::string_view text, ole_decimal& out, bool comma_as_point = false);

    static ole_decimal from_int64(std::int64_t value);
    static ole_decimal from_uint64(std::uint64_t value);
    static ole_decimal from_cy(ole_cy value);
    // The shortest digits that read back as the same value. False for NaN
    // and the infinities.
    static bool from_double(double value, ole_decimal& out);
    static bool from_float(float value, ole_decimal& out);

    bool is_zero() const noexcept { return count == 0; }
    bool is_negative() const noexcept { return negative; }
    // The coefficient without leading or trailing zeros; empty for zero.
    std::string_view digits() const noexcept
    {
        return count <= inline_digits ? std::string_view(small, count) : std::string_view(large);
    }
    // value = digits * 10^exponent
    std::int32_t get_exponent() const noexcept { return exponent; }

    // Plain positional text, as ole_cy prints: 1E-130 gives "0." followed
    // by 129 zeros and "1".
    std::string to_string() const;
    void append_to(std::string& out) const;

    // Integer conversions round half to even; false when the result does
    // not fit.
    bool to_int64(std::int64_t& out) const;
    bool to_uint64(std::uint64_t& out) const;
    // The rounded value as sign and magnitude; false beyond 2^64 - 1.
    bool to_integer(bool& is_negative, std::uint64_t& magnitude) const;
    // Rounded half to even to four places; false beyond the currency range.
    bool to_cy(ole_cy& out) const;
    // The nearest value (correctly rounded). False when the value lies
    // beyond the type's range; values too small for it give a zero.
    bool to_double(double& out) const;
    bool to_float(float& out) const;
    // The 16 bytes of an OLE DECIMAL: reserved 14 (2 bytes), scale, sign
    // (0x80 for negatives), the high 32 bits and the low 64 bits of the
    // coefficient, little-endian. False when the value needs more than 96
    // bits or a scale outside 0 to 28.
    bool to_ole_bytes(std::uint8_t out[16]) const;

    // -1, 0 or 1 by value.
    int compare(const ole_decimal& other) const noexcept;
    friend bool operator==(const ole_decimal& a, const ole_decimal& b) noexcept { return a.compare(b) == 0; }
    friend std::strong_ordering operator<=>(const ole_decimal& a, const ole_decimal& b) noexcept
    {
        return a.compare(b) <=> 0;
    }

private:
    // Rounds value * 10^places half to even to an integer magnitude.
    bool scaled_integer(std::int64_t places, std::uint64_t& magnitude) const;
    // The digits with a scientific exponent, for the floating parsers.
    std::string scientific_text() const;

    std::uint32_t count = 0;  // number of digits; 0 for zero
    std::int32_t exponent = 0;
    bool negative = false;
    char small[inline_digits] = {};
    std::string large;  // the digits when there are more than inline_digits
};
