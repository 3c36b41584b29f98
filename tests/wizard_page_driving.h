// Driving the wizard's pages in tests: clicks on buttons by id, typing into
// edits, and a fixture that runs the normal wizard over run_wizard and
// hands the sheet to the test's steps.
#pragma once

#include "wizard_test_support.h"

#include "run_wizard.h"

#include "velconv_convertor.h"

#include <QAbstractButton>
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
