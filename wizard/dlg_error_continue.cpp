#include "dlg_error_continue.h"

#include "dlg_error_ex.h"
#include "ui_services.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include "tk_logger.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

dlg_error_continue_base::dlg_error_continue_base(int idd, std::wstring message)
    : QDialog(wizard_shell::dialog_owner()), text(std::move(message))
{
    TK_TRACE(1, "dlg_error_continue::ctor");
    setObjectName(QString::number(idd));
    setModal(true);
    QVBoxLayout* outer = build_error_dialog_body(*this, text);
    quiet_box = with_id(new QCheckBox(QStringLiteral("&Do not show this dialog box again"), this), dlg_quiet_id);
    outer->addWidget(quiet_box);
    QHBoxLayout* row = add_button_row(outer);
    auto* go_on = with_id(new QPushButton(QStringLiteral("Continue"), this), dlg_continue_id);
    auto* abort = with_id(new QPushButton(QStringLiteral("Abort"), this), dlg_abort_id);
    go_on->setDefault(true);
    row->addWidget(go_on);
    row->addWidget(abort);
    connect(quiet_box, &QCheckBox::toggled, this, [this](bool on) { quiet_flag = on; });
    connect(go_on, &QPushButton::clicked, this, [this] { done(dlg_continue_id); });
    connect(abort, &QPushButton::clicked, this, [this] { done(dlg_abort_id); });
}

dlg_error_continue_base::~dlg_error_continue_base() = default;

void dlg_error_continue_base::showEvent(QShowEvent* event)
{
    TK_TRACE(1, "dlg_error_continue::on_init");
    setWindowTitle(QString::fromStdWString(error_dialog_caption()));
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void dlg_error_continue_base::reject()
{
    done(dlg_continue_id);
}

void dlg_error_continue_base::closeEvent(QCloseEvent* event)
{
    event->ignore();
    done(dlg_continue_id);
}

int dlg_error_continue_base::run()
{
    return ui_services::instance()->exec_dialog(*this);
}
