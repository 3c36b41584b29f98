// A date, a time, or both, read from the texts a dump and its DDL carry and
// printed in the ISO-like form PostgreSQL reads.
//
// The value carrier builds and prints dates through this class, so this
// header knows it only by name.
#pragma once

#include "t_systemtime.h"

#include <string>
#include <string_view>

class ole_variant;

class ole_date {
public:
    // Kind 1, then refined to a date alone or a time alone.
    explicit ole_date(const t_systemtime& fields);
    // Parses the text; a text that no form accepts gives kind 0. A date
    // followed by the word BC (as PostgreSQL prints one) is a date before
    // year 1, its year counted back from 1 BC; AD is the plain date. A
    // negative year without BC is no date.
    explicit ole_date(const std::string& text);
    // The text narrowed to UTF-8, then parsed as the narrow form.
    explicit ole_date(const std::wstring& text);

    // Whether the server would take the value: kind set, a real date of the
    // proleptic Gregorian calendar from 4713 BC to 9999 (or none at all, for
    // a time alone), and a time of day with at most one leap second.
    bool is_valid() const;

    // Kind 1 and 2: "yyyy-mm-dd hh:mm:ss[.fff|.ffffff]", the date alone when
    // the time is exactly midnight (or for kind 2); the fraction only with
    // with_milliseconds; a date before year 1 is followed by " BC". Kind 3:
    // "0000-00-00 hh:mm:ss[.fraction]" narrow and "hh:mm:ss[.fraction]"
    // wide, the fraction whenever it is not zero. Kind 0: empty.
    std::string to_string(bool with_milliseconds) const;
    std::wstring to_wstring(bool with_milliseconds) const;

    // A VT_DATE value of the fields.
    ole_variant to_variant() const;

    // A value without a date becomes a time alone, a date at exactly
    // midnight a date alone.
    void refine_type();

    int get_kind() const { return kind; }
    const t_systemtime& get_time() const { return time; }

    // The parsing steps of the text constructor, after the era and the
    // AM/PM marker are cut off. Sets the fields and the kind, or leaves
    // everything 0.
    void import_from_string(const std::string& text);
    // Reads a seconds text ("30", "30.25", "30.123456789") into second and
    // microsecond. False, with the fields unchanged, when the number of
    // seconds is too long to be a second of a minute.
    bool process_milliseconds(std::string_view seconds_text);

    bool omit_midnight = true;
    int kind = 0;  // 0 invalid, 1 date and time, 2 date only, 3 time only
    t_systemtime time;

private:
    // Takes the candidate fields of one parsing attempt: swaps a day-first
    // date (when the form allows one), tests the result, and on success
    // keeps it with its kind. The digit counts tell whether the year was
    // written with two digits.
    bool accept(t_systemtime fields, int new_kind, int year_digits, int day_digits,
                bool may_be_day_first);
    bool parse_fallback(std::string_view text);
    std::string print(bool with_milliseconds, bool wide) const;

    // Set while a text with the BC marker is parsed: its year is a year
    // before Christ, which two digits do not abbreviate.
    bool parsing_bc = false;
};
