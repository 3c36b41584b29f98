#include "pgs_exception.h"
#include "pgserver_support.h"
#include "tk_unicode.h"

#include <random>
#include <string>

namespace {

using copy_server = pgs_server_test;

TEST_F(copy_server, OddNamesInADottedDatabaseLoadAndReadBack)
{
    dbs_to_drop.push_back(db_name + ".x");
    auto db = engine->create_db(tk_utf8_to_unicode(db_name + ".x"));
    source_table t;
    t.add(L"A.B", VT_I4);
    t.add(L"x\"y", VT_BSTR, 20);
    t.add(L"Order/Date", VT_DATE, 0, false, false, ole_variant(), 1);
    auto rs = db->create_table(L"public.Odd", t.schema, t.indexes);
    ASSERT_EQ(rs->schema.size(), 3u);
    EXPECT_EQ(rs->schema[1]->name, L"x_y");
    // Fields in another order and letter case than the table's columns.
    udb_record r = make_record({{L"Order/Date", ole_variant(L"2022-06-02 08:45:40.346906")},
                                {L"x\"y", ole_variant(L"a\tb\nc\r\\")},
                                {L"a.b", ole_variant(7)}});
    rs->append_record(r);
    EXPECT_EQ(r[0].name, L"Order/Date");  // the caller's names stay
    rs->finish();
    rs.reset();
    EXPECT_EQ(side_scalar("SELECT \"a.b\" || '|' || encode(convert_to(x_y, 'UTF8'), 'hex') || '|' || order_date "
                          "FROM odd",
                          db_name + ".x"),
              "7|6109620a630d5c|2022-06-02 08:45:40.346906");
}

TEST_F(copy_server, RefusedCopyIsReportedAndTheNextTableLoads)
{
    auto db = create_dest();
    side_exec("CREATE TABLE public.dup (id int PRIMARY KEY); INSERT INTO dup VALUES (1)");
    db.reset();
    connect_postgres();
    db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
    struct refusal {
        const char* what;
        std::wstring table;
        VARTYPE vt;
        bool not_null;
        ole_variant value;
    };
    const std::vector<refusal> cases = {
        {"NULL into NOT NULL", L"public.nn", VT_I4, true, ole_variant()},
        {"invalid numeric", L"public.bad_num", VT_BSTR, false, ole_variant(L"12abc")},
        {"duplicate key", L"public.dup", VT_I4, false, ole_variant(1)},
    };
    int n = 0;
    for (const auto& c : cases) {
        source_table t;
        t.add(L"id", c.vt, 10, c.not_null);
        auto rs = db->create_table(c.table, t.schema, t.indexes);
        if (c.table == L"public.bad_num") {
            // A numeric column that receives text it cannot read.
            rs.reset();
            side_exec("ALTER TABLE bad_num ALTER COLUMN id TYPE numeric USING NULL");
            rs = db->get_table(c.table, 8);
            const_cast<t_ftd*>(rs->schema[0])->vartype = VT_BSTR;
        }
        udb_record r = make_record({{L"id", c.value}});
        rs->append_record(r);
        try {
            rs->finish();
            ADD_FAILURE() << c.what;
        } catch (const pgs_exception& e) {
            EXPECT_EQ(e.level, 0);
            EXPECT_EQ(std::string(e.what()).rfind("ERROR:  ", 0), 0u) << e.what();
        }
        rs.reset();
        const std::string table = tk_wide_to_utf8(c.table);
        EXPECT_EQ(side_scalar("SELECT count(*) FROM " + table), c.table == L"public.dup" ? "1" : "0") << c.what;
        source_table ok;
        ok.add(L"v", VT_I4);
        const std::wstring next = L"public.next" + std::to_wstring(n++);
        auto rs2 = db->create_table(next, ok.schema, ok.indexes);
        udb_record r2 = make_record({{L"v", ole_variant(5)}});
        rs2->append_record(r2);
        rs2->finish();
        rs2.reset();
        EXPECT_EQ(side_scalar("SELECT v FROM " + tk_wide_to_utf8(next)), "5") << c.what;
    }
}

TEST_F(copy_server, RenamedColumnsAreFilled)
{
    auto db = create_dest();
    source_table t;
    t.add(L"id", VT_I4);
    t.add(L"ID", VT_I4);
    t.add(L"Order/Date", VT_BSTR, 10);
    t.indexes.push_back(udb_index(L"pk", true, true, {L"ID"}));
    auto rs = db->create_table(L"public.ids", t.schema, t.indexes);
    for (int i = 0; i < 3; ++i) {
        udb_record r = make_record({{L"id", ole_variant(i)}, {L"ID", ole_variant(10 + i)}, {L"Order/Date", ole_variant(L"x")}});
        rs->append_record(r);
    }
    rs->finish();
    rs.reset();
    // The key, after the rows.
    EXPECT_TRUE(db->build_next_index(L"public.ids"));
    EXPECT_FALSE(db->build_next_index(L"public.ids"));
    EXPECT_EQ(side_scalar("SELECT string_agg(id || ':' || id00000 || ':' || order_date, ',' ORDER BY id) FROM ids"),
              "0:10:x,1:11:x,2:12:x");
    EXPECT_EQ(side_scalar("SELECT a.attname FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid JOIN pg_attribute "
                          "a ON a.attrelid = c.oid AND a.attnum = ANY(i.indkey) WHERE c.relname = 'ids'"),
              "id00000");
}

TEST_F(copy_server, ManyRowsAreOneCopyInOneTransaction)
{
    auto db = create_dest();
    source_table t;
    t.add(L"id", VT_I4);
    t.add(L"name", VT_BSTR, 30);
    std::vector<std::string> log;
    auto rs = db->create_table(L"public.big", t.schema, t.indexes);
    engine->set_statement_log(&log);
    udb_record r = make_record({{L"id", ole_variant(0)}, {L"name", ole_variant(L"")}});
    for (int i = 0; i < 200000; ++i) {
        r[0] = ole_variant(i);
        r[1] = ole_variant(L"row " + std::to_wstring(i));
        rs->append_record(r);
    }
    EXPECT_EQ(side_scalar("SELECT count(*) FROM big"), "0");
    rs->finish();
    engine->set_statement_log(nullptr);
    rs.reset();
    EXPECT_EQ(log, std::vector<std::string>{"COPY \"public\".\"big\" FROM STDIN"});
    EXPECT_EQ(side_scalar("SELECT count(*) || '|' || count(DISTINCT xmin::text) || '|' || max(name) FROM big "
                          "WHERE name = 'row ' || id"),
              "200000|1|row 99999");
}

TEST_F(copy_server, NoRowsOpenNoCopy)
{
    auto db = create_dest();
    source_table t;
    t.add(L"id", VT_I4);
    auto rs = db->create_table(L"public.empty", t.schema, t.indexes);
    std::vector<std::string> log;
    engine->set_statement_log(&log);
    rs->finish();
    rs.reset();
    engine->set_statement_log(nullptr);
    EXPECT_TRUE(log.empty());
}

TEST_F(copy_server, ReleasingWithoutFinishCommits)
{
    auto db = create_dest();
    source_table t;
    t.add(L"id", VT_I4);
    auto rs = db->create_table(L"public.rel", t.schema, t.indexes);
    udb_record r = make_record({{L"id", ole_variant(3)}});
    rs->append_record(r);
    rs.reset();
    EXPECT_EQ(side_scalar("SELECT id FROM rel"), "3");
    EXPECT_EQ(engine->get_open_work(), 0);
}

TEST_F(copy_server, BadDatesAreReportedAndTheOtherRowsLoad)
{
    auto db = create_dest();
    source_table t;
    t.add(L"id", VT_I4);
    t.add(L"d", VT_DATE, 0, false, false, ole_variant(), 1);
    auto rs = db->create_table(L"public.dates", t.schema, t.indexes);
    auto when = [](int y, int mo, int d, int h) {
        t_systemtime s;
        s.year = y, s.month = mo, s.day = d, s.hour = h;
        return s;
    };
    const std::vector<t_systemtime> values = {when(2024, 2, 30, 0), when(2024, 1, 2, 24), when(0, 0, 0, 0),
                                              when(2024, 1, 2, 5)};
    int reported = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        udb_record r = make_record({{L"id", ole_variant(static_cast<int>(i))}, {L"d", ole_variant(values[i])}});
        try {
            rs->append_record(r);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 0);
            ++reported;
        }
    }
    rs->finish();
    rs.reset();
    EXPECT_EQ(reported, 2);
    EXPECT_EQ(side_scalar("SELECT string_agg(id || '=' || coalesce(d::text, 'null'), ',' ORDER BY id) FROM dates"),
              "2=null,3=2024-01-02 05:00:00");
}

