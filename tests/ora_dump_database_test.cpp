// The dump as a source database: the table list, get_table by name, the
// ownership of the stream and the row decoder, and the context file that
// the database's destruction writes.

#include "ora_dump_file.h"

#include "error_handler.h"
#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "ora_dump_writer.h"
#include "ora_dump_writer_rows.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using ora_dump_test::level0_source;
using ora_rows::bytes;
using ora_rows::entry;
using ora_rows::row;

std::wstring W(const std::string& s) { return tk_utf8_to_wide(s); }

// A table of (ID NUMBER(9), NAME VARCHAR2(20)) whose rows carry its name.
ora_rows::table_spec table(const std::string& name, int rows)
{
    const std::string q = "\"" + name + "\"";
    ora_rows::table_spec t;
    t.name = name;
    t.create_sql = "CREATE TABLE " + q + " (\"ID\" NUMBER(9, 0), \"NAME\" VARCHAR2(20))  PCTFREE 10";
    ora_rows::block_spec b;
    b.insert_sql = "INSERT INTO " + q + " (\"ID\", \"NAME\") VALUES (:1, :2)";
    b.description = ora_rows::description_gen9({entry(2, 22), entry(1, 20)}, 10, {});
    for (int i = 1; i <= rows; ++i)
        b.rows.push_back(
            row().value(ora_rows::number(std::to_string(i))).value(ora_rows::text(W(name))).gap().data());
    t.blocks.push_back(b);
    return t;
}

std::vector<std::uint8_t> dump_of(const std::vector<ora_rows::table_spec>& tables)
{
    ora_dump_writer w;
    ora_dump_writer::header_fields h;
    h.marker = 0x0020;
    ora_rows::write_dump(w, h, tables);
    return w.data();
}

// Every row as "ID NAME".
std::vector<std::string> rows_of(udb_recordset& t)
{
    std::vector<std::string> out;
    for (t.reset(); !t.is_eof(); t.next()) {
        udb_record* r = t.get_item();
        std::string line;
        for (const udb_field& f : *r)
            line += (line.empty() ? "" : " ") + f.to_string();
        out.push_back(line);
    }
    return out;
}

class database : public tk_test::home_fixture {
protected:
    std::string write(const std::vector<std::uint8_t>& bytes, const std::string& name = "three.dmp")
    {
        std::string path = home.file(name);
        tk_test::write_file(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }

    std::string context_of(const std::string& dump) const
    {
        return tk_wide_to_utf8(ora_dump_file::context_file_name(W(dump)));
    }

    ora_dump_test::scoped_documents_folder docs{home};
    std::optional<recording_front_end> fe{std::in_place, recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
};

TEST_F(database, names_that_differ_only_in_case_each_find_their_own_table)
{
    const std::string path = write(dump_of({table("EMP", 1), table("Emp", 2), table("DEPT", 3)}));
    std::unique_ptr<ora_dump_file> db = reader.open(W(path));
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->get_table_names(), (std::vector<std::wstring>{L"DEPT", L"EMP", L"Emp"}));

    struct ask {
        const wchar_t* name;
        const wchar_t* found;
        std::vector<std::string> rows;
    };
    const ask asks[] = {
        {L"EMP", L"EMP", {"1 EMP"}},
        {L"Emp", L"Emp", {"1 Emp", "2 Emp"}},
        {L"emp", L"EMP", {"1 EMP"}},
        {L"eMP", L"EMP", {"1 EMP"}},
        {L"dept", L"DEPT", {"1 DEPT", "2 DEPT", "3 DEPT"}},
    };
    for (const ask& a : asks) {
        SCOPED_TRACE(tk_wide_to_utf8(a.name));
        std::unique_ptr<udb_recordset> t = db->get_table(a.name, 0);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->name, a.found);
        EXPECT_EQ(db->live_tables(), 1);
        EXPECT_EQ(rows_of(*t), a.rows);
    }
    EXPECT_EQ(db->live_tables(), 0);

    // Case-sensitive names find exact keys only.
    db->case_sensitive = true;
    EXPECT_EQ(db->get_table(L"Emp", 0)->name, L"Emp");
    EXPECT_THROW(db->get_table(L"emp", 0), tk_exception);
}

