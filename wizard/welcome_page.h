// The wizard's first page: a greeting, loading a saved profile, and the
// maker's link.
#pragma once

#include "file_dialog.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>
#include <vector>

inline constexpr int welcome_title_id = 1337;
inline constexpr int welcome_load_id = 1115;
inline constexpr int welcome_link_id = 1320;

// The maker's name and address behind the link.
inline constexpr const char* maker_name = "Fennick";
inline constexpr const char* maker_url = "https://fennick.example/";

// The filter pairs of a "description|pattern|...|" text.
std::vector<file_filter> split_filter_pairs(const std::wstring& text);

// The pieces of the page that need no converter: its controls and the link.
class welcome_page_base {
protected:
    static void build(wizard_page_base& page);
};

template <typename Converter, int IDD>
class welcome_page_t : public wizard_page<IDD, wiz_next, page_exterior | page_has_help>, protected welcome_page_base {
    using page_t = wizard_page<IDD, wiz_next, page_exterior | page_has_help>;

public:
    welcome_page_t() : page_t()
    {
        build(*this);
        // Sized in its own font from the start, so the layout leaves it room.
        this->set_title_font(welcome_title_id);
        QObject::connect(this->template control_as<QPushButton>(welcome_load_id), &QPushButton::clicked, this,
                         [this] { wizard_shell::guarded([this] { on_load(); }); });
    }

    void set_profile_extension(std::wstring ext) { profile_extension = std::move(ext); }

    bool page_init() override
    {
        TK_TRACE(1, "welcome_page::page_init");
        this->set_title_font(welcome_title_id);
        return true;
    }

    void on_help() override { wizard_shell::display_help(1014); }

    // Button 1115: a chosen profile is applied to the converter. A file that
    // is not a profile says so; a failure the loader raises is reported and
    // the page stays (the slot's guard).
    void on_load()
    {
        const std::wstring filter = tk_wformat(L"Profile Files (.%s)|*.%s|All Files (*.*)|*.*|",
                                               profile_extension, profile_extension);
        TK_WTRACE(1, L"welcome_page_t::on_load(%s)", filter);
        if (profile_extension.size() < 3 || profile_extension.size() > 4)
            throw tk_mail_assertion("g_finish", 267);
        open_file_dialog dialog(this, split_filter_pairs(filter), L"Select Profile File", L"");
        if (!dialog.show())
            return;
        if (!Converter::instance()->load_profile_file(dialog.get_file_name()))
            wizard_shell::error(L"Profile cannot be loaded. Please verify the file is a valid profile.");
    }

private:
    std::wstring profile_extension;
};

class welcome_page : public welcome_page_t<velconv_convertor, 103> {
public:
    welcome_page() = default;
};
