#include "fuzz_support.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_parser.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"
#include "udb_recordset.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

namespace fuzz {

namespace fs = std::filesystem;

namespace {

std::string make_home()
{
    // Thousands of inputs a second: in memory where the machine has a
    // memory file system.
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path().string();
    std::string pattern = base + "/velc_fuzz_XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    const std::string dir = pattern;
    for (const char* sub : {"/.config", "/.local/share", "/.cache", "/Documents", "/work"})
        fs::create_directories(dir + sub);
    ::setenv("HOME", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/.config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir + "/.local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (dir + "/.cache").c_str(), 1);
    ::setenv("XDG_DOCUMENTS_DIR", (dir + "/Documents").c_str(), 1);
    // The working folder stays: libFuzzer reads and writes its corpus by
    // the paths it was given.
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(home(), ignored);
    });
    return dir;
}

std::wstring documents() { return tk_utf8_to_wide(home() + "/Documents"); }

struct program {
    explicit program(bool console)
        : fe(console ? recording_front_end::mode::console : recording_front_end::mode::gui)
    {
        ora_dump_file::documents_folder = &documents;
    }
    recording_front_end fe;
    error_handler handler{error_handler_code_count, error_handler_codes};
    // The XML library stays initialised for the process, as the programs
    // keep it: otherwise every document would set it up and tear it down.
    xml_platform_guard xml;
};

program& the_program(bool console)
{
    static program* p = new program(console);  // lives to the process's end
    return *p;
}

}  // namespace

const std::string& home()
{
    // Never destroyed: the removal at exit still needs it.
    static const std::string* dir = new std::string(make_home());
    return *dir;
}

recording_front_end& front(bool console)
{
    (void)home();
    return the_program(console).fe;
}

void finding(const std::string& what)
{
    std::fprintf(stderr, "\n==FINDING== %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void check_level(int level, const char* where)
{
    if (level >= 2)
        finding(std::string("level-2 failure in ") + where);
}

void run(const std::function<void()>& work)
{
    recording_front_end& fe = front();
    fe.calls.clear();
    fe.answers.clear();
    fe.error_list.clear();
    fe.exit_code.reset();
    const unsigned long internal_before = tk_internal_error_count();
    try {
        work();
    } catch (const front_end_exit&) {
        // The program's end, in a test form.
    } catch (const tk_final_exception&) {
    } catch (const tk_exception& e) {
        if (e.level >= 2)
            finding("level-2 failure: " + e.message);
    } catch (const std::bad_alloc&) {
        finding("out of memory");
    } catch (const std::exception& e) {
        finding(std::string("foreign exception: ") + e.what());
    } catch (...) {
        finding("unknown exception");
    }
    // The reporter shows an internal error in its own box, or in the
    // console program on the standard output.
    for (const auto& call : fe.calls)
        if (call.name == "show_internal_error" ||
            (call.name == "write_out" && call.text.rfind("Internal error", 0) == 0))
            finding("internal error reported: " + call.text);
    if (tk_internal_error_count() != internal_before)
        finding("internal error traced");
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        finding("cannot write " + path);
}

void read_tables(udb_database& db, const std::function<std::int64_t(const std::wstring&)>& bytes_of,
                 std::int64_t max_rows)
{
    error_handler* reporter = error_handler::instance();
    std::int64_t rows = 0;
    auto report = [&](const tk_exception& e, const std::wstring& name, std::int64_t number, const char* where) {
        check_level(e.level, where);
        if (number > 0)
            reporter->set_record_context(name, number);
        else
            reporter->set_context(name);
        reporter->handle(e, false);
    };
    for (const std::wstring& name : db.get_table_names()) {
        if (rows >= max_rows)
            return;
        const std::int64_t bytes = bytes_of(name);
        std::unique_ptr<udb_recordset> table;
        try {
            table = db.get_table(name, 1);
            if (!table)
                continue;
            (void)table->schema.size();
            table->reset();
        } catch (const tk_exception& e) {
            table.reset();
            report(e, name, 0, "get_table");
            continue;
        }
        std::int64_t steps = 0, records = 0;
        try {
            while (!table->is_eof() && rows < max_rows) {
                if (++steps > bytes + 1)
                    finding("table " + tk_wide_to_utf8(name) + " takes more steps than its " +
                            std::to_string(bytes) + " bytes");
                try {
                    if (udb_record* r = table->get_item()) {
                        ++records;
                        ++rows;
                        for (const udb_field& f : *r)
                            (void)f.to_string();
                    }
                } catch (const tk_exception& e) {
                    report(e, name, steps, "get_item");
                }
                table->next();
            }
        } catch (const tk_exception& e) {
            report(e, name, steps, "next");
        }
        table.reset();
    }
}

void remove_context_files(const std::string& dump_path)
{
    const std::wstring w = tk_utf8_to_wide(dump_path);
    std::error_code ignored;
    fs::remove(tk_wide_to_utf8(ora_dump_file::context_file_name(w)), ignored);
    const std::wstring fallback = ora_dump_file::fallback_file_name(w);
    if (!fallback.empty())
        fs::remove(tk_wide_to_utf8(fallback), ignored);
}

}  // namespace fuzz
