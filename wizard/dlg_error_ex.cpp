#include "dlg_error_ex.h"

#include "ui_services.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include "front_end.h"

#include "tk_desktop.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

std::wstring error_dialog_caption()
{
    if (wizard_shell::is_initialized())
        return wizard_shell::instance()->title() + L" Error";
    return L"Error";
}

QVBoxLayout* build_error_dialog_body(QDialog& d, const std::wstring& text)
{
    auto* outer = new QVBoxLayout(&d);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(&d);
    const int size = d.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &d);
    icon->setPixmap(d.style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, &d).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* label = with_id(new QLabel(QString::fromStdWString(text).replace("\r\n", "\n").replace('\r', '\n'), &d),
                          dlg_message_id);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(360);
    top->addWidget(label, 1);
    outer->addLayout(top);
    return outer;
}

QHBoxLayout* add_button_row(QVBoxLayout* layout)
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    layout->addLayout(row);
    return row;
}

dlg_error_ex_base::dlg_error_ex_base(int idd, std::wstring message)
    : QDialog(wizard_shell::dialog_owner()), text(std::move(message))
{
    TK_TRACE(1, "dlg_error_ex::ctor");
    setObjectName(QString::number(idd));
    setModal(true);
    QHBoxLayout* row = add_button_row(build_error_dialog_body(*this, text));
    auto* send = with_id(new QPushButton(QStringLiteral("Send bug"), this), dlg_send_bug_id);
    auto* ok = with_id(new QPushButton(QStringLiteral("OK"), this), dlg_ok_id);
    auto* copy = with_id(new QPushButton(QStringLiteral("Copy to clipboard"), this), dlg_copy_id);
    send->setDefault(true);
    for (QPushButton* b : {send, ok, copy})
        row->addWidget(b);
    connect(ok, &QPushButton::clicked, this, [this] { done(dlg_ok_id); });
    connect(copy, &QPushButton::clicked, this, [this] { wizard_shell::guarded([this] { on_copy(); }); });
    connect(send, &QPushButton::clicked, this, [this] {
        wizard_shell::guarded([this] { on_send_bug(); });
        done(dlg_send_bug_id);
    });
}

dlg_error_ex_base::~dlg_error_ex_base() = default;

void dlg_error_ex_base::showEvent(QShowEvent* event)
{
    TK_TRACE(1, "dlg_error_ex::on_init");
    setWindowTitle(QString::fromStdWString(error_dialog_caption()));
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void dlg_error_ex_base::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void dlg_error_ex_base::on_copy()
{
    // The dialog stays: the clipboard's content lives only as long as the
    // program, which ends when the dialog closes.
    tk_copy_to_clipboard2(text);
}

void dlg_error_ex_base::on_send_bug()
{
    const std::string title = wizard_shell::is_initialized() ? tk_wide_to_utf8(wizard_shell::instance()->title()) : "";
    tk_send_bug(title, tk_wide_to_utf8(text));
}

int dlg_error_ex_base::run()
{
    // The text outlives the program's end on the standard error.
    if (front_end* fe = front_end::try_instance())
        fe->write_err(tk_wide_to_utf8(text) + "\n");
    return ui_services::instance()->exec_dialog(*this);
}
