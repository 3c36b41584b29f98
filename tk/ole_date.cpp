#include "ole_date.h"

#include "ole_variant.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <utility>

// Dates reach this class from dump bytes, DDL defaults and user input, so
// every text is read by a bounded scanner of our own: no fixed buffers, no
// number that can overflow, and nothing that depends on the process locale.

namespace {

// A number of more digits than this fails its parsing attempt instead of
// overflowing; no field of a date comes near it.
constexpr std::size_t max_number_digits = 9;

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int digits_value(std::string_view digits)
{
    int v = 0;
    for (char c : digits)
        v = v * 10 + (c - '0');
    return v;
}

bool all_digits(std::string_view text)
{
    for (char c : text)
        if (!is_digit(c))
            return false;
    return true;
}

// The first year the server takes, 4713 BC.
constexpr int first_year = -4713;

// Cuts a trailing era (BC or AD, in any case, after a blank or a digit)
// off the text; true when it was BC.
bool cut_era(std::string& text)
{
    if (text.size() < 3 || !(is_space(text[text.size() - 3]) || is_digit(text[text.size() - 3])))
        return false;
    const char a = tk_ascii_upper(text[text.size() - 2]);
    const char b = tk_ascii_upper(text[text.size() - 1]);
    const bool bc = a == 'B' && b == 'C';
    if (!bc && !(a == 'A' && b == 'D'))
        return false;
    text = tk_trim(text.substr(0, text.size() - 2));
    return bc;
}

// Reads what the scanf directives of the date forms read: "%d" (blanks, an
// optional sign, digits), a literal character (no blanks skipped) and "%s"
// (blanks, then a word up to the next blank).
class scanner {
public:
    enum class result { ok, mismatch, too_long };

    explicit scanner(std::string_view text) : text(text) {}

    result number(int& value, int* digit_count = nullptr)
    {
        skip_spaces();
        std::size_t p = pos;
        bool negative = false;
        if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
            negative = text[p] == '-';
            ++p;
        }
        std::size_t start = p;
        while (p < text.size() && is_digit(text[p]))
            ++p;
        std::size_t count = p - start;
        if (count == 0)
            return result::mismatch;
        if (count > max_number_digits)
            return result::too_long;
        int v = digits_value(text.substr(start, count));
        value = negative ? -v : v;
        if (digit_count)
            *digit_count = static_cast<int>(count);
        pos = p;
        return result::ok;
    }

    bool literal(char c)
    {
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }

    bool word(std::string_view& out)
    {
        skip_spaces();
        std::size_t start = pos;
        while (pos < text.size() && !is_space(text[pos]))
            ++pos;
        out = text.substr(start, pos - start);
        return !out.empty();
    }

    void skip_spaces()
    {
        while (pos < text.size() && is_space(text[pos]))
            ++pos;
    }

    std::string_view rest() const { return text.substr(pos); }

private:
    std::string_view text;
    std::size_t pos = 0;
};

// What one scanf-like form matched: the count of items read (as scanf
// counts them), the fields, and where the matched part ends.
struct scanned {
    int count = 0;
    bool too_long = false;
    t_systemtime fields;
    int year_digits = 0;
    int day_digits = 0;
    std::string_view seconds;
    std::string_view rest;
};

// "%d:%d:%s": hour, minute and the seconds word.
scanned scan_time(std::string_view text)
{
    scanned r;
    scanner s(text);
    auto item = [&](int& target) {
        scanner::result res = s.number(target);
        if (res == scanner::result::too_long)
            r.too_long = true;
        if (res != scanner::result::ok)
            return false;
        ++r.count;
        return true;
    };
    if (item(r.fields.hour) && s.literal(':') && item(r.fields.minute)) {
        r.rest = s.rest();
        if (s.literal(':') && s.word(r.seconds)) {
            ++r.count;
            r.rest = s.rest();
        }
    }
    return r;
}

// "%d<sep>%d<sep>%d %d:%d:%s": year, month, day, hour, minute and the
// seconds word.
scanned scan_date_time(std::string_view text, char separator)
{
    scanned r;
    scanner s(text);
    int* targets[5] = {&r.fields.year, &r.fields.month, &r.fields.day, &r.fields.hour,
                       &r.fields.minute};
    for (int i = 0; i < 5; ++i) {
        if ((i == 1 || i == 2) && !s.literal(separator))
            return r;
        if (i == 4 && !s.literal(':'))
            return r;
        int digits = 0;
        scanner::result res = s.number(*targets[i], &digits);
        if (res == scanner::result::too_long)
            r.too_long = true;
        if (res != scanner::result::ok)
            return r;
        if (i == 0)
            r.year_digits = digits;
        if (i == 2)
            r.day_digits = digits;
        ++r.count;
        r.rest = s.rest();
    }
    if (s.literal(':') && s.word(r.seconds)) {
        ++r.count;
        r.rest = s.rest();
    }
    return r;
}

