#include "scripted_ui_services.h"

#include "recording_front_end.h"

#include <QDialog>
#include <QTest>

#include <gtest/gtest.h>

scripted_ui_services::scripted_ui_services(std::string help_dir) : help_dir(std::move(help_dir)) {}

scripted_ui_services::~scripted_ui_services()
{
    EXPECT_TRUE(answers.empty()) << "scripted answers left over: " << answers.size();
    EXPECT_TRUE(file_answers.empty()) << "scripted file answers left over: " << file_answers.size();
}

void scripted_ui_services::record(std::string name, std::wstring text)
{
    std::lock_guard<std::mutex> lock(mutex);
    call_log.push_back({std::move(name), std::move(text)});
}

bool scripted_ui_services::show_box(box_kind kind, QWidget* owner, const std::wstring& caption,
                                    const std::wstring& text, bool default_no)
{
    const box b{kind, owner, caption, text, default_no};
    {
        std::lock_guard<std::mutex> lock(mutex);
        box_log.push_back(b);
    }
    record(kind == box_kind::error ? "error" : kind == box_kind::information ? "message" : "question", text);
    if (on_box)
        on_box(b);
    if (kind != box_kind::question)
        return true;
    if (answers.empty()) {
        ADD_FAILURE() << "unscripted question: " << QString::fromStdWString(text).toStdString();
        return false;
    }
    const bool a = answers.front();
    answers.pop_front();
    return a;
}

int scripted_ui_services::exec_dialog(QDialog& dialog)
{
    const std::string name = dialog.objectName().toStdString();
    {
        std::lock_guard<std::mutex> lock(mutex);
        dialog_log.push_back(name);
    }
    record("dialog", QString::fromStdString(name).toStdWString());
    dialog.setResult(0);
    dialog.show();
    auto handler = dialog_handlers.find(name);
    if (handler == dialog_handlers.end()) {
        ADD_FAILURE() << "unscripted dialog " << name;
        dialog.reject();
    } else {
        handler->second(dialog);
    }
    if (dialog.isVisible() && !QTest::qWaitFor([&] { return !dialog.isVisible(); }, close_wait_ms)) {
        ADD_FAILURE() << "dialog " << name << " was left open";
        dialog.done(0);
    }
    return dialog.result();
}

std::optional<std::wstring> scripted_ui_services::file(bool save, QWidget* owner, const std::wstring& title,
                                                       const std::wstring& folder, const std::wstring& name,
                                                       const std::vector<file_filter>& filters)
{
    const file_request r{save, owner, title, folder, name, filters};
    {
        std::lock_guard<std::mutex> lock(mutex);
        file_log.push_back(r);
    }
    record(save ? "save_file" : "open_file", title);
    if (on_file)
        on_file(r);
    if (file_answers.empty()) {
        ADD_FAILURE() << "unscripted file chooser: " << QString::fromStdWString(title).toStdString();
        return std::nullopt;
    }
    auto a = file_answers.front();
    file_answers.pop_front();
    return a;
}

std::optional<std::wstring> scripted_ui_services::open_file(QWidget* owner, const std::wstring& title,
                                                            const std::wstring& folder, const std::wstring& name,
                                                            const std::vector<file_filter>& filters)
{
    return file(false, owner, title, folder, name, filters);
}

std::optional<std::wstring> scripted_ui_services::save_file(QWidget* owner, const std::wstring& title,
                                                            const std::wstring& folder, const std::wstring& name,
                                                            const std::vector<file_filter>& filters)
{
    return file(true, owner, title, folder, name, filters);
}

bool scripted_ui_services::open_url(const std::string& url)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        url_log.push_back(url);
    }
    record("open_url", QString::fromStdString(url).toStdWString());
    return url_result;
}

void scripted_ui_services::set_clipboard(const std::wstring& text)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        clip_log.push_back(text);
    }
    record("set_clipboard", text);
}

void scripted_ui_services::beep()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++beep_count;
    }
    record("beep");
}

std::string scripted_ui_services::help_folder()
{
    return help_dir;
}

void scripted_ui_services::end_program(int code)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        exit_code = code;
    }
    record("end_program", std::to_wstring(code));
    throw front_end_exit{code};
}

std::vector<scripted_ui_services::call> scripted_ui_services::calls() const
{
    return locked(call_log);
}

std::vector<scripted_ui_services::box> scripted_ui_services::boxes() const
{
    return locked(box_log);
}

std::vector<scripted_ui_services::file_request> scripted_ui_services::file_requests() const
{
    return locked(file_log);
}

std::vector<std::string> scripted_ui_services::urls() const
{
    return locked(url_log);
}

std::vector<std::wstring> scripted_ui_services::clipboard() const
{
    return locked(clip_log);
}

std::vector<std::string> scripted_ui_services::dialogs() const
{
    return locked(dialog_log);
}

int scripted_ui_services::beeps() const
{
    return locked(beep_count);
}

std::optional<int> scripted_ui_services::end_code() const
{
    return locked(exit_code);
}
