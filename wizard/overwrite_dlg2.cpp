#include "overwrite_dlg2.h"

#include "qt_ui_services.h"
#include "ui_services.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include "velconv_convertor.h"

#include "tk_logger.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

overwrite_dlg_base::overwrite_dlg_base(int idd, int topic, std::wstring text, QWidget* owner)
    : QDialog(owner), help_topic(topic), message(std::move(text))
{
    TK_TRACE(1, "overwrite_dlg2::ctor");
    setObjectName(QString::number(idd));
    setModal(true);

    auto* icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);
    // The text is known now, so the dialog is sized for it from the start.
    auto* label = with_id(new QLabel(qt_display_text(message), this), overwrite_message_id);
    label->setWordWrap(false);

    modes = new QButtonGroup(this);
    modes->setExclusive(true);
    auto* radios = new QVBoxLayout;
    const struct {
        int id;
        const char* text;
    } choices[] = {
        {overwrite_entire_id, "&Overwrite the entire database"},
        {overwrite_tables_id, "Overwrite existing &tables only"},
        {overwrite_skip_id, "&Skip existing tables"},
        {overwrite_merge_id, "&Merge"},
    };
    for (const auto& c : choices) {
        auto* r = with_id(new QRadioButton(QString::fromUtf8(c.text), this), c.id);
        modes->addButton(r, c.id);
        radios->addWidget(r);
    }

    auto* ok = with_id(new QPushButton(QStringLiteral("OK"), this), dialog_ok_id);
    ok->setDefault(true);
    auto* cancel = with_id(new QPushButton(QStringLiteral("Cancel"), this), dialog_cancel_id);
    cancel->setAutoDefault(false);
    auto* help = with_id(new QPushButton(QStringLiteral("Help"), this), dialog_help_id);
    help->setAutoDefault(false);

    auto* texts = new QVBoxLayout;
    texts->addWidget(label);
    texts->addSpacing(8);
    texts->addLayout(radios);
    auto* body = new QHBoxLayout;
    body->addWidget(icon, 0, Qt::AlignTop);
    body->addSpacing(8);
    body->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    auto* root = new QVBoxLayout(this);
    root->addLayout(body);
    root->addSpacing(8);
    root->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, [this] { wizard_shell::guarded([this] { on_ok(); }); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(help, &QPushButton::clicked, this,
            [this] { wizard_shell::guarded([this] { wizard_shell::display_help(help_topic); }); });
}

void overwrite_dlg_base::showEvent(QShowEvent* event)
{
    TK_TRACE(1, "overwrite_dlg2::on_init");
    const wizard_shell* shell = wizard_shell::try_instance();
    setWindowTitle(QString::fromStdWString((shell ? shell->title() : make_title()) + L" Warning"));
    findChild<QLabel*>(QString::number(overwrite_message_id))->setText(qt_display_text(message));
    modes->button(overwrite_entire_id)->setChecked(true);
    adjustSize();
    QDialog::showEvent(event);
    wizard_shell::center_over(*this, wizard_shell::dialog_owner());
    raise();
    activateWindow();
    ui_services::instance()->beep();
}

void overwrite_dlg_base::on_ok()
{
    switch (modes->checkedId()) {
    case overwrite_tables_id: mode = 1; break;
    case overwrite_skip_id: mode = 2; break;
    case overwrite_merge_id: mode = 3; break;
    default: mode = 0; break;
    }
    done(dialog_ok_id);
}

void overwrite_dlg_base::reject()
{
    done(dialog_cancel_id);
}

int overwrite_dlg_base::run()
{
    return ui_services::instance()->exec_dialog(*this);
}
