// What to do with a destination database that exists already: the four
// modes. The dialog only gives the mode; the run prepares the destination
// (a mode-0 drop happens there, once the dump has opened), so Cancel, Back
// or a refused dump never cost the user a database.
#pragma once

#include <QDialog>

#include <string>

inline constexpr int overwrite_message_id = 1320;
inline constexpr int overwrite_entire_id = 1329;
inline constexpr int overwrite_tables_id = 1330;
inline constexpr int overwrite_skip_id = 1331;
inline constexpr int overwrite_merge_id = 1332;
inline constexpr int dialog_ok_id = 1;
inline constexpr int dialog_cancel_id = 2;
inline constexpr int dialog_help_id = 9;

// The question the dump-file page asks.
inline constexpr const wchar_t* overwrite_question =
    L"The destination database already exists. Select one of the\noptions below. Click 'Help' button for more "
    L"information.";

class QButtonGroup;

class overwrite_dlg_base : public QDialog {
public:
    // OK gives 1 (the mode is then chosen_mode()), Cancel, Esc and the
    // close box 2; Help opens the topic and leaves the dialog open.
    overwrite_dlg_base(int idd, int help_topic, std::wstring message, QWidget* owner);

    // 0 overwrite the entire database, 1 existing tables only, 2 skip
    // existing tables, 3 merge.
    int chosen_mode() const { return mode; }
    // Runs the dialog through the desktop services.
    int run();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void on_ok();

    int help_topic;
    std::wstring message;
    int mode = 0;
    QButtonGroup* modes = nullptr;
};

template <int IDD>
class overwrite_dlg2 : public overwrite_dlg_base {
public:
    overwrite_dlg2(int help_topic, std::wstring message, QWidget* owner = nullptr)
        : overwrite_dlg_base(IDD, help_topic, std::move(message), owner)
    {
    }
};
