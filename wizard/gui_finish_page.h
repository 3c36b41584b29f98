// The finish page: the success text, or the error text with the run's
// errors one paragraph each, and saving the current settings as a profile.
// Cancel and Help are disabled there: Finish is the way out.
#pragma once

#include "wizard_page.h"
#include "wizard_shell.h"

#include <QPushButton>

#include <functional>
#include <string>

class QLabel;
class QPlainTextEdit;

inline constexpr int finish_title_id = 1313;
inline constexpr int finish_text_id = 1314;
inline constexpr int save_settings_id = 1116;

class gui_finish_page : public wizard_page<116, wiz_finish, page_exterior> {
public:
    gui_finish_page(std::wstring success_text, std::wstring error_text);
    ~gui_finish_page() override;

    bool page_init() override;

protected:
    // Save Settings: asks for a profile path with the extension (3 or 4
    // characters) and hands it to save; a refused save gets its box.
    void store(const std::wstring& extension, const std::function<bool(const std::wstring&)>& save);
    QPushButton* save_button() const { return save_settings; }

private:
    std::wstring success_text;
    std::wstring error_text;
    QLabel* text = nullptr;
    QPlainTextEdit* error_list = nullptr;
    QPushButton* save_settings = nullptr;
};

// The finish page of a converter: its profiles carry the extension.
template <typename Converter>
class gui_finish_page_t : public gui_finish_page {
public:
    gui_finish_page_t(std::wstring success, std::wstring errors) : gui_finish_page(std::move(success), std::move(errors))
    {
        connect(save_button(), &QPushButton::clicked, this, [this] { wizard_shell::guarded([this] { on_store(); }); });
    }
    void set_profile_extension(std::wstring ext) { extension = std::move(ext); }
    const std::wstring& profile_extension() const { return extension; }
    void on_store()
    {
        store(extension, [](const std::wstring& path) { return Converter::instance()->save_profile_file(path); });
    }

private:
    std::wstring extension = L"*";
};

