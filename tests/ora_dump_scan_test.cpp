#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"

#include "error_handler.h"
#include "ora_dump_scan_fixtures.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer.h"
#include "recording_front_end.h"
#include "table_pos.h"
#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

using ora_dump_test::level0_source;
using scan_fixtures::dump;

std::string describe(const ora_table_map& tables)
{
    std::ostringstream out;
    for (const auto& [key, t] : tables) {
        out << tk_wide_to_utf8(key) << ": " << t.start_pos << "->" << t.end_pos << " data{";
        for (auto p : t.v_data_start_pos)
            out << p << " ";
        out << "} index{";
        for (const auto& r : t.index_records)
            out << r.start << "," << r.end << "," << r.unique << " ";
        out << "} alter{";
        for (const auto& a : t.alters)
            out << a.first << "," << a.second << " ";
        out << "}";
        if (!t.v_data_end_pos.empty() || !t.v_block_end_pos.empty() || !t.str_full_name.empty() || t.record_base)
            out << " (Data Pump fields set)";
        out << "\n";
    }
    return out.str();
}

// Samples the reader's progress whenever the stream fetches bytes.
class progress_probe : public ora_dump_source {
public:
    progress_probe(std::unique_ptr<ora_dump_source> inner, int& max_progress)
        : inner(std::move(inner)), max_progress(max_progress)
    {
    }
    std::int64_t size() const override { return inner->size(); }
    std::int64_t read_at(std::int64_t offset, void* buffer, std::size_t count) override
    {
        max_progress = std::max(max_progress, ora_dump_reader::instance()->get_progress());
        return inner->read_at(offset, buffer, count);
    }

private:
    std::unique_ptr<ora_dump_source> inner;
    int& max_progress;
};

