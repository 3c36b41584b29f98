// Error codes to user texts: the reporter shows a friendlier text than the
// failure's own when it knows the failure's code.
#pragma once

#include <map>
#include <string>

class tk_error_converter {
public:
    struct entry {
        int code;
        const char* text;
    };

    // Loads count entries of table; a null table is an internal error.
    tk_error_converter(int count, const entry* table);

    // Adds the entries in table order; a code already held keeps its text.
    void load_map(int count, const entry* table);

    // The text for code, or "" when none is held.
    std::string convert(int code) const;

private:
    std::map<int, std::string> texts;
};
