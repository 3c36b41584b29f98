// A profile: a complete set of conversion settings kept in a text file
// (extension "velc"), as named sections of key/value pairs.
//
// The file is UTF-8, written without a byte-order mark (reading drops one at
// its start), lines end in "\r\n" (reading also takes a bare "\n"), and no
// line is longer than 4095 bytes. A section
// starts with "[name]"; a pair line is key=value; a line without "=" is a
// bare entry (each selected table stands on such a line).
#pragma once

#include <map>
#include <string>
#include <vector>

class udb_profile {
public:
    using t_pairs = std::map<std::wstring, std::wstring>;
    using t_sections = std::map<std::wstring, t_pairs>;
    using t_raw_lines = std::map<std::wstring, std::vector<std::wstring>>;

    // Holds the three standard sections, empty.
    udb_profile();
    virtual ~udb_profile();

    void add_section(const std::wstring& name);
    // Creates the section when needed; a key that is there already keeps
    // its value.
    void set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // Empty when the section or the key is missing.
    std::wstring get_value(const std::wstring& section, const std::wstring& key) const;
    // The bare lines read for a section, created empty when missing.
    std::vector<std::wstring>& get_raw_lines(const std::wstring& section);

    // The pairs of "Available Queries" and "Selected Tables"; a missing
    // section is a level-1 tk_exception.
    t_pairs& get_available_queries();
    t_pairs& get_selected_tables();

    // Adds the file's sections and pairs to what the profile holds; a key
    // read again keeps its first value. A missing file raises level 1; a
    // file that cannot be read, content before the first section or a line
    // over 4095 bytes gives false (what was read before stays).
    bool load(const std::wstring& path);
    // Replaces the file as a whole or not at all. False, with the old file
    // untouched, when an entry would not read back the same or any step of
    // the writing fails.
    bool store(const std::wstring& path);

    const t_sections& get_sections() const { return sections; }
    const t_raw_lines& get_all_raw_lines() const { return raw_lines; }

    static constexpr std::size_t max_line_bytes = 4095;

protected:
    t_pairs& get_section(const std::wstring& name);

    t_sections sections;
    t_raw_lines raw_lines;
};
