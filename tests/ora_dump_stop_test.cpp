// The user's stop while a dump is scanned: the opening ends at the next line
// or document with tk_final_exception, reports nothing, and keeps nothing of
// the scan (no context file); without the stop the same dump opens.
#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "ora_dump_scan_fixtures.h"
#include "ora_dump_writer.h"
#include "ora_dump_writer_pump.h"
#include "ora_dump_writer_rows.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int table_count = 30;

std::vector<std::uint8_t> classic_dump()
{
    ora_dump_writer w;
    scan_fixtures::start(w);
    w.line("CONNECT SCOTT");
    for (int i = 0; i < table_count; ++i) {
        table_pos t;
        scan_fixtures::section(w, "T" + std::to_string(i), "USERS", t);
    }
    w.line("ENDTABLE");
    scan_fixtures::close_export(w);
    return w.data();
}

std::vector<std::uint8_t> pump_dump()
{
    const std::vector<ora_pump::column> columns = {{"ID", 2, 22, 4, 0, 0, true}};
    ora_pump::writer w;
    for (int i = 0; i < table_count; ++i) {
        w.document(ora_pump::strmtable_doc("SCOTT", "T" + std::to_string(i), columns));
        w.zeros(2);
        w.raw(ora_pump::record({ora_pump::value(ora_rows::number(std::to_string(i + 1)))}));
    }
    w.zeros(10);
    return w.data();
}

struct stop_case {
    const char* name;
    std::function<std::vector<std::uint8_t>()> make;
};

// The case's name, in the test list and in failure messages, in place of
// its raw bytes.
void PrintTo(const stop_case& c, std::ostream* os)
{
    *os << c.name;
}

class stop_during_scan : public tk_test::home_fixture, public ::testing::WithParamInterface<stop_case> {
protected:
    std::string write_dump()
    {
        const std::vector<std::uint8_t> bytes = GetParam().make();
        const std::string path = home.file("dump.dmp");
        tk_test::write_file(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }

    std::string context_of(const std::string& path) const
    {
        return tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(path)));
    }

    ora_dump_test::scoped_documents_folder docs{home};
    recording_front_end fe{recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
};

TEST_P(stop_during_scan, ends_the_opening_quietly_and_keeps_nothing)
{
    const std::string path = write_dump();

    // Unstopped, the check is asked many times (at least once per table).
    int asked = 0;
    reader.set_stop_check([&asked] {
        ++asked;
        return false;
    });
    {
        std::unique_ptr<ora_dump_file> db = reader.open(tk_utf8_to_wide(path));
        ASSERT_NE(db, nullptr);
        EXPECT_EQ(db->get_table_names().size(), static_cast<std::size_t>(table_count));
    }
    EXPECT_GE(asked, table_count);
    ASSERT_TRUE(fs::exists(context_of(path))) << "a complete scan is saved";
    fs::remove(context_of(path));

    // Stopped half way: nothing is reported and nothing is saved.
    const int stop_at = asked / 2;
    asked = 0;
    reader.set_stop_check([&asked, stop_at] { return ++asked >= stop_at; });
    fe.calls.clear();
    EXPECT_THROW(reader.open(tk_utf8_to_wide(path)), tk_final_exception);
    EXPECT_EQ(asked, stop_at) << "the scan ends at the step where the stop is seen";
    EXPECT_EQ(reader.get_progress(), -1);
    EXPECT_EQ(fe.effects(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(context_of(path)));

    // A cleared check asks nothing, and the dump opens again by a scan.
    reader.set_stop_check(nullptr);
    {
        std::unique_ptr<ora_dump_file> db = reader.open(tk_utf8_to_wide(path));
        ASSERT_NE(db, nullptr);
        EXPECT_EQ(reader.get_progress(), 100);
    }
    EXPECT_TRUE(fs::exists(context_of(path)));
}

INSTANTIATE_TEST_SUITE_P(format, stop_during_scan,
                         ::testing::Values(stop_case{"classic", classic_dump}, stop_case{"data_pump", pump_dump}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
