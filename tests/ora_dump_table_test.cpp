// The dump table as a recordset: the classic initialisation over INSERT
// blocks and the cursor over their rows, on dumps the writer made (the
// positions come from the writer, not from a scan).
#include "ora_dump_reader_th.h"
#include "ora_dump_reader_th_10.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "ora_dump_writer.h"
#include "ora_dump_writer_rows.h"
#include "ora_dump_writer_table.h"
#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ora_rows::block_spec;
using ora_rows::bytes;
using ora_rows::entry;
using ora_rows::row;

const std::string header_token = "EXPORT:V12.01.00";
const std::string create_sql = "CREATE TABLE \"T\" (\"ID\" NUMBER(9, 0), \"NAME\" VARCHAR2(20))  PCTFREE 10";
const std::string insert_id_name = "INSERT INTO \"T\" (\"ID\", \"NAME\") VALUES (:1, :2)";
const std::string insert_name_id = "INSERT INTO \"T\" (\"NAME\", \"ID\") VALUES (:1, :2)";

// The field descriptions of (ID, NAME) and of (NAME, ID).
bytes desc_id_name()
{
    return ora_rows::description_gen9({entry(2, 22), entry(1, 20)}, 10, {});
}
bytes desc_name_id()
{
    return ora_rows::description_gen9({entry(1, 20), entry(2, 22)}, 10, {});
}

bytes row_id_name(int id, const std::wstring& name)
{
    return row().value(ora_rows::number(std::to_string(id))).value(ora_rows::text(name)).gap().data();
}
bytes row_name_id(const std::wstring& name, int id)
{
    return row().value(ora_rows::text(name)).value(ora_rows::number(std::to_string(id))).gap().data();
}

block_spec block_id_name(const std::vector<std::pair<int, std::wstring>>& rows)
{
    block_spec b;
    b.insert_sql = insert_id_name;
    b.description = desc_id_name();
    for (const auto& r : rows)
        b.rows.push_back(row_id_name(r.first, r.second));
    return b;
}
block_spec block_name_id(const std::vector<std::pair<int, std::wstring>>& rows)
{
    block_spec b;
    b.insert_sql = insert_name_id;
    b.description = desc_name_id();
    for (const auto& r : rows)
        b.rows.push_back(row_name_id(r.second, r.first));
    return b;
}

// A table that can be made to fail in the middle of its initialisation.
class seam_table : public ora_dump_table {
public:
    using ora_dump_table::ora_dump_table;
    bool throw_foreign = false;
    std::size_t kept() const { return m_lst_records.size(); }

protected:
    void on_insert_block(std::int64_t) override
    {
        if (throw_foreign)
            throw std::runtime_error("seam");
    }
};

// One dump of one table "T", its stream, decoder and table.
struct table_case {
    ora_dump_writer writer;
    ora_rows::dump_offsets offsets;
    table_pos pos;
    std::unique_ptr<ora_dump_stream> stream;
    std::unique_ptr<ora_dump_reader_th> decoder;
    std::unique_ptr<seam_table> table;

