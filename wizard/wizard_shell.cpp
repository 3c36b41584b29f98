#include "wizard_shell.h"

#include "qt_ui_services.h"
#include "ui_services.h"
#include "wizard_page.h"

#include "error_handler.h"
#include "front_end.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTextCursor>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <exception>

namespace {

QString resource(int id)
{
    return QStringLiteral(":/wizard/%1").arg(id);
}

QFrame* separator(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QPushButton* sheet_button(const QString& text, int id, QWidget* parent)
{
    auto* b = with_id(new QPushButton(text, parent), id);
    b->setAutoDefault(false);
    return b;
}

bool on_gui_thread()
{
    return !qApp || QThread::currentThread() == qApp->thread();
}

bool program_ending()
{
    front_end* fe = front_end::try_instance();
    return fe && fe->program_ending();
}

void close_for_end() noexcept
{
    if (wizard_shell* shell = wizard_shell::try_instance()) {
        if (on_gui_thread())
            shell->close_sheet(0);
    }
}

}  // namespace

wizard_shell::wizard_shell(std::wstring title, int icon, int watermark_id, int header_id, QWidget* owner)
    : QDialog(owner), sheet_title(std::move(title)), icon_id(icon)
{
    TK_WTRACE(1, L"wizard_shell::ctor(%s)", sheet_title);
    setObjectName(QStringLiteral("sheet"));
    setModal(true);

    watermark = new QLabel(this);
    if (watermark_id)
        watermark->setPixmap(QPixmap(resource(watermark_id)));
    watermark->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    // Below the picture the band goes on in the picture's last colour, so it
    // reaches the buttons whatever the sheet's height.
    if (!watermark->pixmap().isNull()) {
        const QImage image = watermark->pixmap().toImage();
        const QColor bottom = image.pixelColor(0, image.height() - 1);
        watermark->setStyleSheet(QStringLiteral("background-color: %1;").arg(bottom.name()));
    }
    watermark->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    header = new QWidget(this);
    header->setAutoFillBackground(true);
    QPalette pal = header->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    header->setPalette(pal);
    header_title = new QLabel(header);
    QFont bold = header_title->font();
    bold.setBold(true);
    header_title->setFont(bold);
    header_subtitle = new QLabel(header);
    header_subtitle->setIndent(16);
    auto* header_image = new QLabel(header);
    if (header_id)
        header_image->setPixmap(QPixmap(resource(header_id)));
    auto* header_texts = new QVBoxLayout;
    header_texts->addWidget(header_title);
    header_texts->addWidget(header_subtitle);
    header_texts->addStretch();
    auto* header_layout = new QHBoxLayout(header);
    header_layout->setContentsMargins(16, 8, 8, 8);
    header_layout->addLayout(header_texts, 1);
    header_layout->addWidget(header_image, 0, Qt::AlignRight | Qt::AlignVCenter);
    header_line = separator(this);

    stack = new QStackedWidget(this);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(header);
    right->addWidget(header_line);
    auto* page_area = new QVBoxLayout;
    page_area->setContentsMargins(16, 12, 16, 12);
    page_area->addWidget(stack, 1);
    right->addLayout(page_area, 1);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(watermark);
    body->addLayout(right, 1);

    back = sheet_button(QStringLiteral("< &Back"), sheet_back_id, this);
    next = sheet_button(QStringLiteral("&Next >"), sheet_next_id, this);
    finish = sheet_button(QStringLiteral("Finish"), sheet_finish_id, this);
    cancel = sheet_button(QStringLiteral("Cancel"), sheet_cancel_id, this);
    help = sheet_button(QStringLiteral("&Help"), sheet_help_id, this);
    finish->hide();
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 8, 8, 8);
    buttons->addStretch();
    buttons->addWidget(back);
    buttons->addWidget(next);
    buttons->addWidget(finish);
    buttons->addSpacing(8);
    buttons->addWidget(cancel);
    buttons->addWidget(help);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addLayout(body, 1);
    root->addWidget(separator(this));
    root->addLayout(buttons);
    resize(640, 460);

    connect(back, &QPushButton::clicked, this, [this] { guarded([this] { go(false); }); });
    connect(next, &QPushButton::clicked, this, [this] { guarded([this] { go(true); }); });
    connect(finish, &QPushButton::clicked, this, [this] { guarded([this] { go_finish(); }); });
    connect(cancel, &QPushButton::clicked, this, [this] { guarded([this] { go_cancel(); }); });
    connect(help, &QPushButton::clicked, this, [this] { guarded([this] { go_help(); }); });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WindowShortcut);
    connect(f1, &QShortcut::activated, this, [this] { guarded([this] { go_help(); }); });

    connect(&tick_timer, &QTimer::timeout, this, [this] { tick(); });
    close_poll.setInterval(50);
    connect(&close_poll, &QTimer::timeout, this, [this] { guarded([this] { poll_close(); }); });
    set_buttons(0);
}

