// The forked child of the permission checks: a child that could not drop its
// rights is told apart from one that crashed, threw or exited on its own, so
// that only the first can turn into a skip.

#include "test_support.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

using kind = tk_test::child_outcome::kind;

TEST(TkTestSupport, ChildOutcomes)
{
    const auto dropped = [] { return true; };
    struct outcome_case {
        const char* what;
        std::function<bool()> drop;
        std::function<bool()> check;
        kind expected;
        std::string how;  // a part of the description; empty: none
    };
    const outcome_case cases[] = {
        {"passes", dropped, [] { return true; }, kind::passed, ""},
        {"fails", dropped, [] { return false; }, kind::failed, ""},
        {"cannot drop", [] { return false; }, [] { return true; }, kind::not_dropped, "could not drop its rights"},
        {"aborts", dropped, []() -> bool { std::abort(); }, kind::abnormal, "killed by signal 6"},
        {"throws", dropped, []() -> bool { throw std::runtime_error("boom"); }, kind::abnormal, "threw: boom"},
        {"throws a non-exception", dropped, []() -> bool { throw 7; }, kind::abnormal, "other than an exception"},
        {"exits on its own", dropped, []() -> bool { _exit(1); }, kind::abnormal, "exited with status 1"},
    };
    for (const outcome_case& c : cases) {
        SCOPED_TRACE(c.what);
        const tk_test::child_outcome r = tk_test::run_in_child(c.drop, c.check);
        EXPECT_EQ(r.what, c.expected) << r.how;
        if (c.how.empty())
            EXPECT_EQ(r.how, "");
        else
            EXPECT_NE(r.how.find(c.how), std::string::npos) << r.how;
    }
}

TEST(TkTestSupport, CrashInTheUnprivilegedChildFailsTheTest)
{
    EXPECT_NONFATAL_FAILURE(tk_test::run_as_nobody([]() -> bool { std::abort(); }), "killed by signal 6");
    EXPECT_NONFATAL_FAILURE(tk_test::run_as_nobody([]() -> bool { throw std::runtime_error("lost"); }),
                            "the check threw: lost");
}

TEST(TkTestSupport, UnprivilegedChildGivesTheCheckResult)
{
    const auto yes = tk_test::run_as_nobody([] { return true; });
    if (!yes)
        GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_TRUE(*yes);
    EXPECT_EQ(tk_test::run_as_nobody([] { return getuid() == 0; }), false);
}

}  // namespace
