#include "pgs_schema_initializer.h"
#include "pgs_indexes_initializer.h"
#include "pgs_exception.h"
#include "tk_unicode.h"
#include "pgserver_support.h"

#include <algorithm>
#include <string>

namespace {

using database_server = pgs_server_test;

bool sends_ddl(const std::vector<std::string>& log)
{
    for (const std::string& s : log)
        for (const char* verb : {"CREATE", "ALTER", "DROP"})
            if (s.rfind(verb, 0) == 0)
                return true;
    return false;
}

TEST_F(database_server, FreshDatabaseListsOnlyTheCatalogue)
{
    auto db = create_dest();
    ASSERT_FALSE(db->table_names.empty());
    for (const std::wstring& t : db->table_names)
        EXPECT_EQ(t.rfind(L"pg_catalog.", 0), 0u) << tk_wide_to_utf8(t);
    EXPECT_FALSE(db->is_table_exist(L"public.emp"));
}

TEST_F(database_server, ServerTableNamesFollowKeepCase)
{
    create_dest().reset();
    side_exec("CREATE TABLE public.\"Emp\" (id int)");
    for (bool keep : {false, true}) {
        connect_postgres();
        engine->keep_case = keep;
        auto db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
        EXPECT_EQ(db->is_table_exist(L"PUBLIC.EMP"), !keep);
        EXPECT_EQ(db->is_table_exist(L"public.Emp"), true);
        db.reset();
        engine->keep_case = false;
    }
}

TEST_F(database_server, SchemasAndQueries)
{
    auto db = create_dest();
    std::vector<std::string> log;
    engine->set_statement_log(&log);
    db->create_schema(L"Public");
    EXPECT_TRUE(log.empty());
    db->create_schema(L"hr");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "CREATE SCHEMA IF NOT EXISTS \"hr\"");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_namespace WHERE nspname = 'hr'"), "1");
    EXPECT_FALSE(db->test_query(L"SELECT * FROM no_such_table"));
    EXPECT_TRUE(db->test_query(L"CREATE TABLE tq (i int)"));
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_class WHERE relname = 'tq'"), "0");
    std::vector<std::wstring> schemas;
    db->get_schema_info(schemas);
    EXPECT_NE(std::find(schemas.begin(), schemas.end(), L"pg_catalog"), schemas.end());
    engine->set_statement_log(nullptr);
}

TEST_F(database_server, DeleteTabSendsItsDropEvenWhenUnlisted)
{
    auto db = create_dest();
    std::vector<std::string> log;
    engine->set_statement_log(&log);
    EXPECT_FALSE(db->delete_tab(L"public.missing"));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "DROP TABLE IF EXISTS \"public\".\"missing\" CASCADE");
    engine->set_statement_log(nullptr);
    source_table t;
    t.add(L"id", VT_I4);
    db->create_table(L"public.Gone", t.schema, t.indexes).reset();
    EXPECT_TRUE(db->is_table_exist(L"public.gone"));
    EXPECT_TRUE(db->delete_tab(L"public.Gone"));
    EXPECT_FALSE(db->is_table_exist(L"public.gone"));
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_class WHERE relname = 'gone'"), "0");
}

TEST_F(database_server, ExistingTableOpensWithFlag8AndFailsWithout)
{
    auto db = create_dest();
    source_table t;
    t.add(L"id", VT_I4);
    t.indexes.push_back(udb_index(L"pk", true, true, {L"id"}));
    db->create_table(L"public.emp", t.schema, t.indexes).reset();

    std::vector<std::string> log;
    engine->set_statement_log(&log);
    try {
        db->create_table(L"public.emp", t.schema, t.indexes);
        FAIL();
    } catch (const pgs_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_STREQ(e.what(), "Table 'public.emp' already exists");
    }
    EXPECT_TRUE(log.empty());
    db->open_flags = 40;
    auto rs = db->create_table(L"public.emp", t.schema, t.indexes);
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->schema.size(), 1u);
    EXPECT_FALSE(sends_ddl(log));
    EXPECT_FALSE(log.empty());  // the catalogue reads
    engine->set_statement_log(nullptr);
}

