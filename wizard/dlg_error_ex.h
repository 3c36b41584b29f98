// The internal-error dialog: the failure's text with OK, Copy to clipboard
// and Send bug. The program ends after it, so Copy leaves the dialog open
// (the clipboard's content would die with the program at once) and the
// text also goes to the standard error when the dialog opens.
#pragma once

#include <QDialog>

#include <string>

class QCloseEvent;
class QHBoxLayout;
class QVBoxLayout;

inline constexpr int dlg_message_id = 1320;
inline constexpr int dlg_ok_id = 1;
inline constexpr int dlg_copy_id = 1108;
inline constexpr int dlg_send_bug_id = 1112;

// The caption of the error dialogs: "<title> Error" once the sheet is
// initialised, else "Error".
std::wstring error_dialog_caption();

// The body that both error dialogs share: the style's critical icon at the
// left and the message (1320) beside it, in the layout given back; the
// caller adds its rows below.
QVBoxLayout* build_error_dialog_body(QDialog& dialog, const std::wstring& text);
// A row for the buttons, right-aligned, added to the layout.
QHBoxLayout* add_button_row(QVBoxLayout* layout);

class dlg_error_ex_base : public QDialog {
public:
    dlg_error_ex_base(int idd, std::wstring message);
    ~dlg_error_ex_base() override;

    const std::wstring& message() const { return text; }
    // Runs the dialog modally through the desktop services, on the GUI
    // thread also when a worker asks; gives the id of the closing button.
    int run();

protected:
    // Only the buttons close the dialog.
    void reject() override {}
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void on_copy();
    void on_send_bug();

    std::wstring text;
};

template <int IDD>
class dlg_error_ex : public dlg_error_ex_base {
public:
    explicit dlg_error_ex(std::wstring message) : dlg_error_ex_base(IDD, std::move(message)) {}
};
