// A small Data Pump dump cut at every byte and mutated at random: the reader
// answers with its messages, never with a crash, a hang or a runaway
// allocation.
#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "ora_dump_writer_pump.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using ora_pump::bytes;
using ora_pump::column;

bytes small_dump()
{
    ora_pump::writer w;
    const std::vector<column> cols = {{"ID", 2, 22, 4, 0, 0, true}, {"NAME", 1, 10, {}, {}, 873},
                                      {"B", 113, 4000, {}, {}}};
    ora_pump::document_form chunked;
    chunked.chunks = {{1, 150}, {6, 200}};
    w.document(ora_pump::table_doc("SCOTT", "T", cols, {{"PK_T", 2, {"ID"}}}), chunked);
    w.document(ora_pump::strmtable_doc("SCOTT", "T", cols));
    w.zeros(3);
    const bytes one = ora_pump::value(ora_rows::number("1"));
    w.raw(ora_pump::lob_record(0x09, {one, ora_pump::value(ora_rows::text(L"AB", 65001))},
                               ora_rows::hex("00 01 80 00 03 01 02 03 02 05 02 04 05"), 3));
    w.raw(ora_pump::lob_record(0x0C, {one, ora_pump::null_value()}, ora_rows::hex("00 01 00"), 3));
    // The export's own layout: a flag byte, 01 FE and a 2-byte size; flag
    // 01 announces continuation chunks.
    w.raw(ora_pump::lob_record(0x08, {one, ora_pump::null_value()}, ora_rows::hex("04 01 FE 00 03 0A 0B 0C")));
    w.raw(ora_pump::lob_record(0x08, {one, ora_pump::null_value()},
                               ora_rows::hex("01 01 FE 00 02 AA BB 03 01 FE 00 01 CC 06 00 02 DD EE")));
    ora_pump::document_form utf16;
    utf16.utf16 = true;
    w.document(ora_pump::strmtable_doc("SCOTT", "U", {{"ID", 2, 22, 4, 0}}), utf16);
    w.zeros(2);
    w.raw(ora_pump::record({one}));
    w.document(ora_pump::constraint_doc("SCOTT", "U", {"PK_U", 2, {"ID"}}));
    // Inside U's rows, as the master table holds them: a document adding
    // keys to T.
    w.document(ora_pump::table_doc("SCOTT", "T", {}, {{"UK_T", 3, {"NAME"}}}));
    return w.data();
}

// An export's layout: a header that names the master table and where it
// lies, blocks of 512 bytes, two tables and the master table with its row
// counts and documents; the reader then also judges the dump's end.
bytes small_export()
{
    const std::vector<column> cols = {{"ID", 2, 22, 4, 0, 0, true}, {"NAME", 1, 10, {}, {}, 873},
                                      {"B", 113, 4000, {}, {}}};
    const bytes one = ora_pump::value(ora_rows::number("1"));
    ora_pump::export_table t{"SCOTT", "T", cols, {}, {{"PK_T", 2, {"ID"}}}, {}, true};
    t.rows = {ora_pump::record({one, ora_pump::value(ora_rows::text(L"AB", 65001))}),
              ora_pump::lob_record(0x08, {one, ora_pump::null_value()}, ora_rows::hex("04 01 FE 00 03 0A 0B 0C")),
              ora_pump::record({one, ora_pump::null_value()})};
    ora_pump::export_table u{"SCOTT", "U", {{"ID", 2, 22, 4, 0}}, {ora_pump::record({one})}, {}, {}, true};
    ora_pump::export_table empty{"SCOTT", "E", {{"ID", 2, 22, 4, 0}}, {}, {{"PK_E", 2, {"ID"}}}, {}, false};
    return ora_pump::export_writer::whole({t, u, empty});
}

