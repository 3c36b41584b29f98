// What the wizard needs from the desktop: message boxes, running dialogs,
// file choosers, opening a link, the clipboard, the beep, where the help
// pages are, and ending the program. The real implementation talks to Qt;
// the tests put a scripted one in its place. Every operation runs on the GUI
// thread; the shell forwards calls from workers there.
#pragma once

#include "tk_singleton.h"

#include <optional>
#include <string>
#include <vector>

class QDialog;
class QWidget;

// One filter of a file chooser: the description as shown and its patterns,
// separated by ';' ("*.dmp", "*.*").
struct file_filter {
    std::wstring description;
    std::wstring patterns;
    bool operator==(const file_filter&) const = default;
};

enum class box_kind { error, information, question };

class ui_services : public tk_singleton<ui_services> {
public:
    ~ui_services() override = default;

    // True for Yes; error and information boxes give true when closed.
    virtual bool show_box(box_kind kind, QWidget* owner, const std::wstring& caption,
                          const std::wstring& text, bool default_no) = 0;
    // Runs the dialog modally and gives its result.
    virtual int exec_dialog(QDialog& dialog) = 0;
    // The chosen path, or nothing when cancelled. The open chooser accepts
    // only an existing file; the save chooser asks nothing before
    // overwriting and adds no extension itself (save_file_dialog does both).
    virtual std::optional<std::wstring> open_file(QWidget* owner, const std::wstring& title,
                                                  const std::wstring& folder, const std::wstring& name,
                                                  const std::vector<file_filter>& filters) = 0;
    virtual std::optional<std::wstring> save_file(QWidget* owner, const std::wstring& title,
                                                  const std::wstring& folder, const std::wstring& name,
                                                  const std::vector<file_filter>& filters) = 0;
    // Hands the address (UTF-8) to the desktop without waiting; false when
    // nothing could open it.
    virtual bool open_url(const std::string& url) = 0;
    virtual void set_clipboard(const std::wstring& text) = 0;
    virtual void beep() = 0;
    // The folder of the help pages, without a trailing '/'.
    virtual std::string help_folder() = 0;
    // Ends the program with the code (-1 gives the exit status 255).
    [[noreturn]] virtual void end_program(int code) = 0;

protected:
    ui_services() = default;
};
