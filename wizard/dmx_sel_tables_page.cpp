#include "dmx_sel_tables_page.h"

#include "wizard_shell.h"

#include "ora_dump_reader.h"
#include "velconv_convertor.h"

#include "tk_unicode.h"

#include <QLabel>

dmx_sel_tables_page::dmx_sel_tables_page()
    : sel_tables_page(L"There are no tables selected. Continue anyway?", L"Step 3 of 4", L"Select tables to convert")
{
}

bool dmx_sel_tables_page::page_init()
{
    velconv_convertor* c = velconv_convertor::instance();
    wizard_shell* shell = wizard_shell::instance();
    const ora_dump_reader& reader = c->opener().reader();
    const auto tell = [shell](const char* text) {
        const std::string narrow = text ? text : "";
        wizard_shell::message(tk_utf8_to_wide(narrow));
        shell->add_error(narrow);
    };
    if (reader.compound_dump)
        tell(ora_dump_reader::message(10));
    if (reader.first_part)
        tell(ora_dump_reader::message(14));
    control_as<QLabel>(tables_title_id)->setText(QStringLiteral("Select Oracle tables to convert into PostgreSQL format."));
    control_as<QLabel>(tables_available_label_id)->setText(QStringLiteral("&Available tables:"));
    control_as<QLabel>(tables_selected_label_id)->setText(QStringLiteral("&Selected tables:"));
    names = c->get_all_tables();
    do_page_init();
    std::vector<std::wstring> wanted;
    wanted.reserve(c->profile_selection.size());
    for (const auto& entry : c->profile_selection)
        wanted.push_back(entry.first);
    select_tables(wanted);
    return true;
}

int dmx_sel_tables_page::on_next()
{
    if (!collect_selection())
        return -1;
    velconv_convertor::instance()->selected_tables = names;
    return 107;
}

void dmx_sel_tables_page::on_help()
{
    wizard_shell::display_help(1017);
}
