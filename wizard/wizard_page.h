// The pages of the wizard. The sheet (wizard_shell) calls the virtuals of
// wizard_page_base directly; a page class derives from the thin template
// wizard_page, which fixes its id, its buttons and its flags (the progress
// pages from worker_page, which does the same over their worker).
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

// Page flags.
inline constexpr int page_has_help = 0x20;
inline constexpr int page_exterior = 0x800;  // watermark, no header band
inline constexpr int page_has_title = 0x1000;
inline constexpr int page_has_subtitle = 0x2000;

// Buttons values and masks of the sheet.
inline constexpr int wiz_back = 1;
inline constexpr int wiz_next = 2;
inline constexpr int wiz_finish = 4;

class wizard_page_base : public QWidget {
public:
    wizard_page_base(int idd, int buttons, int flags, std::wstring title = {}, std::wstring subtitle = {});
    ~wizard_page_base() override;

    int idd() const { return page_idd; }
    int buttons() const { return page_buttons; }
    int flags() const { return page_flags; }
    const std::wstring& header_title() const { return title; }
    const std::wstring& header_subtitle() const { return subtitle; }

    // The activation sequence: the page's buttons, the shell's first-time
    // window set-up, the shell's current page, then page_init, whose result
    // it gives.
    bool OnSetActive();

    // The page becomes active; false refuses the activation, and the sheet
    // moves on in the direction of travel.
    virtual bool page_init() { return true; }
    // The page is being left; false keeps it.
    virtual bool kill_active() { return true; }
    // Finish was pressed; true lets the sheet close with 1.
    virtual bool on_finish() { return true; }
    // Help was pressed or F1 hit.
    virtual void on_help() {}
    // Next or Back was pressed: the id of the page to show, 0 for the next
    // (previous) page in the sheet's order, -1 to stay.
    virtual int on_next() { return 0; }
    virtual int on_back() { return 0; }
    // Cancel, Esc or the close box; true lets the sheet close. The default
    // asks the exit question, No being the default.
    virtual bool on_cancel();
    // A tick of the sheet's timer while this page is current.
    virtual void on_timer() {}
    // Text has been appended to the page's log box.
    virtual void on_log() {}

    // A worker of the page: after Yes to the exit question the sheet asks
    // the page to stop it, then closes once worker_ended() says so. The
    // page joins its worker in worker_ended (never while it still runs).
    // request_worker_stop gives true when a worker was running.
    virtual bool request_worker_stop() { return false; }
    virtual bool worker_ended() { return true; }

    // Ticks a check box unless it is ticked now (a partially checked box
    // becomes ticked); gives the new state.
    bool invert_chbox(int id);
    void enable_ctrl(int id, bool on);
    // The title font (13 point, normal weight), made once per page.
    void set_title_font(int id);

    // The control of the page whose objectName is the id.
    QWidget* control(int id) const;
    template <typename W>
    W* control_as(int id) const
    {
        return findChild<W*>(QString::number(id));
    }

private:
    int page_idd;
    int page_buttons;
    int page_flags;
    std::wstring title;
    std::wstring subtitle;
    std::unique_ptr<QFont> title_font;
};

template <int IDD, int Buttons, int Flags>
class wizard_page : public wizard_page_base {
public:
    static constexpr int page_id = IDD;
    explicit wizard_page(std::wstring title = {}, std::wstring subtitle = {})
        : wizard_page_base(IDD, Buttons, Flags, std::move(title), std::move(subtitle))
    {
    }
};

// Gives a control its id as objectName, so that the sheet, the pages and the
// tests find it by id.
template <typename W>
W* with_id(W* widget, int id)
{
    widget->setObjectName(QString::number(id));
    return widget;
}
