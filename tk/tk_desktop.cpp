#include "tk_desktop.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <exception>
#include <mutex>

namespace {

std::mutex desktop_mutex;

tk_desktop& registered()
{
    static tk_desktop d;
    return d;
}

tk_desktop current()
{
    std::lock_guard<std::mutex> lock(desktop_mutex);
    return registered();
}

// The bare address of the support recipient "Name <address>".
std::string support_address()
{
    std::string recipient = tk_messages[1];
    std::size_t open = recipient.find('<');
    std::size_t close = recipient.find('>', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos)
        return recipient;
    return recipient.substr(open + 1, close - open - 1);
}

std::string percent_encode(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.' || c == '_' || c == '~';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            tk_append_hex(out, &c, 1);
        }
    }
    return out;
}

// Mail bodies end their lines with CRLF; a CR already there is kept.
std::string crlf_lines(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

}  // namespace

void tk_set_desktop(tk_desktop desktop)
{
    std::lock_guard<std::mutex> lock(desktop_mutex);
    registered() = std::move(desktop);
}

void tk_copy_to_clipboard2(const std::wstring& text)
{
    TK_TRACE(2, "tk_copy_to_clipboard2(%s)", text);
    tk_desktop d = current();
    if (!d.copy_text) {
        TK_TRACE(2, "No clipboard to copy to");
        return;
    }
    try {
        d.copy_text(std::wstring(text.c_str()));
    } catch (const std::exception& e) {
        TK_TRACE(2, "Copy to clipboard failed: %s", e.what());
    } catch (...) {
        TK_TRACE(2, "Copy to clipboard failed");
    }
}

std::string tk_bug_mail_uri(const std::string& title, const std::string& text)
{
    return "mailto:" + support_address() + "?subject=" + percent_encode("Bug report on " + title) +
           "&body=" + percent_encode(crlf_lines(text));
}

void tk_send_bug(const std::string& title, const std::string& text)
{
    TK_TRACE(2, "tk_send_bug(%s|%s)", title, text);
    tk_desktop d = current();
    if (!d.open_url) {
        TK_TRACE(2, "No mail client to send the report");
        return;
    }
    try {
        d.open_url(tk_bug_mail_uri(title, text));
    } catch (const std::exception& e) {
        TK_TRACE(2, "Sending the report failed: %s", e.what());
    } catch (...) {
        TK_TRACE(2, "Sending the report failed");
    }
}
