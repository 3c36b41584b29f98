#include "ora_dump_opener_t.h"

#include "error_handler.h"
#include "front_end.h"
#include "ora_dump_file.h"
#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"

#include <exception>
#include <utility>

ora_dump_opener_t::ora_dump_opener_t()
{
    TK_TRACE(2, "ora_dump_opener_t::ctor");
}

ora_dump_opener_t::~ora_dump_opener_t()
{
    set_database(nullptr);
}

void ora_dump_opener_t::destroy_quietly(std::unique_ptr<udb_database> db) noexcept
{
    try {
        db.reset();
    } catch (const std::exception& e) {
        tk_trace(3, "The dump database cannot be closed: %s", e.what());
    } catch (...) {
        tk_trace(3, "The dump database cannot be closed");
    }
}

std::unique_ptr<udb_database> ora_dump_opener_t::take_database()
{
    std::lock_guard<std::mutex> lock(db_mutex);
    return std::move(source_db);
}

udb_database* ora_dump_opener_t::database() const
{
    std::lock_guard<std::mutex> lock(db_mutex);
    return source_db.get();
}

void ora_dump_opener_t::set_database(std::unique_ptr<udb_database> db)
{
    std::unique_ptr<udb_database> old;
    {
        std::lock_guard<std::mutex> lock(db_mutex);
        old = std::exchange(source_db, std::move(db));
    }
    // Outside the lock: destroying a dump writes its context file.
    destroy_quietly(std::move(old));
}

void ora_dump_opener_t::set_open_function(open_function f)
{
    open_fn = std::move(f);
}

std::unique_ptr<udb_database> ora_dump_opener_t::open_dump(const std::wstring& path)
{
    if (open_fn)
        return open_fn(dump_reader, path);
    return dump_reader.open(path);
}

void ora_dump_opener_t::operator()()
{
    TK_TRACE(2, "ora_dump_opener::operator()");
    const std::wstring path = velconv_convertor::instance()->src;
    TK_TRACE(3, "Reading file '%s'\n", path);
    front_end* fe = front_end::instance();
    fe->reading_file(path);

    // The reader's scans ask for the stop at each step; the check must not
    // outlive this opening, which it refers to.
    struct stop_check_scope {
        ora_dump_reader& reader;
        explicit stop_check_scope(ora_dump_opener_t& opener) : reader(opener.dump_reader)
        {
            reader.set_stop_check([&opener] { return opener.stop_requested(); });
        }
        ~stop_check_scope() { reader.set_stop_check(nullptr); }
    } stop_check(*this);

    std::string failure;
    try {
        std::unique_ptr<udb_database> db = open_dump(path);
        if (db)
            set_database(std::move(db));
        return;
    } catch (const tk_final_exception&) {
        // The reader has reported its refusal and set its progress, or the
        // user stopped the opening.
        return;
    } catch (const tk_exception& e) {
        if (stopped_quietly())
            return;
        error_handler::instance()->handle(e, true);
        fe->end_program(255);
    } catch (const std::exception& e) {
        if (stopped_quietly())
            return;
        failure = e.what();
    } catch (...) {
        // A front end that ends the program by unwinding must not be held.
        if (fe->program_ending())
            throw;
        if (stopped_quietly())
            return;
        failure = "Unknown exception";
    }
    // Whatever went wrong, the wizard must learn that the opening ended.
    dump_reader.set_ui_progress(-1);
    fe->dump_open_failed("Cannot read the dump file: " + failure);
}

bool ora_dump_opener_t::stopped_quietly()
{
    if (!stop_requested())
        return false;
    // A failure after the user's stop is the stop: nothing is reported, and
    // the opening has ended without a database.
    TK_TRACE(2, "The dump opening ended after a stop");
    dump_reader.set_ui_progress(-1);
    return true;
}
