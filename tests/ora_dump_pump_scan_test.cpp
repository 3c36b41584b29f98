// The Data Pump header, the reading of stored metadata documents and the
// scan for tables, on writer-made dumps and on the real Data Pump dump.
#include "ora_dump_pump_scan.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer_pump.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace {

using ora_pump::bytes;
using ora_pump::column;

std::string describe(const ora_table_map& tables)
{
    std::ostringstream out;
    auto list = [&](const std::vector<std::int64_t>& l) {
        std::string s;
        for (std::size_t i = 0; i < l.size(); ++i)
            s += (i ? "," : "") + std::to_string(l[i]);
        return s;
    };
    for (const auto& [key, t] : tables)
        out << tk_wide_to_utf8(key) << " " << tk_wide_to_utf8(t.str_full_name) << " " << t.start_pos << " "
            << t.end_pos << " [" << list(t.v_data_start_pos) << "] [" << list(t.v_data_end_pos) << "] ["
            << list(t.v_block_end_pos) << "]\n";
    return out.str();
}

const std::vector<column> dept_columns = {
    {"DEPTNO", 2, 22, 2, 0, 0, true},
    {"DNAME", 1, 14, {}, {}, 873},
    {"LOC", 1, 13, {}, {}, 873},
};

bytes dept_row(int no, const std::string& name, const std::string& loc)
{
    return ora_pump::record({ora_pump::value(ora_rows::number(std::to_string(no))),
                             ora_pump::value(ora_rows::text(tk_utf8_to_wide(name), 65001)),
                             ora_pump::value(ora_rows::text(tk_utf8_to_wide(loc), 65001))});
}

std::string real_path(const std::string& name)
{
    return std::string(VELC_REAL_DATA_DIR) + "/" + name;
}

class pump_scan : public tk_test::logger_fixture {
protected:
    pump_scan()
    {
        reader.set_log_sink([this](ora_log_kind, const std::string& t) { shown.push_back(t); });
    }

    struct result {
        ora_dump_file::context context;
        std::uint64_t bytes_read = 0;
        bool header_ok = false;
        std::optional<int> exit_code;
    };

    // Header and scan, as the opening runs them.
    std::unique_ptr<result> run(std::unique_ptr<ora_dump_source> source, bool merge = false,
                                std::size_t window = ora_dump_stream::default_window)
    {
        auto r = std::make_unique<result>();
        shown.clear();
        reader.reset_dump_state();
        reader.merge_schema = merge;
        auto stream = std::make_shared<ora_dump_stream>(std::move(source), window);
        try {
            ora_dump_pump::header h;
            r->header_ok = ora_dump_pump::read_header(reader, *stream, h);
            if (r->header_ok) {
                reader.m_datapump = true;
                reader.info.dump_length = stream->size();
                r->context.export_header = h.export_header;
                ora_dump_pump::scan(reader, *stream, r->context, h);
            }
        } catch (const front_end_exit& e) {
            r->exit_code = e.code;
        }
        r->bytes_read = stream->bytes_read();
        return r;
    }
    std::unique_ptr<result> run(const bytes& b, bool merge = false,
                                std::size_t window = ora_dump_stream::default_window)
    {
        return run(std::make_unique<ora_dump_memory_source>(b), merge, window);
    }

    recording_front_end fe{recording_front_end::mode::console};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
    std::vector<std::string> shown;
};

// --- header -----------------------------------------------------------------

