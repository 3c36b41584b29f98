#include "file_dialog.h"

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
    auto chosen = ui_services::instance()->save_file(owner, title, folder, file_name, filters);
    if (!chosen)
        return false;
    file_name = *chosen;
    if (file_name.find(extension) == std::wstring::npos)
        file_name += extension;
    return true;
}