std::vector<std::uint8_t> real_bytes(const std::string& name)
{
    std::ifstream in(std::string(VELC_REAL_DATA_DIR) + "/" + name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool real_data_present()
{
    return std::filesystem::exists(std::string(VELC_REAL_DATA_DIR) + "/classic_v12_exptest.dmp");
}

class scan : public tk_test::logger_fixture {
protected:
    scan()
    {
        reader.set_log_sink([this](ora_log_kind k, const std::string& t) {
            (k == ora_log_kind::warning ? warnings : shown).push_back(t);
        });
    }

    struct result {
        ora_table_map tables;
        bool complete = false;
        int max_progress = -2;
        std::uint64_t bytes_read = 0;
    };

    result run(std::unique_ptr<ora_dump_source> source, std::int64_t body, std::int64_t dump_length, bool merge,
               std::size_t window)
    {
        result r;
        warnings.clear();
        shown.clear();
        reader.reset_dump_state();
        reader.set_ui_progress(0);
        reader.info.dump_length = dump_length;
        reader.merge_schema = merge;
        ora_dump_stream stream(std::make_unique<progress_probe>(std::move(source), r.max_progress), window);
        seek_to_pos(stream, body);
        // The rows are stepped over as the open does it, by a decoder of the
        // writer's generation.
        std::unique_ptr<ora_dump_reader_th> rows = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
        reader.find_ora_objects(stream, r.tables, r.complete, rows.get());
        r.max_progress = std::max(r.max_progress, reader.get_progress());
        r.bytes_read = stream.bytes_read();
        return r;
    }

    result run(const dump& d, std::size_t window)
    {
        return run(std::make_unique<ora_dump_memory_source>(d.bytes), d.body, d.dump_length, d.merge, window);
    }

    recording_front_end fe{recording_front_end::mode::console};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
    std::vector<std::string> warnings, shown;
};

TEST_F(scan, writer_made_dumps)
{
    for (const auto& c : scan_fixtures::cases()) {
        dump d = c.make();
        for (std::size_t window : {ora_dump_stream::default_window, std::size_t(64)}) {
            SCOPED_TRACE(std::string(c.name) + ", window " + std::to_string(window));
            result r = run(d, window);
            EXPECT_EQ(describe(r.tables), describe(d.expected));
            EXPECT_TRUE(r.complete);
            EXPECT_EQ(warnings, d.warnings);
            // Only the opening itself reports 99 or 100.
            EXPECT_LE(r.max_progress, 98);
            EXPECT_GE(r.max_progress, 0);
        }
    }
    EXPECT_TRUE(fe.calls.empty() || fe.effects().empty());
}

TEST_F(scan, shows_each_table_and_alter_it_reads)
{
    ora_dump_writer w;
    std::int64_t body = scan_fixtures::start(w);
    table_pos t;
    scan_fixtures::section(w, "EMP", "USERS", t);
    dump d = scan_fixtures::finish(w, body);
    run(d, ora_dump_stream::default_window);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Read table 'EMP' at position " + std::to_string(t.start_pos));
    EXPECT_EQ(shown[1], "Read ALTER section for table 'EMP' at position: " + std::to_string(t.alters[0].first));
    EXPECT_NE(log_text().find("Read table 'EMP' at position"), std::string::npos);
}

TEST_F(scan, a_failing_source_inside_a_create_table_line_reports_and_ends)
{
    ora_dump_writer w;
    std::int64_t body = scan_fixtures::start(w);
    table_pos a, b;
    scan_fixtures::section(w, "A", "", a);
    std::int64_t create_b = w.line(scan_fixtures::create_table("\"B\"", "USERS"));
    w.line("INSERT INTO \"B\" (\"ID\") VALUES (:1)");
    dump d = scan_fixtures::finish(w, body);
    for (std::int64_t fail_at : {create_b + 70, create_b + 20}) {
        SCOPED_TRACE(fail_at);
        auto source = std::make_unique<ora_dump_failing_source>(std::make_unique<ora_dump_memory_source>(d.bytes),
                                                                fail_at);
        fe.calls.clear();
        try {
            run(std::move(source), d.body, d.dump_length, false, 16);
            ADD_FAILURE() << "the level-1 failure did not end the program";
        } catch (const front_end_exit& e) {
            EXPECT_EQ(e.code, -1);
        }
        EXPECT_EQ(reader.get_progress(), -1);
        bool reported = false;
        for (const auto& call : fe.calls)
            reported |= call.text.find("Something went wrong when searching a string in the file") != std::string::npos;
        EXPECT_TRUE(reported);
        EXPECT_NE(log_text().find("Couldn't read dump file"), std::string::npos);
    }
}

TEST_F(scan, a_continued_failure_keeps_what_was_found_but_is_not_complete)
{
    ora_dump_writer w;
    std::int64_t body = scan_fixtures::start(w);
    table_pos a, b;
    scan_fixtures::section(w, "A", "", a);
    std::int64_t second = w.offset();
    scan_fixtures::section(w, "B", "", b);
    dump d = scan_fixtures::finish(w, body);

    // Console: a level-0 failure is printed and the scan goes on to its end
    // steps with the tables found so far.
    result r = run(std::make_unique<level0_source>(d.bytes, second + 2), d.body, d.dump_length, false, 16);
    EXPECT_FALSE(r.complete);
    a.end_pos = d.dump_length;
    ora_table_map expected{{L"A", a}};
    EXPECT_EQ(describe(r.tables), describe(expected));
    ASSERT_FALSE(fe.effects().empty());
    EXPECT_NE(fe.effects().back().find("A passing failure"), std::string::npos);
}

class scan_in_the_wizard : public tk_test::home_fixture {
protected:
    recording_front_end fe{recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
};

TEST_F(scan_in_the_wizard, abort_passes_through)
{
    ora_dump_writer w;
    std::int64_t body = scan_fixtures::start(w);
    table_pos a, b;
    scan_fixtures::section(w, "A", "", a);
    std::int64_t fail_at = w.offset();
    scan_fixtures::section(w, "B", "", b);
    fe.answers.push_back(continue_answer{true, false});
    reader.info.dump_length = w.offset();
    ora_dump_stream stream(std::make_unique<level0_source>(w.data(), fail_at), 16);
    seek_to_pos(stream, body);
    ora_table_map tables;
    bool complete = true;
    EXPECT_THROW(reader.find_ora_objects(stream, tables, complete), tk_final_exception);
    EXPECT_FALSE(complete);
}

TEST_F(scan, real_classic_dump)
{
    if (!real_data_present())
        GTEST_SKIP() << "no real dumps at " << VELC_REAL_DATA_DIR;
    std::vector<std::uint8_t> bytes = real_bytes("classic_v12_exptest.dmp");
    ASSERT_EQ(bytes.size(), 24576u);
    // The header's end: the five line feeds end at 0x2E, then the six
    // character-set bytes, the marker and the 8-byte declared length.
    ASSERT_EQ(bytes[0x2E], '\n');
    const unsigned char db_set[2] = {bytes[0x31], bytes[0x32]}, national[2] = {bytes[0x33], bytes[0x34]};
    EXPECT_EQ(reader.get_cp(db_set, false), 0);
    EXPECT_EQ(reader.get_cp(national, true), 2);
    EXPECT_EQ(reader.info.dump_code_page, 1252);
    EXPECT_EQ(bytes[0x35], 0x00);
    EXPECT_EQ(bytes[0x36], 0x01);

    auto expected = [](const std::wstring& prefix) {
        ora_table_map m;
        auto put = [&](const wchar_t* name, std::int64_t s, std::int64_t e, std::int64_t data) -> table_pos& {
            table_pos& t = m[prefix + name];
            t.start_pos = s;
            t.end_pos = e;
            t.v_data_start_pos = {data};
            return t;
        };
        put(L"IGNORE", 9168, 9805, 9300);
        put(L"IGNORE2", 9821, 10511, 9978);
        table_pos& t1 = put(L"TABLE1", 10526, 15101, 11128);
        t1.index_records = {{11613, 11812, true}};
        t1.alters = {{11947, 12180}};
        table_pos& t2 = put(L"TABLE2", 15116, 18127, 15405);
        t2.index_records = {{15577, 15776, true}};
        t2.alters = {{15911, 16144}};
        return m;
    };
    for (bool merge : {false, true}) {
        for (std::size_t window : {ora_dump_stream::default_window, std::size_t(64)}) {
            SCOPED_TRACE(std::to_string(merge) + ", window " + std::to_string(window));
            result r = run(std::make_unique<ora_dump_file_source>(std::string(VELC_REAL_DATA_DIR) +
                                                                  "/classic_v12_exptest.dmp"),
                           63, 24576, merge, window);
            EXPECT_TRUE(r.complete);
            EXPECT_EQ(describe(r.tables), describe(expected(merge ? L"EXPTEST." : L"")));
            EXPECT_TRUE(warnings.empty());
            EXPECT_LE(r.max_progress, 98);
        }
    }
    // The tables come in dump order.
    result r = run(std::make_unique<ora_dump_memory_source>(bytes), 63, 24576, false, 4096);
    std::vector<std::pair<std::int64_t, std::wstring>> order;
    for (const auto& [key, t] : r.tables)
        order.emplace_back(t.start_pos, key);
    std::sort(order.begin(), order.end());
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0].second, L"IGNORE");
    EXPECT_EQ(order[1].second, L"IGNORE2");
    EXPECT_EQ(order[2].second, L"TABLE1");
    EXPECT_EQ(order[3].second, L"TABLE2");
}

TEST(dump_writer, reproduces_the_real_classic_dump)
{
    if (!real_data_present())
        GTEST_SKIP() << "no real dumps at " << VELC_REAL_DATA_DIR;
    std::vector<std::uint8_t> real = real_bytes("classic_v12_exptest.dmp");
    ASSERT_EQ(real.size(), 24576u);

    ora_dump_writer w;
    const std::uint16_t six[3] = {0x0001, 0x00B2, 0x07D0};
    EXPECT_EQ(w.header(0x030001, "EXPORT:V12.01.00", "DSYSTEM", "RUSERS", {"8192", "0", "72", "0"}, six, 0x0001, 0),
              0);
    ASSERT_GE(w.data().size(), 63u);
    EXPECT_EQ(std::vector<std::uint8_t>(w.data().begin(), w.data().begin() + 63),
              std::vector<std::uint8_t>(real.begin(), real.begin() + 63));
    const std::uint8_t tail[] = {0x00, 0x01, 0x00, 0xB2, 0x07, 0xD0, 0x00, 0x01,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::vector<std::uint8_t>(w.data().begin() + 47, w.data().begin() + 63),
              std::vector<std::uint8_t>(std::begin(tail), std::end(tail)));

    ora_dump_writer s;
    EXPECT_EQ(s.line("TABLE \"IGNORE\""), 0);
    EXPECT_EQ(s.line("CREATE TABLE \"IGNORE\" (\"COLUMN1\" VARCHAR2(20))  PCTFREE 10 PCTUSED 40 INITRANS 1 MAXTRANS "
                     "255 TABLESPACE \"USERS\" LOGGING NOCOMPRESS"),
              9168 - 9153);
    EXPECT_EQ(s.line("INSERT INTO \"IGNORE\" (\"COLUMN1\") VALUES (:1)"), 9300 - 9153);
    EXPECT_EQ(s.block_gen10({{1, 20, {0xB2, 0x00, 0x01, 0x00}}}, {}), 9345 - 9153);
    s.raw("\n");
    EXPECT_EQ(s.data(), std::vector<std::uint8_t>(real.begin() + 9153, real.begin() + 9362));
    const std::uint8_t block[] = {0x01, 0x00, 0x01, 0x00, 0x14, 0x00, 0xB2, 0x00,
                                  0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};
    EXPECT_EQ(std::vector<std::uint8_t>(s.data().begin() + 192, s.data().begin() + 208),
              std::vector<std::uint8_t>(std::begin(block), std::end(block)));

    ora_dump_writer b;
    b.block_gen10({{1, 20, {0xB2, 0x00, 0x01, 0x00}}, {1, 21, {0xB2, 0x00, 0x01, 0x00}}}, {});
    const std::uint8_t block2[] = {0x02, 0x00, 0x01, 0x00, 0x14, 0x00, 0xB2, 0x00, 0x01, 0x00, 0x01, 0x00,
                                   0x15, 0x00, 0xB2, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};
    EXPECT_EQ(b.data(), std::vector<std::uint8_t>(std::begin(block2), std::end(block2)));
    EXPECT_EQ(b.data(), std::vector<std::uint8_t>(real.begin() + 10039, real.begin() + 10039 + 24));
}

TEST_F(scan, a_multi_megabyte_dump_is_read_about_once)
{
    std::mt19937 rng(11);
    ora_dump_writer w;
    std::int64_t body = scan_fixtures::start(w);
    dump d;
    std::string previous;
    for (int i = 0; i < 48; ++i) {
        // Row data of random bytes: line feeds at their usual density, and
        // sizes that put table sections across every kind of window seam.
        std::vector<std::uint8_t> rows(40000 + rng() % 90000);
        for (auto& b : rows)
            b = static_cast<std::uint8_t>(rng());
        std::string name = "T" + std::to_string(i);
        table_pos t;
        std::int64_t at = w.offset();
        scan_fixtures::section(w, name, i % 3 ? "USERS" : "", t, true, &rows);
        if (!previous.empty())
            d.expected[tk_utf8_to_wide(previous)].end_pos = at;
        d.expected[tk_utf8_to_wide(name)] = t;
        previous = name;
    }
    dump f = scan_fixtures::finish(w, body);
    d.bytes = f.bytes;
    d.body = body;
    d.dump_length = f.dump_length;
    d.expected[tk_utf8_to_wide(previous)].end_pos = d.dump_length;
    ASSERT_GT(d.bytes.size(), 3u * ora_dump_stream::default_window);

    for (std::size_t window : {ora_dump_stream::default_window, std::size_t(64)}) {
        SCOPED_TRACE(window);
        result r = run(d, window);
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(describe(r.tables), describe(d.expected));
        if (window == ora_dump_stream::default_window) {
            EXPECT_LE(r.bytes_read, d.bytes.size() + 2 * window);
        }
    }
}

}  // namespace
