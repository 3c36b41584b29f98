#include "sel_file_page.h"

#include "file_dialog.h"
#include "overwrite_dlg2.h"
#include "pgs_settings_page.h"
#include "wait_cursor.h"
#include "wizard_shell.h"

#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

velconv_convertor* converter_at(int line)
{
    velconv_convertor* c = velconv_convertor::try_instance();
    if (!c)
        throw tk_mail_assertion("dmx_shel", line);
    return c;
}

QLineEdit* text_of(const wizard_page_base& page, int id)
{
    return page.control_as<QLineEdit>(id);
}

bool ticked(const wizard_page_base& page, int id)
{
    return page.control_as<QCheckBox>(id)->checkState() == Qt::Checked;
}

}  // namespace

sel_file_page::sel_file_page() : wizard_page(L"Step 2 of 4", L"Conversion Settings")
{
    auto* intro = new QLabel(
        QStringLiteral("On this page you can specify the source, destination and conversion settings."), this);
    intro->setWordWrap(true);

    auto* grid = new QGridLayout;
    int row = 0;
    auto add_edit = [&](const char* label, int id, int browse_id) {
        auto* e = with_id(new QLineEdit(this), id);
        auto* l = new QLabel(QString::fromUtf8(label), this);
        l->setBuddy(e);
        grid->addWidget(l, row++, 0, 1, 2);
        grid->addWidget(e, row, 0);
        if (browse_id) {
            auto* b = with_id(new QPushButton(QStringLiteral("Browse..."), this), browse_id);
            b->setAutoDefault(false);
            grid->addWidget(b, row, 1);
        }
        ++row;
    };
    add_edit("&Oracle dump file path:", file_src_id, file_browse_src_id);
    add_edit("Postgre&SQL database name:", file_dest_id, 0);
    add_edit("&Logfile (leave blank to disable logging):", file_log_id, file_browse_log_id);

    auto* options = new QGridLayout;
    const struct {
        int id;
        const char* text;
        int r, c;
    } boxes[] = {
        {file_tab_def_id, "&Convert table definitions only", 0, 0},
        {file_skip_idx_id, "S&kip converting indexes", 1, 0},
        {file_case_sens_id, "&Make names case sensitive", 0, 1},
        {file_use_schema_id, "M&erge schema and table names", 1, 1},
    };
    for (const auto& b : boxes) {
        auto* box = with_id(new QCheckBox(QString::fromUtf8(b.text), this), b.id);
        options->addWidget(box, b.r, b.c);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(intro);
    layout->addSpacing(4);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addLayout(options);
    layout->addStretch();

    connect(control_as<QPushButton>(file_browse_src_id), &QPushButton::clicked, this,
            [this] { wizard_shell::guarded([this] { on_browse_src(); }); });
    connect(control_as<QPushButton>(file_browse_log_id), &QPushButton::clicked, this,
            [this] { wizard_shell::guarded([this] { on_browse_log(); }); });
}

bool sel_file_page::page_init()
{
    TK_TRACE(1, "sel_file_page::page_init");
    velconv_convertor* c = converter_at(75);
    const auto tick = [this](int id, bool on) { control_as<QCheckBox>(id)->setCheckState(on ? Qt::Checked : Qt::Unchecked); };
    tick(file_tab_def_id, c->tab_def);
    tick(file_skip_idx_id, c->skip_idx);
    tick(file_case_sens_id, c->case_sens);
    tick(file_use_schema_id, c->use_schema);
    if (!c->src.empty() || !c->dest.empty()) {
        text_of(*this, file_src_id)->setText(QString::fromStdWString(c->src));
        text_of(*this, file_dest_id)->setText(QString::fromStdWString(c->dest));
        if (!c->log_file.empty())
            text_of(*this, file_log_id)->setText(QString::fromStdString(c->log_file));
    }
    return true;
}

void sel_file_page::on_help()
{
    wizard_shell::display_help(1013);
}

void sel_file_page::on_browse_src()
{
    open_file_dialog dialog(this, {{L"Oracle Dump Files (.dmp)", L"*.dmp"}, {L"All Files (*.*)", L"*.*"}},
                            L"Select Oracle Dump File", text_of(*this, file_src_id)->text().toStdWString());
    if (dialog.show())
        text_of(*this, file_src_id)->setText(QString::fromStdWString(dialog.get_file_name()));
}

void sel_file_page::on_browse_log()
{
    open_file_dialog dialog(this, {{L"Log Files (.log)", L"*.log"}, {L"All Files (*.*)", L"*.*"}},
                            L"Select Log File", text_of(*this, file_log_id)->text().toStdWString());
    if (dialog.show())
        text_of(*this, file_log_id)->setText(QString::fromStdWString(dialog.get_file_name()));
}

void sel_file_page::store_file_info()
{
    TK_TRACE(1, "sel_file_page::store_file_info");
    velconv_convertor* c = converter_at(209);
    c->tab_def = ticked(*this, file_tab_def_id) ? 1 : 0;
    c->skip_idx = ticked(*this, file_skip_idx_id) ? 1 : 0;
    c->set_case_sens(ticked(*this, file_case_sens_id));
    c->set_use_schema(ticked(*this, file_use_schema_id));
    c->src = text_of(*this, file_src_id)->text().toStdWString();
    c->dest = text_of(*this, file_dest_id)->text().toStdWString();
    c->set_logfile(text_of(*this, file_log_id)->text().toStdString());
}

int sel_file_page::on_back()
{
    store_file_info();
    return 0;
}

int sel_file_page::on_next()
{
    try {
        return check_and_choose_mode();
    } catch (const tk_exception& e) {
        wizard_shell::error_ansi(connection_error_text(e));
        return -1;
    }
}

int sel_file_page::check_and_choose_mode()
{
    store_file_info();
    velconv_convertor* c = converter_at(209);
    if (c->src.empty()) {
        wizard_shell::message(L"You should enter Oracle dump file name");
        return -1;
    }
    if (!tk_is_file_exist(c->src, 0)) {
        wizard_shell::error(L"Source file does not exist.\r\nPlease verify the correct path was given.");
        return -1;
    }
    if (c->dest.empty()) {
        wizard_shell::message(L"You should enter PostgreSQL database name");
        return -1;
    }
    bool exists = false;
    {
        wait_cursor busy;
        exists = c->engine.is_db_exist(c->dest);
    }
    if (exists) {
        overwrite_dlg2<121> dialog(1016, overwrite_question, wizard_shell::dialog_owner());
        if (dialog.run() != dialog_ok_id)
            return -1;
        // Only the mode: the run drops a mode-0 destination itself, once the
        // dump has opened and the tables are chosen.
        TK_TRACE(1, "udb_converter::set_mode(%d)", dialog.chosen_mode());
        c->n_mode = dialog.chosen_mode();
    }
    return 108;
}
