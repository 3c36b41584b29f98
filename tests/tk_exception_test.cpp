#include "test_support.h"
#include "tk_exception.h"
#include "tk_logger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TEST(TkException, ConstructorsAndLevels)
{
    struct row {
        const char* name;
        tk_exception e;
        std::string message;
        int level;
        int system_error;
    };
    errno = 0;
    const row rows[] = {
        {"level only", tk_exception(0), "Unknown exception", 0, 0},
        {"empty text", tk_exception(std::string(), 1), "Unknown exception", 1, 0},
        {"text", tk_exception(std::string("Broken"), 2), "Broken", 2, 0},
        {"wide text", tk_exception(std::wstring(L"\u00e9t\u00e9"), 0), "\xC3\xA9t\xC3\xA9", 0, 0},
        {"wide text stops at NUL", tk_exception(std::wstring(L"ab\0cd", 5), 0), "ab", 0, 0},
        {"cast", ole_cast_exception(), "Cannot cast from source type to destination type", 1, 0},
        {"type", ole_type_exception(), "The operating type is not supported yet", 1, 0},
        {"explicit code", tk_exception_ex("Cannot convert to UNICODE string: ", 0, 22, "unknown code page 12345"),
         "Cannot convert to UNICODE string: unknown code page 12345", 0, 22},
        {"explicit code 0", tk_exception_ex("plain", 1, 0, "ignored"), "plain", 1, 0},
        {"errno 0 keeps text", tk_exception_ex("Only text", 1), "Only text", 1, 0},
        {"errno 0 no text", tk_exception_ex(), "Unknown exception", 1, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.e.message, r.message) << r.name;
        EXPECT_STREQ(r.e.what(), r.message.c_str()) << r.name;
        EXPECT_EQ(r.e.level, r.level) << r.name;
        EXPECT_EQ(r.e.system_error, r.system_error) << r.name;
    }
}

TEST(TkException, SystemErrorKeepsTheCallersText)
{
    int fd = open("/nonexistent-folder-of-velc/file", O_RDONLY);
    ASSERT_LT(fd, 0);
    tk_exception_ex e("Cannot open: ", 1);
    EXPECT_EQ(e.system_error, ENOENT);
    EXPECT_EQ(e.message, "Cannot open: No such file or directory");
    EXPECT_EQ(e.level, 1);
}

TEST(TkException, InternalErrorCodes)
{
    tk_mail_assertion a("abc", 12);
    EXPECT_EQ(a.level, 2);
    EXPECT_EQ(a.message, "Internal error: \ncode=6162635c3132");
    EXPECT_EQ(tk_mail_assertion("tk_singl", 35).message, "Internal error: \ncode=746b5f73696e676c5c3335");
    EXPECT_EQ(make_err_meggase("abc", 12), "Internal error: \ncode=6162635c3132");
    // The file-and-line text is cut at 275 characters.
    std::string longname(400, 'a');
    EXPECT_EQ(make_err_meggase(longname.c_str(), 1).size(), std::string("Internal error: \ncode=").size() + 550);
}

TEST(TkException, FinalExceptionIsNotAFailure)
{
    bool caught_as_failure = false;
    bool caught_as_final = false;
    try {
        try {
            throw tk_final_exception();
        } catch (const tk_exception&) {
            caught_as_failure = true;
        }
    } catch (const tk_final_exception&) {
        caught_as_final = true;
    }
    EXPECT_FALSE(caught_as_failure);
    EXPECT_TRUE(caught_as_final);
}

TEST(TkException, CheckRaisesTheNamedPair)
{
    try {
        TK_CHECK(1 + 1 == 3, "tk_errco", 43);
        FAIL() << "no raise";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message, make_err_meggase("tk_errco", 43));
    }
    EXPECT_NO_THROW(TK_CHECK(true, "tk_errco", 43));
}

class TkInternalError : public tk_test::logger_fixture {};

TEST_F(TkInternalError, NonRaisingFormTracesAtLevelThree)
{
    const unsigned long before = tk_internal_error_count();
    tk_internal_error("tk_singl", 46);
    EXPECT_EQ(log_text(), "Internal error:\n" + make_err_meggase("tk_singl", 46) + "\r\n");
    // Nothing is raised, so the count is what tells a test that it happened.
    EXPECT_EQ(tk_internal_error_count(), before + 1);
}