TEST_F(database_server, HostileNamesAndDefaultsStayOneIdentifier)
{
    auto db = create_dest();
    side_exec("CREATE TABLE public.t (i int)");
    const std::wstring schema = L"s\"; DROP TABLE t; --";
    db->create_schema(schema);
    source_table t;
    t.add(L"c\";x", VT_I4);
    t.add(L"d", VT_BSTR, 40, false, false, ole_variant(L"x'); DROP TABLE public.t; --"));
    t.add(L"n", VT_R8, 0, false, false, ole_variant(L"1); DROP TABLE public.t; --"));
    std::vector<std::string> log;
    engine->set_statement_log(&log);
    auto rs = db->create_table(schema + L".T\";y", t.schema, t.indexes);
    engine->set_statement_log(nullptr);
    int ddl = 0;
    for (const std::string& s : log)
        ddl += s.rfind("CREATE", 0) == 0 || s.rfind("DROP", 0) == 0 || s.rfind("ALTER", 0) == 0;
    EXPECT_EQ(ddl, 1);
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_class WHERE relname = 't'"), "1");
    EXPECT_EQ(side_scalar("SELECT n.nspname || '|' || c.relname FROM pg_class c JOIN pg_namespace n ON "
                          "n.oid = c.relnamespace WHERE c.relname = 't\";y'"),
              "s\"; drop table t; --|t\";y");
    EXPECT_EQ(side_scalar("SELECT string_agg(column_name, '|' ORDER BY ordinal_position) FROM "
                          "information_schema.columns WHERE table_name = 't\";y'"),
              "c__x|d|n");
    ASSERT_EQ(rs->schema.size(), 3u);
    EXPECT_EQ(rs->schema[1]->default_value.to_wstring(), L"x'); DROP TABLE public.t; --");
}