TEST_F(pump_scan, header_bytes_decide_what_is_read)
{
    struct header_case {
        std::uint8_t major, minor;
        std::uint16_t part;
        std::uint8_t flags;
        int message;  // -1: accepted
        bool thrown;  // raised to the caller rather than reported
    };
    const header_case cases[] = {
        {4, 1, 0, 0x02, -1, false}, {5, 1, 0, 0x02, -1, false}, {6, 1, 0, 0x02, 0, false},
        {5, 2, 0, 0x02, 0, false},  {1, 2, 0, 0x02, 0, false},
        {4, 1, 1, 0x02, -1, false}, {4, 1, 0x0100, 0, 13, false}, {4, 1, 0, 0x22, -1, false},
        {4, 1, 0, 0x04, 17, true},  {4, 1, 0, 0x06, 17, true},  {4, 1, 0, 0x40, 18, true},
        {4, 1, 0, 0x60, 18, true},  {4, 1, 0, 0x66, 17, true},  {0, 1, 0, 0x00, -1, false},
    };
    for (const header_case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.major) << "." << int(c.minor) << " part " << c.part << " flags "
                                        << int(c.flags));
        ora_pump::header_fields f;
        f.major = c.major;
        f.minor = c.minor;
        f.part = c.part;
        f.flags = c.flags;
        fe.calls.clear();
        if (c.thrown) {
            try {
                run(ora_pump::header(f));
                ADD_FAILURE() << "not refused";
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.level, 1);
                EXPECT_EQ(e.message, ora_dump_reader::message(c.message));
            }
            continue;
        }
        auto r = run(ora_pump::header(f));
        if (c.message < 0) {
            EXPECT_TRUE(r->header_ok);
            EXPECT_FALSE(r->exit_code);
            EXPECT_TRUE(r->context.complete);
            EXPECT_EQ(reader.info.charset_class, 1);
            EXPECT_EQ(shown.at(0), "Dump file version: " + std::to_string(c.major) + ".1 (expdp)\n");
            EXPECT_EQ(shown.at(1), "Dump charset: 1\n");
        } else {
            EXPECT_FALSE(r->header_ok);
            EXPECT_EQ(r->exit_code, -1);
            EXPECT_EQ(reader.get_progress(), -1);
            ASSERT_FALSE(fe.calls.empty());
            const auto effects = fe.effects();
            EXPECT_NE(std::find(effects.begin(), effects.end(),
                                std::string("write_err(Error:\n") + ora_dump_reader::message(c.message) + "\n)"),
                      effects.end());
        }
    }
}

TEST_F(pump_scan, short_file_is_refused_not_read_past_its_end)
{
    bytes b = ora_pump::header(ora_pump::header_fields());
    b.resize(40);
    auto r = run(b);
    EXPECT_FALSE(r->header_ok);
    EXPECT_EQ(r->exit_code, -1);
    EXPECT_EQ(reader.get_progress(), -1);
    EXPECT_EQ(r->context.tables.size(), 0u);
}

TEST_F(pump_scan, header_text_is_the_charset_bytes)
{
    ora_pump::header_fields f;
    f.charset_id = 0x0369;
    ora_dump_stream s(std::make_unique<ora_dump_memory_source>(ora_pump::header(f)));
    ora_dump_pump::header h;
    ASSERT_TRUE(ora_dump_pump::read_header(reader, s, h));
    EXPECT_EQ(h.export_header, "\x03i");
    f.charset_id = 0x00B2;  // a zero first byte ends the text at once
    ora_dump_stream s2(std::make_unique<ora_dump_memory_source>(ora_pump::header(f)));
    ASSERT_TRUE(ora_dump_pump::read_header(reader, s2, h));
    EXPECT_EQ(h.export_header, "");
    EXPECT_EQ(reader.info.charset_class, 0);
}

// --- extract_xml ----------------------------------------------------------------

std::string extracted(const bytes& file, std::int64_t start, std::int64_t end, bool* ok = nullptr)
{
    ora_dump_stream s(std::make_unique<ora_dump_memory_source>(file));
    bytes out;
    bool r = ora_dump_pump::extract_xml(s, start, end, static_cast<std::int64_t>(file.size()), out);
    if (ok)
        *ok = r;
    return std::string(out.begin(), out.end());
}

TEST(pump_extract, stored_forms_give_the_text_and_two_zeros)
{
    const std::string xml = ora_pump::strmtable_doc("SCOTT", "DEPT", dept_columns);
    struct form_case {
        const char* name;
        std::vector<ora_pump::chunk> chunks;
    };
    const form_case cases[] = {
        {"one piece", {}},
        {"01 FE", {{1, 100}}},
        {"03 01 FE", {{3, 100}}},
        {"06 01 FE", {{6, 50}, {6, 60}}},
        {"mixed", {{1, 10}, {3, 20}, {6, 30}}},
        // The last chunk short of a header's size must still be read.
        {"last chunk of 1", {{1, xml.size() - 1}, {1, 1}}},
        {"last chunk of 3", {{6, xml.size() - 3}, {6, 3}}},
        // Many 5-byte headers: each counts its own size.
        {"ten 5-byte headers", std::vector<ora_pump::chunk>(10, ora_pump::chunk{6, 40})},
    };
    for (const form_case& c : cases) {
        SCOPED_TRACE(c.name);
        ora_pump::document_form form;
        form.chunks = c.chunks;
        bytes file(30, 0);
        const bytes stored = ora_pump::stored_document(xml, form);
        file.insert(file.end(), stored.begin(), stored.end());
        const std::int64_t end = static_cast<std::int64_t>(file.size());
        file.insert(file.end(), 20, 0x3C);  // nothing after the end is taken
        bool ok = false;
        EXPECT_EQ(extracted(file, 30, end, &ok), xml + std::string(2, '\0'));
        EXPECT_TRUE(ok);
    }
}