wizard_shell::~wizard_shell()
{
    TK_TRACE(1, "wizard_shell::dtor");
    initialized.store(false, std::memory_order_release);
    tick_timer.stop();
    close_poll.stop();
    timer_on.store(false, std::memory_order_release);
    if (wait_cursor)
        QApplication::restoreOverrideCursor();
    {
        std::lock_guard<std::mutex> lock(errors_mutex);
        errors.clear();
    }
    // The pages belong to whoever added them: hand back those still alive.
    for (const QPointer<wizard_page_base>& p : pages) {
        if (p) {
            stack->removeWidget(p);
            p->setParent(nullptr);
        }
    }
    current.store(nullptr, std::memory_order_release);
}

void wizard_shell::add_page(wizard_page_base* page)
{
    pages.emplace_back(page);
    stack->addWidget(page);
}

std::vector<int> wizard_shell::page_ids() const
{
    std::vector<int> ids;
    for (const QPointer<wizard_page_base>& p : pages)
        if (p)
            ids.push_back(p->idd());
    return ids;
}

wizard_page_base* wizard_shell::page(int idd) const
{
    const int i = index_of(idd);
    return i < 0 ? nullptr : pages[static_cast<std::size_t>(i)].data();
}

int wizard_shell::current_idd() const
{
    wizard_page_base* p = current_page();
    return p ? p->idd() : 0;
}

int wizard_shell::index_of(const wizard_page_base* page) const
{
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (pages[i] == page)
            return static_cast<int>(i);
    return -1;
}

int wizard_shell::index_of(int idd) const
{
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (pages[i] && pages[i]->idd() == idd)
            return static_cast<int>(i);
    return -1;
}

void wizard_shell::set_current_page(wizard_page_base* page)
{
    current.store(page, std::memory_order_release);
    help->setEnabled(page && (page->flags() & page_has_help));
}

void wizard_shell::set_buttons(int mask)
{
    back->setEnabled(mask & wiz_back);
    if (mask & wiz_finish) {
        next->hide();
        finish->show();
        finish->setEnabled(true);
        next->setDefault(false);
        finish->setDefault(true);
    } else {
        finish->hide();
        next->show();
        next->setEnabled(mask & wiz_next);
        finish->setDefault(false);
        next->setDefault(true);
    }
}

void wizard_shell::enable_button(int id, bool on)
{
    QPushButton* b = button(id);
    TK_TRACE(2, "wizard_shell::enable_button(%08X)", static_cast<unsigned>(id));
    if (b)
        b->setEnabled(on);
}

QPushButton* wizard_shell::button(int id) const
{
    switch (id) {
    case sheet_back_id: return back;
    case sheet_next_id: return next;
    case sheet_finish_id: return finish;
    case sheet_cancel_id: return cancel;
    case sheet_help_id: return help;
    default: return nullptr;
    }
}

void wizard_shell::show_page(wizard_page_base* page)
{
    const bool exterior = page->flags() & page_exterior;
    watermark->setVisible(exterior);
    header->setVisible(!exterior);
    header_line->setVisible(!exterior);
    header_title->setText(QString::fromStdWString(page->header_title()));
    header_subtitle->setText(QString::fromStdWString(page->header_subtitle()));
    stack->setCurrentWidget(page);
}

void wizard_shell::activate(int index, int dir)
{
    wizard_page_base* left = current_page();
    const bool back_on = back->isEnabled();
    const bool next_on = next->isEnabled();
    const bool finish_shown = !finish->isHidden();
    for (int i = index; i >= 0 && i < static_cast<int>(pages.size()); i += dir) {
        wizard_page_base* p = pages[static_cast<std::size_t>(i)];
        if (!p)
            continue;
        show_page(p);
        if (p->OnSetActive())
            return;
    }
    // Nothing to go to in that direction: the page that was left stays.
    if (left) {
        show_page(left);
        set_current_page(left);
        set_buttons((back_on ? wiz_back : 0) | (finish_shown ? wiz_finish : (next_on ? wiz_next : 0)));
    }
}

