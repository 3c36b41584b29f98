// The dump table over the real classic dump: the positions come from the
// scan, the definitions from the DDL text, the rows through the cursor.
#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "table_pos.h"
#include "tk_exception.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string real_classic_dump()
{
    const std::string path = std::string(VELC_REAL_DATA_DIR) + "/classic_v12_exptest.dmp";
    return std::filesystem::exists(path) ? path : std::string();
}

const table_pos* find_table(const ora_table_map& tables, const std::wstring& name)
{
    for (const auto& [key, pos] : tables)
        if (key == name || (key.size() > name.size() && key.compare(key.size() - name.size(), name.size(), name) == 0 &&
                            key[key.size() - name.size() - 1] == L'.'))
            return &pos;
    return nullptr;
}

// Each row as its values' texts joined by "|", "null" for NULL; doubles
// as their shortest exact text.
std::vector<std::wstring> walk(ora_dump_table& table)
{
    std::vector<std::wstring> rows;
    table.reset();
    while (!table.is_eof() && rows.size() < 100) {
        udb_record* r = table.get_item();
        std::wstring text;
        for (std::size_t i = 0; r && i < r->size(); ++i) {
            if (i)
                text += L'|';
            const udb_field& f = (*r)[i];
            if (f.get_vt() == VT_EMPTY || f.get_vt() == VT_NULL) {
                text += L"null";
            } else if (f.get_vt() == VT_R8) {
                // The shortest text that reads back as the same double.
                char buf[32];
                const auto end = std::to_chars(buf, buf + sizeof buf, f.get_r8()).ptr;
                text += std::wstring(buf, end);
            } else {
                text += f.to_wstring();
            }
        }
        rows.push_back(r ? text : L"-");
        table.next();
    }
    return rows;
}

TEST(ora_dump_table_real, the_tables_of_the_real_classic_dump_read_through_the_cursor)
{
    const std::string path = real_classic_dump();
    if (path.empty())
        GTEST_SKIP() << "no real dumps at " << VELC_REAL_DATA_DIR;

    ora_dump_reader reader;
    reader.reset_dump_state();
    reader.info.dump_length = 24576;
    reader.info.dump_code_page = 1252;
    auto stream = ora_dump_stream::open_file(path);
    ora_table_map tables;
    bool complete = false;
    auto scan_rows = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
    reader.find_ora_objects(*stream, tables, complete, scan_rows.get());
    ASSERT_TRUE(complete);

    auto decoder = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
    ASSERT_TRUE(decoder);
    decoder->set_dump_info(reader.info);

    const table_pos* pos1 = find_table(tables, L"TABLE1");
    const table_pos* pos2 = find_table(tables, L"TABLE2");
    ASSERT_TRUE(pos1 && pos2);

    ora_dump_table table1(nullptr, false, L"TABLE1");
    stream->seek(100);
    ASSERT_TRUE(table1.init(stream.get(), *pos1, decoder.get(), "EXPORT:V12.01.00"));
    EXPECT_EQ(stream->tell(), 100);
    ASSERT_EQ(table1.partitions().size(), 1u);
    // The block's description at 11269 ends where the first row starts.
    EXPECT_EQ(table1.partitions()[0].position, 11336);
    EXPECT_FALSE(table1.partitions()[0].skip);
    EXPECT_EQ(table1.start_pos(), 11336);
    const std::vector<std::wstring> rows1 = walk(table1);
    ASSERT_EQ(rows1.size(), 7u);
    EXPECT_EQ(rows1[0].substr(0, rows1[0].find(L"|STRING")), L"1|123|3.56789");
    EXPECT_NE(rows1[0].find(L"|STRING 1 TEST|"), std::wstring::npos) << rows1[0];
    EXPECT_EQ(rows1[5].substr(0, 16), L"6|-123123123456|");

    ora_dump_table table2(nullptr, false, L"TABLE2");
    ASSERT_TRUE(table2.init(stream.get(), *pos2, decoder.get(), "EXPORT:V12.01.00"));
    const std::vector<std::wstring> rows2 = walk(table2);
    ASSERT_EQ(rows2.size(), 4u);
    EXPECT_EQ(rows2[0], L"K1|1|14");
    EXPECT_EQ(rows2[3], L"K4|null|null");
    EXPECT_NE(rows2[1].find(L"|2.99992"), std::wstring::npos) << rows2[1];

    // The first table again after the second used the shared decoder.
    EXPECT_EQ(walk(table1), rows1);

    // IGNORE and IGNORE2 hold no rows; finding neither would pass unseen.
    std::size_t ignore_tables = 0;
    for (const auto& entry : tables)
        if (entry.first.find(L"IGNORE") != std::wstring::npos)
            ++ignore_tables;
    ASSERT_EQ(ignore_tables, 2u);
    for (const auto& [key, pos] : tables) {
        if (key.find(L"IGNORE") == std::wstring::npos)
            continue;
        ora_dump_table empty(nullptr, false, key);
        ASSERT_TRUE(empty.init(stream.get(), pos, decoder.get(), "EXPORT:V12.01.00"));
        empty.reset();
        EXPECT_TRUE(empty.is_eof()) << std::string(key.begin(), key.end());
    }
}

}  // namespace
