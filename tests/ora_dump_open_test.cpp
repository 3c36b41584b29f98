// Opening a dump: the classic header is read and checked, the branch to the
// Data Pump reader is taken for anything without a classic header token, and
// what cannot be read is refused with the reader's message and progress -1.

#include "ora_dump_reader.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_scan_fixtures.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::wstring W(const std::string& s) { return tk_utf8_to_wide(s); }

// A reader whose Data Pump opening only notes how the stream stood.
class probe_reader : public ora_dump_reader {
public:
    std::unique_ptr<ora_dump_file> open_datapump(const std::wstring&, std::unique_ptr<ora_dump_stream> stream) override
    {
        datapump_called = true;
        datapump_pos = stream->tell();
        datapump_good = stream->good();
        return nullptr;
    }
    bool datapump_called = false;
    std::int64_t datapump_pos = -1;
    bool datapump_good = false;
};

struct outcome {
    std::string branch;  // classic, datapump or refused
    int entry = -1;      // the message of a refusal
    int progress = -2;
    dump_info info;
    bool compound = false;
    bool first_part = false;
    bool truncated = false;
    // The texts the reporter showed or asked to go on after.
    std::vector<std::string> errors;
    std::vector<std::wstring> tables;
    int generation = 0;
    std::string user, tablespace, header;
    std::int64_t datapump_pos = -1;
    bool datapump_good = false;
};

int entry_of(const std::string& text)
{
    for (int i = 0; i < ora_dump_reader::message_count; ++i)
        if (*ora_dump_reader::message(i) && text == ora_dump_reader::message(i))
            return i;
    return -2;
}

class opening : public tk_test::home_fixture {
protected:
    outcome open(const std::string& path)
    {
        outcome o;
        fe->calls.clear();
        reader.datapump_called = false;
        reader.datapump_pos = -1;
        try {
            std::unique_ptr<ora_dump_file> db = reader.open(W(path));
            if (reader.datapump_called) {
                o.branch = "datapump";
                o.datapump_pos = reader.datapump_pos;
                o.datapump_good = reader.datapump_good;
                EXPECT_EQ(db, nullptr);
            } else {
                o.branch = "classic";
                EXPECT_NE(db, nullptr);
                if (db) {
                    o.tables = db->get_table_names();
                    o.truncated = db->is_truncated();
                    o.generation = db->decoder() ? db->decoder()->generation() : 0;
                    o.user = db->user_name;
                    o.tablespace = db->tablespace_name;
                    o.header = db->export_header;
                    EXPECT_EQ(db->stream()->tell(), 0);
                    EXPECT_TRUE(db->stream()->good());
                    EXPECT_EQ(db->info().charset_class, reader.info.charset_class);
                    EXPECT_EQ(db->info().dump_length, reader.info.dump_length);
                }
            }
        } catch (const tk_final_exception&) {
            o.branch = "refused";
            int shown = 0;
            for (const auto& c : fe->calls)
                if (c.name == "show_error") {
                    o.entry = entry_of(c.text);
                    ++shown;
                }
            EXPECT_EQ(shown, 1) << "one refusal, shown once";
        }
        for (const auto& c : fe->calls)
            if (c.name == "show_error" || c.name == "ask_continue")
                o.errors.push_back(c.text);
        o.progress = reader.get_progress();
        o.info = reader.info;
        o.compound = reader.compound_dump;
        o.first_part = reader.first_part;
        return o;
    }

