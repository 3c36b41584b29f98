// The failure family. The level tells the reporter what follows: 0 the record
// or table is skipped, 1 the run stops, 2 an internal error ends the program.
#pragma once

#include <exception>
#include <string>

// The toolkit's fixed texts, looked up by index.
extern const char* const tk_messages[11];

class tk_exception : public std::exception {
public:
    explicit tk_exception(int level);
    tk_exception(const std::string& message, int level);
    tk_exception(const std::wstring& message, int level);
    tk_exception(const tk_exception&) = default;
    tk_exception& operator=(const tk_exception&) = default;
    ~tk_exception() override = default;

    const char* what() const noexcept override { return message.c_str(); }

    std::string message;
    int system_error = 0;  // an errno, or an explicit code; 0 when none
    int level = 0;
};

// A failure of a system call: the caller's text followed by the system's.
class tk_exception_ex : public tk_exception {
public:
    tk_exception_ex();
    tk_exception_ex(const std::string& text, int level);
    // For failures that carry no errno (code pages, ICU, ...).
    tk_exception_ex(const std::string& text, int level, int code, const std::string& system_text);
};

// A broken invariant, identified by a (source, line) pair that the internal-
// error code carries so that a mailed report names the check.
class tk_mail_assertion : public tk_exception {
public:
    tk_mail_assertion(const char* source_file, int line);
};

class ole_cast_exception : public tk_exception {
public:
    ole_cast_exception();
};

class ole_type_exception : public tk_exception {
public:
    ole_type_exception();
};

// The user chose to stop the run. Deliberately outside the tk_exception
// family so that handlers of failures do not swallow it.
class tk_final_exception : public std::exception {
public:
    tk_final_exception();
    const char* what() const noexcept override { return "tk_final_exception"; }
};

std::string make_err_meggase(const char* source_file, int line);

// The non-raising form for destructors and thread routines: traces the
// internal error at level 3 and returns.
void tk_internal_error(const char* source_file, int line) noexcept;

// How many internal errors tk_internal_error has traced in this process.
// Such an error raises nothing, so this count is how tests and the fuzz
// harnesses notice one.
unsigned long tk_internal_error_count() noexcept;

// Raises the internal error of the given (source, line) pair when cond fails.
#define TK_CHECK(cond, source, line)                 \
    do {                                             \
        if (!(cond))                                 \
            throw tk_mail_assertion((source), (line)); \
    } while (0)
