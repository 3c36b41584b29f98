#include "welcome_page.h"

#include "ui_services.h"

#include <QHBoxLayout>

std::vector<file_filter> split_filter_pairs(const std::wstring& text)
{
    std::vector<std::wstring> pieces;
    std::wstring piece;
    for (wchar_t c : text) {
        if (c == L'|') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    std::vector<file_filter> filters;
    for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
        if (pieces[i].empty())
            break;
        filters.push_back({pieces[i], pieces[i + 1]});
    }
    return filters;
}

void welcome_page_base::build(wizard_page_base& page)
{
    auto* title = with_id(new QLabel(QStringLiteral("Welcome to Velmora to PostgreSQL Conversion Wizard\n"), &page),
                          welcome_title_id);
    title->setWordWrap(true);
    auto* line1 = new QLabel(QStringLiteral("This wizard helps you convert Oracle dump file into"), &page);
    auto* line2 = new QLabel(QStringLiteral("PostgreSQL database. Click 'Next' to continue."), &page);
    auto* load = with_id(new QPushButton(QStringLiteral("&Load Settings..."), &page), welcome_load_id);
    load->setAutoDefault(false);

    auto* link = with_id(new QLabel(&page), welcome_link_id);
    link->setTextFormat(Qt::RichText);
    link->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(QString::fromUtf8(maker_url),
                                                             QString::fromUtf8(maker_name)));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setOpenExternalLinks(false);
    link->setCursor(Qt::PointingHandCursor);
    link->setToolTip(QString::fromUtf8(maker_url));
    QObject::connect(link, &QLabel::linkActivated, link, [](const QString& url) {
        wizard_shell::guarded([&] { ui_services::instance()->open_url(url.toStdString()); });
    });

    auto* load_row = new QHBoxLayout;
    load_row->addWidget(load);
    load_row->addStretch();
    auto* layout = new QVBoxLayout(&page);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(title);
    layout->addSpacing(8);
    layout->addWidget(line1);
    layout->addWidget(line2);
    layout->addSpacing(16);
    layout->addLayout(load_row);
    layout->addStretch();
    layout->addWidget(link, 0, Qt::AlignRight);
}
