// Damaged dumps through the whole opening: every truncation and seeded
// single-byte mutations of writer dumps of each generation and of the real
// classic dump are opened, and every table and row is read as a conversion
// run reads them. Each case must end with records or the reader's reports:
// no crash, sanitizer report, internal error, foreign exception, hang or
// runaway allocation, and no table may yield more records than it has bytes.
//
// The sanitizer's allocation cap for this program is set in the scan's
// sweep; outside the sanitizer the address space is capped here.

#include "ora_dump_reader.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_writer.h"
#include "ora_dump_writer_generations.h"
#include "ora_dump_writer_rows.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using ora_rows::bytes;

std::wstring W(const std::string& s) { return tk_utf8_to_wide(s); }

using ora_rows::dump_of;
using ora_rows::generation;
using ora_rows::generations;
using tk_test::memory_cap;

std::vector<std::uint8_t> real_classic_dump()
{
    std::ifstream in(std::string(VELC_REAL_DATA_DIR) + "/classic_v12_exptest.dmp", std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class hostile_open : public tk_test::home_fixture {
protected:
    hostile_open()
    {
        // Thousands of small files: in memory where the machine has a
        // memory file system.
        if (::access("/dev/shm", W_OK) == 0) {
            tk_test::scoped_env in_memory("TMPDIR", std::string("/dev/shm"));
            cases_dir.emplace();
        } else {
            cases_dir.emplace();
        }
    }
    struct tally {
        std::size_t refused = 0;
        std::size_t opened = 0;
        std::size_t records = 0;
        std::size_t failures = 0;
    };

    static void check_level(const tk_exception& e, const std::string& label)
    {
        ASSERT_NE(e.level, 2) << label << ": " << e.message;
    }

    // Every table and row, as the run reads them: a failed table is
    // skipped, a failed record is counted and the next one follows.
    void read_all(ora_dump_file& db, const std::string& label, tally& t)
    {
        const std::vector<std::wstring> names = db.get_table_names();
        for (const std::wstring& name : names) {
            const table_pos& pos = db.tables.at(name);
            const std::int64_t bytes = pos.end_pos - pos.start_pos;
            std::unique_ptr<udb_recordset> table;
            try {
                table = db.get_table(name, 0);
                table->reset();
            } catch (const tk_exception& e) {
                check_level(e, label);
                if (HasFatalFailure())
                    return;
                ++t.failures;
                continue;
            }
            std::int64_t steps = 0, records = 0;
            for (;;) {
                try {
                    if (table->is_eof())
                        break;
                } catch (const tk_exception& e) {
                    check_level(e, label);
                    break;
                }
                ASSERT_LE(++steps, bytes + 1) << label << ": table " << tk_wide_to_utf8(name) << " never ends";
                try {
                    if (udb_record* r = table->get_item()) {
                        ++records;
                        for (const udb_field& f : *r)
                            (void)f.to_string();
                    }
                } catch (const tk_exception& e) {
                    check_level(e, label);
                    if (HasFatalFailure())
                        return;
                    ++t.failures;
                }
                try {
                    table->next();
                } catch (const tk_exception& e) {
                    check_level(e, label);
                    if (HasFatalFailure())
                        return;
                    ++t.failures;
                    break;
                }
            }
            ASSERT_LE(records, bytes) << label << ": more records than bytes in " << tk_wide_to_utf8(name);
            t.records += static_cast<std::size_t>(records);
        }
    }

    // With truncated, a dump that opens must say whether it ends before
    // the export's end.
    void one_case(const bytes& data, const std::string& label, tally& t, std::optional<bool> truncated = {})
    {
        const std::string path = cases_dir->file("case.dmp");
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        }
        fe.calls.clear();
        try {
            std::unique_ptr<ora_dump_file> db;
            try {
                db = reader.open(W(path));
            } catch (const tk_final_exception&) {
                ++t.refused;
            } catch (const tk_exception& e) {
                check_level(e, label);
                ++t.refused;
            }
            if (db) {
                ++t.opened;
                if (truncated) {
                    EXPECT_EQ(db->is_truncated(), *truncated) << label;
                }
                read_all(*db, label, t);
            }
        } catch (const tk_final_exception&) {
            // A reader failure the user did not continue past.
            ++t.failures;
        } catch (const std::bad_alloc&) {
            FAIL() << label << ": out of memory";
        } catch (const std::exception& e) {
            FAIL() << label << ": foreign exception " << e.what();
        }
        if (HasFatalFailure())
            return;
        for (const auto& call : fe.calls)
            ASSERT_NE(call.name, "show_internal_error") << label << ": " << call.text;
        ASSERT_FALSE(memory_cap::allocation_failed()) << label;
        // A mutated copy of one size may carry the same time stamp: its
        // context must not come from the previous case.
        const std::wstring wpath = W(path);
        fs::remove(tk_wide_to_utf8(ora_dump_file::context_file_name(wpath)));
        const std::wstring fallback = ora_dump_file::fallback_file_name(wpath);
        if (!fallback.empty())
            fs::remove(tk_wide_to_utf8(fallback));
    }

    tally sweep(const bytes& data, const std::string& name, bool truncations, std::size_t sampled)
    {
        tally t;
        std::mt19937 rng(static_cast<unsigned>(data.size()) * 2654435761u);
        // Every cut before the last byte that is not NUL loses part of the
        // export; a cut in the fill after it loses nothing.
        std::size_t content = data.size();
        while (content > 0 && data[content - 1] == 0)
            --content;
        for (std::size_t n = 0; truncations && n <= data.size() && !HasFatalFailure(); ++n)
            one_case(bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n)),
                     name + " cut at " + std::to_string(n), t, n < content);
        auto mutate = [&](std::size_t at, std::uint8_t value) {
            bytes m = data;
            m[at] = value;
            one_case(m, name + " byte " + std::to_string(at) + " := " + std::to_string(value), t);
        };
        if (data.size() < 2048 && sampled > 0) {
            // The bytes lengths and lines steer by, and one random change.
            const std::uint8_t steering[] = {0x00, 0xFF, 0xFE, 0xFD, '\n', '(', '"', 0x80};
            for (std::size_t at = 0; at < data.size() && !HasFatalFailure(); ++at) {
                mutate(at, static_cast<std::uint8_t>(data[at] ^ (1 + rng() % 255)));
                if (!HasFatalFailure())
                    mutate(at, steering[rng() % std::size(steering)]);
            }
        } else {
            for (std::size_t i = 0; i < sampled && !HasFatalFailure(); ++i)
                mutate(rng() % data.size(), static_cast<std::uint8_t>(rng()));
        }
        return t;
    }

    ora_dump_test::scoped_documents_folder docs{home};
    recording_front_end fe{recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
    std::optional<tk_test::temp_dir> cases_dir;
};

