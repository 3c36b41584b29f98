// The dialog of a failure after which the run can go on: Continue (the
// default; Esc and the close box give the same) or Abort, and the choice not
// to show such dialogs again.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QCloseEvent;

inline constexpr int dlg_abort_id = 1;
inline constexpr int dlg_continue_id = 2;
inline constexpr int dlg_quiet_id = 1222;

class dlg_error_continue_base : public QDialog {
public:
    dlg_error_continue_base(int idd, std::wstring message);
    ~dlg_error_continue_base() override;

    const std::wstring& message() const { return text; }
    // The check box's state when the dialog closed.
    bool quiet() const { return quiet_flag; }
    // Runs the dialog modally through the desktop services, on the GUI
    // thread also when a worker asks; gives 1 (Abort) or 2 (Continue).
    int run();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::wstring text;
    QCheckBox* quiet_box = nullptr;
    bool quiet_flag = false;
};

template <int IDD>
class dlg_error_continue : public dlg_error_continue_base {
public:
    explicit dlg_error_continue(std::wstring message) : dlg_error_continue_base(IDD, std::move(message)) {}
};