TEST_F(database_server, EveryNativeTypeAndDefaultIsAccepted)
{
    auto db = create_dest();
    source_table t;
    t.add(L"i2", VT_I2, 0, false, false, ole_variant(L"-7"));
    t.add(L"i1", VT_I1, 0, false, false, ole_variant(L"7"));
    t.add(L"u1", VT_UI1, 0, false, false, ole_variant(L"200"));
    t.add(L"i4", VT_I4, 0, false, false, ole_variant(L"2000000000"));
    t.add(L"u2", VT_UI2, 0, false, false, ole_variant(L"65535"));
    t.add(L"int", VT_INT, 0, false, false, ole_variant(L"1"));
    t.add(L"r4", VT_R4, 0, false, false, ole_variant(L"2.5"));
    t.add(L"r8", VT_R8, 0, false, false, ole_variant(L"1e3"));
    t.add(L"cy", VT_CY, 0, false, false, ole_variant(L"0.0"));
    t.add(L"ts", VT_DATE, 0, false, false, ole_variant(L"CURRENT_TIMESTAMP"), 1);
    t.add(L"d", VT_DATE, 0, false, false, ole_variant(L"2024-01-02"), 2);
    t.add(L"tm", VT_DATE, 0, false, false, ole_variant(L"10:11:12"), 3);
    t.add(L"v", VT_BSTR, 40, false, false, ole_variant(L"O'Neil"));
    t.add(L"txt", VT_BSTR, 0, false, false, ole_variant(L"x"));
    t.add(L"w", VT_LPWSTR, 20);
    t.add(L"b", VT_BOOL, 0, false, false, ole_variant(L"1"));
    t.add(L"n1", VT_DECIMAL, 0, false, false, ole_variant(L"12.5"), 2562);
    t.add(L"n2", VT_DECIMAL, 0, false, false, ole_variant(L"-1"), 0);
    t.add(L"n3", VT_DECIMAL, 0, false, false, ole_variant(), 38u << 8);
    t.add(L"n4", VT_DECIMAL, 0, false, false, ole_variant(), (2u << 8) | 5u);
    t.add(L"n5", VT_DECIMAL, 0, false, false, ole_variant(), (10u << 8) | 0xFEu);
    t.add(L"u4", VT_UI4, 0, false, false, ole_variant(L"3000000000"));
    t.add(L"i8", VT_I8);
    t.add(L"u8", VT_UI8);
    t.add(L"ui", VT_UINT);
    t.add(L"blob", VT_BLOB);
    auto rs = db->create_table(L"public.all_types", t.schema, t.indexes);
    ASSERT_EQ(rs->schema.size(), t.schema.size());
    struct expect {
        VARTYPE vt;
        std::uint32_t size;
        std::uint32_t reserved;
    };
    const std::vector<expect> want = {
        {VT_I2, 0, 0}, {VT_I2, 0, 0}, {VT_I2, 0, 0}, {VT_I4, 0, 0}, {VT_I4, 0, 0}, {VT_I4, 0, 0},
        {VT_R8, 0, 0}, {VT_R8, 0, 0}, {VT_DECIMAL, 0, 19u << 8 | 4u}, {VT_DATE, 0, 1}, {VT_DATE, 0, 2},
        {VT_DATE, 0, 3}, {VT_BSTR, 40, 0}, {VT_BSTR, 0, 0}, {VT_BSTR, 20, 0}, {VT_BOOL, 0, 0},
        {VT_DECIMAL, 0, 2562}, {VT_DECIMAL, 0, 0}, {VT_DECIMAL, 0, 38u << 8}, {VT_DECIMAL, 0, (2u << 8) | 5u},
        {VT_DECIMAL, 0, (10u << 8) | 0xFEu}, {VT_I8, 0, 0}, {VT_I8, 0, 0}, {VT_I8, 0, 0}, {VT_I8, 0, 0},
        {VT_BLOB, 0, 0},
    };
    for (std::size_t i = 0; i < want.size(); ++i) {
        const t_ftd& c = *rs->schema[i];
        EXPECT_EQ(c.vartype, want[i].vt) << tk_wide_to_utf8(c.name);
        EXPECT_EQ(c.size, want[i].size) << tk_wide_to_utf8(c.name);
        EXPECT_EQ(c.reserved, want[i].reserved) << tk_wide_to_utf8(c.name);
    }
    EXPECT_EQ(rs->schema[12]->default_value.to_wstring(), L"O'Neil");
    rs.reset();
    side_exec("INSERT INTO all_types (i8) VALUES (1)");
    EXPECT_EQ(side_scalar("SELECT i2 || '|' || u1 || '|' || u4 || '|' || v || '|' || d || '|' || tm || '|' || n1 "
                          "|| '|' || b FROM all_types"),
              "-7|200|3000000000|O'Neil|2024-01-02|10:11:12|12.50|true");
}

TEST_F(database_server, DecimalTypesStoreExactly)
{
    auto db = create_dest();
    source_table t;
    t.add(L"small", VT_DECIMAL, 0, false, false, ole_variant(), (2u << 8) | 5u);
    t.add(L"neg", VT_DECIMAL, 0, false, false, ole_variant(), (10u << 8) | 0xFEu);
    auto rs = db->create_table(L"public.dec", t.schema, t.indexes);
    ole_decimal a, b;
    ASSERT_EQ(ole_decimal::parse("0.00012", a), ole_number_status::ok);
    ASSERT_EQ(ole_decimal::parse("12345", b), ole_number_status::ok);
    udb_record r = make_record({{L"small", ole_variant(a)}, {L"neg", ole_variant(b)}});
    rs->append_record(r);
    rs->finish();
    rs.reset();
    EXPECT_EQ(side_scalar("SELECT small || '|' || neg FROM dec"), "0.00012|12300");
}