// Reads the leading number of a seconds text as atof reads it (blanks, a
// sign, digits, a point, digits, an exponent; anything after it is ignored,
// and no number at all reads as 0), but keeps the fraction as text: its
// first six digits are the microseconds, so "30.002" is exactly 2000 µs and
// "30.1234567" is 123456 µs. False when the whole seconds have more digits
// than any second of a minute could; second and microsecond are then left
// as they were.
bool read_seconds(std::string_view text, int& second, int& microsecond)
{
    std::size_t p = 0;
    while (p < text.size() && is_space(text[p]))
        ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    std::size_t int_start = p;
    while (p < text.size() && is_digit(text[p]))
        ++p;
    std::string_view int_digits = text.substr(int_start, p - int_start);
    std::string_view frac_digits;
    if (p < text.size() && text[p] == '.') {
        std::size_t frac_start = ++p;
        while (p < text.size() && is_digit(text[p]))
            ++p;
        frac_digits = text.substr(frac_start, p - frac_start);
    }
    if (int_digits.empty() && frac_digits.empty()) {
        second = 0;
        microsecond = 0;
        return true;
    }

    // An exponent moves the point; it counts only with a digit after the
    // 'e' and its sign. Its size is clamped, far beyond any useful value.
    long long exponent = 0;
    if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
        std::size_t q = p + 1;
        bool exp_negative = false;
        if (q < text.size() && (text[q] == '+' || text[q] == '-')) {
            exp_negative = text[q] == '-';
            ++q;
        }
        if (q < text.size() && is_digit(text[q])) {
            while (q < text.size() && is_digit(text[q])) {
                if (exponent < 1000000)
                    exponent = exponent * 10 + (text[q] - '0');
                ++q;
            }
            if (exp_negative)
                exponent = -exponent;
        }
    }

    // The digits of integer and fraction in one row, with the point after
    // position `point`; leading zeros do not count.
    std::size_t lead = 0;
    std::size_t total = int_digits.size() + frac_digits.size();
    auto digit_at = [&](long long i) -> char {
        if (i < 0 || i >= static_cast<long long>(total))
            return '0';
        std::size_t u = static_cast<std::size_t>(i);
        return u < int_digits.size() ? int_digits[u] : frac_digits[u - int_digits.size()];
    };
    while (lead < total && digit_at(static_cast<long long>(lead)) == '0')
        ++lead;
    if (lead == total) {
        second = 0;  // zero, whatever the exponent
        microsecond = 0;
        return true;
    }
    long long point = static_cast<long long>(int_digits.size()) + exponent;
    if (point - static_cast<long long>(lead) > static_cast<long long>(max_number_digits))
        return false;
    int whole = 0;
    for (long long i = static_cast<long long>(lead); i < point; ++i)
        whole = whole * 10 + (digit_at(i) - '0');
    int micro = 0;
    for (long long i = 0; i < 6; ++i)
        micro = micro * 10 + (digit_at(point + i) - '0');
    second = negative ? -whole : whole;
    microsecond = negative ? -micro : micro;
    return true;
}

bool read_seconds_traced(std::string_view text, int& second, int& microsecond)
{
    TK_TRACE(1, "Got row sec: '%s'", text);
    if (!read_seconds(text, second, microsecond))
        return false;
    TK_TRACE(1, "Got sec: %d", second);
    TK_TRACE(1, "Got msec: %d", microsecond / 1000);
    TK_TRACE(1, "Got usec: %d", microsecond);
    return true;
}

// printf's "%0*d", without the C library.
void append_padded(std::string& out, int value, int width)
{
    char digits[16];
    long long v = value;
    bool negative = v < 0;
    unsigned long long magnitude = negative ? static_cast<unsigned long long>(-v)
                                            : static_cast<unsigned long long>(v);
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, magnitude);
    (void)ec;
    int length = static_cast<int>(end - digits);
    if (negative) {
        out += '-';
        --width;
    }
    for (int i = length; i < width; ++i)
        out += '0';
    out.append(digits, end);
}