class pump_hostile : public tk_test::logger_fixture {
protected:
    // Opens the bytes and reads every row of every table. Only the
    // reader's own failures may come out.
    void open_and_read(const bytes& b)
    {
        const std::string path = home.file("h.dmp");
        {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            if (!b.empty())
                std::fwrite(b.data(), 1, b.size(), f);
            std::fclose(f);
        }
        const std::string ctx = tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(path)));
        fs::remove(ctx);
        try {
            auto db = reader.open(tk_utf8_to_wide(path));
            for (const std::wstring& name : db->get_table_names()) {
                try {
                    auto t = db->get_table(name, 0);
                    std::size_t n = 0;
                    for (t->reset(); !t->is_eof() && n < 1000; t->next(), ++n) {
                        try {
                            t->get_item();
                        } catch (const tk_exception& e) {
                            if (e.level != 0)
                                throw;
                        }
                    }
                    EXPECT_LT(n, 1000u);
                } catch (const tk_exception& e) {
                    EXPECT_LE(e.level, 1) << e.message;
                }
            }
        } catch (const front_end_exit&) {
        } catch (const tk_final_exception&) {
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1) << e.message;
        }
        fs::remove(ctx);
    }

    // Reads the bytes cut after every length that keep takes, shortest
    // first.
    template <typename Keep>
    void read_cuts(const bytes& full, Keep keep)
    {
        for (std::size_t cut = 0; cut <= full.size(); ++cut) {
            if (!keep(cut))
                continue;
            SCOPED_TRACE(cut);
            open_and_read(bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
        }
    }

    // Reads 250 copies of the bytes with 1 to 4 of them changed: the place
    // and the new byte of each change as where and byte draw them.
    template <typename Where, typename Byte>
    void read_mutations(const bytes& full, std::uint32_t seed, Where where, Byte byte)
    {
        std::mt19937 gen(seed);
        for (int round = 0; round < 250; ++round) {
            SCOPED_TRACE(round);
            bytes b = full;
            const int flips = 1 + round % 4;
            for (int k = 0; k < flips; ++k) {
                const std::size_t at = where(gen, round);
                b[at] = byte(gen, round);
            }
            open_and_read(b);
        }
    }

    ora_dump_test::scoped_documents_folder docs{home};
    recording_front_end fe{recording_front_end::mode::console};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
};

TEST_F(pump_hostile, cut_at_every_byte)
{
    read_cuts(small_dump(), [](std::size_t) { return true; });
}

TEST_F(pump_hostile, seeded_mutations)
{
    const bytes full = small_dump();
    std::uniform_int_distribution<std::size_t> where(0, full.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    const std::uint8_t special[] = {0x00, 0x01, 0x03, 0x06, 0x08, 0x09, 0x0C, 0x18, 0x3C, 0xFE, 0xFF};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof special - 1);
    read_mutations(
        full, 20261210, [&](std::mt19937& gen, int) { return where(gen); },
        [&](std::mt19937& gen, int round) {
            return round % 2 ? special[pick(gen)] : static_cast<std::uint8_t>(value(gen));
        });
}

TEST_F(pump_hostile, an_export_cut_anywhere)
{
    const bytes full = small_export();
    // Every few bytes, and every byte around the master table's header
    // fields and the end.
    read_cuts(full, [&](std::size_t cut) { return cut % 7 == 0 || cut <= 120 || cut + 64 >= full.size(); });
}

TEST_F(pump_hostile, an_export_mutated)
{
    const bytes full = small_export();
    std::uniform_int_distribution<std::size_t> where(0, full.size() - 1);
    // The header's fields are hit often: a master table, a length or a
    // block size that cannot be must be no more than a report.
    std::uniform_int_distribution<std::size_t> header_byte(33, 100);
    std::uniform_int_distribution<int> value(0, 255);
    read_mutations(
        full, 20261211, [&](std::mt19937& gen, int round) { return round % 3 == 0 ? header_byte(gen) : where(gen); },
        [&](std::mt19937& gen, int) { return static_cast<std::uint8_t>(value(gen)); });
}

}  // namespace
