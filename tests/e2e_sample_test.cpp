// The committed sample dump is what its writer program makes, byte for
// byte: regenerate it with build/tests/make_sample_dump samples/sample.dmp
// after a change. The writer writes only where it is told.

#include "e2e_support.h"
#include "sample_dump.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

TEST(E2eSample, CommittedSampleEqualsTheWriterOutput)
{
    const classic_dump::bytes made = sample_dump::bytes();
    const std::string committed = tk_test::read_file(VELC_SAMPLE_DUMP);
    EXPECT_LT(made.size(), 64u * 1024u);
    EXPECT_TRUE(committed == std::string(made.begin(), made.end()))
        << "samples/sample.dmp differs from make_sample_dump's output (" << committed.size() << " vs "
        << made.size() << " bytes)";
}

// Help is no file name, and no path is no licence to overwrite the
// committed sample: the program writes only the path it is given.
TEST(E2eSample, TheWriterWritesOnlyWhereItIsTold)
{
    namespace fs = std::filesystem;
    const std::string usage_start = "Usage: make_sample_dump PATH\n";
    const classic_dump::bytes made = sample_dump::bytes();
    const std::string sample_bytes(made.begin(), made.end());
    struct row {
        const char* name;
        std::vector<std::string> args;
        int status;
        bool usage_on_stdout;
        std::string err_start;  // "" when nothing goes to the standard error
        std::set<std::string> files;
    };
    const std::vector<row> cases = {
        {"help", {"--help"}, 0, true, "", {}},
        {"short help", {"-h"}, 0, true, "", {}},
        {"no path", {}, 2, false, usage_start, {}},
        {"an unknown option", {"--out=x.dmp"}, 2, false, "make_sample_dump: unknown option '--out=x.dmp'\n", {}},
        {"two paths", {"a.dmp", "b.dmp"}, 2, false, usage_start, {}},
        {"a path", {"new.dmp"}, 0, false, "", {"new.dmp"}},
        {"a path that begins with a dash", {"./-x.dmp"}, 0, false, "", {"-x.dmp"}},
    };
    const auto committed_time = fs::last_write_time(VELC_SAMPLE_DUMP);
    for (const row& c : cases) {
        SCOPED_TRACE(c.name);
        // Run in a folder of its own, the streams kept in another.
        tk_test::temp_dir cwd;
        tk_test::temp_dir streams;
        std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd.path(),
                                         MAKE_SAMPLE_DUMP_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const e2e::result r = e2e::run_process(argv, streams.path(), std::chrono::seconds(30));
        EXPECT_EQ(r.status, c.status) << e2e::describe(r);
        if (c.usage_on_stdout) {
            EXPECT_EQ(r.out.rfind(usage_start, 0), 0u) << r.out;
        }
        if (c.err_start.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.err.rfind(c.err_start, 0), 0u) << r.err;
        }
        std::set<std::string> files;
        for (const auto& entry : fs::directory_iterator(cwd.path()))
            files.insert(entry.path().filename().string());
        EXPECT_EQ(files, c.files);
        for (const std::string& f : c.files) {
            EXPECT_EQ(tk_test::read_file(cwd.path() + "/" + f), sample_bytes);
            EXPECT_EQ(r.out, c.args.front() + ": " + std::to_string(made.size()) + " bytes\n");
        }
    }
    EXPECT_EQ(fs::last_write_time(VELC_SAMPLE_DUMP), committed_time) << "the committed sample was written";
}
