#include "sel_tables_page.h"

#include "wizard_shell.h"

#include "tk_logger.h"
#include "tk_string.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

bool table_name_before(const std::wstring& a, const std::wstring& b)
{
    const int folded = tk_compare_no_case(a, b);
    if (folded != 0)
        return folded < 0;
    return a < b;
}

namespace {

QListWidget* make_list(QWidget* parent, int id)
{
    auto* list = with_id(new QListWidget(parent), id);
    list->setSortingEnabled(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setUniformItemSizes(true);
    // A little room below the text, so a selected "_x" keeps its underscore.
    list->setStyleSheet(QStringLiteral("QListWidget::item { padding-bottom: 2px; }"));
    return list;
}

QPushButton* make_button(QWidget* parent, const char* text, int id)
{
    auto* b = with_id(new QPushButton(QString::fromUtf8(text), parent), id);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

sel_tables_page::sel_tables_page(std::wstring q, std::wstring title, std::wstring subtitle)
    : wizard_page(std::move(title), std::move(subtitle)), question(std::move(q))
{
    TK_TRACE(2, "sel_tables_page::ctor");
    auto* intro = with_id(new QLabel(this), tables_title_id);
    auto* avail_label = with_id(new QLabel(this), tables_available_label_id);
    auto* sel_label = with_id(new QLabel(this), tables_selected_label_id);
    available_list = make_list(this, tables_available_id);
    selected_list = make_list(this, tables_selected_id);
    avail_label->setBuddy(available_list);
    sel_label->setBuddy(selected_list);
    auto* add = make_button(this, "A&dd >", tables_add_id);
    auto* add_all = make_button(this, "Add a&ll >", tables_add_all_id);
    auto* remove = make_button(this, "< &Remove", tables_remove_id);
    auto* remove_all = make_button(this, "< Re&move all", tables_remove_all_id);

    auto* buttons = new QVBoxLayout;
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(add_all);
    buttons->addSpacing(12);
    buttons->addWidget(remove);
    buttons->addWidget(remove_all);
    buttons->addStretch();
    auto* grid = new QGridLayout;
    grid->addWidget(avail_label, 0, 0);
    grid->addWidget(sel_label, 0, 2);
    grid->addWidget(available_list, 1, 0);
    grid->addLayout(buttons, 1, 1);
    grid->addWidget(selected_list, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(intro);
    layout->addLayout(grid, 1);

    connect(add, &QPushButton::clicked, this, [this] { wizard_shell::guarded([this] { on_add(); }); });
    connect(add_all, &QPushButton::clicked, this, [this] { wizard_shell::guarded([this] { on_add_all(); }); });
    connect(remove, &QPushButton::clicked, this, [this] { wizard_shell::guarded([this] { on_delete(); }); });
    connect(remove_all, &QPushButton::clicked, this, [this] { wizard_shell::guarded([this] { on_del_all(); }); });
    connect(available_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        wizard_shell::guarded([this, item] {
            available_list->setCurrentItem(item);
            on_add();
        });
    });
}

int sel_tables_page::selected_row(QListWidget* list)
{
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.front());
}

void sel_tables_page::fill(side s)
{
    s.list->clear();
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(s.items->size()));
    for (const std::wstring& n : *s.items)
        texts << QString::fromStdWString(n);
    s.list->addItems(texts);
}

void sel_tables_page::select_first(side s, bool focus)
{
    if (focus)
        s.list->setFocus();
    if (!s.items->empty())
        s.list->setCurrentRow(0);
}

void sel_tables_page::move_item(side from, side to, int i)
{
    const std::size_t at = static_cast<std::size_t>(i);
    std::wstring name = std::move((*from.items)[at]);
    from.items->erase(from.items->begin() + i);
    delete from.list->takeItem(i);
    const auto place = std::upper_bound(to.items->begin(), to.items->end(), name, table_name_before);
    const int row = static_cast<int>(place - to.items->begin());
    to.list->insertItem(row, QString::fromStdWString(name));
    to.items->insert(place, std::move(name));
}

void sel_tables_page::move_all(side from, side to)
{
    std::vector<std::wstring> merged;
    merged.reserve(from.items->size() + to.items->size());
    std::merge(std::make_move_iterator(to.items->begin()), std::make_move_iterator(to.items->end()),
               std::make_move_iterator(from.items->begin()), std::make_move_iterator(from.items->end()),
               std::back_inserter(merged), table_name_before);
    from.items->clear();
    *to.items = std::move(merged);
    fill(from);
    fill(to);
}

void sel_tables_page::do_page_init()
{
    TK_TRACE(2, "sel_tables_page::do_page_init");
    available = names;
    std::sort(available.begin(), available.end(), table_name_before);
    selected.clear();
    fill(offer());
    fill(chosen());
    select_first(offer(), false);
}

void sel_tables_page::select_tables(const std::vector<std::wstring>& wanted)
{
    for (const std::wstring& name : wanted) {
        const auto place = std::lower_bound(available.begin(), available.end(), name, table_name_before);
        if (place != available.end() && *place == name)
            move_item(offer(), chosen(), static_cast<int>(place - available.begin()));
    }
}

void sel_tables_page::remove_one(side from, side to)
{
    const int i = selected_row(from.list);
    if (i < 0)
        return;
    move_item(from, to, i);
    if (!from.items->empty()) {
        from.list->setCurrentRow(std::min(i, static_cast<int>(from.items->size()) - 1));
        return;
    }
    select_first(to, true);
}

void sel_tables_page::on_add()
{
    TK_TRACE(2, "sel_tables_page::on_add");
    remove_one(offer(), chosen());
}

void sel_tables_page::on_delete()
{
    TK_TRACE(2, "sel_tables_page::on_delete");
    remove_one(chosen(), offer());
}

void sel_tables_page::on_add_all()
{
    TK_TRACE(2, "sel_tables_page::on_add_all");
    move_all(offer(), chosen());
    select_first(chosen(), true);
}

void sel_tables_page::on_del_all()
{
    TK_TRACE(2, "sel_tables_page::on_del_all");
    move_all(chosen(), offer());
    select_first(offer(), true);
}

bool sel_tables_page::collect_selection()
{
    if (!available.empty() && selected.empty() && !question.empty() && !wizard_shell::question(question, true))
        return false;
    names = selected;
    return true;
}
