// The wizard's sheet: one modal window that shows one page at a time, with
// the header band (or the watermark on exterior pages) and the buttons Back,
// Next or Finish, Cancel and Help. It calls the page virtuals directly (see
// wizard_page.h) and is the one window that workers reach: the progress
// timer, the log box of the current page and the message boxes.
//
// Threads: the sheet lives on the GUI thread. set_timer, write_log and the
// static boxes may be called from a worker: set_timer and the boxes run on
// the GUI thread through a blocking queued call, write_log through a queued
// one (the worker never waits for it). A worker must hold no lock that the
// GUI thread takes while it waits for a box.
#pragma once

#include "tk_singleton.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;
class wizard_page_base;

// The sheet's buttons, by their ids.
inline constexpr int sheet_back_id = 12323;
inline constexpr int sheet_next_id = 12324;
inline constexpr int sheet_finish_id = 12325;
inline constexpr int sheet_cancel_id = 2;
inline constexpr int sheet_help_id = 9;

// The sheet's result when the start-up fails after the sheet has shown (the
// dump of a quick launch is refused): the program's exit code.
inline constexpr int sheet_start_failed = 255;

// The log box of a page, and what it holds at most.
inline constexpr int log_box_id = 1016;
inline constexpr int log_box_cap = 1000000;

class wizard_shell : public QDialog, public tk_singleton<wizard_shell> {
public:
    static constexpr std::size_t max_errors = 20;

    // The images are the resources ":/wizard/<id>"; 0 means none.
    wizard_shell(std::wstring title, int icon_id, int watermark_id, int header_id, QWidget* owner = nullptr);
    ~wizard_shell() override;

    // Adds a page in the sheet's order; the caller keeps owning it and
    // destroys it before or after the sheet.
    void add_page(wizard_page_base* page);
    std::vector<int> page_ids() const;
    wizard_page_base* page(int idd) const;
    // The page activated last, or null before the first activation.
    wizard_page_base* current_page() const { return current.load(std::memory_order_acquire); }
    int current_idd() const;
    // Set by the page framework at each activation.
    void set_current_page(wizard_page_base* page);

    // 1 enables Back, 2 enables Next, 4 shows Finish in place of Next.
    void set_buttons(int mask);
    // Enables a sheet button by id (2 Cancel, 9 Help, or the others).
    void enable_button(int id, bool on);
    // Leaves the current page and activates the page with that id; an id
    // not in the sheet does nothing.
    void set_current(int idd);

    // Starts the progress timer, from any thread; raises the internal error
    // when it runs already.
    void set_timer(int ms);
    // Stops it; GUI thread.
    void kill_timer();
    bool timer_running() const { return timer_on.load(std::memory_order_acquire); }

    // The title, icon and position; acts once.
    void init_window();
    // False with no shell.
    static bool is_initialized();
    // The owner of boxes and dialogs: the sheet once initialised, else none
    // (the dialog is then centred on the screen).
    static QWidget* dialog_owner();
    // Centres a window over its owner, or over the screen without one.
    static void center_over(QWidget& window, QWidget* owner);
    const std::wstring& title() const { return sheet_title; }

    // Appends to the log box (1016) of the page current at the call; does
    // nothing before the first activation.
    static void write_log(const std::wstring& text);
    static void write_log_ansi(const std::string& text);

    // Boxes with the captions "<title> Error", ... once initialised, the
    // bare words before. error and message also write the text to the log.
    static void error(const std::wstring& text);
    static void error_ansi(const std::string& text);
    static void message(const std::wstring& text);
    static bool question(const std::wstring& text, bool default_no);

    // Opens the help page of a topic (none: the index).
    static void display_help();
    static void display_help(int topic);
    // The help page's file name of a topic.
    static std::string help_page(int topic);

    // The run's error texts: the first max_errors are kept.
    bool add_error(const std::string& text);
    std::size_t error_count() const;
    std::vector<std::string> error_texts() const;

    // True after Yes to the exit question while a worker still runs.
    bool close_pending() const { return closing; }
    // Closes the sheet with the result (idempotent).
    void close_sheet(int result);

    // Runs f on the GUI thread: directly there, else through a blocking
    // queued call; what f throws is rethrown on the calling thread.
    static void run_on_gui_thread(const std::function<void()>& f);

    // Runs f so that nothing it throws leaves: the stop is ignored, a
    // tk_exception goes to the reporter, another exception to an error
    // box, anything else is traced; a throw while the program is ending
    // closes the sheet. For slots, ticks and queued calls.
    template <typename F>
    static void guarded(F&& f) noexcept
    {
        try {
            f();
        } catch (...) {
            handle_current_exception();
        }
    }
    static void handle_current_exception() noexcept;

    // The buttons, for the pages and the tests.
    QPushButton* button(int id) const;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    static void append_log(wizard_page_base* page, const std::wstring& text);
    static bool show_box_anywhere(int kind, const wchar_t* word, const std::wstring& text, bool default_no);
    static void open_help(const std::string& page);

    int index_of(const wizard_page_base* page) const;
    int index_of(int idd) const;
    void show_page(wizard_page_base* page);
    // Activates the page at index, or its neighbours in direction dir (+1
    // or -1) when it refuses.
    void activate(int index, int dir);
    // Next (forward) or Back: the page's answer, its leave, the target.
    void go(bool forward);
    void go_finish();
    void go_cancel();
    void go_help();
    void tick();
    void poll_close();

    std::wstring sheet_title;
    int icon_id;
    std::vector<QPointer<wizard_page_base>> pages;
    std::atomic<wizard_page_base*> current{nullptr};
    std::atomic<bool> initialized{false};
    std::atomic<bool> timer_on{false};
    bool in_tick = false;
    bool started = false;
    bool closing = false;
    bool wait_cursor = false;

    QTimer tick_timer;
    QTimer close_poll;

    QLabel* watermark = nullptr;
    QWidget* header = nullptr;
    QFrame* header_line = nullptr;
    QLabel* header_title = nullptr;
    QLabel* header_subtitle = nullptr;
    QStackedWidget* stack = nullptr;
    QPushButton* back = nullptr;
    QPushButton* next = nullptr;
    QPushButton* finish = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* help = nullptr;

    mutable std::mutex errors_mutex;
    std::vector<std::string> errors;
};