void wizard_shell::go(bool forward)
{
    wizard_page_base* p = current_page();
    if (!p || closing)
        return;
    const int target = forward ? p->on_next() : p->on_back();
    if (target == -1 || !p->kill_active())
        return;
    const int from = index_of(p);
    if (target == 0) {
        activate(forward ? from + 1 : from - 1, forward ? +1 : -1);
        return;
    }
    const int to = index_of(target);
    if (to >= 0)
        activate(to, to > from ? +1 : -1);
}

void wizard_shell::go_finish()
{
    wizard_page_base* p = current_page();
    if (p && !closing && p->on_finish())
        close_sheet(1);
}

void wizard_shell::set_current(int idd)
{
    const int to = index_of(idd);
    if (to < 0)
        return;
    wizard_page_base* p = current_page();
    if (p && !p->kill_active())
        return;
    activate(to, to > index_of(p) ? +1 : -1);
}

void wizard_shell::go_cancel()
{
    if (closing || !cancel->isEnabled())
        return;
    wizard_page_base* p = current_page();
    const bool yes = p ? p->on_cancel() : question(L"Are you sure you want to exit the wizard?", true);
    if (!yes)
        return;
    if (p && p->request_worker_stop()) {
        // The sheet closes once the worker has ended; its page's tick or the
        // poll below sees it.
        closing = true;
        for (QPushButton* b : {back, next, finish, cancel, help})
            b->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        wait_cursor = true;
        close_poll.start();
        return;
    }
    close_sheet(0);
}

void wizard_shell::poll_close()
{
    wizard_page_base* p = current_page();
    if (!p || p->worker_ended())
        close_sheet(0);
}

void wizard_shell::close_sheet(int result)
{
    close_poll.stop();
    if (wait_cursor) {
        wait_cursor = false;
        QApplication::restoreOverrideCursor();
    }
    if (result == 0 && !closing)
        closing = true;
    done(result);
}

void wizard_shell::go_help()
{
    if (wizard_page_base* p = current_page())
        p->on_help();
}

void wizard_shell::reject()
{
    guarded([this] { go_cancel(); });
}

void wizard_shell::closeEvent(QCloseEvent* event)
{
    event->ignore();
    guarded([this] { go_cancel(); });
}

void wizard_shell::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (started)
        return;
    started = true;
    closing = false;
    guarded([this] { activate(0, +1); });
}

void wizard_shell::set_timer(int ms)
{
    if (timer_on.exchange(true, std::memory_order_acq_rel))
        throw tk_mail_assertion("g_wiz_sh", 260);
    run_on_gui_thread([this, ms] { tick_timer.start(ms); });
}

void wizard_shell::kill_timer()
{
    tick_timer.stop();
    timer_on.store(false, std::memory_order_release);
}

void wizard_shell::tick()
{
    // A tick that arrives while the last one still runs (a box opened in
    // it) is dropped.
    if (in_tick)
        return;
    in_tick = true;
    guarded([this] {
        if (wizard_page_base* p = current_page())
            p->on_timer();
    });
    in_tick = false;
}

void wizard_shell::init_window()
{
    if (initialized.load(std::memory_order_acquire))
        return;
    setWindowTitle(QString::fromStdWString(sheet_title));
    if (icon_id)
        setWindowIcon(QIcon(resource(icon_id)));
    center_over(*this, parentWidget());
    initialized.store(true, std::memory_order_release);
}

void wizard_shell::center_over(QWidget& window, QWidget* owner)
{
    QRect area;
    if (owner)
        area = owner->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(area.center());
        window.move(frame.topLeft());
    }
}

bool wizard_shell::is_initialized()
{
    TK_TRACE(1, "wizard_shell::is_initialized");
    wizard_shell* shell = try_instance();
    if (!shell) {
        TK_TRACE(1, "Before return false");
        return false;
    }
    TK_TRACE(1, "Singleton has been initialized");
    return shell->initialized.load(std::memory_order_acquire);
}

QWidget* wizard_shell::dialog_owner()
{
    return is_initialized() ? try_instance() : nullptr;
}

void wizard_shell::write_log(const std::wstring& text)
{
    TK_WTRACE(1, L"wizard_shell::write_log(%s)", text);
    wizard_shell* shell = try_instance();
    if (!shell)
        return;
    wizard_page_base* page = shell->current_page();
    if (!page)
        return;
    if (on_gui_thread()) {
        append_log(page, text);
        return;
    }
    // Queued on the page: the worker goes on at once, the lines keep their
    // order, and a page gone meanwhile drops them.
    QMetaObject::invokeMethod(
        page, [page, copy = text] { append_log(page, copy); }, Qt::QueuedConnection);
}

void wizard_shell::write_log_ansi(const std::string& text)
{
    write_log(tk_utf8_to_wide(text));
}

