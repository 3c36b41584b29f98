// The desktop services of the wizard's tests. Every call is recorded, in
// order, with its texts. Questions and file choosers are answered from
// queues; an unscripted one fails the test and answers No or Cancel.
// exec_dialog shows the real dialog and hands it to the test's handler for
// its objectName ("sheet", "114", "115", "121"), which drives it with QTest
// clicks and keys; the dialog's result is then returned. end_program records
// the code and throws front_end_exit.
#pragma once

#include "ui_services.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class scripted_ui_services : public ui_services {
public:
    // help_dir: the folder that help_folder() gives.
    explicit scripted_ui_services(std::string help_dir);
    ~scripted_ui_services() override;

    struct box {
        box_kind kind;
        QWidget* owner;
        std::wstring caption;
        std::wstring text;
        bool default_no;
    };
    struct file_request {
        bool save;
        QWidget* owner;
        std::wstring title;
        std::wstring folder;
        std::wstring name;
        std::vector<file_filter> filters;
    };

    // The script.
    std::deque<bool> answers;                              // questions: true is Yes
    std::deque<std::optional<std::wstring>> file_answers;  // file choosers: nullopt is Cancel
    std::map<std::string, std::function<void(QDialog&)>> dialog_handlers;
    bool url_result = true;
    // Called inside each box and file chooser, while it is "open".
    std::function<void(const box&)> on_box;
    std::function<void(const file_request&)> on_file;
    // How long exec_dialog waits for a dialog that its handler left open:
    // a sixth of the test's timeout, so that the failure is told.
    int close_wait_ms = VELC_TEST_TIMEOUT_S * 1000 / 6;

    // The record. Every call as "name" with its main text, in order.
    struct call {
        std::string name;
        std::wstring text;
    };
    std::vector<call> calls() const;
    std::vector<box> boxes() const;
    std::vector<file_request> file_requests() const;
    std::vector<std::string> urls() const;
    std::vector<std::wstring> clipboard() const;
    std::vector<std::string> dialogs() const;  // objectNames, in order
    int beeps() const;
    std::optional<int> end_code() const;

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

private:
    std::optional<std::wstring> file(bool save, QWidget* owner, const std::wstring& title,
                                     const std::wstring& folder, const std::wstring& name,
                                     const std::vector<file_filter>& filters);
    void record(std::string name, std::wstring text = {});
    template <typename T>
    T locked(const T& value) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return value;
    }

    std::string help_dir;
    mutable std::mutex mutex;
    std::vector<call> call_log;
    std::vector<box> box_log;
    std::vector<file_request> file_log;
    std::vector<std::string> url_log;
    std::vector<std::wstring> clip_log;
    std::vector<std::string> dialog_log;
    int beep_count = 0;
    std::optional<int> exit_code;
};
