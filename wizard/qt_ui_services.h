// The desktop services of the real program, over Qt Widgets.
#pragma once

#include "ui_services.h"

#include <QString>

class qt_ui_services : public ui_services {
public:
    qt_ui_services() = default;

    bool show_box(box_kind kind, QWidget* owner, const std::wstring& caption, const std::wstring& text,
                  bool default_no) override;
    int exec_dialog(QDialog& dialog) override;
    std::optional<std::wstring> open_file(QWidget* owner, const std::wstring& title, const std::wstring& folder,
                                          const std::wstring& name,
                                          const std::vector<file_filter>& filters) override;
    std::optional<std::wstring> save_file(QWidget* owner, const std::wstring& title, const std::wstring& folder,
                                          const std::wstring& name,
                                          const std::vector<file_filter>& filters) override;
    bool open_url(const std::string& url) override;
    void set_clipboard(const std::wstring& text) override;
    void beep() override;
    std::string help_folder() override;
    [[noreturn]] void end_program(int code) override;
};

// The Qt name filter of one filter: "description (patterns)", where "*.*"
// becomes "*" and an extension pattern matches either case ("*.dmp *.DMP").
QString qt_name_filter(const file_filter& filter);

// Text as a widget shows it: "\r\n" and a lone "\r" become "\n".
QString qt_display_text(const std::wstring& text);
