#include "wizard_page.h"

#include "wizard_shell.h"

#include "tk_logger.h"

#include <QCheckBox>

wizard_page_base::wizard_page_base(int idd, int buttons, int flags, std::wstring title, std::wstring subtitle)
    : page_idd(idd), page_buttons(buttons), page_flags(flags), title(std::move(title)), subtitle(std::move(subtitle))
{
    setObjectName(QString::number(idd));
    if (!this->title.empty())
        page_flags |= page_has_title;
    if (!this->subtitle.empty())
        page_flags |= page_has_subtitle;
}

wizard_page_base::~wizard_page_base()
{
    TK_TRACE(2, "wizard_page::dtor");
}

bool wizard_page_base::OnSetActive()
{
    TK_TRACE(1, "wizard_page::OnSetActive");
    wizard_shell* shell = wizard_shell::instance();
    shell->set_buttons(page_buttons);
    shell->init_window();
    shell->set_current_page(this);
    return page_init();
}

bool wizard_page_base::on_cancel()
{
    TK_TRACE(2, "wizard_page::on_cancel");
    wizard_shell::instance();
    return wizard_shell::question(L"Are you sure you want to exit the wizard?", true);
}

bool wizard_page_base::invert_chbox(int id)
{
    TK_TRACE(1, "wizard_page::invert_chbox(%d)", id);
    QCheckBox* box = control_as<QCheckBox>(id);
    if (!box)
        return false;
    const bool ticked = box->checkState() != Qt::Checked;
    box->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    return ticked;
}

void wizard_page_base::enable_ctrl(int id, bool on)
{
    TK_TRACE(1, "wizard_page::enable_ctrl(%d=%d)", id, on ? 1 : 0);
    if (QWidget* w = control(id))
        w->setEnabled(on);
}

void wizard_page_base::set_title_font(int id)
{
    if (!title_font) {
        title_font = std::make_unique<QFont>(QStringLiteral("Segoe UI"));
        title_font->setPointSize(13);
        title_font->setWeight(QFont::Normal);
        title_font->setStyleHint(QFont::SansSerif);
    }
    if (QWidget* w = control(id))
        w->setFont(*title_font);
}

QWidget* wizard_page_base::control(int id) const
{
    return findChild<QWidget*>(QString::number(id));
}