TEST_F(database, a_missing_name_and_a_dump_without_tables)
{
    const std::string path = write(dump_of({table("EMP", 1), table("Emp", 1), table("DEPT", 1)}));
    std::unique_ptr<ora_dump_file> db = reader.open(W(path));
    try {
        db->get_table(L"X", 7);
        ADD_FAILURE() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message, "Table \"X\" doesn't exist in the database");
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(db->live_tables(), 0);

    const std::string empty = write(dump_of({}), "empty.dmp");
    std::unique_ptr<ora_dump_file> none = reader.open(W(empty));
    EXPECT_TRUE(none->get_table_names().empty());
    try {
        none->get_table(L"EMP", 0);
        ADD_FAILURE() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message, "Table \"EMP\" doesn't exist in the database");
        EXPECT_EQ(e.level, 1);
    }
    // The wide name comes through whole.
    try {
        none->get_table(L"\u00C4MTER", 0);
        ADD_FAILURE() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message, "Table \"\u00C4MTER\" doesn't exist in the database");
    }
}

TEST_F(database, a_table_that_cannot_be_initialised)
{
    ora_rows::table_spec bad = table("BAD", 1);
    // The scan finds the block; the table cannot read its INSERT line.
    bad.blocks[0].insert_sql = "INSERT INTO \"BAD\" (\"ID\", \"NAME\")";
    const std::string path = write(dump_of({bad, table("GOOD", 1)}));
    std::unique_ptr<ora_dump_file> db = reader.open(W(path));
    ASSERT_EQ(db->get_table_names(), (std::vector<std::wstring>{L"BAD", L"GOOD"}));
    try {
        db->get_table(L"bad", 0);
        ADD_FAILURE() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message, "Failed to initialize table");
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(db->live_tables(), 0);
    // The shared stream still serves the next table.
    EXPECT_EQ(rows_of(*db->get_table(L"GOOD", 0)), std::vector<std::string>{"1 GOOD"});
}

TEST_F(database, key_order_and_the_read_only_slots)
{
    ora_dump_file::context c;
    c.path = W(home.file("none.dmp"));
    c.tables[L"USERS.DEPT"];
    c.tables[L"SCOTT.EMP"];
    c.tables[L"SCOTT.BONUS"];
    c.relationships.push_back(t_relationship(L"FK", L"", L"SCOTT.EMP", L"USERS.DEPT", {L"D"}, {L"ID"}, L""));
    ora_dump_file db(std::move(c));
    EXPECT_EQ(db.get_table_names(), (std::vector<std::wstring>{L"SCOTT.BONUS", L"SCOTT.EMP", L"USERS.DEPT"}));
    EXPECT_EQ(db.open_flags, 1);
    EXPECT_TRUE(db.name.empty());
    EXPECT_FALSE(db.case_sensitive);
    EXPECT_EQ(db.create_table(L"T", udb_schema(), udb_indexes()), nullptr);
    EXPECT_EQ(db.get_query(L"Q", L"SELECT 1", 0), nullptr);
    EXPECT_TRUE(db.test_query(L"anything"));
    ASSERT_EQ(db.relationships.size(), 1u);
    db.create_relationships({});
    EXPECT_TRUE(db.relationships.empty());
    // Nothing was scanned: nothing is written.
    EXPECT_FALSE(db.complete());
}

TEST_F(database, destruction_writes_the_context_and_the_next_opening_trusts_it)
{
    const std::string path = write(dump_of({table("EMP", 1), table("Emp", 1), table("DEPT", 1)}));
    reader.open(W(path)).reset();
    ASSERT_TRUE(fs::exists(context_of(path)));

    // A context with the dump's own trailer, listing a table the dump lacks.
    ora_dump_file::context c;
    ASSERT_TRUE(c.load_if(W(path), false, 0));
    c.tables[L"GHOST"] = c.tables.at(L"DEPT");
    ASSERT_TRUE(c.save());

    std::unique_ptr<ora_dump_file> db = reader.open(W(path));
    EXPECT_EQ(db->get_table_names(), (std::vector<std::wstring>{L"DEPT", L"EMP", L"Emp", L"GHOST"}));
    EXPECT_EQ(db->export_header, "EXPORT:V12.01.00");
    EXPECT_EQ(db->user_name, "SYSTEM");
    EXPECT_EQ(db->tablespace_name, "USERS");
    db.reset();
    // Written again from the database, with the same list.
    ora_dump_file::context again;
    ASSERT_TRUE(again.load_if(W(path), false, 0));
    EXPECT_EQ(again.tables.size(), 4u);
}

