// Shared pieces of the wizard's tests: the fixture with a temporary home
// and help folder and the scripted desktop services, and a stub page whose
// answers a test sets.
#pragma once

#include "scripted_ui_services.h"
#include "test_support.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <functional>
#include <string>
#include <vector>

namespace wizard_test {

class stub_page : public wizard_page_base {
public:
    stub_page(int idd, int buttons = wiz_back | wiz_next, int flags = page_has_help, bool log_box = true)
        : wizard_page_base(idd, buttons, flags, L"Title " + std::to_wstring(idd), L"Subtitle")
    {
        if (log_box) {
            auto* layout = new QVBoxLayout(this);
            log = with_id(new QPlainTextEdit(this), log_box_id);
            log->setReadOnly(true);
            layout->addWidget(log);
        }
    }

    bool page_init() override
    {
        ++inits;
        return init ? init() : true;
    }
    bool kill_active() override { return allow_leave; }
    bool on_finish() override { return allow_finish; }
    void on_help() override { ++helps; }
    int on_next() override { return next_fn ? next_fn() : next_result; }
    int on_back() override { return back_result; }
    void on_timer() override
    {
        ++ticks;
        if (timer_fn)
            timer_fn();
    }

    std::function<bool()> init;
    std::function<int()> next_fn;
    std::function<void()> timer_fn;
    int next_result = 0;
    int back_result = 0;
    bool allow_leave = true;
    bool allow_finish = true;
    int inits = 0;
    int helps = 0;
    int ticks = 0;
    QPlainTextEdit* log = nullptr;
};

class fixture : public tk_test::home_fixture {
protected:
    fixture() : ui(help.path()) {}
    tk_test::temp_dir help;
    tk_test::temp_dir work;
    scripted_ui_services ui;
};

inline std::string utf8(const std::wstring& w)
{
    return QString::fromStdWString(w).toStdString();
}

}  // namespace wizard_test