// Instants and dates before year 1 keep their values by COPY, by INSERT,
// by UPDATE and as a column's DEFAULT, also when they arrive as text, in a
// session whose zone is not UTC (a whole and a half-hour offset).
TEST_F(copy_server, InstantsAndEarlyDatesArriveInAnySessionZone)
{
    auto db = create_dest();
    db.reset();
    auto when = [](int y, int mo, int d, int h, int mi, int s) { return tk_test::systemtime(y, mo, d, h, mi, s, 0); };
    struct value_row {
        ole_variant instant, timestamp, day;
    };
    const std::vector<value_row> values = {
        {ole_variant(when(2024, 3, 10, 7, 30, 0)), ole_variant(when(2024, 3, 10, 7, 30, 0)),
         ole_variant(when(2024, 3, 10, 0, 0, 0))},
        {ole_variant(when(2000, 1, 1, 0, 0, 0)), ole_variant(when(2000, 1, 1, 0, 0, 0)),
         ole_variant(when(1, 1, 1, 0, 0, 0))},
        {ole_variant(L"2024-07-01 20:00:00"), ole_variant(L"2024-07-01 20:00:00"), ole_variant(L"2024-07-01")},
        {ole_variant(when(-44, 3, 15, 12, 30, 0)), ole_variant(when(-1, 12, 31, 23, 59, 59)),
         ole_variant(when(-4712, 1, 1, 0, 0, 0))},
        {ole_variant(L"0001-01-01 00:00:00 BC"), ole_variant(L"0044-03-15 12:30:00 BC"),
         ole_variant(L"4712-01-01 BC")},
    };
    const std::string expected =
        "0|2024-03-10 07:30:00+00|2024-03-10 07:30:00|2024-03-10,"
        "1|2000-01-01 00:00:00+00|2000-01-01 00:00:00|0001-01-01,"
        "2|2024-07-01 20:00:00+00|2024-07-01 20:00:00|2024-07-01,"
        "3|0044-03-15 12:30:00+00 BC|0001-12-31 23:59:59 BC|4712-01-01 BC,"
        "4|0001-01-01 00:00:00+00 BC|0044-03-15 12:30:00 BC|4712-01-01 BC,"
        "99|2000-01-01 00:00:00+00|0044-03-15 12:30:00 BC|<null>";
    const std::string select = "SET TimeZone = 'UTC'; SET DateStyle = 'ISO'; SELECT string_agg(k || '|' || "
                               "coalesce(i::text, '<null>') || '|' || coalesce(t::text, '<null>') || '|' || "
                               "coalesce(d::text, '<null>'), ',' ORDER BY k) FROM ";
    auto record = [&](std::size_t i) {
        return make_record({{L"k", ole_variant(static_cast<int>(i))},
                            {L"i", values[i].instant},
                            {L"t", values[i].timestamp},
                            {L"d", values[i].day}});
    };
    int n = 0;
    for (const char* zone : {"Asia/Kolkata", "America/New_York"}) {
        tk_test::scoped_env tz("PGTZ", zone);
        connect_postgres();
        ASSERT_EQ(engine_scalar("SHOW TimeZone"), zone);
        db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
        for (bool bulk : {true, false}) {
            SCOPED_TRACE(std::string(zone) + (bulk ? " by COPY" : " by INSERT"));
            engine->bulk_copy = bulk;
            const std::string name = "public.z" + std::to_string(n++);
            source_table t;
            t.add(L"k", VT_I4, 0, true);
            t.add(L"i", VT_DATE, 0, false, false, ole_variant(L"2000-01-01 00:00:00"), t_ftd::date_time_utc);
            t.add(L"t", VT_DATE, 0, false, false, ole_variant(L"0044-03-15 12:30:00 BC"), t_ftd::date_and_time);
            t.add(L"d", VT_DATE, 0, false, false, ole_variant(), t_ftd::date_only);
            t.indexes.push_back(udb_index(L"pk", false, true, {L"k"}));
            auto rs = db->create_table(tk_utf8_to_unicode(name), t.schema, t.indexes);
            for (std::size_t i = 0; i < values.size(); ++i) {
                udb_record r = record(i);
                rs->append_record(r);
            }
            rs->finish();
            // The key the UPDATE goes by, built after the rows.
            EXPECT_TRUE(db->build_next_index(tk_utf8_to_unicode(name)));
            engine->bulk_copy = true;
            side_exec("INSERT INTO " + name + " (k) VALUES (99)");
            EXPECT_EQ(side_scalar(select + name), expected);

            // UPDATE by the key writes the same texts: the table opened
            // again, as a merge opens it, with the key it now has.
            rs.reset();
            rs = db->get_table(tk_utf8_to_unicode(name), 8);
            side_exec("UPDATE " + name + " SET i = NULL, t = NULL, d = NULL WHERE k < 99");
            for (std::size_t i = 0; i < values.size(); ++i) {
                udb_record r = record(i);
                rs->update(r);
            }
            rs.reset();
            EXPECT_EQ(side_scalar(select + name), expected) << "after UPDATE";
        }
        db.reset();
    }
}