void append_fraction(std::string& out, int microsecond)
{
    if (microsecond == 0)
        return;
    out += '.';
    if (microsecond % 1000 == 0)
        append_padded(out, microsecond / 1000, 3);
    else
        append_padded(out, microsecond, 6);
}

void append_date(std::string& out, const t_systemtime& t)
{
    append_padded(out, t.year < 0 ? -t.year : t.year, 4);
    out += '-';
    append_padded(out, t.month, 2);
    out += '-';
    append_padded(out, t.day, 2);
}

void append_time(std::string& out, const t_systemtime& t)
{
    append_padded(out, t.hour, 2);
    out += ':';
    append_padded(out, t.minute, 2);
    out += ':';
    append_padded(out, t.second, 2);
}

bool has_date(const t_systemtime& t) { return t.year != 0 || t.month != 0 || t.day != 0; }

const char* const month_names[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",
                                     "MAY",     "JUNE",     "JULY",      "AUGUST",
                                     "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

// 1 to 12 for an English month name, three letters or full, in any case;
// 0 otherwise.
int month_from_name(std::string_view name)
{
    for (int m = 0; m < 12; ++m) {
        std::string_view full = month_names[m];
        if (name.size() != 3 && name.size() != full.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = tk_ascii_upper(name[i]) == full[i];
        if (same)
            return m + 1;
    }
    return 0;
}

// A run of 1 to max_count digits at p; false when there is none or too many.
bool take_digits(std::string_view text, std::size_t& p, std::size_t max_count, int& value,
                 std::size_t* count = nullptr)
{
    std::size_t start = p;
    while (p < text.size() && is_digit(text[p]))
        ++p;
    std::size_t n = p - start;
    if (n == 0 || n > max_count)
        return false;
    value = digits_value(text.substr(start, n));
    if (count)
        *count = n;
    return true;
}

}  // namespace

ole_date::ole_date(const t_systemtime& fields) : kind(1), time(fields)
{
    TK_TRACE(1, "ole_date::ole_date(SYSTEMTIME)");
    time.day_of_week = 0;
    refine_type();
}

ole_date::ole_date(const std::string& text_in)
{
    std::string text(tk_up_to_nul(std::string_view(text_in)));
    TK_TRACE(1, "ole_date::ole_date('%s')", text);
    std::string t = tk_trim(text);
    TK_TRACE(1, "After tk_trim: %s", t);
    const bool bc = cut_era(t);

    // The first marker found, in this order, ends the text.
    static const char* const markers[4] = {"AM", "PM", "am", "pm"};
    bool am = false;
    bool pm = false;
    for (int i = 0; i < 4; ++i) {
        std::size_t at = t.find(markers[i]);
        if (at != std::string::npos) {
            am = i % 2 == 0;
            pm = !am;
            t = tk_trim(t.substr(0, at));
            break;
        }
    }
    TK_TRACE(1, "Again buf1=%s", t);

    if (t.size() <= 4) {
        TK_TRACE(2, "Invalid date/time format: '%s'", text);
        return;
    }
    parsing_bc = bc;
    import_from_string(t);
    parsing_bc = false;

    // The twelve-hour clock: 12 AM is the first hour of the day, 12 PM noon.
    if (kind == 1 || kind == 3) {
        if (pm && time.hour <= 11)
            time.hour += 12;
        else if (am && time.hour == 12)
            time.hour = 0;
    }
}

ole_date::ole_date(const std::wstring& text) : ole_date(tk_to_utf8(text)) {}

void ole_date::import_from_string(const std::string& text_in)
{
    TK_TRACE(1, "ole_date::import_from_string");
    std::string_view t = tk_up_to_nul(std::string_view(text_in));
    kind = 0;
    time = t_systemtime{};

    // Compact timestamps: yyyymmddhhmmss and yyyymmdd.
    if (t.size() == 14) {
        TK_TRACE(1, "Trying timestamp format (1)...");
        if (all_digits(t)) {
            t_systemtime f;
            f.year = digits_value(t.substr(0, 4));
            f.month = digits_value(t.substr(4, 2));
            f.day = digits_value(t.substr(6, 2));
            f.hour = digits_value(t.substr(8, 2));
            f.minute = digits_value(t.substr(10, 2));
            f.second = digits_value(t.substr(12, 2));
            if (accept(f, 1, 4, 2, true))
                return;
        }
    }
    if (t.size() == 8) {
        TK_TRACE(1, "Trying timestamp format (2)...");
        if (all_digits(t)) {
            t_systemtime f;
            f.year = digits_value(t.substr(0, 4));
            f.month = digits_value(t.substr(4, 2));
            f.day = digits_value(t.substr(6, 2));
            if (accept(f, 2, 4, 2, true))
                return;
        }
    }

    // Like the scanf forms they stand for, the forms below match a leading
    // part of the text and ignore what follows it.
    TK_TRACE(1, "Trying pure time format...");
    {
        scanned r = scan_time(t);
        if (!r.too_long) {
            if (r.count == 3) {
                if (read_seconds_traced(r.seconds, r.fields.second, r.fields.microsecond) &&
                    accept(r.fields, 3, 0, 0, false))
                    return;
            } else if (r.count == 2) {
                if (accept(r.fields, 3, 0, 0, false))
                    return;
            }
        }
    }

    static const char separators[3] = {'-', '/', '.'};
    for (int i = 0; i < 3; ++i) {
        TK_TRACE(1, "Trying datetime format #%d", i);
        scanned r = scan_date_time(t, separators[i]);
        if (r.too_long)
            continue;
        if (r.count == 3) {
            TK_TRACE(1, "Format #%d succeeded (3 items)", i);
            t_systemtime f;
            f.year = r.fields.year;
            f.month = r.fields.month;
            f.day = r.fields.day;
            if (accept(f, 2, r.year_digits, r.day_digits, true))
                return;
        } else if (r.count == 6) {
            TK_TRACE(1, "Format #%d succeeded (6 items)", i);
            if (read_seconds_traced(r.seconds, r.fields.second, r.fields.microsecond) &&
                accept(r.fields, 1, r.year_digits, r.day_digits, true)) {
                refine_type();
                return;
            }
        }
    }

    if (parse_fallback(t)) {
        TK_TRACE(1, "Got datetime using fallback parser");
        return;
    }
    kind = 0;
    time = t_systemtime{};
    TK_TRACE(2, "Invalid date/time format: '%s'", t);
}

bool ole_date::accept(t_systemtime fields, int new_kind, int year_digits, int day_digits,
                      bool may_be_day_first)
{
    // A day-first text such as 31.01.2024 has read its day as the year.
    if (may_be_day_first && (new_kind == 1 || new_kind == 2) && fields.day > 31 &&
        fields.year < 32) {
        std::swap(fields.day, fields.year);
        std::swap(day_digits, year_digits);
    }
    kind = new_kind;
    time = fields;
    // A text gives a year before year 1 by its BC marker only, and only a
    // date can be before Christ.
    bool valid = time.year >= 0;
    if (valid && parsing_bc) {
        valid = time.year > 0;
        time.year = -time.year;
    }
    if (!valid || !is_valid()) {
        time = t_systemtime{};
        return false;
    }
    // A year written with at most two digits is a year of 1950 to 2049. Only
    // texts pivot: fields of year 1 to 99 are years 1 to 99, and so is a
    // year before Christ.
    if (has_date(time) && year_digits <= 2 && !parsing_bc)
        time.year += time.year < 50 ? 2000 : 1900;
    return true;
}

bool ole_date::process_milliseconds(std::string_view seconds_text)
{
    return read_seconds_traced(seconds_text, time.second, time.microsecond);
}

// The last resort. Where the original system asked the operating system to
// parse the text under the machine's locale, this accepts exactly two forms,
// the same on every machine:
//  (a) a date in one of the separator forms with "hh:mm" and no seconds
//      ("2024-01-31 10:20", "31.01.2024 10:20");
//  (b) "dd-MON-yyyy" or "dd-MON-yy" with an English month name of three
//      letters or in full, in any case, optionally followed by blanks and
//      "hh:mm[:ss[.fraction]]" (Oracle's default date layout).
// A locale parse would also have taken month-first dates such as
// "01/31/2024" under a US locale, month names and day names of the machine's
// language, and two-number texts completed with the current year; those
// would give different dates on different machines, so they are refused.
bool ole_date::parse_fallback(std::string_view text)
{
    static const char separators[3] = {'-', '/', '.'};
    for (char separator : separators) {
        scanned r = scan_date_time(text, separator);
        if (r.too_long || r.count != 5 || !r.rest.empty())
            continue;
        t_systemtime f = r.fields;
        if (accept(f, 1, r.year_digits, r.day_digits, true)) {
            refine_type();
            return true;
        }
        return false;
    }

    std::size_t p = 0;
    t_systemtime f;
    std::size_t year_digits = 0;
    if (!take_digits(text, p, 2, f.day) || p >= text.size() || text[p] != '-')
        return false;
    std::size_t name_start = ++p;
    while (p < text.size() && tk_ascii_upper(text[p]) >= 'A' && tk_ascii_upper(text[p]) <= 'Z')
        ++p;
    f.month = month_from_name(text.substr(name_start, p - name_start));
    if (f.month == 0 || p >= text.size() || text[p] != '-')
        return false;
    ++p;
    if (!take_digits(text, p, 4, f.year, &year_digits) || (year_digits != 2 && year_digits != 4))
        return false;
    if (p < text.size()) {
        std::size_t blanks = p;
        while (p < text.size() && text[p] == ' ')
            ++p;
        if (p == blanks)
            return false;
        if (!take_digits(text, p, 2, f.hour) || p >= text.size() || text[p] != ':')
            return false;
        ++p;
        if (!take_digits(text, p, 2, f.minute))
            return false;
        if (p < text.size()) {
            if (text[p] != ':')
                return false;
            std::size_t seconds_start = ++p;
            if (!take_digits(text, p, 2, f.second))
                return false;
            if (p < text.size()) {
                if (text[p] != '.')
                    return false;
                std::size_t fraction_start = ++p;
                while (p < text.size() && is_digit(text[p]))
                    ++p;
                if (p == fraction_start || p != text.size())
                    return false;
            }
            if (!read_seconds_traced(text.substr(seconds_start), f.second, f.microsecond))
                return false;
        }
    }
    if (!accept(f, 1, static_cast<int>(year_digits), 2, false))
        return false;
    refine_type();
    return true;
}

bool ole_date::is_valid() const
{
    TK_TRACE(1, "ole_date::is_valid");
    if (kind == 0)
        return false;
    const t_systemtime& t = time;
    if (!has_date(t)) {
        TK_TRACE(1, "DATETIME is a pute time");
    } else {
        if (t.month < 1 || t.month > 12) {
            TK_TRACE(1, "Invalid month");
            return false;
        }
        if (t.year < first_year || t.year == 0 || t.year > 9999 || t.day < 1 ||
            t.day > tk_days_in_month(t.year, t.month)) {
            TK_TRACE(1, "Invalid day and/or year");
            return false;
        }
    }
    if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 ||
        t.second > 60 || t.microsecond < 0 || t.microsecond > 999999) {
        TK_TRACE(1, "Invalid time");
        return false;
    }
    return true;
}