TEST_F(database, a_scan_continued_past_a_failure_leaves_no_context_file)
{
    const std::vector<std::uint8_t> bytes = dump_of({table("EMP", 1), table("DEPT", 1)});
    const std::string path = write(bytes);
    ora_dump_file::context c;
    c.path = W(path);
    ASSERT_TRUE(c.stat_dump());
    c.stream = std::make_unique<ora_dump_stream>(
        std::make_unique<level0_source>(bytes, static_cast<std::int64_t>(bytes.size()) - 20), 64);
    reader.info.dump_length = static_cast<std::int64_t>(bytes.size());
    c.decoder = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
    reader.find_ora_objects(*c.stream, c);
    // The user continued: the tables found so far are used...
    ASSERT_FALSE(c.complete);
    ASSERT_FALSE(c.tables.empty());
    std::vector<std::string> asked;
    for (const auto& call : fe->calls)
        if (call.name == "ask_continue")
            asked.push_back(call.text);
    EXPECT_EQ(asked, std::vector<std::string>{"A passing failure"});
    {
        ora_dump_file db(std::move(c));
        EXPECT_FALSE(db.complete());
    }
    // ...but never saved for a later opening.
    EXPECT_FALSE(fs::exists(context_of(path)));
    EXPECT_TRUE(fs::is_empty(home.file("Documents")));
}

TEST_F(database, a_save_that_fails_does_not_leave_the_destructor)
{
    const std::string path = write(dump_of({table("EMP", 1)}));
    std::unique_ptr<ora_dump_file> db = reader.open(W(path));
    fs::remove(context_of(path));
    // Neither beside the dump nor in the documents folder.
    fs::create_directories(context_of(path));
    docs.point_at(home.file("no/such/folder"));
    std::vector<std::string> warnings;
    reader.set_log_sink([&](ora_log_kind k, const std::string& t) {
        if (k == ora_log_kind::warning)
            warnings.push_back(t);
    });
    EXPECT_NO_THROW(db.reset());
    EXPECT_EQ(warnings.size(), 1u);
    reader.set_log_sink(nullptr);
}

TEST_F(database, a_table_outliving_its_database_is_an_internal_error)
{
    const std::string path = write(dump_of({table("EMP", 1)}));
    reader.open(W(path)).reset();
    ora_dump_file::context c;
    ASSERT_TRUE(c.load_if(W(path), false, 0));
    c.stream = ora_dump_stream::open_file(path);
    c.decoder = ora_dump_reader_th::create(12, c.export_header);
    // The database lives in storage of the test's own, so that the table
    // left behind can still be counted off and freed without touching
    // freed memory.
    alignas(ora_dump_file) static unsigned char storage[sizeof(ora_dump_file)];
    auto* db = new (storage) ora_dump_file(std::move(c));
    std::unique_ptr<udb_recordset> t = db->get_table(L"EMP", 0);
    auto* dump_table = dynamic_cast<ora_dump_table*>(t.get());
    ASSERT_NE(dump_table, nullptr);
    fe->calls.clear();
    db->~ora_dump_file();
    const std::vector<std::string> effects = fe->effects();
    ASSERT_EQ(effects.size(), 2u);
    EXPECT_EQ(effects[0].rfind("show_internal_error(", 0), 0u) << effects[0];
    EXPECT_EQ(effects[1], "end_program(-1)");
    // The context file is still written: the scan was complete.
    EXPECT_TRUE(fs::exists(context_of(path)));
    std::atomic<int> spare{0};
    dump_table->set_live_counter(&spare);
    t.reset();
    EXPECT_EQ(spare.load(), 0);
}

}  // namespace