TEST_F(database_server, IndexesAndSequence)
{
    auto db = create_dest();
    // An index of another table named like a source index survives.
    side_exec("CREATE TABLE other (a int); CREATE INDEX i_ab ON other (a)");
    source_table t;
    t.add(L"a", VT_I4);
    t.add(L"b", VT_I4);
    t.add(L"id", VT_I4, 0, false, true);
    t.schema.seed = 100;
    t.schema.increment = 10;
    t.indexes.push_back(udb_index(L"i_ab", false, false, {L"a", L"b"}));
    t.indexes.push_back(udb_index(L"pk_a", true, true, {L"a"}));
    t.indexes.push_back(udb_index(L"u_b", true, false, {L"b"}));
    side_exec("CREATE TABLE blocker (b int); INSERT INTO blocker VALUES (1)");
    auto rs = db->create_table(L"public.idx", t.schema, t.indexes);
    rs.reset();
    // The keys and indexes wait for the rows.
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                          "WHERE c.relname = 'idx'"),
              "0");
    int built = 0;
    while (db->build_next_index(L"public.idx"))
        ++built;
    EXPECT_EQ(built, 3);
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_class WHERE relname = 'i_ab'"), "1");
    EXPECT_EQ(side_scalar("SELECT string_agg(a.attname, ',') FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                          "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = ANY(i.indkey) "
                          "WHERE c.relname = 'idx' AND i.indisprimary"),
              "a");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                          "WHERE c.relname = 'idx'"),
              "3");
    side_exec("INSERT INTO idx (a, b) VALUES (1, 1)");
    EXPECT_EQ(side_scalar("SELECT id FROM idx"), "110");
}

TEST_F(database_server, FailingIndexLeavesTableAndOtherIndexes)
{
    auto db = create_dest();
    source_table t;
    t.add(L"a", VT_I4);
    t.add(L"b", VT_I4);
    // A second primary key is refused by the server, and so is a unique
    // index that the rows break; the rows stay, and the index after them
    // is still built.
    t.indexes.push_back(udb_index(L"pk1", true, true, {L"a"}));
    t.indexes.push_back(udb_index(L"pk2", true, true, {L"b"}));
    t.indexes.push_back(udb_index(L"u1", true, false, {L"b"}));
    t.indexes.push_back(udb_index(L"i_ba", false, false, {L"b", L"a"}));
    auto rs = db->create_table(L"public.f", t.schema, t.indexes);
    for (int a : {1, 2}) {
        udb_record r = make_record({{L"a", ole_variant(a)}, {L"b", ole_variant(7)}});
        rs->append_record(r);
    }
    rs->finish();
    rs.reset();
    struct step {
        bool refused;
        std::string text;  // the start of the refusal
    };
    const std::vector<step> steps = {
        {false, ""},
        {true, "primary key pk2 not created: ERROR:  multiple primary keys for table \"f\" are not allowed"},
        {true, "index u1 not created: ERROR:  could not create unique index"},
        {false, ""},
    };
    for (const step& s : steps) {
        SCOPED_TRACE(s.text);
        try {
            EXPECT_TRUE(db->build_next_index(L"public.f"));
            EXPECT_FALSE(s.refused);
        } catch (const pgs_exception& e) {
            EXPECT_TRUE(s.refused) << e.what();
            EXPECT_EQ(e.level, 0);
            EXPECT_EQ(std::string(e.what()).substr(0, s.text.size()), s.text);
            EXPECT_NE(std::string(e.what()).back(), '\n');
        }
    }
    EXPECT_FALSE(db->build_next_index(L"public.f"));
    EXPECT_EQ(side_scalar("SELECT count(*) FROM f"), "2");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                          "WHERE c.relname = 'f'"),
              "2");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                          "WHERE c.relname = 'f' AND i.indisprimary"),
              "1");
}

TEST_F(database_server, CyrillicNamesRoundTrip)
{
    auto db = create_dest();
    const std::wstring table(40, L'\u0442');
    const std::wstring col(40, L'\u043a');
    pgs_tn_validator tables({table}, {});
    const std::wstring tname = tables.take_name(table);
    source_table t;
    t.add(col, VT_I4);
    auto rs = db->create_table(L"public." + tname, t.schema, t.indexes);
    ASSERT_EQ(rs->schema.size(), 1u);
    EXPECT_EQ(rs->schema[0]->name, std::wstring(31, L'\u043a'));
    udb_record r = make_record({{col, ole_variant(5)}});
    rs->append_record(r);
    rs->finish();
    rs.reset();
    EXPECT_EQ(side_scalar("SELECT * FROM \"" + tk_wide_to_utf8(tname) + "\""), "5");
}

}  // namespace