TEST(pump_extract, bad_bounds_and_headers_are_refused)
{
    const std::string xml = ora_pump::strmtable_doc("SCOTT", "DEPT", dept_columns);
    bytes file(10, 0);
    const bytes stored = ora_pump::stored_document(xml, ora_pump::document_form());
    file.insert(file.end(), stored.begin(), stored.end());
    const std::int64_t end = static_cast<std::int64_t>(file.size());
    auto refused = [&](const bytes& f, std::int64_t start, std::int64_t stop) {
        try {
            extracted(f, start, stop);
        } catch (const tk_exception& e) {
            return e.level == 1 && e.message == ora_dump_reader::message(0);
        }
        return false;
    };
    EXPECT_TRUE(refused(file, 10, end + 1));        // past the file's end
    EXPECT_TRUE(refused(file, 10, 13));             // no room for a prefix
    EXPECT_TRUE(refused(file, 10, 5));              // an end before the start
    EXPECT_TRUE(refused(file, -4, 40));             // a negative start
    EXPECT_TRUE(refused(file, 0, std::int64_t(1) << 40));
    bytes bad = file;
    bad[10] = 0x03;
    bad[11] = 0x01;
    bad[12] = 0x00;  // 03 01 not followed by FE
    EXPECT_TRUE(refused(bad, 10, end));
    bad[10] = 0x06;
    EXPECT_TRUE(refused(bad, 10, end));
    EXPECT_FALSE(refused(file, 10, 14));  // an empty text is fine
}

// --- the scan ---------------------------------------------------------------------

TEST_F(pump_scan, positions_of_a_stream_table_and_its_rows)
{
    // '<' at 1000, closing tags ending at 5000, the first record at 5008.
    ora_pump::writer w;
    w.zeros(996 - static_cast<std::size_t>(w.offset()));
    std::string xml = ora_pump::strmtable_doc("SCOTT", "DEPT", dept_columns);
    const std::size_t pad = 4000 - xml.size();
    xml.insert(xml.find("</STRMTABLE_T>"), std::string(pad, ' '));
    std::int64_t end = 0;
    ASSERT_EQ(w.document(xml, &end), 996);
    ASSERT_EQ(end, 5000);
    w.zeros(8);
    ASSERT_EQ(w.raw(dept_row(10, "ACCOUNTING", "NEW YORK")), 5008);
    auto r = run(w.data());
    EXPECT_TRUE(r->context.complete);
    EXPECT_EQ(describe(r->context.tables), "DEPT SCOTT.DEPT 996 5000 [996] [5008] [5008]\n");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "XML start pos (stage 1): 1001\n"), 1);
}

