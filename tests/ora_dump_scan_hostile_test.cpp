// Damaged dumps: every truncation and single-byte mutations of the scan's
// fixtures and of the real classic dump go through the scan and a context
// save and load. Each must give a table map or one of the reader's reports,
// never a crash, a sanitizer report, an internal error, another exception,
// a hang or a runaway allocation.

#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"

#include "error_handler.h"
#include "ora_dump_scan_fixtures.h"
#include "ora_dump_stream.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <random>

#include "ora_dump_test_support.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// An allocation above 256 MB in a reader test is a runaway count: let the
// sanitizer report it instead of the machine running out of memory.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=256";
}
#endif

namespace {

namespace fs = std::filesystem;

using tk_test::memory_cap;

class hostile : public tk_test::home_fixture {
protected:
    hostile()
    {
        fe.answers.clear();
        // Tens of thousands of small files: in memory where the machine has
        // a memory file system.
        if (::access("/dev/shm", W_OK) == 0) {
            tk_test::scoped_env in_memory("TMPDIR", std::string("/dev/shm"));
            cases_dir.emplace();
        } else {
            cases_dir.emplace();
        }
    }
    // One damaged dump: scan it from a fresh file, then save and reload the
    // context when the scan completed.
    void one_case(const std::vector<std::uint8_t>& bytes, std::int64_t body, bool merge, std::size_t window,
                  const std::string& label)
    {
        const std::string path = cases_dir->file("case.dmp");
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        fe.calls.clear();
        reader.reset_dump_state();
        reader.set_ui_progress(0);
        reader.merge_schema = merge;
        reader.info.dump_length = static_cast<std::int64_t>(bytes.size());

        ora_dump_file::context c;
        c.path = tk_utf8_to_wide(path);
        c.merge_schema = merge;
        ASSERT_TRUE(c.stat_dump());
        c.stream = ora_dump_stream::open_file(path, window);
        seek_to_pos(*c.stream, body);
        bool reported = false;
        try {
            std::unique_ptr<ora_dump_reader_th> rows = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
            reader.find_ora_objects(*c.stream, c, rows.get());
        } catch (const tk_final_exception&) {
            reported = true;
        }
        for (const auto& call : fe.calls) {
            ASSERT_NE(call.name, "show_internal_error") << label << ": " << call.text;
            if (call.name == "show_error") {
                ASSERT_TRUE(call.text == "Something went wrong when searching a string in the file" ||
                            call.text == ora_dump_reader::message(0))
                    << label << ": " << call.text;
            }
        }
        ASSERT_FALSE(memory_cap::allocation_failed()) << label;
        if (reported) {
            ASSERT_FALSE(c.complete) << label;
            ASSERT_EQ(reader.get_progress(), -1) << label;
        }
        for (const auto& [key, t] : c.tables) {
            ASSERT_FALSE(key.empty()) << label;
            ASSERT_TRUE(t.start_pos >= body && t.start_pos <= t.end_pos && t.end_pos <= reader.info.dump_length)
                << label;
        }

        const std::wstring context_name = ora_dump_file::context_file_name(c.path);
        ASSERT_EQ(c.save(), c.complete) << label;
        ora_dump_file::context back;
        ASSERT_EQ(back.load_if(c.path, merge, 0), c.complete) << label;
        if (c.complete) {
            ASSERT_EQ(back.tables, c.tables) << label;
        }
        fs::remove(tk_wide_to_utf8(context_name));
        fs::remove(path);
    }

    void sweep(const std::vector<std::uint8_t>& bytes, std::int64_t body, bool merge, const std::string& name,
               std::size_t sampled_mutations, bool truncations = true)
    {
        std::mt19937 rng(static_cast<unsigned>(bytes.size()) * 2654435761u + (merge ? 1 : 0));
        for (std::size_t n = 0; truncations && n <= bytes.size(); ++n) {
            std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            one_case(cut, body, merge, n % 2 ? 64 : ora_dump_stream::default_window,
                     name + " cut at " + std::to_string(n));
            if (HasFatalFailure())
                return;
        }
        auto mutate = [&](std::size_t at, std::uint8_t value) {
            std::vector<std::uint8_t> m = bytes;
            m[at] = value;
            one_case(m, body, merge, at % 2 ? ora_dump_stream::default_window : 64,
                     name + " byte " + std::to_string(at) + " := " + std::to_string(value));
        };
        if (bytes.size() < 2048) {
            for (std::size_t at = 0; at < bytes.size() && !HasFatalFailure(); ++at) {
                mutate(at, static_cast<std::uint8_t>(bytes[at] ^ (1 + rng() % 255)));
                // The bytes the scan steers by.
                const std::uint8_t steering[] = {'\n', 0, '(', '"', ' '};
                if (!HasFatalFailure())
                    mutate(at, steering[rng() % 5]);
            }
        } else {
            for (std::size_t i = 0; i < sampled_mutations && !HasFatalFailure(); ++i) {
                std::size_t at = rng() % bytes.size();
                mutate(at, static_cast<std::uint8_t>(rng()));
            }
        }
    }

    ora_dump_test::scoped_documents_folder docs{home};
    recording_front_end fe{recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
    std::optional<tk_test::temp_dir> cases_dir;
};

TEST_F(hostile, damaged_writer_dumps)
{
    memory_cap cap;
    for (const auto& c : scan_fixtures::cases()) {
        scan_fixtures::dump d = c.make();
        sweep(d.bytes, d.body, d.merge, c.name, 3000);
        if (HasFatalFailure())
            return;
    }
}

std::vector<std::uint8_t> real_classic_dump()
{
    std::ifstream in(std::string(VELC_REAL_DATA_DIR) + "/classic_v12_exptest.dmp", std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(hostile, truncated_real_classic_dump)
{
    std::vector<std::uint8_t> bytes = real_classic_dump();
    if (bytes.empty())
        GTEST_SKIP() << "no real dumps at " << VELC_REAL_DATA_DIR;
    ASSERT_EQ(bytes.size(), 24576u);
    memory_cap cap;
    sweep(bytes, 63, false, "real", 0);
}

TEST_F(hostile, mutated_real_classic_dump)
{
    std::vector<std::uint8_t> bytes = real_classic_dump();
    if (bytes.empty())
        GTEST_SKIP() << "no real dumps at " << VELC_REAL_DATA_DIR;
    ASSERT_EQ(bytes.size(), 24576u);
    memory_cap cap;
    sweep(bytes, 63, false, "real", 3000, false);
    // Merging changes only the names.
    if (!HasFatalFailure())
        sweep(bytes, 63, true, "real, merged", 1000, false);
}

}  // namespace