    explicit table_case(const std::vector<block_spec>& blocks, const std::vector<bytes>& trailing = {})
    {
        ora_dump_writer::header_fields h;
        h.header_token = header_token;
        ora_rows::table_spec t;
        t.name = "T";
        t.create_sql = create_sql;
        t.blocks = blocks;
        offsets = ora_rows::write_dump(writer, h, {t});
        for (const bytes& b : trailing)
            writer.raw(b);
        pos = ora_rows::table_position(offsets.tables.at(0));
        stream = std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_memory_source>(writer.data()));
        decoder = ora_dump_reader_th::create(12, header_token);
        table = std::make_unique<seam_table>(nullptr, false, L"T");
        // The columns are given here, so that these cases do not depend on
        // the DDL parser; it keeps the first of two equal names.
        table->add_owned_column(std::make_unique<t_orcale_ftd>(4, t_orcale_ftd::ora_number, L"ID", VT_I4));
        table->add_owned_column(std::make_unique<t_orcale_ftd>(20, t_orcale_ftd::ora_varchar2, L"NAME", VT_BSTR));
    }

    bool init(const std::string& header = header_token)
    {
        return table->init(stream.get(), pos, decoder.get(), header);
    }

    // The row as "ID|NAME"; "-" for a missing record, "!" and the message
    // for a failure.
    std::string item()
    {
        try {
            udb_record* r = table->get_item();
            if (!r)
                return "-";
            std::string out;
            for (std::size_t i = 0; i < r->size(); ++i) {
                if (i)
                    out += '|';
                const std::wstring w = (*r)[i].get_vt() == VT_EMPTY || (*r)[i].get_vt() == VT_NULL
                                           ? std::wstring(L"null")
                                           : (*r)[i].to_wstring();
                out += std::string(w.begin(), w.end());
            }
            return out;
        } catch (const tk_exception& e) {
            return "!" + std::string(e.what());
        }
    }

    // Every row in the driver's loop.
    std::vector<std::string> walk(std::size_t guard = 1000)
    {
        std::vector<std::string> rows;
        table->reset();
        while (!table->is_eof() && rows.size() < guard) {
            rows.push_back(item());
            table->next();
        }
        return rows;
    }
};

std::vector<std::pair<int, std::wstring>> numbered(int from, int to)
{
    std::vector<std::pair<int, std::wstring>> rows;
    for (int i = from; i <= to; ++i)
        rows.push_back({i, L"r" + std::to_wstring(i)});
    return rows;
}

using rows_t = std::vector<std::string>;

TEST(ora_dump_table, two_blocks_change_the_column_names_at_the_boundary)
{
    table_case c({block_id_name({{1, L"a"}, {2, L"b"}}), block_name_id({{3, L"c"}})});
    ASSERT_TRUE(c.init());
    ASSERT_EQ(c.table->partitions().size(), 2u);
    EXPECT_EQ(c.table->partitions()[0].field_names, (std::vector<std::wstring>{L"ID", L"NAME"}));
    EXPECT_EQ(c.table->partitions()[1].field_names, (std::vector<std::wstring>{L"NAME", L"ID"}));
    EXPECT_EQ(c.table->partitions()[0].position, c.offsets.tables[0].blocks[0].rows[0]);
    EXPECT_EQ(c.table->partitions()[1].position, c.offsets.tables[0].blocks[1].rows[0]);
    EXPECT_EQ(c.table->start_pos(), c.offsets.tables[0].blocks[0].rows[0]);

    c.table->reset();
    EXPECT_EQ(c.decoder->field_names(), (std::vector<std::wstring>{L"ID", L"NAME"}));
    EXPECT_EQ(c.item(), "1|a");
    c.table->next();
    EXPECT_EQ(c.item(), "2|b");
    c.table->next();
    EXPECT_EQ(c.decoder->field_names(), (std::vector<std::wstring>{L"NAME", L"ID"}));
    // Records keep the schema's order whatever the INSERT's order.
    EXPECT_EQ(c.item(), "3|c");
    c.table->next();
    EXPECT_TRUE(c.table->is_eof());
    EXPECT_EQ(c.walk(), (rows_t{"1|a", "2|b", "3|c"}));
}

TEST(ora_dump_table, init_leaves_the_stream_where_it_was_and_counts_from_the_record_base)
{
    table_case c({block_id_name({{1, L"a"}, {2, L"b"}})});
    c.pos.record_base = 40;
    c.stream->seek(7);
    ASSERT_TRUE(c.init());
    EXPECT_EQ(c.stream->tell(), 7);
    EXPECT_EQ(c.table->rec_count, 40);
    c.table->reset();
    c.item();
    c.table->next();
    EXPECT_EQ(c.table->rec_count, 41);
}

