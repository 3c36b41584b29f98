// Driving the wizard's pages in tests: clicks on buttons by id, typing into
// edits, and a fixture that runs the normal wizard over run_wizard and
// hands the sheet to the test's steps.
#pragma once

#include "wizard_test_support.h"

#include "pgs_settings_page.h"
#include "sel_file_page.h"
#include "sel_tables_page.h"
#include "run_wizard.h"

#include "velconv_convertor.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <functional>
#include <string>

namespace wizard_test {

inline void click(QWidget* parent, int id)
{
    auto* b = parent->findChild<QAbstractButton*>(QString::number(id));
    ASSERT_NE(b, nullptr) << id;
    // A radio button or check box reacts on its indicator and text only,
    // which sit at its left when the layout widens it.
    if (b->isCheckable())
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    else
        QTest::mouseClick(b, Qt::LeftButton);
}

inline QLineEdit* edit(QWidget* page, int id)
{
    return page->findChild<QLineEdit*>(QString::number(id));
}

inline std::string text_of(QWidget* page, int id)
{
    return edit(page, id)->text().toStdString();
}

inline void type(QWidget* page, int id, const std::string& text)
{
    edit(page, id)->setText(QString::fromStdString(text));
}

// The connection page in Remote mode with these values and no password,
// then Next.
inline void fill_remote_connection(wizard_shell& shell, const std::string& host, int port, const std::string& user)
{
    wizard_page_base* page = shell.current_page();
    click(page, conn_remote_id);
    type(page, conn_host_id, host);
    type(page, conn_port_id, std::to_string(port));
    type(page, conn_user_id, user);
    type(page, conn_password_id, "");
    click(&shell, sheet_next_id);
}

// Sets a check box of a page.
inline void tick(QWidget* page, int id, bool on)
{
    page->findChild<QCheckBox*>(QString::number(id))->setChecked(on);
}

// The normal wizard from the welcome page to the finish page: Remote with
// these values, the dump into dest (and the log file unless it is empty),
// every table; on_file_page, when given, sets the dump-file page's options
// before its Next. The caller checks that page 116 was reached.
inline void drive_to_finish(wizard_shell& shell, const std::string& host, int port, const std::string& user,
                            const std::string& dump, const std::string& dest, const std::string& log_file = {},
                            const std::function<void(wizard_page_base&)>& on_file_page = {})
{
    EXPECT_EQ(shell.current_idd(), 103);
    click(&shell, sheet_next_id);
    ASSERT_EQ(shell.current_idd(), 134);
    fill_remote_connection(shell, host, port, user);
    ASSERT_EQ(shell.current_idd(), 105);
    wizard_page_base* file = shell.current_page();
    type(file, file_src_id, dump);
    type(file, file_dest_id, dest);
    if (!log_file.empty())
        type(file, file_log_id, log_file);
    if (on_file_page)
        on_file_page(*file);
    click(&shell, sheet_next_id);
    ASSERT_TRUE(wait_for_state([&] { return shell.current_idd() == 127; }, "page 127 after the dump was read"));
    click(shell.current_page(), tables_add_all_id);
    click(&shell, sheet_next_id);
    ASSERT_TRUE(wait_for_state([&] { return shell.current_idd() == 116; }, "page 116 after the conversion"));
}

class pages_fixture : public fixture {
protected:
    // Runs the normal wizard; steps drive the sheet, then it leaves through
    // Cancel and Yes unless the steps closed it.
    int run_sheet(std::function<void(wizard_shell&)> steps)
    {
        ui.dialog_handlers["sheet"] = [this, steps](QDialog& d) {
            auto& shell = dynamic_cast<wizard_shell&>(d);
            steps(shell);
            if (shell.isVisible()) {
                ui.answers.push_back(true);
                click(&shell, sheet_cancel_id);
            }
        };
        wizard_hooks hooks;
        hooks.converter_ready = [this](velconv_convertor& c) {
            converter = &c;
            if (prepare)
                prepare(c);
        };
        return run_wizard({}, ui, hooks);
    }

    // Runs on the converter right after it is built.
    std::function<void(velconv_convertor&)> prepare;
    velconv_convertor* converter = nullptr;
};

}  // namespace wizard_test
