// The real dumps opened the way the programs open them: the classic one
// completely (header, tables, schemas, indexes, every value, and a second
// opening from its context file), the Data Pump one up to its branch.

#include "ora_dump_reader.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_reader_th_10.h"
#include "ora_dump_stream.h"
#include "recording_front_end.h"
#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::wstring W(const std::string& s) { return tk_utf8_to_wide(s); }

const std::string real_dir = VELC_REAL_DATA_DIR;

// One expected value: NULL, an exact decimal (as text), the double nearest a
// literal, a text, or date fields.
struct null_value {};
struct decimal_value {
    std::string text;
};
using expected = std::variant<null_value, decimal_value, double, std::wstring, t_systemtime>;

expected D(const char* text) { return decimal_value{text}; }
const expected N = null_value{};

std::string describe(const ole_variant& v)
{
    return "vt " + std::to_string(v.get_vt()) + " \"" + v.to_string() + "\"";
}

void expect_value(const ole_variant& v, const expected& want, const std::string& where)
{
    SCOPED_TRACE(where + ": " + describe(v));
    if (std::holds_alternative<null_value>(want)) {
        EXPECT_TRUE(v.get_vt() == VT_NULL || v.get_vt() == VT_EMPTY);
    } else if (const auto* d = std::get_if<decimal_value>(&want)) {
        ole_decimal exact;
        ASSERT_EQ(ole_decimal::parse(d->text, exact), ole_number_status::ok);
        ASSERT_EQ(v.get_vt(), VT_DECIMAL);
        EXPECT_TRUE(v.get_decimal() == exact) << d->text;
    } else if (const auto* r = std::get_if<double>(&want)) {
        ASSERT_EQ(v.get_vt(), VT_R8);
        EXPECT_EQ(v.get_r8(), *r);
    } else if (const auto* s = std::get_if<std::wstring>(&want)) {
        ASSERT_EQ(v.get_vt(), VT_BSTR);
        EXPECT_EQ(v.get_bstr(), *s);
    } else {
        ASSERT_EQ(v.get_vt(), VT_DATE);
        EXPECT_EQ(v.get_time(), std::get<t_systemtime>(want));
    }
}

using tk_test::systemtime;

const std::vector<std::vector<expected>> table1_rows = {
    {D("1"), D("123"), 3.56789, std::wstring(L"STRING 1 TEST"), systemtime(2023, 11, 1, 8, 40, 28), N, N},
    {D("2"), D("456"), 1.23, std::wstring(L"STRING 2 TEST sadf asdf asdf asdf asdf"),
     systemtime(2022, 1, 1, 1, 40, 11), N, N},
    {D("3"), D("-1"), -1.23, N, N, N, N},
    {D("4"), D("-2"), 3.3e-10, N, N, N, N},
    {D("5"), D("123123123456"), -3.3e-10, N, N, N, N},
    {D("6"), D("-123123123456"), N, N, N, N, systemtime(2022, 6, 2, 8, 45, 40, 346906)},
    {D("7"), D("-456"), -0.2, N, N, N, N},
};
const std::vector<std::vector<expected>> table2_rows = {
    {std::wstring(L"K1"), 1.0, D("14")},
    {std::wstring(L"K2"), 0.2, D("2.99992")},
    {std::wstring(L"K3"), -0.3, D("-0.00232")},
    {std::wstring(L"K4"), N, N},
};

struct column {
    const wchar_t* name;
    VARTYPE vartype;
    std::uint32_t size;  // checked when not 0
    std::uint32_t reserved;
    bool not_null;
    std::int32_t ora_type;  // checked when not -1
};

class real_open : public tk_test::logger_fixture {
protected:
    // A copy in the test's own folder: opening writes beside the dump.
    std::string copy(const std::string& name)
    {
        const std::string to = home.file(name);
        fs::copy_file(real_dir + "/" + name, to);
        fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
        return to;
    }

