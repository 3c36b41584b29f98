#include "file_dialog.h"

#include "wizard_shell.h"

#include "tk_exception.h"
#include "tk_file_name.h"
#include "tk_utils.h"

file_dialog::file_dialog(QWidget* owner, std::vector<file_filter> filters, std::wstring title,
                         const std::wstring& path)
    : owner(owner), filters(std::move(filters)), title(std::move(title))
{
    if (path.empty()) {
        folder = tk_get_user_home_wpath();
        return;
    }
    tk_file_wname parts(path);
    folder = parts.get_path();
    file_name = parts.name;
}

open_file_dialog::open_file_dialog(QWidget* owner, std::vector<file_filter> filters, std::wstring title,
                                   const std::wstring& path)
    : file_dialog(owner, std::move(filters), std::move(title), path)
{
}

bool open_file_dialog::show()
{
    auto chosen = ui_services::instance()->open_file(owner, title, folder, file_name, filters);
    if (!chosen)
        return false;
    file_name = *chosen;
    return true;
}

save_file_dialog::save_file_dialog(QWidget* owner, std::vector<file_filter> filters, std::wstring title,
                                   const std::wstring& path, const std::wstring& default_extension)
    : file_dialog(owner, std::move(filters), std::move(title), path)
{
    if (default_extension.empty())
        throw tk_mail_assertion("g_f_dlg", 111);
    extension = default_extension.front() == L'.' ? default_extension : L"." + default_extension;
}

bool save_file_dialog::show()
{
    ui_services* ui = ui_services::instance();
    std::wstring start_folder = folder;
    std::wstring start_name = file_name;
    for (;;) {
        auto chosen = ui->save_file(owner, title, start_folder, start_name, filters);
        if (!chosen)
            return false;
        std::wstring path = *chosen;
        if (tk_file_wname(path).extension.size() < 2) {
            // A lone dot at the end is no extension; it gives way to ours.
            if (!path.empty() && path.back() == L'.')
                path.pop_back();
            path += extension;
        }
        if (!tk_is_file_exist(path, 0) ||
            wizard_shell::question(L"The file '" + path + L"' already exists.\nDo you want to replace it?", true)) {
            file_name = path;
            return true;
        }
        // No: the chooser again, at the name that was refused.
        const tk_file_wname parts(path);
        start_folder = parts.get_path();
        start_name = parts.name + parts.extension;
    }
}
