#include "pgs_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct conn_case {
    const char* what;
    std::string host, user, password, database;
    int port;
    bool keep_case;
    std::string main, fallback;
};

TEST(PgsEngine, ConnectionStrings)
{
    const std::vector<conn_case> cases = {
        {"no database, no port, no host", "", "u", "pw", "", 0, false, "user='u' password='pw' dbname='postgres'",
         "user='u' password='pw'"},
        {"host and port in both", "/tmp/s", "u", "pw", "db", 5433, false,
         "user='u' password='pw' host='/tmp/s' dbname='db' port='5433'",
         "user='u' password='pw' host='/tmp/s' port='5433'"},
        {"empty password is left out", "h", "u", "", "", 0, false, "user='u' host='h' dbname='postgres'",
         "user='u' host='h'"},
        {"empty user is left out", "h", "", "", "", 0, false, "host='h' dbname='postgres'", "host='h'"},
        {"blank, quote and backslash are escaped", "", "u", "a b'c\\d", "", 0, false,
         "user='u' password='a b\\'c\\\\d' dbname='postgres'", "user='u' password='a b\\'c\\\\d'"},
        {"database lower-cased", "", "u", "", "Sales", 0, false, "user='u' dbname='sales'", "user='u'"},
        {"database keeps its case", "", "u", "", "Sales", 0, true, "user='u' dbname='Sales'", "user='u'"},
        {"only the port", "", "", "", "", 1, false, "dbname='postgres' port='1'", "port='1'"},
    };
    for (const auto& c : cases) {
        const pgs_conn_strings s =
            pgs_engine::make_conn_strings(c.host, c.user, c.password, c.database, c.port, c.keep_case);
        EXPECT_EQ(s.main, c.main) << c.what;
        EXPECT_EQ(s.fallback, c.fallback) << c.what;
    }
}

TEST(PgsEngine, QuotingOperations)
{
    struct quote_case {
        std::wstring name;
        bool keep_case;
        std::wstring name_form;   // make_name
        std::wstring ident_form;  // make_ident
    };
    const std::vector<quote_case> cases = {
        {L"Emp", false, L"\"emp\"", L"\"emp\""},
        {L"Emp", true, L"\"Emp\"", L"\"Emp\""},
        {L"Hr.Emp", false, L"\"hr\".\"emp\"", L"\"hr.emp\""},
        {L"a.b.c", false, L"\"a\".\"b.c\"", L"\"a.b.c\""},
        {L"a\"b.c", false, L"\"a\"\"b\".\"c\"", L"\"a\"\"b.c\""},
        {L"x\"; DROP TABLE public.t; --.emp", false, L"\"x\"\"; drop table public\".\"t; --.emp\"",
         L"\"x\"\"; drop table public.t; --.emp\""},
        {L"\u00c4RGER", false, L"\"\u00c4rger\"", L"\"\u00c4rger\""},
        {L"", false, L"\"\"", L"\"\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pgs_engine::make_name(c.name, c.keep_case), c.name_form);
        EXPECT_EQ(pgs_engine::make_ident(c.name, c.keep_case), c.ident_form);
    }
}

TEST(PgsEngine, OneArgumentQuotingReadsTheRegisteredEngine)
{
    EXPECT_EQ(pgs_engine::make_name(L"A.B"), L"\"a\".\"b\"");
    pgs_engine engine;
    engine.keep_case = true;
    EXPECT_EQ(pgs_engine::make_name(L"A.B"), L"\"A\".\"B\"");
    EXPECT_EQ(pgs_engine::make_ident(L"A.B"), L"\"A.B\"");
    EXPECT_EQ(pgs_in_validator::try_instance(), &engine.index_validator());
    EXPECT_FALSE(engine.is_connected());
    EXPECT_THROW(engine.connection(), tk_exception);
}

}  // namespace