void ole_date::refine_type()
{
    TK_TRACE(1, "ole_date::refine_type(%d,%d,%d,%d,%d,%d)", time.year, time.month, time.day,
             time.hour, time.minute, time.second);
    if (kind == 0)
        return;
    if (!has_date(time))
        kind = 3;
    else if (time.hour == 0 && time.minute == 0 && time.second == 0 && time.microsecond == 0 &&
             time.year != 0 && time.month != 0 && time.day != 0)
        kind = 2;
}

std::string ole_date::print(bool with_milliseconds, bool wide) const
{
    std::string out;
    switch (kind) {
    case 1:
    case 2: {
        bool midnight = time.hour == 0 && time.minute == 0 && time.second == 0 &&
                        time.microsecond == 0;
        append_date(out, time);
        if (kind == 2 || (midnight && omit_midnight)) {
            TK_TRACE(1, "printing date...");
        } else {
            TK_TRACE(1, "printing datetime...");
            out += ' ';
            append_time(out, time);
            if (with_milliseconds)
                append_fraction(out, time.microsecond);
        }
        if (time.year < 0)
            out += " BC";
        break;
    }
    case 3:
        TK_TRACE(1, "printing time...");
        if (!wide)
            out = "0000-00-00 ";
        append_time(out, time);
        append_fraction(out, time.microsecond);
        break;
    default:
        break;
    }
    return out;
}

std::string ole_date::to_string(bool with_milliseconds) const
{
    TK_TRACE(1, "ole_date::to_string");
    return print(with_milliseconds, false);
}

std::wstring ole_date::to_wstring(bool with_milliseconds) const
{
    TK_TRACE(1, "ole_date::to_wstring");
    std::string text = print(with_milliseconds, true);
    return std::wstring(text.begin(), text.end());
}

ole_variant ole_date::to_variant() const
{
    TK_TRACE(1, "ole_date::to_variant");
    return ole_variant(time);
}