TEST_F(pump_scan, owners_partitions_and_document_kinds)
{
    auto doc = [](ora_pump::writer& w, const std::string& xml, std::size_t zeros, bool rows) {
        std::int64_t end = 0;
        std::int64_t start = w.document(xml, &end);
        w.zeros(zeros);
        std::int64_t first = rows ? w.raw(dept_row(10, "A", "B")) : -1;
        return std::tuple<std::int64_t, std::int64_t, std::int64_t>(start, end, first);
    };
    for (bool merge : {false, true}) {
        SCOPED_TRACE(merge ? "merge" : "no merge");
        ora_pump::writer w;
        auto [s1, e1, f1] = doc(w, ora_pump::strmtable_doc("SCOTT", "EMP", dept_columns), 3, true);
        auto [s2, e2, f2] = doc(w, ora_pump::strmtable_doc("HR", "EMP", dept_columns), 40, true);
        // A second partition of SCOTT.EMP, then its TABLE_T document.
        auto [s3, e3, f3] = doc(w, ora_pump::strmtable_doc("SCOTT", "EMP", dept_columns), 0, true);
        auto [s4, e4, f4] = doc(w, ora_pump::table_doc("SCOTT", "EMP", dept_columns), 0, false);
        // A document that is no ROWSET still ends the data before it.
        std::int64_t other = w.document(ora_pump::other_doc("x"));
        // A stream table with only zeros up to the end has no partition.
        auto [s5, e5, f5] = doc(w, ora_pump::strmtable_doc("HR", "JOBS", dept_columns), 100, false);
        auto r = run(w.data(), merge);
        EXPECT_TRUE(r->context.complete);
        auto block = [](std::int64_t xml_start) { return std::to_string(xml_start + 5 - 2); };
        const std::string scott = std::string(merge ? "SCOTT.EMP" : "EMP") + " SCOTT.EMP " + std::to_string(s4) +
                                  " " + std::to_string(e4) + " [" + std::to_string(s1) + "," + std::to_string(s3) +
                                  "] [" + std::to_string(f1) + "," + std::to_string(f3) + "] [" + block(s2) + "," +
                                  block(s4) + "," + block(other) + "," + block(s5) + "," + std::to_string(f3) + "]\n";
        const std::string hr = "HR.EMP HR.EMP " + std::to_string(s2) + " " + std::to_string(e2) + " [" +
                               std::to_string(s2) + "] [" + std::to_string(f2) + "] [" + block(s3) + "]\n";
        const std::string jobs = std::string(merge ? "HR.JOBS" : "JOBS") + " HR.JOBS " + std::to_string(s5) + " " +
                                 std::to_string(e5) + " [] [] []\n";
        const std::string expected = merge ? hr + jobs + scott : scott + hr + jobs;
        EXPECT_EQ(describe(r->context.tables), expected);
    }
}

TEST_F(pump_scan, many_short_headers_do_not_swallow_the_next_table)
{
    ora_pump::writer w;
    ora_pump::document_form form;
    // The first chunk has a 4-byte header, as the prefix the scan counts.
    form.chunks = {{1, 100}};
    form.chunks.insert(form.chunks.end(), 9, ora_pump::chunk{6, 30});
    std::int64_t e1 = 0, e2 = 0;
    const std::int64_t s1 = w.document(ora_pump::table_doc("SCOTT", "EMP", dept_columns), form, &e1);
    w.zeros(2);
    const std::int64_t s2 = w.document(ora_pump::table_doc("SCOTT", "DEPT", dept_columns), &e2);
    auto r = run(w.data());
    EXPECT_EQ(describe(r->context.tables), "DEPT SCOTT.DEPT " + std::to_string(s2) + " " + std::to_string(e2) +
                                               " [] [] []\nEMP SCOTT.EMP " + std::to_string(s1) + " " +
                                               std::to_string(e1) + " [] [] []\n");
}

TEST_F(pump_scan, a_short_document_keeps_its_own_end)
{
    ora_pump::writer w;
    const std::string tiny = "<?xml version=\"1.0\"?><ROWSET><ROW><STRMTABLE_T><OWNER_NAME>S</OWNER_NAME>"
                             "<NAME>T</NAME></STRMTABLE_T></ROW></ROWSET>";
    ASSERT_LT(tiny.size(), 120u);
    std::int64_t e1 = 0, e2 = 0;
    const std::int64_t s1 = w.document(tiny, &e1);
    const std::int64_t s2 = w.document(ora_pump::table_doc("SCOTT", "DEPT", dept_columns), &e2);
    auto r = run(w.data());
    EXPECT_EQ(describe(r->context.tables), "DEPT SCOTT.DEPT " + std::to_string(s2) + " " + std::to_string(e2) +
                                               " [] [] []\nT S.T " + std::to_string(s1) + " " + std::to_string(e1) +
                                               " [] [] []\n");
}

TEST_F(pump_scan, utf16_documents_one_piece_and_chunked)
{
    for (bool chunked : {false, true}) {
        SCOPED_TRACE(chunked ? "chunked" : "one piece");
        ora_pump::writer w;
        ora_pump::document_form form;
        form.utf16 = true;
        if (chunked)
            form.chunks = {{1, 400}, {6, 600}};
        std::int64_t e1 = 0, e2 = 0;
        const std::int64_t s1 = w.document(ora_pump::table_doc("SCOTT", "EMP", dept_columns), form, &e1);
        w.zeros(3);
        const std::int64_t s2 = w.document(ora_pump::table_doc("SCOTT", "DEPT", dept_columns), form, &e2);
        auto r = run(w.data());
        EXPECT_TRUE(r->context.complete);
        EXPECT_EQ(describe(r->context.tables), "DEPT SCOTT.DEPT " + std::to_string(s2) + " " + std::to_string(e2) +
                                                   " [] [] []\nEMP SCOTT.EMP " + std::to_string(s1) + " " +
                                                   std::to_string(e1) + " [] [] []\n");
    }
}