// The undamaged fixtures open and read without a failure, so that the sweep
// damages dumps that are otherwise whole.
TEST_F(hostile_open, the_fixtures_read_cleanly)
{
    for (const generation& g : generations) {
        SCOPED_TRACE(g.name);
        const bytes data = dump_of(g);
        EXPECT_LT(data.size(), 2048u);
        tally t;
        one_case(data, g.name, t, false);
        EXPECT_EQ(t.opened, 1u);
        EXPECT_EQ(t.failures, 0u);
        EXPECT_EQ(t.records, 5u);
        EXPECT_TRUE(fe.effects().empty()) << fe.effects().front();
    }
}

TEST_F(hostile_open, damaged_writer_dumps)
{
    memory_cap cap;
    for (const generation& g : generations) {
        tally t = sweep(dump_of(g), std::string("generation ") + g.name, true, 1);
        if (HasFatalFailure())
            return;
        EXPECT_GT(t.records, 0u) << g.name;
        EXPECT_GT(t.refused, 0u) << g.name;
    }
}

TEST_F(hostile_open, truncated_real_classic_dump)
{
    const bytes data = real_classic_dump();
    if (data.empty())
        GTEST_SKIP() << "no real dumps at " << VELC_REAL_DATA_DIR;
    memory_cap cap;
    tally t = sweep(data, "real", true, 0);
    EXPECT_GT(t.records, 0u);
}

TEST_F(hostile_open, mutated_real_classic_dump)
{
    const bytes data = real_classic_dump();
    if (data.empty())
        GTEST_SKIP() << "no real dumps at " << VELC_REAL_DATA_DIR;
    memory_cap cap;
    tally t = sweep(data, "real", false, 3000);
    EXPECT_GT(t.records, 0u);
}

}  // namespace
