#include "gui_finish_page.h"

#include "file_dialog.h"
#include "qt_ui_services.h"
#include "wizard_shell.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

gui_finish_page::gui_finish_page(std::wstring success, std::wstring errors)
    : success_text(std::move(success)), error_text(std::move(errors))
{
    TK_TRACE(2, "gui_finish_page::ctor");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(with_id(new QLabel(QStringLiteral("Conversion is Completed"), this), finish_title_id));
    text = with_id(new QLabel(this), finish_text_id);
    // The texts break their own lines; a wrapping label would be laid out
    // for a width it does not get and lose its last lines.
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(text);
    error_list = with_id(new QPlainTextEdit(this), log_box_id);
    error_list->setReadOnly(true);
    error_list->hide();
    layout->addWidget(error_list, 1);
    layout->addStretch(0);
    auto* row = new QHBoxLayout;
    save_settings = with_id(new QPushButton(QStringLiteral("&Save Settings..."), this), save_settings_id);
    // It has the focus here, Cancel and Help being disabled: as an automatic
    // default it would take Return from Finish.
    save_settings->setAutoDefault(false);
    row->addWidget(save_settings);
    row->addStretch(1);
    layout->addLayout(row);
}

gui_finish_page::~gui_finish_page() = default;

bool gui_finish_page::page_init()
{
    TK_TRACE(2, "gui_finish_page::page_init");
    set_title_font(finish_title_id);
    wizard_shell* shell = wizard_shell::instance();
    shell->enable_button(sheet_cancel_id, false);
    shell->enable_button(sheet_help_id, false);
    const std::vector<std::string> errors = shell->error_texts();
    if (errors.empty()) {
        TK_TRACE(2, "Display success-message");
        text->setText(qt_display_text(success_text));
        error_list->hide();
        layout()->activate();  // the new text's height, before the next paint
        return true;
    }
    TK_TRACE(2, "Display errors");
    text->setText(qt_display_text(error_text));
    error_list->show();
    std::wstring all;
    for (std::string e : errors) {
        std::replace(e.begin(), e.end(), '\n', ' ');
        all += tk_utf8_to_wide(e) + L"\r\n\r\n";
    }
    error_list->setPlainText(qt_display_text(all));
    error_list->moveCursor(QTextCursor::End);
    error_list->ensureCursorVisible();
    error_list->setReadOnly(true);
    layout()->activate();
    return true;
}

void gui_finish_page::store(const std::wstring& extension, const std::function<bool(const std::wstring&)>& save)
{
    TK_WTRACE(1, L"gui_finish_page_t::on_store(%s)",
              tk_wformat(L"Profile Files (.%s)|*.%s|All Files (*.*)|*.*|", extension, extension));
    TK_CHECK(extension.size() == 3 || extension.size() == 4, "g_finish", 142);
    std::vector<file_filter> filters = {
        {L"Profile Files (." + extension + L")", L"*." + extension},
        {L"All Files (*.*)", L"*.*"},
    };
    save_file_dialog dialog(this, std::move(filters), L"Select Profile File", L"", extension);
    if (!dialog.show())
        return;
    if (!save(dialog.get_file_name()))
        wizard_shell::error(L"Profile cannot be saved. Please verify the folder exists and can be written.");
}
