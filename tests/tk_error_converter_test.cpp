#include "tk_error_converter.h"

#include "tk_exception.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(tk_error_converter, looks_codes_up_and_keeps_the_first_of_two_equal_codes)
{
    const tk_error_converter::entry table[] = {
        {-1032, "no server"},
        {7, "seven"},
        {-1032, "second text for the same code"},
        {0, ""},
    };
    tk_error_converter c(4, table);
    EXPECT_EQ(c.convert(-1032), "no server");
    EXPECT_EQ(c.convert(7), "seven");
    EXPECT_EQ(c.convert(8), "");
    EXPECT_EQ(c.convert(1032), "");

    // A later load adds codes but never replaces a held text.
    const tk_error_converter::entry more[] = {{7, "other"}, {9, "nine"}};
    c.load_map(2, more);
    EXPECT_EQ(c.convert(7), "seven");
    EXPECT_EQ(c.convert(9), "nine");
}

TEST(tk_error_converter, an_empty_table_knows_no_code)
{
    const tk_error_converter::entry table[] = {{1, "one"}};
    tk_error_converter c(0, table);
    EXPECT_EQ(c.convert(1), "");
}

TEST(tk_error_converter, a_null_table_is_an_internal_error)
{
    try {
        tk_error_converter c(2, nullptr);
        FAIL() << "no failure raised";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level, 2);
        EXPECT_EQ(e.message, make_err_meggase("tk_errco", 43));
        // "tk_errco\43" in hex.
        EXPECT_EQ(e.message, "Internal error: \ncode=746b5f657272636f5c3433");
    }
}

}  // namespace