TEST_F(pump_scan, missing_closing_tags_keep_the_tables_before)
{
    ora_pump::writer w;
    std::int64_t e1 = 0;
    const std::int64_t s1 = w.document(ora_pump::table_doc("SCOTT", "DEPT", dept_columns), &e1);
    std::string cut = ora_pump::table_doc("SCOTT", "EMP", dept_columns);
    cut.resize(cut.size() - 20);
    w.document(cut);
    w.zeros(50);
    auto r = run(w.data());
    EXPECT_TRUE(r->context.complete);
    EXPECT_EQ(describe(r->context.tables),
              "DEPT SCOTT.DEPT " + std::to_string(s1) + " " + std::to_string(e1) + " [] [] []\n");
}

TEST_F(pump_scan, a_malformed_chunk_header_is_reported_and_nothing_is_kept_for_later)
{
    ora_pump::writer w;
    w.document(ora_pump::table_doc("SCOTT", "DEPT", dept_columns));
    ora_pump::document_form form;
    form.chunks = {{1, 100}, {3, 100}};
    const std::int64_t s2 = w.document(ora_pump::table_doc("SCOTT", "EMP", dept_columns), form);
    w.data()[static_cast<std::size_t>(s2) + 4 + 100 + 2] = 0x00;  // 03 01 00
    tk_test::temp_dir dir;
    const std::string path = dir.file("bad.dmp");
    ASSERT_TRUE(w.write_file(path));
    auto r = run(w.data());
    EXPECT_EQ(r->exit_code, -1);
    EXPECT_FALSE(r->context.complete);
    EXPECT_EQ(reader.get_progress(), -1);
    r->context.path = tk_utf8_to_wide(path);
    EXPECT_FALSE(r->context.save());
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.vcx")));
}

TEST_F(pump_scan, a_level0_failure_is_reported_and_the_scan_is_not_complete)
{
    // A failing source: the scan's search raises, the reporter goes on.
    ora_pump::writer w;
    w.document(ora_pump::table_doc("SCOTT", "DEPT", dept_columns));
    w.zeros(20000);
    auto r = run(std::make_unique<ora_dump_failing_source>(std::make_unique<ora_dump_memory_source>(w.data()), 9000),
                 false, 4096);
    EXPECT_FALSE(r->context.complete);
    EXPECT_EQ(r->exit_code, -1);
}

// Rows are stepped over by their framing: a document held in a value is no
// table. Where the framing is lost (a LOB chunk with a bad continuation),
// the search goes on from there, so that the later tables are found.
TEST_F(pump_scan, rows_are_stepped_over_and_a_lost_framing_searches_on)
{
    auto txt = [](const std::string& s) { return ora_pump::value(bytes(s.begin(), s.end())); };
    const bytes one = ora_pump::value(ora_rows::number("1"));
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "T", dept_columns));
    w.zeros(2);
    w.raw(ora_pump::record({one, txt(ora_pump::strmtable_doc("SCOTT", "FAKE", dept_columns)), txt("x")}));
    w.raw(dept_row(2, "A", "B"));
    w.document(ora_pump::strmtable_doc("SCOTT", "D", {{"ID", 2, 22, 4, 0}, {"B", 113, 4000, {}, {}}}));
    w.zeros(2);
    const std::int64_t lost =
        w.raw(ora_pump::lob_record(0x09, {one}, ora_rows::hex("00 01 80 00 01 01 07 00 01 02"), 2));
    w.raw(ora_pump::record({one, txt(ora_pump::strmtable_doc("SCOTT", "SEEN", dept_columns))}));
    w.document(ora_pump::strmtable_doc("SCOTT", "E", dept_columns));
    w.raw(dept_row(3, "C", "D"));
    auto r = run(w.data());
    EXPECT_TRUE(r->context.complete);
    std::string keys;
    for (const auto& [key, t] : r->context.tables)
        keys += tk_wide_to_utf8(key) + (t.v_data_start_pos.empty() ? " " : "* ");
    EXPECT_EQ(keys, "D* E* SEEN T* ");
    EXPECT_EQ(r->context.tables.at(L"D").v_data_end_pos, std::vector<std::int64_t>{lost});
}

