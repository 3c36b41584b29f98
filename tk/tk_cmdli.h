// A cursor over a program's command-line arguments that matches each one
// against a table of option names.
//
// Matching takes the first table entry whose name is a prefix of the
// argument, byte for byte and case-sensitively, so "--silentX" acts as
// "--silent" while "--src" (no "=") and "--SRC=x" match nothing. An option
// that takes a value carries the "=" in its name, and its value is the rest
// of the argument. An argument that matches nothing is a stray argument.
#pragma once

#include <string>
#include <vector>

// One entry of an option table. A table ends with an entry whose name is
// empty (or null); that entry's id is not used.
struct cmd_option {
    int id;
    const char* name;
};

class TCmdLine {
public:
    explicit TCmdLine(const cmd_option* options);
    virtual ~TCmdLine();
    TCmdLine(const TCmdLine&) = delete;
    TCmdLine& operator=(const TCmdLine&) = delete;

    // Advances to the next argument; an internal error when none is left.
    virtual void next() = 0;
    // True while there is a current argument.
    virtual bool has_more() const = 0;

    // Matches the current argument against the table: sets the id (-1 for a
    // stray argument, which is kept) and the value. An internal error when
    // there is no current argument.
    void parse_argument(const char* argument);

    // The matched option's id, or -1 when the current argument is stray.
    int get_id() const { return id; }
    // The current argument just behind the matched option name; for a flag
    // option whatever follows its name, usually nothing.
    const char* get_value() const { return value; }
    // Every stray argument seen so far, in order.
    const std::vector<std::string>& get_strays() const { return strays; }

private:
    const cmd_option* options;
    const char* value = "";
    int id = -1;
    std::vector<std::string> strays;
};

// The cursor over main's narrow argc/argv. The first argument after the
// program name is current (and matched) from the start.
class ansi_cmd_line : public TCmdLine {
public:
    ansi_cmd_line(int argc, char** argv, const cmd_option* options);
    ~ansi_cmd_line() override;

    void next() override;
    bool has_more() const override { return remaining > 0; }

private:
    char** cursor;
    int remaining;
};
