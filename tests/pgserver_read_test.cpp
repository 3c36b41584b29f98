#include "pgs_exception.h"
#include "pgserver_support.h"
#include "tk_unicode.h"

#include <algorithm>
#include <string>

namespace {

using read_server = pgs_server_test;

TEST_F(read_server, FiveColumnTable)
{
    create_dest().reset();
    side_exec("CREATE TABLE t5 (id serial primary key, name varchar(40) not null default 'x', price numeric(10,2), "
              "born date, flag boolean); CREATE UNIQUE INDEX u_name ON t5 (name); CREATE INDEX i_price ON t5 (price)");
    connect_postgres();
    auto db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
    auto rs = db->get_table(L"public.t5", 8);
    ASSERT_EQ(rs->schema.size(), 5u);
    EXPECT_EQ(rs->schema[0]->vartype, VT_I4);
    EXPECT_TRUE(rs->schema[0]->b_autoincrement);
    EXPECT_EQ(rs->schema[1]->vartype, VT_BSTR);
    EXPECT_EQ(rs->schema[1]->size, 40u);
    EXPECT_TRUE(rs->schema[1]->b_not_null);
    EXPECT_EQ(rs->schema[1]->default_value.to_wstring(), L"x");
    EXPECT_EQ(rs->schema[2]->vartype, VT_DECIMAL);
    EXPECT_EQ(rs->schema[2]->reserved, 2562u);
    EXPECT_EQ(rs->schema[3]->vartype, VT_DATE);
    EXPECT_EQ(rs->schema[3]->reserved, 2u);
    EXPECT_EQ(rs->schema[4]->vartype, VT_BOOL);
    ASSERT_EQ(rs->indexes.size(), 2u);  // the unique index is not read
    EXPECT_TRUE(rs->indexes[0].b_primary);
    EXPECT_EQ(rs->indexes[0].columns, std::vector<std::wstring>{L"id"});
    EXPECT_EQ(rs->indexes[1].name, L"i_price");
    EXPECT_EQ(rs->n_u_index, 0);

    auto light = db->get_table(L"public.t5", 97);
    EXPECT_EQ(light->schema.size(), 5u);
    EXPECT_TRUE(light->indexes.empty());
}

// Each date and time column is read back with the kind its values are
// written in; a zone-bearing one takes its instants as UTC.
TEST_F(read_server, DateAndTimeKinds)
{
    create_dest().reset();
    side_exec("CREATE TABLE dt (a timestamp, b timestamp with time zone, c date, d time)");
    connect_postgres();
    auto db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
    auto rs = db->get_table(L"public.dt", 8);
    ASSERT_EQ(rs->schema.size(), 4u);
    const std::uint32_t kinds[] = {t_ftd::date_and_time, t_ftd::date_time_utc, t_ftd::date_only, t_ftd::time_only};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rs->schema[i]->vartype, VT_DATE) << i;
        EXPECT_EQ(rs->schema[i]->reserved, kinds[i]) << i;
    }
}

// Values are read back as the writer gives them: a date before year 1 with
// its negative year, an instant as its UTC time, in a session whose zone
// has a half-hour offset.
TEST_F(read_server, EarlyDatesAndInstantsReadBackInAnySessionZone)
{
    create_dest().reset();
    side_exec("CREATE TABLE early (k int, t timestamp, i timestamp with time zone, d date, h time); "
              "INSERT INTO early VALUES "
              "(1, '0044-03-15 12:30:00.25 BC', '2024-03-10 07:30:00+00', '4712-01-01 BC', '10:11:12'), "
              "(2, '0001-12-31 23:59:59 BC', '2000-01-01 00:00:00+00', '0001-01-01', '00:00:00'), "
              "(3, '2024-03-10 07:30:00', '0044-03-15 12:30:00+00 BC', '2024-02-29', '23:59:59.5')");
    tk_test::scoped_env tz("PGTZ", "Asia/Kolkata");
    connect_postgres();
    auto db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
    auto rs = db->get_table(L"public.early", 8);
    rs->reset();
    std::vector<std::string> got;
    while (!rs->is_eof()) {
        udb_record* r = rs->get_item();
        ASSERT_NE(r, nullptr);
        std::string line;
        for (std::size_t c = 1; c < r->size(); ++c) {
            const t_systemtime& t = (*r)[c].get_time();
            line += std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day) + " " +
                    std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second) + "." +
                    std::to_string(t.microsecond) + (c + 1 < r->size() ? "|" : "");
        }
        got.push_back(std::to_string((*r)[0].get_i4()) + " " + line);
        rs->next();
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{
                       "1 -44-3-15 12:30:0.250000|2024-3-10 7:30:0.0|-4712-1-1 0:0:0.0|0-0-0 10:11:12.0",
                       "2 -1-12-31 23:59:59.0|2000-1-1 0:0:0.0|1-1-1 0:0:0.0|0-0-0 0:0:0.0",
                       "3 2024-3-10 7:30:0.0|-44-3-15 12:30:0.0|2024-2-29 0:0:0.0|0-0-0 23:59:59.500000"}));
}

