// The file choosers of the pages: the dump file, the log file and profiles.
// The chooser opens in the folder of the initial path with its base name
// (no extension) as the name; an empty path opens the documents folder with
// an empty name. The current directory is never changed, since the
// workers resolve relative paths against it.
#pragma once

#include "ui_services.h"

#include <string>
#include <vector>

class QWidget;

class file_dialog {
public:
    virtual ~file_dialog() = default;

    // True when the user chose a file.
    virtual bool show() = 0;
    const std::wstring& get_file_name() const { return file_name; }

    const std::wstring& initial_folder() const { return folder; }
    const std::wstring& initial_name() const { return file_name; }

protected:
    file_dialog(QWidget* owner, std::vector<file_filter> filters, std::wstring title, const std::wstring& path);

    QWidget* owner;
    std::vector<file_filter> filters;
    std::wstring title;
    std::wstring folder;
    std::wstring file_name;
};

// Accepts only an existing file.
class open_file_dialog : public file_dialog {
public:
    open_file_dialog(QWidget* owner, std::vector<file_filter> filters, std::wstring title, const std::wstring& path);
    bool show() override;
};

// The default extension (with or without its dot; none is an internal
// error) is appended when the chosen file's name has no extension of its
// own (as tk_file_wname splits it). A file that exists under the name is
// replaced only after Yes to a question; No shows the chooser again.
class save_file_dialog : public file_dialog {
public:
    save_file_dialog(QWidget* owner, std::vector<file_filter> filters, std::wstring title, const std::wstring& path,
                     const std::wstring& default_extension);
    bool show() override;
    const std::wstring& default_extension() const { return extension; }

private:
    std::wstring extension;
};