TEST(ora_dump_table, blocks_that_start_with_the_end_marker_are_not_recorded)
{
    block_spec empty = block_id_name({});
    {
        table_case c({empty, block_id_name({{1, L"a"}}), empty});
        ASSERT_TRUE(c.init());
        EXPECT_EQ(c.table->partitions().size(), 1u);
        EXPECT_EQ(c.walk(), (rows_t{"1|a"}));
    }
    {
        table_case c({empty, empty});
        ASSERT_TRUE(c.init());
        EXPECT_TRUE(c.table->partitions().empty());
        c.table->reset();
        EXPECT_TRUE(c.table->is_eof());
        EXPECT_TRUE(c.decoder->field_names().empty());
        EXPECT_THROW(c.table->get_item(), tk_exception);
        EXPECT_THROW(c.table->next(), tk_exception);
    }
    {
        table_case c({});
        ASSERT_TRUE(c.init());
        c.table->reset();
        EXPECT_TRUE(c.table->is_eof());
    }
}

TEST(ora_dump_table, the_end_and_the_first_row_are_out_of_range)
{
    table_case c({block_id_name(numbered(1, 2))});
    ASSERT_TRUE(c.init());
    c.table->reset();
    try {
        c.table->prev();
        FAIL() << "prev on the first row";
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Out of recordset range.");
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(c.walk(), (rows_t{"1|r1", "2|r2"}));
    for (auto step : {+[](ora_dump_table& t) { t.next(); }, +[](ora_dump_table& t) { t.get_item(); }}) {
        try {
            step(*c.table);
            FAIL() << "a step at the end";
        } catch (const tk_exception& e) {
            EXPECT_STREQ(e.what(), "Out of recordset range.");
            EXPECT_EQ(e.level, 1);
        }
    }
    // From the end, prev goes back to the last row.
    c.table->prev();
    EXPECT_EQ(c.item(), "2|r2");
}

TEST(ora_dump_table, prev_goes_back_four_rows_after_ten_steps)
{
    table_case c({block_id_name(numbered(1, 15))});
    ASSERT_TRUE(c.init());
    c.table->reset();
    for (int i = 0; i < 10; ++i) {
        c.item();
        c.table->next();
    }
    EXPECT_EQ(c.item(), "11|r11");
    EXPECT_LE(c.table->kept(), 6u);
    for (int i = 10; i >= 7; --i) {
        c.table->prev();
        EXPECT_EQ(c.item(), std::to_string(i) + "|r" + std::to_string(i));
        EXPECT_EQ(c.stream->tell(), c.offsets.tables[0].blocks[0].rows[static_cast<std::size_t>(i - 1)]);
    }
    EXPECT_THROW(c.table->prev(), tk_exception);
    // Forward again over the kept positions and on into unread rows.
    for (int i = 8; i <= 15; ++i) {
        c.table->next();
        EXPECT_EQ(c.item(), std::to_string(i) + "|r" + std::to_string(i));
    }
    c.table->next();
    EXPECT_TRUE(c.table->is_eof());
}

TEST(ora_dump_table, get_item_twice_decodes_twice_and_keeps_the_stream)
{
    table_case c({block_id_name({{1, L"a"}, {2, L"b"}})});
    ASSERT_TRUE(c.init());
    c.table->reset();
    c.stream->seek(3);
    udb_record* first = c.table->get_item();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(c.stream->tell(), 3);
    EXPECT_EQ((*first)[0].to_wstring(), L"1");
    // The second call replaces the first record; compare its values only.
    udb_record* second = c.table->get_item();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(c.stream->tell(), 3);
    EXPECT_EQ((*second)[0].to_wstring(), L"1");
    EXPECT_EQ((*second)[1].to_wstring(), L"a");
    c.table->next();
    EXPECT_EQ(c.item(), "2|b");
}

TEST(ora_dump_table, next_without_get_item_still_walks_every_row)
{
    table_case c({block_id_name(numbered(1, 3)), block_name_id(numbered(4, 5))});
    ASSERT_TRUE(c.init());
    c.table->reset();
    int steps = 0;
    while (!c.table->is_eof() && steps < 100) {
        c.table->next();
        ++steps;
    }
    EXPECT_EQ(steps, 5);
    c.table->reset();
    c.table->next();
    c.table->next();
    c.table->next();
    EXPECT_EQ(c.item(), "4|r4");
}

TEST(ora_dump_table, the_header_text_chooses_the_classic_path)
{
    // Ignoring case.
    for (const char* header : {"EXPORT:V12.01.00", "export:V12.01.00", "Export:v10"}) {
        table_case c({block_id_name({{1, L"a"}})});
        EXPECT_TRUE(c.init(header)) << header;
        EXPECT_FALSE(c.table->is_datapump());
        EXPECT_EQ(c.walk(), (rows_t{"1|a"})) << header;
    }
    // Any other header is a Data Pump dump, which these bytes are not.
    for (const char* header : {"\x04\x01 pump", "EXPORT"}) {
        table_case c({block_id_name({{1, L"a"}})});
        bool taken = false;
        try {
            taken = c.init(header);
        } catch (const tk_exception&) {
        }
        EXPECT_FALSE(taken) << header;
    }
}

TEST(ora_dump_table, a_missing_stream_or_decoder_is_an_internal_error)
{
    table_case c({block_id_name({{1, L"a"}})});
    EXPECT_THROW(c.table->init(nullptr, c.pos, c.decoder.get(), header_token), tk_mail_assertion);
    EXPECT_THROW(c.table->init(c.stream.get(), c.pos, nullptr, header_token), tk_mail_assertion);
}

TEST(ora_dump_table, damaged_insert_lines_fail_the_initialisation)
{
    struct line_case {
        const char* what;
        std::string sql;
    };
    const std::vector<line_case> cases = {
        {"no ( after INTO", "INSERT INTO \"T\" VALUES (:1, :2)"},
        {"no INTO", "INSERT \"T\" (\"ID\", \"NAME\") VALUES (:1, :2)"},
        {"no VALUES (", "INSERT INTO \"T\" (\"ID\", \"NAME\")"},
        // The words inside a quoted name are not the statement's.
        {"quoted VALUES (", "INSERT INTO \"T\" (\"ID\", \"VALUES (\")"},
    };
    for (const line_case& lc : cases) {
        block_spec b = block_id_name({{1, L"a"}});
        b.insert_sql = lc.sql;
        table_case c({b});
        c.stream->seek(5);
        EXPECT_FALSE(c.init()) << lc.what;
        EXPECT_EQ(c.stream->tell(), 5) << lc.what;
    }
}

TEST(ora_dump_table, insert_searches_stay_on_their_line)
{
    // The INSERT line lacks "VALUES (", and the binary bytes after it hold
    // one: the searches must not run into them.
    block_spec b = block_id_name({});
    b.insert_sql = "INSERT INTO \"T\" (\"ID\", \"NAME\")";
    std::string tail = "xx VALUES (\"A\") ";
    b.rows.push_back(row().value(bytes(tail.begin(), tail.end())).data());
    table_case c({b});
    EXPECT_FALSE(c.init());
    // Nor does a line without a line feed before the table's end.
    table_case cut({block_id_name({{1, L"a"}})});
    cut.pos.end_pos = cut.offsets.tables[0].blocks[0].insert + 10;
    EXPECT_FALSE(cut.init());
}

TEST(ora_dump_table, an_insert_without_quoted_names_is_refused)
{
    block_spec b = block_id_name({{1, L"a"}, {2, L"b"}});
    b.insert_sql = "INSERT INTO \"T\" (A, B) VALUES (:1, :2)";
    table_case c({b});
    c.stream->seek(9);
    try {
        c.init();
        FAIL() << "an INSERT without names was accepted";
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Cannot parse the list of fields in the INSERT statement");
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(c.stream->tell(), 9);
}

TEST(ora_dump_table, a_block_keeps_the_column_list_of_the_one_before_when_it_names_none)
{
    block_spec second = block_id_name({{2, L"b"}});
    second.insert_sql = "INSERT INTO \"T\" () VALUES ()";
    table_case c({block_id_name({{1, L"a"}}), second});
    ASSERT_TRUE(c.init());
    ASSERT_EQ(c.table->partitions().size(), 2u);
    EXPECT_EQ(c.table->partitions()[1].field_names, (std::vector<std::wstring>{L"ID", L"NAME"}));
    EXPECT_EQ(c.walk(), (rows_t{"1|a", "2|b"}));
}

TEST(ora_dump_table, a_failing_get_item_restores_the_stream_and_the_next_row_reads)
{
    // An invalid NUMBER (a level-0 value failure) and a row cut by the end
    // of the table's section.
    block_spec b = block_id_name({{1, L"a"}});
    b.rows.push_back(row().value(ora_rows::hex("C1 65")).value(ora_rows::text(L"bad")).gap().data());
    b.rows.push_back(row_id_name(3, L"c"));
    table_case c({b});
    ASSERT_TRUE(c.init());
    c.table->reset();
    EXPECT_EQ(c.item(), "1|a");
    c.table->next();
    c.stream->seek(11);
    try {
        c.table->get_item();
        FAIL() << "the invalid number was read";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_NE(std::string(e.what()).find("Unexpected data at position"), std::string::npos) << e.what();
    }
    EXPECT_EQ(c.stream->tell(), 11);
    EXPECT_TRUE(c.stream->good());
    c.table->next();
    EXPECT_EQ(c.item(), "3|c");
    c.table->next();
    EXPECT_TRUE(c.table->is_eof());
}

TEST(ora_dump_table, a_failed_stream_is_cleared_after_get_item)
{
    table_case c({block_id_name({{1, L"a"}})});
    ASSERT_TRUE(c.init());
    c.table->reset();
    c.stream->seek(c.stream->size() + 10);  // marks it failed
    ASSERT_TRUE(c.stream->failed());
    EXPECT_EQ(c.item(), "1|a");
    EXPECT_TRUE(c.stream->good());
}

TEST(ora_dump_table, a_missing_record_moves_on_to_the_next_block)
{
    // FF FF before the last column in the middle of the first block: the
    // rows after it cannot be found, the second block's can.
    block_spec first = block_id_name({{1, L"a"}});
    first.rows.push_back(row().value(ora_rows::number("2")).length(0xFFFF).data());
    first.rows.push_back(row_id_name(9, L"lost"));
    // 00 00 as a length in the second block.
    block_spec second = block_name_id({{3, L"c"}});
    second.rows.push_back(row().value(ora_rows::text(L"d")).length(0).data());
    second.rows.push_back(row_name_id(L"lost", 9));
    block_spec third = block_id_name({{5, L"e"}});
    table_case c({first, second, third});
    ASSERT_TRUE(c.init());
    EXPECT_EQ(c.walk(), (rows_t{"1|a", "-", "3|c", "-", "5|e"}));
}

TEST(ora_dump_table, a_row_running_past_the_section_ends_its_block)
{
    // A length beyond what remains of the table: a framing failure.
    block_spec first = block_id_name({{1, L"a"}});
    first.rows.push_back(row().value(ora_rows::number("2")).length(0x7000).data());
    table_case c({first, block_name_id({{3, L"c"}})});
    ASSERT_TRUE(c.init());
    const rows_t rows = c.walk();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "1|a");
    EXPECT_EQ(rows[1].substr(0, 1), "!");
    EXPECT_EQ(rows[2], "3|c");
}

// A decoder that reads a row without consuming a byte, as a row of no
// columns would.
class standing_decoder : public ora_dump_reader_th_10 {
public:
    std::unique_ptr<udb_record> get_record(ora_dump_stream& stream, const udb_schema&, std::int64_t,
                                           std::int64_t& next_pos) override
    {
        next_pos = stream.tell();
        return std::make_unique<udb_record>();
    }
};

TEST(ora_dump_table, a_next_position_that_does_not_advance_ends_the_block)
{
    table_case c({block_id_name(numbered(1, 3)), block_name_id({{4, L"d"}})});
    c.decoder = std::make_unique<standing_decoder>();
    ASSERT_TRUE(c.init());
    const rows_t rows = c.walk();
    EXPECT_EQ(rows.size(), 2u);  // one row of each block, no endless loop
}

TEST(ora_dump_table, a_foreign_failure_in_the_initialisation_is_a_table_failure)
{
    table_case c({block_id_name({{1, L"a"}})});
    c.table->throw_foreign = true;
    c.stream->seek(6);
    try {
        c.init();
        FAIL() << "the failure was swallowed";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
    }
    EXPECT_EQ(c.stream->tell(), 6);
    EXPECT_TRUE(c.stream->good());
}

TEST(ora_dump_table, reset_returns_to_the_first_row_after_many_steps)
{
    table_case c({block_id_name(numbered(1, 8)), block_name_id(numbered(9, 14))});
    ASSERT_TRUE(c.init());
    c.table->reset();
    for (int i = 0; i < 10; ++i) {
        c.item();
        c.table->next();
    }
    EXPECT_EQ(c.item(), "11|r11");
    c.table->reset();
    EXPECT_EQ(c.stream->tell(), c.offsets.tables[0].blocks[0].rows[0]);
    EXPECT_EQ(c.decoder->field_names(), (std::vector<std::wstring>{L"ID", L"NAME"}));
    EXPECT_EQ(c.item(), "1|r1");
    rows_t expected;
    for (int i = 1; i <= 14; ++i)
        expected.push_back(std::to_string(i) + "|r" + std::to_string(i));
    EXPECT_EQ(c.walk(), expected);
}

TEST(ora_dump_table, prev_across_a_block_boundary_takes_the_earlier_column_list)
{
    table_case c({block_id_name({{1, L"a"}, {2, L"b"}}), block_name_id({{3, L"c"}})});
    ASSERT_TRUE(c.init());
    c.table->reset();
    c.item();
    c.table->next();
    c.item();
    c.table->next();
    EXPECT_EQ(c.item(), "3|c");
    c.table->prev();
    EXPECT_EQ(c.decoder->field_names(), (std::vector<std::wstring>{L"ID", L"NAME"}));
    EXPECT_EQ(c.item(), "2|b");
    c.table->next();
    EXPECT_EQ(c.item(), "3|c");
}

TEST(ora_dump_table, tables_sharing_a_decoder_read_with_their_own_lists)
{
    table_case c({block_id_name({{1, L"a"}, {2, L"b"}})});
    ASSERT_TRUE(c.init());
    // A second table of another column order on the same stream and decoder.
    auto other = std::make_unique<ora_dump_table>(nullptr, false, L"T");
    other->add_owned_column(std::make_unique<t_orcale_ftd>(4, t_orcale_ftd::ora_number, L"ID", VT_I4));
    other->add_owned_column(std::make_unique<t_orcale_ftd>(20, t_orcale_ftd::ora_varchar2, L"NAME", VT_BSTR));
    table_case d({block_name_id({{7, L"x"}})});
    // The second table's bytes are another dump; only the decoder is shared.
    ASSERT_TRUE(other->init(d.stream.get(), d.pos, c.decoder.get(), header_token));
    c.table->reset();
    other->reset();
    EXPECT_EQ(c.item(), "1|a");
    udb_record* r = other->get_item();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ((*r)[0].to_wstring(), L"7");
    c.table->next();
    EXPECT_EQ(c.item(), "2|b");
}

TEST(ora_dump_table, section_bounds_from_a_damaged_context)
{
    {
        // An end beyond the dump reads up to the dump's end.
        table_case c({block_id_name({{1, L"a"}})});
        c.pos.end_pos = c.stream->size() + 1000;
        ASSERT_TRUE(c.init());
        EXPECT_EQ(c.table->end_pos(), c.stream->size());
        EXPECT_EQ(c.walk(), (rows_t{"1|a"}));
    }
    for (std::int64_t start : {std::int64_t{-5}, std::int64_t{1} << 40}) {
        table_case c({block_id_name({{1, L"a"}})});
        c.pos.start_pos = start;
        EXPECT_FALSE(c.init());
    }
    {
        table_case c({block_id_name({{1, L"a"}})});
        c.pos.v_data_start_pos.push_back(c.stream->size() + 7);
        EXPECT_FALSE(c.init());
    }
}

TEST(ora_dump_table, the_live_counter_follows_the_table)
{
    std::atomic<int> live{0};
    {
        ora_dump_table a(nullptr, false, L"A");
        a.set_live_counter(&live);
        EXPECT_EQ(live.load(), 1);
        {
            ora_dump_table b(nullptr, true, L"B");
            b.set_live_counter(&live);
            EXPECT_TRUE(b.native_types());
            EXPECT_EQ(live.load(), 2);
        }
        EXPECT_EQ(live.load(), 1);
    }
    EXPECT_EQ(live.load(), 0);
}

TEST(ora_dump_table, insert_names_are_every_quoted_name_in_the_dump_text)
{
    ora_dump_table t(nullptr, false, L"T");
    EXPECT_EQ(t.get_fields_names("\"A\", \"b c\",\"\xE9\")"), (std::vector<std::wstring>{L"A", L"b c", L"\u00E9"}));
    EXPECT_EQ(t.get_fields_names("\"A\", \"B"), (std::vector<std::wstring>{L"A"}));
    EXPECT_THROW(t.get_fields_names("A, B"), tk_exception);
    EXPECT_THROW(t.get_fields_names(""), tk_exception);

    // In the database character set of the dump.
    table_case c({block_id_name({{1, L"a"}})});
    dump_info utf8;
    utf8.charset_class = 1;
    c.decoder->set_dump_info(utf8);
    ASSERT_TRUE(c.init());
    EXPECT_EQ(c.table->get_fields_names("(\"\xC3\x89T\xC3\xA9\")"), (std::vector<std::wstring>{L"\u00C9T\u00E9"}));
}

TEST(ora_dump_table, find_delimeter_stops_at_the_limit_and_keeps_the_position)
{
    table_case c({block_id_name({{1, L"a"}})});
    ASSERT_TRUE(c.init());
    const std::int64_t line = c.offsets.tables[0].create;
    const std::int64_t lf = c.offsets.tables[0].blocks[0].insert;  // after the CREATE line's LF
    c.stream->seek(line);
    EXPECT_EQ(c.table->find_delimeter(), lf);
    EXPECT_EQ(c.stream->tell(), line);
    EXPECT_EQ(c.table->find_delimeter(lf), lf);
    EXPECT_EQ(c.table->find_delimeter(lf - 1), -1);
    EXPECT_EQ(c.stream->tell(), line);
    c.stream->seek(c.stream->size());
    EXPECT_EQ(c.table->find_delimeter(), -1);
}

TEST(ora_dump_table, damaged_bytes_give_reader_failures_and_the_walk_ends)
{
    block_spec first = block_id_name({{1, L"a"}, {2, L"bb"}});
    block_spec second = block_name_id({{3, L"c"}});
    const table_case base({first, second});
    const bytes original = base.writer.data();
    const std::int64_t from = base.offsets.tables[0].create;

    auto run = [&](const bytes& data, const std::string& what) {
        table_case c({first, second});
        c.stream = std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_memory_source>(data));
        bool ready = false;
        try {
            ready = c.init();
        } catch (const tk_exception& e) {
            ASSERT_LT(e.level, 2) << what << ": " << e.what();
        }
        if (!ready)
            return;
        c.table->reset();
        std::size_t rows = 0;
        while (!c.table->is_eof()) {
            ASSERT_LE(++rows, data.size()) << what;
            try {
                c.table->get_item();
            } catch (const tk_exception& e) {
                ASSERT_LT(e.level, 2) << what << ": " << e.what();
                if (e.level == 1)
                    return;
            }
            try {
                c.table->next();
            } catch (const tk_exception& e) {
                ASSERT_EQ(e.level, 1) << what << ": " << e.what();
                return;
            }
        }
    };
    for (std::size_t cut = static_cast<std::size_t>(from); cut < original.size(); ++cut)
        run(bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(cut)), "cut " + std::to_string(cut));
    for (std::size_t i = static_cast<std::size_t>(from); i < original.size(); ++i) {
        for (std::uint8_t v : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0xFE},
                               static_cast<std::uint8_t>(original[i] ^ 0x80)}) {
            bytes data = original;
            data[i] = v;
            run(data, "byte " + std::to_string(i) + " = " + std::to_string(v));
        }
    }
}

}  // namespace