    std::string write(const std::vector<std::uint8_t>& bytes, const std::string& name = "dump.dmp")
    {
        std::string path = home.file(name);
        tk_test::write_file(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }

    // A header and one table EMP of user SCOTT, the lines that close the
    // export and the NUL bytes that fill its last block.
    static constexpr std::int64_t fill = 5;
    static std::vector<std::uint8_t> dump_with(const ora_dump_writer::header_fields& h)
    {
        ora_dump_writer w;
        w.header(h);
        w.line("CONNECT SCOTT");
        table_pos t;
        scan_fixtures::section(w, "EMP", "USERS", t);
        scan_fixtures::close_export(w);
        w.raw(std::vector<std::uint8_t>(static_cast<std::size_t>(fill), 0));
        return w.data();
    }

    ora_dump_test::scoped_documents_folder docs{home};
    // Replaced by a console front end where a test needs one.
    std::optional<recording_front_end> fe{std::in_place, recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
    probe_reader reader;
};

ora_dump_writer::header_fields header(const std::string& token = "EXPORT:V12.01.00")
{
    ora_dump_writer::header_fields h;
    h.header_token = token;
    h.marker = 0x0020;
    return h;
}

TEST_F(opening, header_table)
{
    struct row {
        const char* name;
        ora_dump_writer::header_fields fields;
        std::string branch;
        int entry;
        bool compound, first_part;
        // The declared length replaces the file's; -1: the file's length.
        std::int64_t dump_length;
        int charset_class, ncharset_class, code_page;
        int ncode_page = 0;
        // The dump ends before the export's end.
        bool truncated = false;
    };
    auto with = [](ora_dump_writer::header_fields h, auto change) {
        change(h);
        return h;
    };
    const std::int64_t size = static_cast<std::int64_t>(dump_with(header()).size());
    auto declared = [&](std::int64_t length) {
        return with(header(), [&](auto& h) {
            h.marker = 0x0001;
            h.declared_length = static_cast<std::uint64_t>(length);
        });
    };
    // A header with marker 0001 is 8 bytes longer.
    const std::int64_t size1 = size + 8;
    const row rows[] = {
        {"V12 with marker 0020", header(), "classic", -1, false, false, -1, 0, 2, 1252},
        {"the header token second", header("JUNK EXPORT:V12.01.00"), "classic", -1, false, false, -1, 0, 2, 1252},
        {"the header token sixth", header("A B C D E EXPORT:V12.01.00"), "datapump", -1, false, false, -1, 0, 2, 0},
        {"V00", header("EXPORT:V00.00.00"), "datapump", -1, false, false, -1, 0, 2, 0},
        {"V01", header("EXPORT:V01.00.00"), "refused", 0, false, false, -1, 0, 2, 0},
        {"V06", header("EXPORT:V06.00.00"), "refused", 0, false, false, -1, 0, 2, 0},
        {"V13", header("EXPORT:V13.00.00"), "refused", 0, false, false, -1, 0, 2, 0},
        {"V17", header("EXPORT:V17.00.00"), "refused", 0, false, false, -1, 0, 2, 0},
        {"V24", header("EXPORT:V24.00.00"), "refused", 0, false, false, -1, 0, 2, 0},
        {"V10", header("EXPORT:V10.02.01"), "classic", -1, false, false, -1, 0, 2, 1252},
        // exp of 18c to 23ai writes the layout of 12 after its header.
        {"V18", header("EXPORT:V18.00.00"), "classic", -1, false, false, -1, 0, 2, 1252},
        {"V19", header("EXPORT:V19.00.00"), "classic", -1, false, false, -1, 0, 2, 1252},
        {"V21", header("EXPORT:V21.00.00"), "classic", -1, false, false, -1, 0, 2, 1252},
        {"V23", header("EXPORT:V23.00.00"), "classic", -1, false, false, -1, 0, 2, 1252},
        // The first dump ends with its closing lines, before the fill.
        {"V19 declaring its length", with(header("EXPORT:V19.00.00"), [&](auto& h) {
             h.marker = 0x0001;
             h.declared_length = static_cast<std::uint64_t>(size1 - fill);
         }),
         "classic", -1, true, false, size1 - fill, 0, 2, 1252},
        {"V21 in UTF-8 with a national set in 1251",
         with(header("EXPORT:V21.00.00"),
              [](auto& h) {
                  h.six_bytes[1] = 0x0369;
                  h.six_bytes[2] = 0x00AB;
              }),
         "classic", -1, false, false, -1, 1, 0, 0, 1251},
        {"V07 takes the set from the pre-number and passes no line feeds",
         with(header("EXPORT:V07.03.04"), [](auto& h) { h.pre_number = 0x0000B2; }), "classic", -1, false, false,
         -1, 0, 2, 1252},
        {"V09 in UTF-8 with a national set in 1251",
         with(header("EXPORT:V09.02.00"),
              [](auto& h) {
                  h.six_bytes[1] = 0x0369;
                  h.six_bytes[2] = 0x00AB;
              }),
         "classic", -1, false, false, -1, 1, 0, 0, 1251},
        {"declared below the file size", declared(size1 - fill), "classic", -1, true, false, size1 - fill, 0, 2,
         1252},
        {"declared inside the closing lines", declared(size1 - fill - 1), "classic", -1, true, false,
         size1 - fill - 1, 0, 2, 1252, 0, true},
        {"declared equal to the file size", declared(size1), "classic", -1, false, true, -1, 0, 2, 1252},
        // The first file of an export written to several: incomplete.
        {"declared above the file size", declared(size1 + 100), "classic", -1, false, true, -1, 0, 2, 1252, 0,
         true},
        {"declared 0", declared(0), "classic", -1, false, false, -1, 0, 2, 1252},
        {"declared -1", declared(-1), "refused", 0, false, false, -1, 0, 2, 1252},
        {"declared inside the header", declared(10), "refused", 0, false, false, -1, 0, 2, 1252},
        {"marker 0002", with(header(), [](auto& h) { h.marker = 0x0002; }), "refused", 13, false, false, -1, 0, 2,
         1252},
        {"a first token of 5,000 bytes never matches",
         header("EXPORT:V12.01.00" + std::string(5000 - 16, 'x')), "datapump", -1, false, false, -1, 0, 2, 0},
        {"a user token of 5,000 bytes",
         with(header(), [](auto& h) { h.user_token = "D" + std::string(4999, 'U'); }), "refused", 0, false, false,
         -1, 0, 2, 0},
    };
    std::vector<std::string> shown;
    reader.set_log_sink([&](ora_log_kind, const std::string& text) { shown.push_back(text); });
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::vector<std::uint8_t> bytes = dump_with(r.fields);
        const std::string path = write(bytes);
        fs::remove(tk_wide_to_utf8(ora_dump_file::context_file_name(W(path))));
        shown.clear();
        outcome o = open(path);
        EXPECT_EQ(o.branch, r.branch);
        EXPECT_EQ(o.entry, r.entry);
        EXPECT_EQ(o.progress, r.branch == "classic" ? 100 : r.branch == "refused" ? -1 : 0);
        EXPECT_EQ(o.compound, r.compound);
        EXPECT_EQ(o.first_part, r.first_part);
        if (r.branch != "datapump") {
            EXPECT_EQ(o.info.dump_length, r.dump_length < 0 ? static_cast<std::int64_t>(bytes.size()) : r.dump_length);
        }
        if (r.branch == "classic") {
            EXPECT_EQ(o.info.charset_class, r.charset_class);
            EXPECT_EQ(o.info.ncharset_class, r.ncharset_class);
            EXPECT_EQ(o.info.dump_code_page, r.code_page);
            EXPECT_EQ(o.info.dump_ncode_page, r.ncode_page);
            // The table after the header is found: the header ended where
            // it should, also for version 7 without its line-feed part.
            EXPECT_EQ(o.tables, std::vector<std::wstring>{L"EMP"});
            EXPECT_EQ(o.user, "SYSTEM");
            EXPECT_EQ(o.tablespace, "USERS");
            EXPECT_EQ(o.header, r.fields.header_token.substr(r.fields.header_token.find("EXPORT")));
            const int version = std::stoi(o.header.substr(8, 2));
            EXPECT_EQ(o.generation, version >= 10 ? 10 : version);
            EXPECT_EQ(o.truncated, r.truncated);
            EXPECT_EQ(o.errors, r.truncated ? std::vector<std::string>{"The dump file ends before the end of the "
                                                                       "export: it is truncated or incomplete. "
                                                                       "Tables found whole: 1."}
                                            : std::vector<std::string>{});
            // The version line names the export's own version.
            ASSERT_FALSE(shown.empty());
            EXPECT_EQ(shown.front(), "Dump file version: " + std::to_string(version) + " (exp)\n");
        }
        if (r.branch == "datapump") {
            EXPECT_EQ(o.datapump_pos, 0);
            EXPECT_TRUE(o.datapump_good);
        }
    }
    reader.set_log_sink(nullptr);
}

TEST_F(opening, the_national_set_keeps_its_class_in_version_7)
{
    auto h = header("EXPORT:V07.03.04");
    h.pre_number = 0x000369;  // AL32UTF8
    const std::string path = write(dump_with(h));
    outcome o = open(path);
    ASSERT_EQ(o.branch, "classic");
    EXPECT_EQ(o.info.charset_class, 1);
    EXPECT_EQ(o.info.ncharset_class, 2);
}

TEST_F(opening, an_empty_file_a_directory_and_a_missing_file_are_refused)
{
    const std::string empty = write({});
    fs::create_directories(home.file("dir.dmp"));
    for (const std::string& path : {empty, home.file("dir.dmp"), home.file("missing.dmp")}) {
        SCOPED_TRACE(path);
        outcome o = open(path);
        EXPECT_EQ(o.branch, "refused");
        EXPECT_EQ(o.entry, 0);
        EXPECT_EQ(o.progress, -1);
    }
    // Nothing was written beside the dumps.
    EXPECT_FALSE(fs::exists(home.file("dump.vcx")));
    EXPECT_FALSE(fs::exists(home.file("dir.vcx")));
}

TEST_F(opening, a_file_without_tokens_goes_to_data_pump)
{
    for (const std::vector<std::uint8_t>& bytes :
         {std::vector<std::uint8_t>{0x04, 0x01, 0x00}, std::vector<std::uint8_t>{0x04, 0x01, 0x00, 0x00, '\n', ' '},
          std::vector<std::uint8_t>{0x00, 0x00, 0x00, 'E', 'X', 'P', 'O', 'R', 'T', ':', 'V'}}) {
        outcome o = open(write(bytes));
        EXPECT_EQ(o.branch, "datapump");
        EXPECT_EQ(o.datapump_pos, 0);
        EXPECT_TRUE(o.datapump_good);
    }
}

// Every cut of the header from its tablespace token to the end of the
// declared length, and one cut inside each earlier field, is refused with
// entry 0; none is classified from bytes it did not read.
TEST_F(opening, truncation_at_each_header_field)
{
    auto h = header();
    h.marker = 0x0001;
    h.declared_length = 0;
    const std::vector<std::uint8_t> full = dump_with(h);
    const std::string text(full.begin(), full.end());
    const std::int64_t token_end = static_cast<std::int64_t>(text.find('\n', 3));
    const std::int64_t user_end = static_cast<std::int64_t>(text.find('\n', token_end + 1));
    const std::int64_t tablespace_start = user_end + 1;
    // Pre-number 3, tokens and lines, 6 set bytes, marker 2, declared 8.
    std::int64_t lines_end = tablespace_start;
    for (int i = 0; i < 5; ++i)
        lines_end = static_cast<std::int64_t>(text.find('\n', lines_end)) + 1;
    const std::int64_t declared_end = lines_end + 6 + 2 + 8;

    std::vector<std::int64_t> cuts = {1, 2, token_end, token_end + 1, user_end};
    for (std::int64_t n = tablespace_start + 1; n < declared_end; ++n)
        cuts.push_back(n);
    for (std::int64_t n : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        // A cut just after "R" of the tablespace token leaves the token "R":
        // an empty name, which is allowed; the line feeds are then missing.
        outcome o = open(write(std::vector<std::uint8_t>(full.begin(), full.begin() + n)));
        EXPECT_EQ(o.branch, "refused");
        EXPECT_EQ(o.entry, 0);
        EXPECT_EQ(o.progress, -1);
    }
    // The full header opens.
    outcome whole = open(write(std::vector<std::uint8_t>(full.begin(), full.begin() + declared_end)));
    EXPECT_EQ(whole.branch, "classic");
    EXPECT_TRUE(whole.tables.empty());
    EXPECT_TRUE(whole.truncated);
}

TEST_F(opening, the_console_refusal_prints_and_ends_with_minus_one)
{
    const std::string path = write(dump_with(header("EXPORT:V06.00.00")));
    fe.reset();
    fe.emplace(recording_front_end::mode::console);
    bool ended = false;
    try {
        reader.open(W(path));
    } catch (const front_end_exit& e) {
        ended = true;
        EXPECT_EQ(e.code, -1);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(reader.get_progress(), -1);
    const std::vector<std::string> want = {std::string("write_err(Error:\n") + ora_dump_reader::message(0) + "\n)",
                                           "end_program(-1)"};
    EXPECT_EQ(fe->effects(), want);
}

TEST_F(opening, context_files)
{
    auto h = header();
    const std::string path = write(dump_with(h));
    const std::wstring wpath = W(path);
    const std::string context_path = tk_wide_to_utf8(ora_dump_file::context_file_name(wpath));

    // A context that matches the dump, made by hand with a table the dump
    // lacks: its list wins, no scan runs.
    auto craft = [&](bool merge) {
        ora_dump_file::context c;
        c.path = wpath;
        c.export_header = "EXPORT:V12.01.00";
        c.user_name = "SYSTEM";
        c.tablespace_name = "USERS";
        c.tables[L"GHOST"].start_pos = 50;
        c.tables[L"GHOST"].end_pos = 60;
        c.merge_schema = merge;
        c.complete = true;
        ASSERT_TRUE(c.stat_dump());
        ASSERT_TRUE(c.save());
    };
    craft(false);
    reader.merge_schema = false;
    EXPECT_EQ(open(path).tables, std::vector<std::wstring>{L"GHOST"});

    // The other merge setting: scanned, and the names follow the setting.
    reader.merge_schema = true;
    EXPECT_EQ(open(path).tables, std::vector<std::wstring>{L"SCOTT.EMP"});
    // That opening's database wrote its own context on destruction.
    EXPECT_EQ(open(path).tables, std::vector<std::wstring>{L"SCOTT.EMP"});
    reader.merge_schema = false;
    EXPECT_EQ(open(path).tables, std::vector<std::wstring>{L"EMP"});

    // Stale: the dump changed after the context was written.
    craft(false);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    utimbuf times{st.st_atime, st.st_mtime + 10};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
    EXPECT_EQ(open(path).tables, std::vector<std::wstring>{L"EMP"});

    // Damaged: any load failure means a scan.
    std::string image = tk_test::read_file(context_path);
    ASSERT_GT(image.size(), 20u);
    image[image.size() / 2] ^= 0x5A;
    tk_test::write_file(context_path, image);
    EXPECT_EQ(open(path).tables, std::vector<std::wstring>{L"EMP"});
    tk_test::write_file(context_path, "garbage");
    EXPECT_EQ(open(path).tables, std::vector<std::wstring>{L"EMP"});
}

// A dump that ends early is reported at every opening: its context is
// never saved, so the whole dump written over it later is scanned afresh,
// and a whole dump's context, once the dump is cut, is stale.
TEST_F(opening, a_cut_dump_keeps_no_context_file)
{
    const std::vector<std::uint8_t> whole = dump_with(header());
    const std::string text(whole.begin(), whole.end());
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(text.find("EXIT")));
    const std::string path = write(cut);
    const std::string context = tk_wide_to_utf8(ora_dump_file::context_file_name(W(path)));
    const std::string report =
        "The dump file ends before the end of the export: it is truncated or incomplete. Tables found whole: 0.";
    std::vector<std::string> shown;
    reader.set_log_sink([&](ora_log_kind, const std::string& t) { shown.push_back(t); });
    // Only a scan shows the tables it reads.
    auto from_context = [&] {
        for (const std::string& t : shown)
            if (t.rfind("Read table", 0) == 0)
                return false;
        return true;
    };

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE("cut, opening " + std::to_string(i + 1));
        outcome o = open(path);
        EXPECT_EQ(o.branch, "classic");
        EXPECT_TRUE(o.truncated);
        EXPECT_EQ(o.tables, std::vector<std::wstring>{L"EMP"});
        EXPECT_EQ(o.errors, std::vector<std::string>{report});
        EXPECT_FALSE(fs::exists(context));
    }

    write(whole);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE("whole, opening " + std::to_string(i + 1));
        shown.clear();
        outcome o = open(path);
        EXPECT_FALSE(o.truncated);
        EXPECT_EQ(o.tables, std::vector<std::wstring>{L"EMP"});
        EXPECT_TRUE(o.errors.empty());
        EXPECT_TRUE(fs::exists(context));
        EXPECT_EQ(from_context(), i == 1);
    }

    // The context of the whole dump does not serve the dump cut again.
    write(cut);
    shown.clear();
    outcome o = open(path);
    EXPECT_FALSE(from_context());
    EXPECT_TRUE(o.truncated);
    EXPECT_EQ(o.errors, std::vector<std::string>{report});
    reader.set_log_sink(nullptr);
}

}  // namespace