void wizard_shell::append_log(wizard_page_base* page, const std::wstring& text)
{
    try {
        auto* box = page->control_as<QPlainTextEdit>(log_box_id);
        if (!box) {
            TK_TRACE(1, "Editbox failed to be initialized");
            return;
        }
        QString shown = qt_display_text(text);
        const int held = box->document()->characterCount() - 1;
        const int room = log_box_cap - held;
        if (room <= 0)
            return;
        if (shown.size() > room) {
            shown.truncate(room);
            if (!shown.isEmpty() && shown.back().isHighSurrogate())
                shown.chop(1);
        }
        QTextCursor cursor(box->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(shown);
        box->setTextCursor(cursor);
        box->ensureCursorVisible();
        page->on_log();
    } catch (...) {
        TK_TRACE(3, "wizard_shell::write_log failed");
    }
}

bool wizard_shell::show_box_anywhere(int kind, const wchar_t* word, const std::wstring& text, bool default_no)
{
    bool answer = false;
    run_on_gui_thread([&] {
        QWidget* owner = dialog_owner();
        std::wstring caption = word;
        if (owner)
            caption = instance()->sheet_title + L" " + caption;
        answer = ui_services::instance()->show_box(static_cast<box_kind>(kind), owner, caption, text, default_no);
    });
    return answer;
}

void wizard_shell::error(const std::wstring& text)
{
    TK_WTRACE(1, L"wizard_shell::error(%s)", text);
    show_box_anywhere(static_cast<int>(box_kind::error), L"Error", text, false);
    tk_wtrace(3, L"%s", text);
}

void wizard_shell::error_ansi(const std::string& text)
{
    error(tk_utf8_to_wide(text));
}

void wizard_shell::message(const std::wstring& text)
{
    TK_WTRACE(1, L"wizard_shell::message(%s)", text);
    show_box_anywhere(static_cast<int>(box_kind::information), L"Message", text, false);
    tk_wtrace(3, L"%s", text);
}

bool wizard_shell::question(const std::wstring& text, bool default_no)
{
    return show_box_anywhere(static_cast<int>(box_kind::question), L"Question", text, default_no);
}

std::string wizard_shell::help_page(int topic)
{
    switch (topic) {
    case 1014: return "welcome.html";
    case 1010: return "connection.html";
    case 1013: return "dump-file.html";
    case 1016: return "overwrite.html";
    case 1017: return "tables.html";
    default: return "index.html";
    }
}

void wizard_shell::display_help()
{
    TK_TRACE(1, "wizard_shell::display_help");
    open_help(help_page(0));
}

void wizard_shell::display_help(int topic)
{
    TK_TRACE(1, "wizard_shell::display_help(%d)", topic);
    open_help(help_page(topic));
}

void wizard_shell::open_help(const std::string& page)
{
    run_on_gui_thread([&] {
        ui_services* ui = ui_services::instance();
        const std::string path = ui->help_folder() + "/" + page;
        if (!tk_is_file_exist(path, 0)) {
            error(L"Help file does not exist. Reinstall the program.");
            return;
        }
        // A false result means no viewer; nothing more is said.
        ui->open_url(QUrl::fromLocalFile(QString::fromStdString(path)).toString().toStdString());
    });
}

bool wizard_shell::add_error(const std::string& text)
{
    std::lock_guard<std::mutex> lock(errors_mutex);
    if (errors.size() >= max_errors)
        return false;
    errors.push_back(text);
    return true;
}

std::size_t wizard_shell::error_count() const
{
    std::lock_guard<std::mutex> lock(errors_mutex);
    return errors.size();
}

std::vector<std::string> wizard_shell::error_texts() const
{
    std::lock_guard<std::mutex> lock(errors_mutex);
    return errors;
}

void wizard_shell::run_on_gui_thread(const std::function<void()>& f)
{
    if (on_gui_thread()) {
        f();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        qApp,
        [&] {
            try {
                f();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure)
        std::rethrow_exception(failure);
}

void wizard_shell::handle_current_exception() noexcept
{
    if (program_ending()) {
        close_for_end();
        return;
    }
    try {
        try {
            throw;
        } catch (const tk_final_exception&) {
        } catch (const tk_exception& e) {
            if (error_handler* reporter = error_handler::try_instance())
                reporter->handle(e, true);
            else
                error_ansi(e.message);
        } catch (const std::exception& e) {
            error_ansi(e.what());
        }
    } catch (...) {
        if (program_ending()) {
            close_for_end();
            return;
        }
        TK_TRACE(3, "wizard_shell: a failure could not be reported");
        return;
    }
}