TEST_F(read_server, ForeignKeys)
{
    create_dest().reset();
    side_exec("CREATE SCHEMA other; CREATE TABLE other.far (id int primary key); "
              "CREATE TABLE parent (id int primary key); "
              "CREATE TABLE child (id int, pid int REFERENCES parent(id) ON DELETE CASCADE, "
              "fid int REFERENCES other.far(id)); INSERT INTO parent VALUES (1), (2)");
    connect_postgres();
    auto db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
    auto rs = db->get_table(L"public.child", 8);
    ASSERT_EQ(db->relationships.size(), 1u);
    const t_relationship& r = db->relationships[0];
    EXPECT_EQ(r.rule, L"ON DELETE CASCADE ");
    EXPECT_EQ(r.pk_table, L"public.parent");
    EXPECT_EQ(r.fk_fields, std::vector<std::wstring>{L"pid"});
    EXPECT_EQ(r.pk_fields, std::vector<std::wstring>{L"id"});
    EXPECT_EQ(rs->rec_count, 0);
    auto parent = db->get_table(L"public.parent", 97);
    EXPECT_EQ(parent->rec_count, 2);
}

TEST_F(read_server, NamesWithApostrophesAreRead)
{
    create_dest().reset();
    side_exec("CREATE SCHEMA \"o's\"; CREATE TABLE \"o's\".\"t'x\" (\"a'b\" int)");
    connect_postgres();
    auto db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
    EXPECT_TRUE(db->is_table_exist(L"o's.t'x"));
    auto rs = db->get_table(L"o's.t'x", 8);
    ASSERT_EQ(rs->schema.size(), 1u);
    EXPECT_EQ(rs->schema[0]->name, L"a'b");
}

TEST_F(read_server, CursorBlocksAndValues)
{
    create_dest().reset();
    side_exec("CREATE TABLE many (id int); INSERT INTO many SELECT generate_series(1, 25000); "
              "CREATE TABLE vals (d timestamp, b boolean, bin bytea, \"q\"\"n\" text)");
    side_exec("INSERT INTO vals VALUES ('2022-06-02 08:45:40.346', true, '\\x00ff', 'a\"b'), (NULL, false, NULL, NULL)");
    connect_postgres();
    auto db = engine->open_db(tk_utf8_to_unicode(db_name), 40, L"");
    auto rs = db->get_table(L"public.many", 8);
    rs->reset();
    long long sum = 0;
    int rows = 0;
    while (!rs->is_eof()) {
        udb_record* r = rs->get_item();
        ASSERT_NE(r, nullptr);
        sum += (*r)[0].get_i4();
        ++rows;
        rs->next();
    }
    EXPECT_EQ(rows, 25000);
    EXPECT_EQ(sum, 25000LL * 25001 / 2);
    EXPECT_EQ(rs->get_item(), nullptr);
    rs.reset();
    EXPECT_EQ(engine->get_open_work(), 0);

    auto v = db->get_table(L"public.vals", 8);
    v->reset();
    udb_record* r = v->get_item();
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->size(), 4u);
    EXPECT_EQ((*r)[0].get_vt(), VT_DATE);
    EXPECT_EQ((*r)[0].get_time().microsecond, 346000);
    EXPECT_EQ((*r)[1].get_bool(), -1);
    EXPECT_EQ((*r)[2].get_bytes(), (std::vector<std::uint8_t>{0x00, 0xFF}));
    EXPECT_EQ((*r)[3].get_bstr(), L"a\"b");
    v->next();
    r = v->get_item();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ((*r)[0].get_vt(), VT_EMPTY);
    EXPECT_EQ((*r)[2].get_vt(), VT_EMPTY);
}

}  // namespace
