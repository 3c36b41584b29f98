// The streaming form of the Data Pump dump writer against the in-memory one:
// whatever the batch size, the same calls give the same offsets and bytes.
#include "ora_dump_writer_pump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using ora_pump::bytes;

// The calls of one small dump, made on either writer; the offsets and ends
// the calls gave, in order.
template <class W>
std::vector<std::int64_t> make_dump(W& w)
{
    std::vector<std::int64_t> at;
    const std::vector<ora_pump::column> cols = {{"ID", 2, 22, 10, 0, 0, true}, {"NAME", 1, 40, {}, {}, 873}};
    std::int64_t end = -1;
    at.push_back(w.document(ora_pump::table_doc("SCOTT", "T", cols, {{"PK_T", 2, {"ID"}}}), &end));
    at.push_back(end);
    ora_pump::document_form utf16;
    utf16.utf16 = true;
    utf16.chunks = {{1, 100}, {6, 37}};
    at.push_back(w.document(ora_pump::table_doc("SCOTT", "U", cols), utf16, &end));
    at.push_back(end);
    at.push_back(w.document(ora_pump::strmtable_doc("SCOTT", "T", cols)));
    at.push_back(w.zeros(3));
    for (int i = 0; i < 20; ++i)
        at.push_back(w.raw(ora_pump::record({ora_pump::value(ora_rows::number(std::to_string(i))),
                                             i % 3 ? ora_pump::value(ora_rows::text(L"name", 65001))
                                                   : ora_pump::null_value()})));
    // One piece longer than any batch below but the default.
    at.push_back(w.raw(bytes(5000, 0xAB)));
    at.push_back(w.zeros(0));
    at.push_back(w.raw(bytes()));
    at.push_back(w.zeros(9000));
    at.push_back(w.offset());
    return at;
}

TEST(pump_file_writer, gives_the_bytes_and_offsets_of_the_memory_writer)
{
    ora_pump::header_fields fields;
    fields.charset_id = 871;
    fields.size = 80;
    ora_pump::writer memory(fields);
    const std::vector<std::int64_t> expected = make_dump(memory);
    tk_test::temp_dir dir;
    for (std::size_t batch : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(4096),
                              std::size_t(1) << 20}) {
        SCOPED_TRACE(batch);
        const std::string path = dir.file("b" + std::to_string(batch) + ".dmp");
        std::vector<std::int64_t> got;
        {
            ora_pump::file_writer file(path, fields, batch);
            got = make_dump(file);
            EXPECT_TRUE(file.ok());
            EXPECT_TRUE(file.close());
            EXPECT_TRUE(file.close());
        }
        EXPECT_EQ(got, expected);
        const std::string content = tk_test::read_file(path);
        ASSERT_EQ(content.size(), memory.data().size());
        EXPECT_TRUE(content == std::string(memory.data().begin(), memory.data().end()));
    }
}

TEST(pump_file_writer, the_destructor_writes_what_is_left)
{
    tk_test::temp_dir dir;
    const std::string path = dir.file("d.dmp");
    {
        ora_pump::file_writer file(path, ora_pump::header_fields(), 1000);
        file.raw(bytes{1, 2, 3});
    }
    const bytes head = ora_pump::header(ora_pump::header_fields());
    const std::string content = tk_test::read_file(path);
    ASSERT_EQ(content.size(), head.size() + 3);
    EXPECT_EQ(content.substr(head.size()), std::string("\x01\x02\x03"));
}

TEST(pump_file_writer, failures_are_kept_and_told)
{
    tk_test::temp_dir dir;
    {
        ora_pump::file_writer file(dir.file("no/such/folder.dmp"), ora_pump::header_fields(), 16);
        EXPECT_FALSE(file.ok());
        EXPECT_EQ(file.raw(bytes(100, 1)), 64);
        EXPECT_EQ(file.offset(), 164);
        EXPECT_FALSE(file.close());
    }
    {
        ora_pump::file_writer file(dir.file("late.dmp"), ora_pump::header_fields(), 16);
        EXPECT_TRUE(file.close());
        file.raw(bytes(100, 1));
        EXPECT_FALSE(file.ok());
        EXPECT_FALSE(file.close());
    }
    {
        // Fewer bytes than a batch after the close.
        ora_pump::file_writer file(dir.file("late_small.dmp"), ora_pump::header_fields(), 16);
        EXPECT_TRUE(file.close());
        file.raw(bytes(3, 1));
        EXPECT_FALSE(file.close());
    }
    if (std::filesystem::exists("/dev/full")) {
        // A full disk.
        ora_pump::file_writer file("/dev/full", ora_pump::header_fields(), 16);
        file.raw(bytes(100, 1));
        EXPECT_FALSE(file.ok());
        EXPECT_FALSE(file.close());
    }
}

}  // namespace
