// What the toolkit needs from the desktop: the clipboard and a way to open a
// link (the bug report mail). The graphical program registers its own
// implementations; without them these calls only trace.
#pragma once

#include <functional>
#include <string>

struct tk_desktop {
    std::function<void(const std::wstring&)> copy_text;
    std::function<void(const std::string&)> open_url;
};

// Replaces the registered hooks; an empty tk_desktop removes them.
void tk_set_desktop(tk_desktop desktop);

// Copies the text up to its first NUL to the clipboard.
void tk_copy_to_clipboard2(const std::wstring& text);

// The mail link of a bug report to the support address: the subject is
// "Bug report on " + title and the body the text with CRLF line ends, both
// percent-encoded as UTF-8.
std::string tk_bug_mail_uri(const std::string& title, const std::string& text);
// Hands the report's mail link to the desktop's mail client; the result is
// not reported to the user.
void tk_send_bug(const std::string& title, const std::string& text);