    // Every table of the database: its schema, indexes and rows as they
    // are checked below.
    void check_database(ora_dump_file& db)
    {
        EXPECT_EQ(db.export_header, "EXPORT:V12.01.00");
        EXPECT_EQ(db.user_name, "SYSTEM");
        EXPECT_EQ(db.tablespace_name, "USERS");
        ASSERT_NE(dynamic_cast<ora_dump_reader_th_10*>(db.decoder()), nullptr);
        EXPECT_EQ(db.info().charset_class, 0);
        EXPECT_EQ(db.info().dump_code_page, 1252);
        EXPECT_EQ(db.info().ncharset_class, 2);
        EXPECT_EQ(db.info().dump_length, 24576);
        ASSERT_EQ(db.get_table_names(), (std::vector<std::wstring>{L"IGNORE", L"IGNORE2", L"TABLE1", L"TABLE2"}));

        for (const wchar_t* empty : {L"IGNORE", L"IGNORE2"}) {
            std::unique_ptr<udb_recordset> t = db.get_table(empty, 0);
            t->reset();
            EXPECT_TRUE(t->is_eof()) << tk_wide_to_utf8(empty);
        }
        check_table(db, L"TABLE1",
                    {{L"KEYCOL", VT_DECIMAL, 0, 0x2600, true, -1},
                     {L"NUMCOL1", VT_DECIMAL, 0, 0x1600, false, -1},
                     {L"FLOATCOL1", VT_R8, 0, 0, false, -1},
                     {L"STRCOL1", VT_BSTR, 200, 0, false, -1},
                     {L"DATECOL1", VT_DATE, 0, 1, false, -1},
                     {L"BLOBCOL1", VT_BLOB, 0, 0, false, t_orcale_ftd::ora_blob},
                     {L"TIMESTAMP1", VT_DATE, 0, 1, false, t_orcale_ftd::ora_timestamp}},
                    L"TABLE1_PK", L"KEYCOL", table1_rows);
        check_table(db, L"TABLE2",
                    {{L"STRKEY", VT_BSTR, 20, 0, true, -1},
                     {L"FLOAT1", VT_R8, 0, 0, false, -1},
                     {L"DEC1", VT_DECIMAL, 0, 0x1605, false, -1}},
                    L"TABLE2_PK", L"STRKEY", table2_rows);
        EXPECT_EQ(db.live_tables(), 0);
    }

    void check_table(ora_dump_file& db, const wchar_t* name, const std::vector<column>& columns,
                     const wchar_t* index, const wchar_t* index_column,
                     const std::vector<std::vector<expected>>& rows)
    {
        SCOPED_TRACE(tk_wide_to_utf8(name));
        std::unique_ptr<udb_recordset> t = db.get_table(name, 0);
        ASSERT_EQ(t->schema.size(), columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const column& c = columns[i];
            const t_ftd* f = t->schema[i];
            SCOPED_TRACE(tk_wide_to_utf8(c.name));
            EXPECT_EQ(f->name, c.name);
            EXPECT_EQ(f->vartype, c.vartype);
            if (c.size) {
                EXPECT_EQ(f->size, c.size);
            }
            if (c.vartype == VT_DECIMAL || c.vartype == VT_DATE) {
                EXPECT_EQ(f->reserved, c.reserved);
            }
            EXPECT_EQ(f->b_not_null, c.not_null);
            if (c.ora_type != -1) {
                const auto* o = dynamic_cast<const t_orcale_ftd*>(f);
                ASSERT_NE(o, nullptr);
                EXPECT_EQ(o->ora_type, c.ora_type);
            }
        }
        ASSERT_EQ(t->indexes.size(), 1u);
        EXPECT_EQ(t->indexes[0].name, index);
        EXPECT_TRUE(t->indexes[0].b_primary);
        EXPECT_EQ(t->indexes[0].columns, std::vector<std::wstring>{index_column});

        std::size_t n = 0;
        for (t->reset(); !t->is_eof(); t->next(), ++n) {
            ASSERT_LT(n, rows.size()) << "more rows than the dump holds";
            udb_record* r = t->get_item();
            ASSERT_NE(r, nullptr);
            ASSERT_EQ(r->size(), columns.size());
            std::size_t k = 0;
            for (const udb_field& f : *r) {
                expect_value(f, rows[n][k], "row " + std::to_string(n + 1) + " " + tk_wide_to_utf8(columns[k].name));
                ++k;
            }
        }
        EXPECT_EQ(n, rows.size());
    }

