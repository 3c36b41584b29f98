#include "qt_ui_services.h"

#include "tk_utils.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {

QString from_wide(const std::wstring& text)
{
    return QString::fromStdWString(text);
}

std::optional<std::wstring> run_file_dialog(QFileDialog::AcceptMode mode, QWidget* owner, const std::wstring& title,
                                            const std::wstring& folder, const std::wstring& name,
                                            const std::vector<file_filter>& filters)
{
    QFileDialog dialog(owner, from_wide(title), from_wide(folder));
    dialog.setAcceptMode(mode);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    if (mode == QFileDialog::AcceptOpen) {
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setFileMode(QFileDialog::AnyFile);
        // The extension is ours to add, and the question about replacing a
        // file comes after it, for the name that is written.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog.setDefaultSuffix(QString());
    }
    QStringList names;
    for (const file_filter& f : filters)
        names << qt_name_filter(f);
    if (!names.isEmpty())
        dialog.setNameFilters(names);
    if (!name.empty())
        dialog.selectFile(from_wide(name));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.front().toStdWString();
}

}  // namespace

QString qt_name_filter(const file_filter& filter)
{
    QStringList patterns;
    for (const QString& p : from_wide(filter.patterns).split(u';', Qt::SkipEmptyParts)) {
        const QString pattern = p.trimmed();
        if (pattern == u"*.*") {
            patterns << QStringLiteral("*");
            continue;
        }
        patterns << pattern;
        if (pattern.startsWith(u"*.")) {
            const QString lower = pattern.toLower();
            const QString upper = pattern.toUpper();
            if (pattern != lower)
                patterns << lower;
            if (pattern != upper)
                patterns << upper;
        }
    }
    return from_wide(filter.description) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QString qt_display_text(const std::wstring& text)
{
    QString s = from_wide(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(u'\r', u'\n');
    return s;
}

bool qt_ui_services::show_box(box_kind kind, QWidget* owner, const std::wstring& caption, const std::wstring& text,
                              bool default_no)
{
    QMessageBox box(owner);
    box.setWindowTitle(from_wide(caption));
    box.setText(qt_display_text(text));
    switch (kind) {
    case box_kind::error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case box_kind::information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case box_kind::question:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(default_no ? QMessageBox::No : QMessageBox::Yes);
        break;
    }
    const int answer = box.exec();
    return kind != box_kind::question || answer == QMessageBox::Yes;
}

int qt_ui_services::exec_dialog(QDialog& dialog)
{
    return dialog.exec();
}

std::optional<std::wstring> qt_ui_services::open_file(QWidget* owner, const std::wstring& title,
                                                      const std::wstring& folder, const std::wstring& name,
                                                      const std::vector<file_filter>& filters)
{
    return run_file_dialog(QFileDialog::AcceptOpen, owner, title, folder, name, filters);
}

std::optional<std::wstring> qt_ui_services::save_file(QWidget* owner, const std::wstring& title,
                                                      const std::wstring& folder, const std::wstring& name,
                                                      const std::vector<file_filter>& filters)
{
    return run_file_dialog(QFileDialog::AcceptSave, owner, title, folder, name, filters);
}

bool qt_ui_services::open_url(const std::string& url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void qt_ui_services::set_clipboard(const std::wstring& text)
{
    QGuiApplication::clipboard()->setText(from_wide(text));
}

void qt_ui_services::beep()
{
    QApplication::beep();
}

std::string qt_ui_services::help_folder()
{
    return tk_get_module_path() + "-help";
}

void qt_ui_services::end_program(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    // Not std::exit: Qt's static destructors must not run while the GUI
    // thread may still be inside the event loop.
    std::_Exit(code);
}