TEST_F(pump_scan, eight_bit_names_follow_the_dumps_own_character_set)
{
    // A classic windows-1251 dump leaves its code page behind.
    const unsigned char cl8mswin1251[2] = {0x00, 0xAB};
    reader.get_cp(cl8mswin1251, false);
    ASSERT_NE(reader.info.dump_code_page, 0);
    const std::string name = "\xD0\x9E\xD0\xA2\xD0\x94\xD0\x95\xD0\x9B";  // ОТДЕЛ
    const std::string col = "\xD0\x98\xD0\x9C\xD0\xAF";                    // ИМЯ
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", name, {{col, 1, 10, {}, {}, 873}}));
    w.zeros(2);
    w.raw(ora_pump::record({ora_pump::value(ora_rows::text(L"A", 65001))}));
    auto r = run(w.data());
    ASSERT_EQ(r->context.tables.size(), 1u);
    EXPECT_EQ(r->context.tables.begin()->first, tk_utf8_to_wide(name));
    std::vector<std::uint8_t> buffer;
    ora_dump_stream s(std::make_unique<ora_dump_memory_source>(w.data()));
    const table_pos& t = r->context.tables.begin()->second;
    ASSERT_TRUE(ora_dump_pump::extract_xml(s, t.start_pos, t.end_pos, s.size(), buffer));
    dump_info stale;
    stale.charset_class = 1;
    stale.dump_code_page = 1251;
    EXPECT_NE(ora_dump_pump::document_text(stale, buffer).find(col), std::string::npos);
}

TEST_F(pump_scan, reads_each_byte_about_once)
{
    // Row data full of 0x3C: every one costs a compare, not a read.
    ora_pump::writer w;
    for (int t = 0; t < 20; ++t) {
        w.document(ora_pump::strmtable_doc("SCOTT", "T" + std::to_string(t), dept_columns));
        w.zeros(5);
        for (int i = 0; i < 400; ++i)
            w.raw(dept_row(i, "<<<<<<<<", "<?xml<<"));
    }
    const std::size_t window = 8192;
    auto r = run(w.data(), false, window);
    EXPECT_EQ(r->context.tables.size(), 20u);
    EXPECT_LE(r->bytes_read, w.data().size() + 2 * window);
}

TEST_F(pump_scan, context_round_trip_keeps_keys_and_relationships)
{
    tk_test::temp_dir dir;
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "EMP", dept_columns));
    w.zeros(1);
    w.raw(dept_row(1, "A", "B"));
    w.document(ora_pump::constraint_doc("SCOTT", "EMP", {"PK_EMP", 2, {"DEPTNO"}}));
    w.document(ora_pump::ref_constraint_doc("SCOTT", "EMP", {"FK_DEPTNO", "SCOTT", "DEPT", {"DEPTNO"}, {"DEPTNO"}}));
    const std::string path = dir.file("keys.dmp");
    ASSERT_TRUE(w.write_file(path));
    auto r = run(std::make_unique<ora_dump_file_source>(path));
    ASSERT_TRUE(r->context.complete);
    ASSERT_EQ(r->context.global_indexes.size(), 1u);
    ASSERT_EQ(r->context.relationships.size(), 1u);
    r->context.path = tk_utf8_to_wide(path);
    r->context.format = 1;
    ASSERT_TRUE(r->context.save());

    ora_dump_file::context again;
    ASSERT_TRUE(again.load_if(tk_utf8_to_wide(path), false, 1));
    EXPECT_EQ(describe(again.tables), describe(r->context.tables));
    EXPECT_EQ(again.tables, r->context.tables);
    ASSERT_EQ(again.global_indexes.size(), 1u);
    const udb_indexes& idx = again.global_indexes.at({L"SCOTT", L"EMP"});
    ASSERT_EQ(idx.size(), 1u);
    EXPECT_EQ(idx[0].name, L"PK_EMP");
    EXPECT_TRUE(idx[0].b_primary);
    EXPECT_EQ(idx[0].columns, std::vector<std::wstring>{L"DEPTNO"});
    ASSERT_EQ(again.relationships.size(), 1u);
    EXPECT_EQ(again.relationships[0].fk_name, L"FK_DEPTNO");
    EXPECT_EQ(again.relationships[0].pk_table, L"DEPT");
    EXPECT_TRUE(ora_dump_pump::context_fits(again, static_cast<std::int64_t>(w.data().size())));
}