    ora_dump_test::scoped_documents_folder docs{home};
    std::optional<recording_front_end> fe{std::in_place, recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
};

TEST_F(real_open, the_classic_dump_opens_completely_and_again_from_its_context_file)
{
    if (!fs::exists(real_dir + "/classic_v12_exptest.dmp"))
        GTEST_SKIP() << "no real dumps here";
    ora_dump_reader reader;
    const std::string path = copy("classic_v12_exptest.dmp");
    {
        std::unique_ptr<ora_dump_file> db = reader.open(W(path));
        ASSERT_NE(db, nullptr);
        EXPECT_EQ(reader.get_progress(), 100);
        EXPECT_FALSE(reader.compound_dump);
        EXPECT_FALSE(reader.first_part);
        EXPECT_TRUE(db->complete());
        EXPECT_FALSE(db->is_truncated());
        check_database(*db);
    }
    const std::string context = tk_wide_to_utf8(ora_dump_file::context_file_name(W(path)));
    ASSERT_TRUE(fs::exists(context));
    EXPECT_EQ(log_text().find("Loading dump context from"), std::string::npos);

    // The second opening reads the context file and gives the same.
    {
        std::unique_ptr<ora_dump_file> db = reader.open(W(path));
        EXPECT_NE(log_text().find("Loading dump context from"), std::string::npos);
        EXPECT_FALSE(db->is_truncated());
        check_database(*db);
    }
    EXPECT_TRUE(fe->effects().empty()) << fe->effects().front();

    // A touched dump is scanned again.
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    utimbuf times{st.st_atime, st.st_mtime + 5};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
    ora_dump_file::context c;
    EXPECT_FALSE(c.load_if(W(path), false, 0));
    {
        std::unique_ptr<ora_dump_file> db = reader.open(W(path));
        check_database(*db);
    }
    EXPECT_TRUE(c.load_if(W(path), false, 0));
}

// The real export cut short: the tables whose section a later line ends are
// counted whole, and the cut is reported at each opening.
TEST_F(real_open, the_classic_dump_cut_short_is_reported_with_its_whole_tables)
{
    if (!fs::exists(real_dir + "/classic_v12_exptest.dmp"))
        GTEST_SKIP() << "no real dumps here";
    const std::string whole = tk_test::read_file(real_dir + "/classic_v12_exptest.dmp");
    struct cut {
        const char* name;
        std::size_t at;
        std::size_t tables, whole;
    };
    const std::size_t table2 = whole.find("TABLE \"TABLE2\"\n");
    const cut cuts[] = {
        {"before TABLE2's section", table2, 3, 2},
        {"after TABLE2's first line", table2 + 15, 3, 3},
        {"inside TABLE2's rows", whole.find("INSERT INTO \"TABLE2\"") + 100, 4, 3},
        {"before the closing lines", whole.find("EXIT\n"), 4, 4},
        {"inside the last line", whole.find("EXIT\nEXIT\n") + 9, 4, 4},
    };
    ora_dump_reader reader;
    for (const cut& c : cuts) {
        SCOPED_TRACE(c.name);
        const std::string path = home.file("cut.dmp");
        tk_test::write_file(path, whole.substr(0, c.at));
        fe->calls.clear();
        std::unique_ptr<ora_dump_file> db = reader.open(W(path));
        ASSERT_NE(db, nullptr);
        EXPECT_TRUE(db->is_truncated());
        EXPECT_EQ(db->get_table_names().size(), c.tables);
        const std::string report = "(The dump file ends before the end of the export: it is truncated or "
                                   "incomplete. Tables found whole: " +
                                   std::to_string(c.whole) + ".)";
        EXPECT_EQ(fe->effects(), (std::vector<std::string>{"add_error_text" + report, "ask_continue" + report}));
        EXPECT_FALSE(fs::exists(tk_wide_to_utf8(ora_dump_file::context_file_name(W(path)))));
    }
}

// Notes how the stream stood when the Data Pump opening was reached.
class probe_reader : public ora_dump_reader {
public:
    std::unique_ptr<ora_dump_file> open_datapump(const std::wstring&, std::unique_ptr<ora_dump_stream> stream) override
    {
        called = true;
        position = stream->tell();
        good = stream->good();
        stream->read(first, 2);
        return nullptr;
    }
    bool called = false;
    std::int64_t position = -1;
    bool good = false;
    unsigned char first[2] = {};
};

TEST_F(real_open, the_data_pump_dump_reaches_the_data_pump_branch)
{
    if (!fs::exists(real_dir + "/datapump_12c_scott.dmp"))
        GTEST_SKIP() << "no real dumps here";
    probe_reader reader;
    const std::string path = copy("datapump_12c_scott.dmp");
    EXPECT_EQ(reader.open(W(path)), nullptr);
    ASSERT_TRUE(reader.called);
    EXPECT_EQ(reader.position, 0);
    EXPECT_TRUE(reader.good);
    EXPECT_EQ(reader.first[0], 0x04);
    EXPECT_EQ(reader.first[1], 0x01);
    EXPECT_FALSE(fs::exists(tk_wide_to_utf8(ora_dump_file::context_file_name(W(path)))));
}

}  // namespace
