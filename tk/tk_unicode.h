// Unicode codecs between UTF-8, UTF-16 and wide (UTF-32) text.
// They never fail: ill-formed input becomes U+FFFD, so a damaged byte in a
// dump or a file can cost one character but never the whole value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Wide text to UTF-8. Lone surrogates and values above U+10FFFF become U+FFFD.
// Embedded NULs are kept.
std::string tk_wide_to_utf8(std::wstring_view text);
void tk_append_utf8(std::string& out, char32_t code_point);

// UTF-8 to wide text. Each maximal ill-formed subpart becomes one U+FFFD.
// Embedded NULs are kept.
std::wstring tk_utf8_to_wide(std::string_view text);
// Whether text is UTF-8 without an ill-formed byte (no overlong form, no
// surrogate, nothing above U+10FFFF), which tk_utf8_to_wide then reads
// without a replacement.
bool tk_utf8_well_formed(std::string_view text);

// UTF-16 as big-endian or little-endian bytes, or as char16_t units (the
// XML parser's character type). Surrogate pairs are joined, a lone surrogate
// becomes U+FFFD and a trailing odd byte is dropped.
std::wstring tk_utf16be_to_wstring(const std::uint8_t* bytes, std::size_t count);
std::wstring tk_utf16le_to_wstring(const std::uint8_t* bytes, std::size_t count);
std::wstring tk_u16_to_wstring(std::u16string_view text);
std::u16string tk_wstring_to_u16(std::wstring_view text);

// Number of code points in UTF-8 text (continuation bytes are not counted).
std::size_t tk_utf8_length(std::string_view text);
// The byte length of the longest prefix of whole characters of at most
// max_bytes bytes.
std::size_t tk_utf8_cut(std::string_view text, std::size_t max_bytes);

// Drops the UTF-8 byte-order mark (EF BB BF) that some editors put at the
// start of a text file; true when text began with it.
bool tk_drop_utf8_bom(std::string_view& text);