TEST_F(pump_scan, context_round_trip_keeps_the_rows_the_export_wrote)
{
    tk_test::temp_dir dir;
    ora_pump::export_table t{"SCOTT", "DEPT", dept_columns, {dept_row(10, "A", "B"), dept_row(20, "C", "D")},
                             {},      {},     true};
    ora_pump::export_table counted = t;
    counted.name = "COUNTED";
    counted.completed_rows = 7;
    const std::string path = dir.file("export.dmp");
    const bytes b = ora_pump::export_writer::whole({t, counted});
    tk_test::write_file(path, std::string(b.begin(), b.end()));
    auto r = run(std::make_unique<ora_dump_file_source>(path));
    ASSERT_TRUE(r->context.complete);
    EXPECT_FALSE(r->context.truncated);
    EXPECT_EQ(r->context.tables.at(L"DEPT").export_rows, 2);
    EXPECT_EQ(r->context.tables.at(L"COUNTED").export_rows, 7);
    r->context.path = tk_utf8_to_wide(path);
    r->context.format = 1;
    ASSERT_TRUE(r->context.save());
    ora_dump_file::context again;
    ASSERT_TRUE(again.load_if(tk_utf8_to_wide(path), false, 1));
    EXPECT_EQ(again.tables, r->context.tables);
}

TEST(pump_context, lists_that_do_not_fit_the_dump_are_refused)
{
    table_pos t;
    t.start_pos = 100;
    t.end_pos = 900;
    t.v_data_start_pos = {100, 2000};
    t.v_data_end_pos = {905, 2900};
    t.v_block_end_pos = {1998, 2950};
    {
        ora_dump_file::context good;
        good.tables[L"T"] = t;
        ASSERT_TRUE(ora_dump_pump::context_fits(good, 3000));
    }
    struct bad_case {
        const char* name;
        void (*spoil)(table_pos&);
    };
    const bad_case cases[] = {
        {"no block end", [](table_pos& p) { p.v_block_end_pos.clear(); }},
        {"fewer block ends", [](table_pos& p) { p.v_block_end_pos.pop_back(); }},
        {"shorter end list", [](table_pos& p) { p.v_data_end_pos.pop_back(); }},
        {"longer end list", [](table_pos& p) { p.v_data_end_pos.push_back(2990); }},
        {"start past the file", [](table_pos& p) { p.start_pos = 4000; }},
        {"end past the file", [](table_pos& p) { p.end_pos = 3001; }},
        {"start at its end", [](table_pos& p) { p.end_pos = p.start_pos; }},
        {"partition start at its end", [](table_pos& p) { p.v_data_end_pos[1] = p.v_data_start_pos[1]; }},
        {"partition past the file", [](table_pos& p) { p.v_data_end_pos[1] = 5000; }},
        {"negative partition", [](table_pos& p) { p.v_data_start_pos[0] = -1; }},
        {"block end past the file", [](table_pos& p) { p.v_block_end_pos[1] = 3001; }},
    };
    for (const bad_case& c : cases) {
        SCOPED_TRACE(c.name);
        ora_dump_file::context bad;
        bad.tables[L"T"] = t;
        c.spoil(bad.tables[L"T"]);
        EXPECT_FALSE(ora_dump_pump::context_fits(bad, 3000));
    }
}

// --- the real dump ----------------------------------------------------------------

