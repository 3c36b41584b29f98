#include "tk_exception.h"

#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <cerrno>
#include <cstring>

const char* const tk_messages[11] = {
    "support@fennick.example",
    "Fennick Support <support@fennick.example>",
    "Unknown exception",
    "Bad path or busy with another process",
    "Error opening file",
    "Error reading from file",
    "Cannot write into file",
    "Internal error: \ncode=",
    "Logfile name specifies an existing read-only file.",
    "Logfile path does not exist.\nPlease verify the correct path was given.",
    "Logfile name specifies an existing path.",
};

tk_exception::tk_exception(int level_) : message(tk_messages[2]), level(level_) {}

tk_exception::tk_exception(const std::string& message_, int level_)
    : message(message_.empty() ? std::string(tk_messages[2]) : message_), level(level_)
{
}

tk_exception::tk_exception(const std::wstring& message_, int level_) : level(level_)
{
    // Narrowing to UTF-8 cannot fail; like every conversion it ends at a NUL.
    message = tk_wide_to_utf8(std::wstring_view(message_.c_str()));
}

namespace {

std::string system_text(int code)
{
    char buf[512];
    // GNU strerror_r returns the text, which may or may not be in buf.
    const char* t = strerror_r(code, buf, sizeof buf);
    return t ? std::string(t) : std::string();
}

std::string join_system(const std::string& text, int code, const std::string& sys)
{
    if (code == 0)
        return text.empty() ? std::string(tk_messages[2]) : text;
    std::string m = text + sys;
    return m.empty() ? std::string(tk_messages[2]) : m;
}

}  // namespace

tk_exception_ex::tk_exception_ex() : tk_exception_ex(std::string(), 1) {}

tk_exception_ex::tk_exception_ex(const std::string& text, int level_) : tk_exception(level_)
{
    // Taken before anything else can change errno.
    const int code = errno;
    system_error = code;
    std::string sys = code ? system_text(code) : std::string();
    message = join_system(text, code, sys);
    if (code)
        TK_TRACE(2, "GetLastError: %s", sys);
}

tk_exception_ex::tk_exception_ex(const std::string& text, int level_, int code, const std::string& sys)
    : tk_exception(level_)
{
    system_error = code;
    message = join_system(text, code, sys);
    if (code)
        TK_TRACE(2, "GetLastError: %s", sys);
}

std::string make_err_meggase(const char* source_file, int line)
{
    TK_TRACE(2, "make_err_meggase(%s, %d)", source_file, line);
    std::string code = tk_format("%s\\%d", source_file ? source_file : "", line);
    // No check of this system comes near the cut; it only bounds the message.
    if (code.size() > 275)
        code.resize(275);
    TK_TRACE(2, "result=%s", code);
    std::string m = tk_messages[7];
    tk_append_hex(m, reinterpret_cast<const unsigned char*>(code.data()), code.size(), true);
    return m;
}

tk_mail_assertion::tk_mail_assertion(const char* source_file, int line)
    : tk_exception(make_err_meggase(source_file, line), 2)
{
    TK_TRACE(2, "tk_mail_assertion::ctor(%s)", source_file);
}

ole_cast_exception::ole_cast_exception()
    : tk_exception(std::string("Cannot cast from source type to destination type"), 1)
{
}

ole_type_exception::ole_type_exception()
    : tk_exception(std::string("The operating type is not supported yet"), 1)
{
}

tk_final_exception::tk_final_exception()
{
    TK_TRACE(2, "tk_final_exception::ctor");
}

void tk_internal_error(const char* source_file, int line) noexcept
{
    try {
        tk_trace(3, "Internal error:\n%s", make_err_meggase(source_file, line));
    } catch (...) {
    }
}