TEST_F(copy_server, ValuesArriveExactlyByCopyAndByInsert)
{
    auto db = create_dest();
    source_table t;
    t.add(L"r4", VT_R4);
    t.add(L"r8", VT_R8);
    t.add(L"n", VT_DECIMAL);
    t.add(L"ts", VT_DATE, 0, false, false, ole_variant(), 1);
    t.add(L"bin", VT_BLOB);
    t.add(L"k", VT_I4);
    ole_decimal d38;
    ASSERT_EQ(ole_decimal::parse("12345678901234567890123456789012345678", d38), ole_number_status::ok);
    std::mt19937 gen(7);
    std::vector<std::uint8_t> mib(1 << 20);
    for (auto& b : mib)
        b = static_cast<std::uint8_t>(gen());
    struct row {
        float r4;
        double r8;
        std::vector<std::uint8_t> bin;
    };
    const std::vector<row> rows = {
        {0.1f, 0.1, {0x00, 0xFF}},
        {3.56789f, 3.56789, {}},
        {std::numeric_limits<float>::infinity(), 1e300, mib},
        {-std::numeric_limits<float>::infinity(), std::numeric_limits<double>::denorm_min(), {1}},
        {std::nanf(""), -std::numeric_limits<double>::infinity(), {2}},
    };
    for (bool bulk : {true, false}) {
        engine->bulk_copy = bulk;
        const std::wstring table = bulk ? L"public.v_copy" : L"public.v_insert";
        auto rs = db->create_table(table, t.schema, t.indexes);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            t_systemtime ts;
            ts.year = 2022, ts.month = 6, ts.day = 2, ts.hour = 8, ts.minute = 45, ts.second = 40;
            ts.microsecond = 346906;
            udb_record r = make_record({{L"r4", ole_variant(rows[i].r4)},
                                        {L"r8", ole_variant(rows[i].r8)},
                                        {L"n", ole_variant(d38)},
                                        {L"ts", ole_variant(ts)},
                                        {L"bin", ole_variant(rows[i].bin)},
                                        {L"k", ole_variant(static_cast<int>(i))}});
            rs->append_record(r);
        }
        rs->finish();
        rs.reset();
        engine->bulk_copy = true;
        const std::string name = tk_wide_to_utf8(table);
        EXPECT_EQ(side_scalar("SET extra_float_digits = 1; SELECT string_agg(r4::text || '/' || r8::text, ',' ORDER "
                              "BY k) FROM " + name),
                  "0.1/0.1,3.56789/3.56789,Infinity/1e+300,-Infinity/5e-324,NaN/-Infinity")
            << name;
        EXPECT_EQ(side_scalar("SELECT count(*) FROM " + name +
                              " WHERE n = 12345678901234567890123456789012345678 AND ts = "
                              "'2022-06-02 08:45:40.346906'"),
                  "5");
        EXPECT_EQ(side_scalar("SELECT string_agg(coalesce(md5(bin), 'null'), ',' ORDER BY k) FROM " + name),
                  side_scalar("SELECT md5('\\x00ff'::bytea) || ',' || md5(''::bytea) || ',' || md5(decode('" +
                              tk_bin_to_hex(mib.data(), mib.size()) + "', 'hex')) || ',' || md5('\\x01'::bytea) || "
                              "',' || md5('\\x02'::bytea)"))
            << name;
    }
}

}  // namespace