TEST_F(pump_scan, real_dump_gives_its_five_tables)
{
    const std::string source = real_path("datapump_12c_scott.dmp");
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "no real data";
    tk_test::temp_dir dir;
    const std::string path = dir.file("scott.dmp");
    std::filesystem::copy_file(source, path);
    auto r = run(std::make_unique<ora_dump_file_source>(path));
    ASSERT_TRUE(r->header_ok);
    EXPECT_TRUE(r->context.complete);
    EXPECT_EQ(shown.at(0), "Dump file version: 4.1 (expdp)\n");
    EXPECT_EQ(shown.at(1), "Dump charset: 1\n");
    EXPECT_EQ(reader.info.charset_class, 1);
    // The master table's rows hold a UTF-16 TABLE_T document per table:
    // they add the keys, and BONUS, which has no data, is described by its
    // own; every other table keeps its positions.
    EXPECT_EQ(describe(r->context.tables), "BONUS SCOTT.BONUS 358823 367401 [] [] []\n"
                                           "DEPT SCOTT.DEPT 69630 71600 [69630] [71600] [77825]\n"
                                           "EMP SCOTT.EMP 77822 82119 [77822] [82120] [90113]\n"
                                           "IMPDP_STATS SYS.IMPDP_STATS 49150 62773 [49150] [62776] [69633]\n"
                                           "SALGRADE SCOTT.SALGRADE 90110 92031 [90110] [92032] [98305]\n"
                                           "SYS_EXPORT_SCHEMA_01 SYS.SYS_EXPORT_SCHEMA_01 98302 143242 [98302] "
                                           "[143248] [143248]\n");
    std::vector<std::string> keys;
    for (const auto& [owner_table, list] : r->context.global_indexes)
        for (const udb_index& k : list) {
            std::string text = tk_wide_to_utf8(owner_table.first + L"." + owner_table.second + L" " + k.name) +
                               (k.b_primary ? " primary" : k.b_unique ? " unique" : "");
            for (const std::wstring& c : k.columns)
                text += " " + tk_wide_to_utf8(c);
            keys.push_back(text);
        }
    EXPECT_EQ(keys, (std::vector<std::string>{"SCOTT.DEPT PK_DEPT primary DEPTNO", "SCOTT.EMP PK_EMP primary EMPNO"}));
    ASSERT_EQ(r->context.relationships.size(), 1u);
    const t_relationship& fk = r->context.relationships[0];
    EXPECT_EQ(fk.fk_name, L"FK_DEPTNO");
    EXPECT_EQ(fk.fk_table, L"EMP");
    EXPECT_EQ(fk.pk_table, L"DEPT");
    EXPECT_EQ(fk.fk_fields, std::vector<std::wstring>{L"DEPTNO"});
    EXPECT_EQ(fk.pk_fields, std::vector<std::wstring>{L"DEPTNO"});
    EXPECT_LE(r->bytes_read, std::filesystem::file_size(path) + 2 * ora_dump_stream::default_window);
}

// The header names the master table and where it lies; its rows give the
// rows the export wrote of each table, and the dump is whole.
TEST_F(pump_scan, real_master_table_gives_the_rows_of_each_table)
{
    const std::string source = real_path("datapump_12c_scott.dmp");
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "no real data";
    ora_dump_stream s(std::make_unique<ora_dump_file_source>(source));
    ora_dump_pump::header h;
    ASSERT_TRUE(ora_dump_pump::read_header(reader, s, h));
    EXPECT_EQ(h.master_owner, L"SYS");
    EXPECT_EQ(h.master_name, L"SYS_EXPORT_SCHEMA_01");
    EXPECT_EQ(h.block_size, 4096u);
    EXPECT_TRUE(h.declares_master());
    EXPECT_EQ(h.master_start(), 94208);
    EXPECT_LE(h.declared_end(), static_cast<std::int64_t>(std::filesystem::file_size(source)));
    auto r = run(std::make_unique<ora_dump_file_source>(source));
    ASSERT_TRUE(r->header_ok);
    EXPECT_FALSE(r->context.truncated);
    std::string counts;
    for (const auto& [key, t] : r->context.tables)
        counts += tk_wide_to_utf8(key) + "=" + std::to_string(t.export_rows) + " ";
    EXPECT_EQ(counts, "BONUS=0 DEPT=4 EMP=14 IMPDP_STATS=-1 SALGRADE=5 SYS_EXPORT_SCHEMA_01=-1 ");
    EXPECT_EQ(fe.effects(), std::vector<std::string>{});
}

TEST(pump_extract, real_utf16_table_documents)
{
    const std::string source = real_path("datapump_12c_scott.dmp");
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "no real data";
    ora_dump_stream s(std::make_unique<ora_dump_file_source>(source));
    struct doc_case {
        std::int64_t start, end;
        const char* name;
    };
    for (const doc_case& c : {doc_case{333358, 358623, "EMP"}, doc_case{317288, 333162, "DEPT"}}) {
        SCOPED_TRACE(c.name);
        bytes buffer;
        ASSERT_TRUE(ora_dump_pump::extract_xml(s, c.start, c.end, s.size(), buffer));
        dump_info info;
        info.charset_class = 1;
        const std::string text = ora_dump_pump::document_text(info, buffer);
        EXPECT_EQ(text.rfind("<?xml version", 0), 0u) << text.substr(0, 40);
        EXPECT_NE(text.find(std::string("<NAME>") + c.name + "</NAME>"), std::string::npos);
        EXPECT_NE(text.find("</ROW></ROWSET>"), std::string::npos);
        EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos);  // no chunk header left in the text
    }
}

}  // namespace
