#include "udb_validator.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int last_number = 99999;

}  // namespace

udb_validator::udb_validator(std::uint32_t max_length_) : max_length(max_length_)
{
    TK_TRACE(2, "udb_validator::ctor");
}

udb_validator::~udb_validator() = default;

std::size_t udb_validator::name_length(const std::wstring& name) const
{
    return name.size();
}

std::wstring udb_validator::cut_name(const std::wstring& name, std::size_t n) const
{
    return name.substr(0, std::min(n, name.size()));
}

bool udb_validator::is_restricted(const std::wstring& name) const
{
    if (restricted_names.empty())
        return false;
    return restricted_folded.count(tk_fold_case(name)) != 0;
}

bool udb_validator::is_acceptable(const std::wstring& name)
{
    TK_TRACE(2, "udb_validator::is_acceptable(%s)", name);
    if (max_length != 0 && name_length(name) > max_length) {
        TK_TRACE(1, "The name is too long");
        return false;
    }
    if (is_restricted(name)) {
        TK_TRACE(2, "The name is restricted");
        return false;
    }
    for (wchar_t c : name) {
        if (std::find(illegal_characters.begin(), illegal_characters.end(), c) != illegal_characters.end()) {
            TK_TRACE(2, "The name contains illegal: %c", c);
            return false;
        }
    }
    return true;
}

bool udb_validator::is_duplicated(const std::wstring& name)
{
    TK_TRACE(2, "udb_validator::is_duplicated(%s)", name);
    if (existing_names.empty())
        return false;
    const bool found = existing_folded.count(tk_fold_case(name)) != 0;
    if (tk_trace_wanted(1)) {
        // Walk the list the way the log has always shown it, up to the match.
        for (const std::wstring& existing : existing_names) {
            tk_trace(1, "Processing %s", existing);
            if (found && tk_compare_no_case(existing, name) == 0)
                break;
        }
    }
    if (found)
        TK_TRACE(2, "Name is duplicated");
    return found;
}

std::wstring udb_validator::get_safe_name(const std::wstring& name)
{
    TK_TRACE(1, "udb_validator::get_safe_name(%s)", name);

    std::wstring text = name;
    // A long name is cut one unit below the limit, as generated names
    // always have been.
    if (max_length != 0 && name_length(text) > max_length)
        text = cut_name(text, max_length - 1);
    if (!illegal_characters.empty())
        for (wchar_t& c : text)
            if (std::find(illegal_characters.begin(), illegal_characters.end(), c) != illegal_characters.end())
                c = L'_';

    if (is_acceptable(text) && !is_duplicated(text))
        return text;

    // Five digits follow the base, so a base that would not leave room for
    // them is cut to the maximum less six.
    std::wstring base = text;
    if (max_length != 0) {
        const std::int64_t room = static_cast<std::int64_t>(max_length) - 5;
        if (static_cast<std::int64_t>(name_length(text)) > room)
            base = cut_name(text, static_cast<std::size_t>(std::max<std::int64_t>(0, room - 1)));
    }

    std::wstring candidate = base;
    candidate.resize(base.size() + 5);
    for (int n = 0; n <= last_number; ++n) {
        // "%05d", written over the last five characters in place.
        int value = n;
        for (std::size_t i = 5; i-- > 0;) {
            candidate[base.size() + i] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        }
        if (is_acceptable(candidate) && !is_duplicated(candidate))
            return candidate;
    }
    throw tk_exception(tk_format("Cannot make a unique name for '%s'", name), 0);
}

void udb_validator::add_existing_name(const std::wstring& name)
{
    TK_TRACE(1, "udb_validator::add_existing_name(%s)", name);
    existing_names.push_back(name);
    existing_folded.insert(tk_fold_case(name));
}

void udb_validator::add_mapped_pair(const std::wstring& source_name, const std::wstring& generated_name)
{
    TK_TRACE(1, "udb_validator::add_mapped_pair(%s,%s)", source_name, generated_name);
    mapped_pairs.add(source_name, generated_name);
}

void udb_validator::add_restricted_name(const std::wstring& name)
{
    restricted_names.push_back(name);
    restricted_folded.insert(tk_fold_case(name));
}
