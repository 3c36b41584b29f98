#include "udb_converter.h"

#include "udb_profile.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_unicode.h"

namespace {

const wchar_t* const generic = L"Generic settings";

const wchar_t* flag_text(std::uint8_t flag) { return flag ? L"1" : L"0"; }

// Only exactly "0" clears a flag; an empty value is a key left out.
void read_flag(const udb_profile& profile, const wchar_t* key, std::uint8_t& flag)
{
    const std::wstring v = profile.get_value(generic, key);
    if (!v.empty())
        flag = v == L"0" ? 0 : 1;
}

}  // namespace

udb_converter::udb_converter()
{
    TK_TRACE(2, "udb_converter::ctor");
}

udb_converter::~udb_converter() = default;

bool udb_converter::store_profile(udb_profile& profile)
{
    TK_TRACE(2, "udb_converter::store_profile");

    for (const auto& [name, text] : available_queries) {
        TK_TRACE(1, "Available Query: (%s,%s)", name, text);
        profile.set_value(L"Available Queries", name, text);
    }

    // The current selection plus the loaded entries that carry a value: a
    // table the user deselected stays out of the saved profile. Entries with
    // a value go first, so that a selected T loaded as T=x keeps its value
    // (the profile keeps the first value of a key).
    for (const auto& [name, value] : profile_selection) {
        if (value.empty())
            continue;
        TK_TRACE(1, "Selected Query: (%s,%s)", name, value);
        profile.set_value(L"Selected Tables", name, value);
    }
    for (const std::wstring& name : selected_tables) {
        TK_TRACE(1, "Selected Query: (%s,%s)", name, L"");
        profile.set_value(L"Selected Tables", name, std::wstring());
    }

    profile.set_value(generic, L"src", src);
    profile.set_value(generic, L"dest", dest);
    profile.set_value(generic, L"logfile", tk_utf8_to_wide(log_file));
    profile.set_value(generic, L"skip indexes", flag_text(skip_idx));
    profile.set_value(generic, L"only definitions", flag_text(tab_def));
    profile.set_value(generic, L"mode", std::to_wstring(n_mode));
    return true;
}

bool udb_converter::load_profile(udb_profile& profile)
{
    TK_TRACE(1, "udb_converter::load_profile");

    for (const auto& [name, value] : profile.get_selected_tables()) {
        profile_selection.try_emplace(name, value);
        if (value.empty()) {
            TK_TRACE(1, "Push back table '%s'", name);
            selected_tables.push_back(name);
        }
    }
    for (const auto& [name, text] : profile.get_available_queries())
        available_queries.try_emplace(name, text);

    std::wstring v = profile.get_value(generic, L"src");
    if (!v.empty())
        src = v;
    v = profile.get_value(generic, L"dest");
    if (!v.empty())
        dest = v;
    v = profile.get_value(generic, L"logfile");
    if (!v.empty()) {
        const std::string name = tk_wide_to_utf8(v);
        TK_TRACE(1, "Logfile=%s", name);
        set_logfile(name);
    }
    read_flag(profile, L"only definitions", tab_def);
    v = profile.get_value(generic, L"mode");
    if (!v.empty()) {
        // Exactly one digit from 0 to 3, as everywhere the mode is read.
        if (v.size() != 1 || v[0] < L'0' || v[0] > L'3')
            throw tk_exception("Invalid merge/overwrite mode", 1);
        n_mode = v[0] - L'0';
    }
    read_flag(profile, L"skip indexes", skip_idx);
    return true;
}
