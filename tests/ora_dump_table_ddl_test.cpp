// The classic table definition: columns from the CREATE TABLE text, indexes
// from CREATE INDEX lines, keys and defaults from ALTER TABLE lines, read at
// positions the writer reports.
#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "ora_dump_writer.h"
#include "ora_dump_writer_rows.h"
#include "ora_dump_writer_table.h"
#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "udb_database.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ora_dump_test_support.h"

namespace {

using ora_dump_test::test_db;

// A table whose stream and decoder the test gives directly, as init would.
class ddl_table : public ora_dump_table {
public:
    using ora_dump_table::ora_dump_table;

    void attach(ora_dump_stream* stream, ora_dump_reader_th* decoder = nullptr)
    {
        m_stream = stream;
        m_decoder = decoder;
        m_end_pos = stream->size();
    }
    const t_orcale_ftd& col(std::size_t i) const { return dynamic_cast<const t_orcale_ftd&>(*schema[i]); }
    std::vector<std::wstring> names() const
    {
        std::vector<std::wstring> out;
        for (const t_ftd* f : schema)
            out.push_back(f->name);
        return out;
    }
};

using names_t = std::vector<std::wstring>;

std::unique_ptr<ora_dump_stream> memory_stream(const std::string& bytes)
{
    return std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_memory_source>(bytes));
}

// A decoder whose dump text is in the given class and code page.
std::unique_ptr<ora_dump_reader_th> decoder_for(int charset_class, int code_page)
{
    auto d = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
    dump_info info;
    info.charset_class = charset_class;
    info.dump_code_page = code_page;
    d->set_dump_info(info);
    return d;
}

// The failure text of a column that cannot be parsed, or "" when none.
std::string desc_failure(ddl_table& t, const std::string& text)
{
    try {
        t.process_table_desc(text);
    } catch (const tk_exception& e) {
        return std::to_string(e.level) + ":" + e.message;
    }
    return "";
}

// --- columns ---------------------------------------------------------------

struct column_case {
    const char* definition;
    const wchar_t* name;
    std::int32_t ora_type;
    VARTYPE vartype;
    std::uint32_t size;
    std::uint32_t reserved;
    bool not_null;
};

TEST(ora_dump_table_ddl, add_field_maps_each_definition)
{
    const column_case cases[] = {
        {"\"ID\" NUMBER(10, 2) NOT NULL ENABLE", L"ID", 1, VT_DECIMAL, 8, 0x0A02, true},
        {"\"N\" NUMBER(2)", L"N", 1, VT_I1, 1, 0x0200, false},
        {"\"N\" NUMBER(3)", L"N", 1, VT_I2, 2, 0x0300, false},
        {"\"N\" NUMBER(4)", L"N", 1, VT_I2, 2, 0x0400, false},
        {"\"N\" NUMBER(5)", L"N", 1, VT_I4, 4, 0x0500, false},
        {"\"N\" NUMBER(9, 0)", L"N", 1, VT_I4, 4, 0x0900, false},
        {"\"N\" NUMBER(10)", L"N", 1, VT_I8, 8, 0x0A00, false},
        {"\"N\" NUMBER(18)", L"N", 1, VT_I8, 8, 0x1200, false},
        {"\"N\" NUMBER(19)", L"N", 1, VT_DECIMAL, 8, 0x1300, false},
        {"\"N\" NUMBER(20)", L"N", 1, VT_DECIMAL, 8, 0x1400, false},
        {"\"N\" NUMBER(22, 0)", L"N", 1, VT_DECIMAL, 8, 0x1600, false},
        {"\"N\" NUMBER(38)", L"N", 1, VT_DECIMAL, 8, 0x2600, false},
        {"\"N\" INTEGER", L"N", 1, VT_DECIMAL, 8, 0x2600, false},
        {"\"N\" NUMBER", L"N", 1, VT_DECIMAL, 8, 0, false},
        {"\"N\" NUMBER(*)", L"N", 1, VT_DECIMAL, 8, 0, false},
        {"\"N\" NUMBER(*,0)", L"N", 1, VT_DECIMAL, 8, 0x2600, false},
        {"\"N\" NUMBER(*,2)", L"N", 1, VT_DECIMAL, 8, 0x2602, false},
        {"\"N\" NUMBER(2,5)", L"N", 1, VT_DECIMAL, 8, 0x0205, false},
        {"\"N\" NUMBER(10,-2)", L"N", 1, VT_DECIMAL, 8, 0x0AFE, false},
        {"\"N\" NUMBER(38,127)", L"N", 1, VT_DECIMAL, 8, 0x267F, false},
        {"\"N\" NUMBER(1,-84)", L"N", 1, VT_DECIMAL, 8, 0x01AC, false},
        {"\"D\" DATE", L"D", 11, VT_DATE, 8, 1, false},
        {"\"T\" TIMESTAMP (6)", L"T", 15, VT_DATE, 0, 1, false},
        // The zone-bearing timestamps are instants, kept in UTC.
        {"\"T\" TIMESTAMP(6) WITH TIME ZONE", L"T", 24, VT_DATE, 0, 4, false},
        {"\"T\" TIMESTAMP (6) WITH LOCAL TIME ZONE", L"T", 24, VT_DATE, 0, 4, false},
        {"\"T\" TIMESTAMP WITH TIME ZONE NOT NULL ENABLE", L"T", 24, VT_DATE, 0, 4, true},
        {"\"T\" TIMESTAMP (3) WITH", L"T", 15, VT_DATE, 0, 1, false},
        {"\"R\" LONG RAW", L"R", 10, VT_BLOB, 0, 0, false},
        {"\"L\" LONG", L"L", 13, VT_BSTR, 0, 0, false},
        {"\"F\" BINARY_FLOAT", L"F", 22, VT_R4, 4, 0, false},
        {"\"F\" BINARY_DOUBLE", L"F", 23, VT_R8, 8, 0, false},
        {"\"F\" FLOAT(126)", L"F", 12, VT_R8, 4, 0, false},
        {"\"C\" NCLOB", L"C", 8, VT_BSTR, 0, 0, false},
        {"\"C\" CLOB", L"C", 8, VT_BSTR, 0, 0, false},
        {"\"B\" BLOB", L"B", 6, VT_BLOB, 0, 0, false},
        {"\"B\" BFILE", L"B", 7, VT_BLOB, 0, 0, false},
        {"\"I\" INTERVAL DAY(2) TO SECOND(6)", L"I", 21, VT_BLOB, 0, 0, false},
        {"\"V\" VARCHAR2(4000 BYTE)", L"V", 4, VT_BSTR, 4000, 0, false},
        {"\"V\" VARCHAR(10)", L"V", 4, VT_BSTR, 10, 0, false},
        {"\"V\" NVARCHAR2(30)", L"V", 5, VT_BSTR, 30, 0, false},
        {"\"V\" NCHAR(3)", L"V", 3, VT_BSTR, 3, 0, false},
        {"\"V\" CHAR(10 CHAR)", L"V", 2, VT_BSTR, 10, 0, false},
        {"\"V\" RAW(16)", L"V", 9, VT_BLOB, 16, 0, false},
        {"\"V\" UROWID", L"V", 14, VT_BSTR, 0, 0, false},
        {"\"X\" \"SYS\".\"XMLTYPE\"", L"X", 17, VT_BSTR, 0, 0, false},
        {"\"G\" \"MDSYS\".\"SDO_GEOMETRY\"", L"G", 21, VT_BLOB, 0, 0, false},
        // NOT NULL is seen in capitals only, and not in the name.
        {"\"n\" NUMBER not null", L"n", 1, VT_DECIMAL, 8, 0, false},
        {"\"NOT NULL\" DATE", L"NOT NULL", 11, VT_DATE, 8, 1, false},
        {"  \"A, B (C)\" VARCHAR2(5)  NOT NULL ", L"A, B (C)", 4, VT_BSTR, 5, 0, true},
        // The column clauses of the releases after 12: identity, collation,
        // visibility.
        {"\"ID\" NUMBER GENERATED BY DEFAULT ON NULL AS IDENTITY MINVALUE 1 MAXVALUE "
         "9999999999999999999999999999 INCREMENT BY 1 START WITH 1 CACHE 20 NOORDER  NOCYCLE  NOKEEP  NOSCALE  "
         "NOT NULL ENABLE",
         L"ID", 1, VT_DECIMAL, 8, 0, true},
        {"\"ID\" NUMBER(9,0) GENERATED ALWAYS AS IDENTITY MINVALUE 1 MAXVALUE 999999999 INCREMENT BY 1 START "
         "WITH 1 CACHE 20 NOORDER  NOCYCLE  NOKEEP  NOSCALE  NOT NULL ENABLE",
         L"ID", 1, VT_I4, 4, 0x0900, true},
        {"\"V\" VARCHAR2(20 BYTE) COLLATE \"USING_NLS_COMP\"", L"V", 4, VT_BSTR, 20, 0, false},
        {"\"V\" CHAR(2 CHAR) COLLATE \"BINARY_CI\" NOT NULL ENABLE", L"V", 2, VT_BSTR, 2, 0, true},
        {"\"D\" DATE INVISIBLE", L"D", 11, VT_DATE, 8, 1, false},
    };
    for (const column_case& c : cases) {
        SCOPED_TRACE(c.definition);
        ddl_table t(nullptr, false, L"T");
        ASSERT_TRUE(t.add_field(c.definition));
        ASSERT_EQ(t.schema.size(), 1u);
        const t_orcale_ftd& f = t.col(0);
        EXPECT_EQ(f.name, c.name);
        EXPECT_EQ(f.ora_type, c.ora_type);
        EXPECT_EQ(f.vartype, c.vartype);
        EXPECT_EQ(f.size, c.size);
        EXPECT_EQ(f.reserved, c.reserved);
        EXPECT_EQ(f.b_not_null, c.not_null);
        EXPECT_FALSE(f.b_autoincrement);
        EXPECT_EQ(f.default_value.get_vt(), VT_EMPTY);
        EXPECT_TRUE(f.native_type.empty());
    }
}

TEST(ora_dump_table_ddl, add_field_refuses_what_it_cannot_read)
{
    const char* cases[] = {
        "\"V\" VARCHAR2",
        "\"V\" VARCHAR2()",
        "\"V\" VARCHAR2(10, 2)",
        "\"V\" VARCHAR2(-1)",
        "\"V\" VARCHAR2(99999999999)",
        "\"V\" CHAR(x)",
        "\"N\" NUMBER(0)",
        "\"N\" NUMBER(39)",
        "\"N\" NUMBER(10,128)",
        "\"N\" NUMBER(10,-85)",
        "\"N\" NUMBER(99999999999999999999)",
        "\"N\" NUMBER(abc)",
        "\"N\" NUMBER()",
        "\"N\" NUMBER(1,2,3)",
        "\"N\" NUMBER(5",
        "\"ONLY\"",
        "\"\" NUMBER",
        "\" NUMBER",
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        ddl_table t(nullptr, false, L"T");
        EXPECT_FALSE(t.add_field(c));
        EXPECT_TRUE(t.schema.empty());
    }
}

TEST(ora_dump_table_ddl, get_type_tests_the_binary_types_before_float)
{
    struct type_case {
        const char* word;
        std::int32_t ora_type;
        VARTYPE vartype;
        std::uint32_t size;
    };
    const type_case cases[] = {
        {"BINARY_FLOAT", 22, VT_R4, 4}, {"BINARY_DOUBLE", 23, VT_R8, 8}, {"FLOAT", 12, VT_R8, 4},
        {"float(10)", 12, VT_R8, 4},    {"binary_float", 22, VT_R4, 4},  {"LONG RAW", 10, VT_BLOB, 0},
        {"long", 13, VT_BSTR, 0},       {"MYKEY", 16, VT_BSTR, 0},       {"NVARCHAR2(7)", 5, VT_BSTR, 7},
    };
    for (const type_case& c : cases) {
        SCOPED_TRACE(c.word);
        ddl_table t(nullptr, false, L"T");
        std::uint32_t size = 99;
        VARTYPE vt = VT_NULL;
        int scale = 5;
        int precision = 5;
        std::int32_t ora = -1;
        ASSERT_TRUE(t.get_type(c.word, size, vt, scale, precision, ora));
        EXPECT_EQ(ora, c.ora_type);
        EXPECT_EQ(vt, c.vartype);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(scale, 0);
        EXPECT_EQ(precision, 0);
    }
}

TEST(ora_dump_table_ddl, get_typesize_converts_with_checks)
{
    struct size_case {
        const char* word;
        bool ok;
        std::vector<std::int64_t> sizes;
    };
    const size_case cases[] = {
        {"VARCHAR2(4000 BYTE)", true, {4000}},
        {"NUMBER( 10 , -2 )", true, {10, -2}},
        {"NUMBER(*,0)", true, {38, 0}},
        {"NUMBER(*)", true, {38}},
        {"NUMBER()", true, {}},
        {"NUMBER", false, {}},
        {"X)(", false, {}},
        {"NUMBER(12x)", true, {12}},
        {"NUMBER(x)", false, {}},
        {"NUMBER(5,)", false, {}},
        {"NUMBER(99999999999999999999)", false, {}},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.word);
        ddl_table t(nullptr, false, L"T");
        std::vector<std::int64_t> sizes{7};
        EXPECT_EQ(t.get_typesize(c.word, sizes), c.ok);
        EXPECT_EQ(sizes, c.sizes);
    }
}

TEST(ora_dump_table_ddl, native_types_keep_the_declaration_of_non_text_columns)
{
    ddl_table t(nullptr, true, L"T");
    ASSERT_TRUE(t.process_table_desc("(\"N\" NUMBER(10, 2), \"V\" VARCHAR2(5), \"R\" long raw, \"D\" DATE)\n"));
    ASSERT_EQ(t.schema.size(), 4u);
    EXPECT_EQ(t.col(0).native_type, L"NUMBER(10, 2)");
    EXPECT_EQ(t.col(1).native_type, L"");
    EXPECT_EQ(t.col(2).native_type, L"LONG RAW");
    EXPECT_EQ(t.col(3).native_type, L"DATE");
}

// --- whole CREATE TABLE lines ---------------------------------------------------

TEST(ora_dump_table_ddl, process_table_desc_splits_outside_quotes_and_parentheses)
{
    struct line_case {
        const char* text;
        names_t names;
    };
    const line_case cases[] = {
        {"(\"A,B\" NUMBER, \"C\" DATE)", {L"A,B", L"C"}},
        {"(\"A)\" NUMBER(5), \"B(\" DATE, \"C\" VARCHAR2(3))", {L"A)", L"B(", L"C"}},
        {"(\"ID\" NUMBER, \"V\" VARCHAR2(10 CHAR), PRIMARY KEY (\"ID\") ENABLE)", {L"ID", L"V"}},
        {"(\"ID\" NUMBER, CONSTRAINT \"C1\" CHECK (\"ID\" > 0) ENABLE, \"X\" DATE)", {L"ID", L"X"}},
        // Constraint pieces anywhere add no column.
        {"(CHECK (\"ID\" IN (1, 2)), \"ID\" NUMBER, UNIQUE (\"ID\", \"X\"), FOREIGN KEY (\"ID\") REFERENCES "
         "\"P\" (\"ID\"), PRIMARY KEY (\"ID\"), SUPPLEMENTAL LOG DATA (ALL) COLUMNS, \"X\" DATE, "
         "constraint \"C2\" check (\"X\" is not null))",
         {L"ID", L"X"}},
        {"(\"ID\" NUMBER, \"T\" VARCHAR2(5) CHECK (\"T\" IN ('a,b', 'c)')), \"X\" DATE)", {L"ID", L"T", L"X"}},
        // Whatever follows the column list is not read.
        {"(\"A\" DATE)  PCTFREE 10 LOB (\"B\") STORE AS (TABLESPACE \"USERS\")\n", {L"A"}},
        {"(\"A\" DATE, \"B\" VARCHAR2(5) COLLATE \"USING_NLS_COMP\")  DEFAULT COLLATION \"USING_NLS_COMP\" "
         "PCTFREE 10 INMEMORY PRIORITY NONE MEMCOMPRESS FOR QUERY LOW MEMOPTIMIZE FOR READ PARTITION BY RANGE "
         "(\"A\") INTERVAL (NUMTOYMINTERVAL(1, 'MONTH')) (PARTITION \"P1\" VALUES LESS THAN (TO_DATE(' "
         "2024-01-01 00:00:00', 'SYYYY-MM-DD HH24:MI:SS', 'NLS_CALENDAR=GREGORIAN')))\n",
         {L"A", L"B"}},
        {"()", {}},
        {"(  )", {}},
    };
    for (const line_case& c : cases) {
        SCOPED_TRACE(c.text);
        ddl_table t(nullptr, false, L"T");
        ASSERT_TRUE(t.process_table_desc(c.text));
        EXPECT_EQ(t.names(), c.names);
    }
}

TEST(ora_dump_table_ddl, process_table_desc_answers_no_without_a_whole_list)
{
    for (const char* text : {"", "\"A\" NUMBER", "(\"A\" NUMBER, \"B\" VARCHAR2(5)", "(\"A)\" NUMBER",
                             "(\"A\" NUMBER, \"B\" VARCHAR2(5)\n"}) {
        SCOPED_TRACE(text);
        ddl_table t(nullptr, false, L"T");
        EXPECT_FALSE(t.process_table_desc(text));
        EXPECT_TRUE(t.schema.empty());
    }
}

TEST(ora_dump_table_ddl, a_column_that_cannot_be_parsed_fails_the_table_at_level_0)
{
    ddl_table t(nullptr, false, L"EMP");
    EXPECT_EQ(desc_failure(t, "(\"A\" NUMBER, \"V\" VARCHAR2)"),
              "0:Cannot parse table decription, [TABLE] EMP: \"V\" VARCHAR2");
    ddl_table t2(nullptr, false, L"EMP");
    EXPECT_EQ(desc_failure(t2, "(\"N\" NUMBER(40, 2), \"A\" DATE)"),
              "0:Cannot parse table decription, [TABLE] EMP: \"N\" NUMBER(40, 2)");
}

TEST(ora_dump_table_ddl, columns_differing_only_in_case_are_both_kept)
{
    ddl_table t(nullptr, false, L"T");
    ASSERT_TRUE(t.process_table_desc("(\"a\" NUMBER(5), \"A\" VARCHAR2(10), \"a\" DATE)"));
    // Only the exactly equal name is a duplicate: the first stays.
    EXPECT_EQ(t.names(), (names_t{L"a", L"A"}));
    EXPECT_EQ(t.col(0).vartype, VT_I4);
    EXPECT_EQ(t.col(1).vartype, VT_BSTR);
}

TEST(ora_dump_table_ddl, the_real_dump_line_gives_its_schema)
{
    const std::string line =
        "(\"KEYCOL\" NUMBER(*,0) NOT NULL ENABLE, \"NUMCOL1\" NUMBER(22, 0), \"FLOATCOL1\" FLOAT(126), "
        "\"STRCOL1\" VARCHAR2(200), \"DATECOL1\" DATE, \"BLOBCOL1\" BLOB, \"TIMESTAMP1\" TIMESTAMP (6))  PCTFREE "
        "10 PCTUSED 40 INITRANS 1 MAXTRANS 255 STORAGE(INITIAL 65536 NEXT 1048576 MINEXTENTS 1 FREELISTS 1 "
        "FREELIST GROUPS 1 BUFFER_POOL DEFAULT) TABLESPACE \"USERS\" LOGGING NOCOMPRESS LOB (\"BLOBCOL1\") STORE "
        "AS SECUREFILE  (TABLESPACE \"USERS\" ENABLE STORAGE IN ROW CHUNK 8192 RETENTION AUTO NOCACHE LOGGING  "
        "NOCOMPRESS KEEP_DUPLICATES STORAGE(INITIAL 106496 NEXT 1048576 MINEXTENTS 1 BUFFER_POOL DEFAULT))\n";
    ddl_table t(nullptr, false, L"TABLE1");
    ASSERT_TRUE(t.process_table_desc(line));
    ASSERT_EQ(t.names(), (names_t{L"KEYCOL", L"NUMCOL1", L"FLOATCOL1", L"STRCOL1", L"DATECOL1", L"BLOBCOL1",
                                  L"TIMESTAMP1"}));
    EXPECT_EQ(t.col(0).vartype, VT_DECIMAL);
    EXPECT_EQ(t.col(0).reserved, 0x2600u);
    EXPECT_TRUE(t.col(0).b_not_null);
    EXPECT_EQ(t.col(1).vartype, VT_DECIMAL);
    EXPECT_EQ(t.col(1).reserved, 0x1600u);
    EXPECT_FALSE(t.col(1).b_not_null);
    EXPECT_EQ(t.col(2).vartype, VT_R8);
    EXPECT_EQ(t.col(3).vartype, VT_BSTR);
    EXPECT_EQ(t.col(3).size, 200u);
    EXPECT_EQ(t.col(4).vartype, VT_DATE);
    EXPECT_EQ(t.col(4).reserved, 1u);
    EXPECT_EQ(t.col(5).vartype, VT_BLOB);
    EXPECT_EQ(t.col(5).ora_type, 6);
    EXPECT_EQ(t.col(6).vartype, VT_DATE);
    EXPECT_EQ(t.col(6).ora_type, 15);
    EXPECT_EQ(t.col(6).reserved, 1u);
}

TEST(ora_dump_table_ddl, smart_trim_tail_keeps_one_character)
{
    const std::pair<const char*, const char*> cases[] = {
        {"abc \r\n", "abc"}, {"a b", "a b"}, {" x", " x"}, {"\n", "\n"}, {"  ", " "}, {"", ""}, {"'a'\n\n", "'a'"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(smart_trim_tail(in), out) << in;
}

// --- CREATE INDEX ----------------------------------------------------------------

// Statement lines written one after another, with the places the scan
// records: for CREATE [UNIQUE] INDEX the index name to the line feed, for
// ALTER TABLE the text after the table name to the line feed.
struct ddl_text {
    ora_dump_writer writer;

    table_pos::index_record index(const std::string& line, bool unique = false)
    {
        const std::string prefix = unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
        const std::int64_t at = writer.line(prefix + line);
        return {at + static_cast<std::int64_t>(prefix.size()), writer.offset() - 1, unique};
    }
    std::pair<std::int64_t, std::int64_t> alter(const std::string& clause, const std::string& table = "\"T\"")
    {
        const std::string prefix = "ALTER TABLE " + table;
        const std::int64_t at = writer.line(prefix + clause);
        return {at + static_cast<std::int64_t>(prefix.size()), writer.offset() - 1};
    }
    // ALTER TABLE "T" MODIFY DEFAULT, a line feed, the clause's length and
    // the clause.
    std::pair<std::int64_t, std::int64_t> modify_default(const std::string& clause)
    {
        const std::string prefix = "ALTER TABLE \"T\"";
        const std::int64_t at = writer.line_bare(prefix + " MODIFY DEFAULT");
        const std::int64_t end = writer.offset();
        std::string head = "\n";
        head += static_cast<char>(clause.size() & 0xFF);
        head += static_cast<char>(clause.size() >> 8);
        writer.raw(head + clause);
        writer.line("");
        return {at + static_cast<std::int64_t>(prefix.size()), end};
    }
};

struct ddl_case {
    ddl_text text;
    test_db db;
    std::unique_ptr<ora_dump_stream> stream;
    std::unique_ptr<ora_dump_reader_th> decoder;
    std::unique_ptr<ddl_table> table;

    explicit ddl_case(const std::string& columns = "(\"A\" NUMBER, \"B\" VARCHAR2(5), \"c\" DATE)",
                      std::unique_ptr<ora_dump_reader_th> dec = nullptr)
        : decoder(std::move(dec))
    {
        text.writer.line("EXPORT:V12.01.00");
        table = std::make_unique<ddl_table>(&db, false, L"T");
        columns_text = columns;
    }
    // Call once the statements are written.
    void open()
    {
        text.writer.line("EXIT");
        stream = memory_stream(text.writer.str());
        table->attach(stream.get(), decoder.get());
        if (!table->process_table_desc(columns_text))
            throw std::runtime_error("columns");
    }
    std::string columns_text;
};

std::string describe(const udb_index& i)
{
    std::string out(i.name.begin(), i.name.end());
    out += i.b_primary ? " primary" : i.b_unique ? " unique" : "";
    out += " (";
    for (std::size_t k = 0; k < i.columns.size(); ++k)
        out += (k ? "," : "") + std::string(i.columns[k].begin(), i.columns[k].end());
    return out + ")";
}

std::vector<std::string> describe(const udb_indexes& list)
{
    std::vector<std::string> out;
    for (const udb_index& i : list)
        out.push_back(describe(i));
    return out;
}

using texts_t = std::vector<std::string>;

TEST(ora_dump_table_ddl, parse_indexes_reads_plain_column_lists_only)
{
    ddl_case c;
    std::vector<table_pos::index_record> places;
    places.push_back(c.text.index("\"I1\" ON \"T\" (\"A\" , \"B\" )  PCTFREE 10 INITRANS 2"));
    places.push_back(c.text.index("\"U1\" ON \"T\" (\"B\" ) PCTFREE 10", true));
    places.push_back(c.text.index("\"F1\" ON \"T\" (UPPER(\"B\") ) PCTFREE 10"));
    places.push_back(c.text.index("\"M1\" ON \"T\" (\"A\", \"Z\" ) PCTFREE 10"));
    // A name in other case finds its column; the index keeps the column's
    // own name.
    places.push_back(c.text.index("\"I2\" ON \"T\" (\"C\", \"b\")"));
    // Without a parenthesis the list is the next token, less its first byte.
    places.push_back(c.text.index("\"I3\" ON \"T\" \"A\""));
    c.open();
    c.stream->seek(5);
    EXPECT_TRUE(c.table->parse_indexes(places));
    EXPECT_EQ(c.stream->tell(), 5);
    EXPECT_TRUE(c.stream->good());
    EXPECT_EQ(describe(c.table->indexes), (texts_t{"I1 (A,B)", "U1 unique (B)", "I2 (c,B)", "I3 (A)"}));
}

TEST(ora_dump_table_ddl, parse_indexes_stops_at_a_place_without_an_end)
{
    ddl_case c;
    std::vector<table_pos::index_record> places;
    places.push_back(c.text.index("\"I1\" ON \"T\" (\"A\")"));
    table_pos::index_record broken = c.text.index("\"I2\" ON \"T\" (\"B\")");
    broken.end = 0;
    places.push_back(broken);
    places.push_back(c.text.index("\"I3\" ON \"T\" (\"B\")"));
    c.open();
    EXPECT_FALSE(c.table->parse_indexes(places));
    EXPECT_EQ(describe(c.table->indexes), (texts_t{"I1 (A)"}));
}

// --- ALTER TABLE -------------------------------------------------------------------

TEST(ora_dump_table_ddl, parse_alters_gathers_keys_and_hands_over_the_relationships)
{
    ddl_case c("(\"ID\" NUMBER, \"P\" NUMBER, \"Q\" NUMBER)");
    std::vector<std::pair<std::int64_t, std::int64_t>> places;
    const table_pos::index_record unique = c.text.index("\"T_PK\" ON \"T\" (\"ID\" ) PCTFREE 10", true);
    places.push_back(c.text.alter(" ADD  CONSTRAINT \"T_PK\" PRIMARY KEY (\"ID\") USING INDEX PCTFREE 10 "
                                  "INITRANS 2 TABLESPACE \"USERS\" LOGGING ENABLE "));
    places.push_back(
        c.text.alter(" ADD CONSTRAINT \"FK1\" FOREIGN KEY (\"P\") REFERENCES \"PARENT\" (\"ID\") ENABLE"));
    places.push_back(c.text.alter(" ADD CONSTRAINT \"FK2\" FOREIGN KEY (\"P\", \"Q\") REFERENCES \"P2\" (\"A\", "
                                  "\"B\") ON DELETE CASCADE ENABLE"));
    places.push_back(c.text.alter(" ADD CONSTRAINT \"FK3\" FOREIGN KEY (\"Q\") REFERENCES \"P3\" (\"A\") ON "
                                  "DELETE SET NULL ENABLE"));
    places.push_back(c.text.alter(" ADD CONSTRAINT \"U1\" UNIQUE (\"P\") ENABLE"));
    places.push_back(c.text.alter(" ADD CONSTRAINT \"C1\" CHECK (\"P\" > 0) ENABLE"));
    // Columns that do not pair up make no foreign key.
    places.push_back(c.text.alter(" ADD CONSTRAINT \"FK4\" FOREIGN KEY (\"P\", \"Q\") REFERENCES \"P4\" (\"A\")"));
    c.open();
    ASSERT_TRUE(c.table->parse_indexes({unique}));
    c.stream->seek(3);
    EXPECT_TRUE(c.table->parse_alters(places));
    EXPECT_EQ(c.stream->tell(), 3);

    // The primary key takes over the unique index of its name.
    EXPECT_EQ(describe(c.table->indexes), (texts_t{"T_PK primary (ID)"}));
    ASSERT_EQ(c.db.relationships.size(), 3u);
    const t_relationship& r = c.db.relationships[0];
    EXPECT_EQ(r.fk_name, L"FK1");
    EXPECT_EQ(r.fk_table, L"T");
    EXPECT_EQ(r.pk_table, L"PARENT");
    EXPECT_EQ(r.fk_fields, (names_t{L"P"}));
    EXPECT_EQ(r.pk_fields, (names_t{L"ID"}));
    EXPECT_EQ(r.rule, L"");
    EXPECT_EQ(c.db.relationships[1].fk_fields, (names_t{L"P", L"Q"}));
    EXPECT_EQ(c.db.relationships[1].pk_fields, (names_t{L"A", L"B"}));
    EXPECT_EQ(c.db.relationships[1].rule, L"ON DELETE CASCADE");
    EXPECT_EQ(c.db.relationships[2].rule, L"ON DELETE SET NULL");
}

TEST(ora_dump_table_ddl, a_primary_key_without_constraint_has_no_name)
{
    ddl_case c("(\"ID\" NUMBER)");
    auto place = c.text.alter(" ADD PRIMARY KEY (\"ID\") ENABLE");
    c.open();
    EXPECT_TRUE(c.table->parse_alters({place}));
    EXPECT_EQ(describe(c.table->indexes), (texts_t{" primary (ID)"}));
    EXPECT_TRUE(c.db.relationships.empty());
}

// Keys written inside CREATE TABLE (an index-organized table cannot exist
// without its primary key) are the table's keys, as ALTER TABLE lines
// would give them, and merge with later ones by the index rules.
TEST(ora_dump_table_ddl, keys_inside_create_table)
{
    struct key_case {
        const char* columns;
        const char* alter;  // "": none
        const char* index;  // a CREATE UNIQUE INDEX line, "": none
        texts_t keys;
    };
    const key_case cases[] = {
        {"(\"COUNTRY_ID\" CHAR(2) CONSTRAINT \"COUNTRY_ID_NN\" NOT NULL ENABLE, \"COUNTRY_NAME\" VARCHAR2(40), "
         "\"REGION_ID\" NUMBER,  CONSTRAINT \"COUNTRY_C_ID_PK\" PRIMARY KEY (\"COUNTRY_ID\") ENABLE ) "
         "ORGANIZATION INDEX  PCTFREE 10",
         "", "", {"COUNTRY_C_ID_PK primary (COUNTRY_ID)"}},
        {"(\"A\" NUMBER, \"B\" NUMBER, \"C\" DATE, CONSTRAINT \"AB_PK\" PRIMARY KEY (\"B\", \"A\") ENABLE)", "",
         "", {"AB_PK primary (B,A)"}},
        // Without CONSTRAINT "N", and as the list's first piece.
        {"(PRIMARY KEY (\"A\") ENABLE, \"A\" NUMBER, \"B\" NUMBER)", "", "", {" primary (A)"}},
        {"(\"A\" NUMBER, \"B\" NUMBER, UNIQUE (\"B\") ENABLE)", "", "", {" unique (B)"}},
        {"(\"A\" NUMBER, \"B\" NUMBER, CONSTRAINT \"B_UK\" UNIQUE (\"B\", \"A\") ENABLE)", "", "",
         {"B_UK unique (B,A)"}},
        // A column's own key.
        {"(\"A\" NUMBER CONSTRAINT \"A_PK\" PRIMARY KEY, \"B\" NUMBER UNIQUE)", "", "",
         {"A_PK primary (A)", " unique (B)"}},
        // Merged with a later ALTER TABLE or CREATE INDEX, never twice.
        {"(\"A\" NUMBER, CONSTRAINT \"T_PK\" PRIMARY KEY (\"A\") ENABLE)",
         " ADD CONSTRAINT \"T_PK\" PRIMARY KEY (\"A\") ENABLE", "\"T_PK\" ON \"T\" (\"A\" ) PCTFREE 10",
         {"T_PK primary (A)"}},
        {"(\"A\" NUMBER, \"B\" NUMBER, CONSTRAINT \"U1\" UNIQUE (\"B\") ENABLE)", "",
         "\"U1\" ON \"T\" (\"B\" ) PCTFREE 10", {"U1 unique (B)"}},
        // A second primary key of another name is none.
        {"(\"A\" NUMBER, \"B\" NUMBER, CONSTRAINT \"P1\" PRIMARY KEY (\"A\") ENABLE)",
         " ADD CONSTRAINT \"P2\" PRIMARY KEY (\"B\") ENABLE", "", {"P1 primary (A)"}},
        // CHECK and FOREIGN KEY pieces, keys on missing columns or on
        // expressions add nothing.
        {"(\"A\" NUMBER, CONSTRAINT \"C1\" CHECK (\"A\" > 0) ENABLE, CONSTRAINT \"F1\" FOREIGN KEY (\"A\") "
         "REFERENCES \"P\" (\"ID\") ENABLE, CONSTRAINT \"X\" PRIMARY KEY (\"Z\"), UNIQUE (UPPER(\"A\")), "
         "PRIMARY KEY ENABLE)",
         "", "", {}},
    };
    for (const key_case& k : cases) {
        SCOPED_TRACE(k.columns);
        ddl_case c(k.columns);
        std::vector<table_pos::index_record> indexes;
        if (*k.index)
            indexes.push_back(c.text.index(k.index, true));
        std::vector<std::pair<std::int64_t, std::int64_t>> alters;
        if (*k.alter)
            alters.push_back(c.text.alter(k.alter));
        c.open();
        c.table->parse_indexes(indexes);
        EXPECT_TRUE(c.table->parse_alters(alters));
        EXPECT_EQ(describe(c.table->indexes), k.keys);
        EXPECT_TRUE(c.db.relationships.empty());
    }
}

TEST(ora_dump_table_ddl, a_start_of_zero_ends_the_pass_and_drops_the_relationships)
{
    ddl_case c("(\"P\" NUMBER)");
    auto fk = c.text.alter(" ADD CONSTRAINT \"FK1\" FOREIGN KEY (\"P\") REFERENCES \"PARENT\" (\"ID\") ENABLE");
    auto pk = c.text.alter(" ADD CONSTRAINT \"PK\" PRIMARY KEY (\"P\") ENABLE");
    c.open();
    EXPECT_TRUE(c.table->parse_alters({fk, {0, 0}, pk}));
    EXPECT_TRUE(c.db.relationships.empty());
    EXPECT_TRUE(c.table->indexes.empty());
}

TEST(ora_dump_table_ddl, modify_default_sets_literals_only)
{
    struct default_case {
        const char* clause;
        const char* column;
        const wchar_t* expected;  // null: no default
    };
    const default_case cases[] = {
        {"(\"S\" DEFAULT 'abc')", "S", L"abc"},
        {"(\"S\" DEFAULT 'O''Neil')", "S", L"O'Neil"},
        {"(\"S\" DEFAULT '''')", "S", L"'"},
        {"(\"S\" DEFAULT N'x y' )", "S", L"x y"},
        {"(\"S\" DEFAULT 'abc' \n)", "S", L"abc"},
        {"(\"S\" DEFAULT sysdate)", "S", nullptr},
        {"(\"D\" DEFAULT SYSDATE)", "D", nullptr},
        {"(\"S\" DEFAULT NULL)", "S", nullptr},
        {"(\"S\" DEFAULT null )", "S", nullptr},
        {"(\"S\" DEFAULT USER)", "S", nullptr},
        {"(\"S\" DEFAULT SYS_GUID())", "S", nullptr},
        {"(\"S\" DEFAULT 'a' || 'b')", "S", nullptr},
        {"(\"S\" DEFAULT '')", "S", nullptr},
        {"(\"N\" DEFAULT 5)", "N", L"5"},
        {"(\"N\" DEFAULT '7')", "N", L"7"},
        // An identity column's default, its sequence's next value, is kept
        // as text; the destination's DEFAULT passes it over.
        {"(\"N\" DEFAULT \"SCOTT\".\"ISEQ$$_73512\".nextval)", "N", L"\"SCOTT\".\"ISEQ$$_73512\".nextval"},
        {"(\"DEFAULT_S\" DEFAULT 'q')", "DEFAULT_S", L"q"},
        // The lookup falls back on a name in other case.
        {"(\"s\" DEFAULT 'abc')", "S", L"abc"},
        {"(\"Z\" DEFAULT 'abc')", "S", nullptr},
        {"\"S\" DEFAULT 'abc'", "S", nullptr},
        {"(\"S\" 'abc')", "S", nullptr},
    };
    for (const default_case& d : cases) {
        SCOPED_TRACE(d.clause);
        ddl_case c("(\"S\" VARCHAR2(10), \"D\" DATE, \"N\" NUMBER(5), \"DEFAULT_S\" VARCHAR2(3))");
        auto place = c.text.modify_default(d.clause);
        c.open();
        EXPECT_TRUE(c.table->parse_alters({place}));
        for (const t_ftd* f : c.table->schema) {
            const std::wstring column(d.column, d.column + std::strlen(d.column));
            if (f->name == column && d.expected) {
                ASSERT_EQ(f->default_value.get_vt(), VT_BSTR);
                EXPECT_EQ(f->default_value.to_wstring(), d.expected);
            } else {
                EXPECT_EQ(f->default_value.get_vt(), VT_EMPTY) << std::string(f->name.begin(), f->name.end());
            }
        }
    }
}

TEST(ora_dump_table_ddl, modify_without_default_and_short_clauses_change_nothing)
{
    ddl_case c("(\"S\" VARCHAR2(10))");
    std::vector<std::pair<std::int64_t, std::int64_t>> places;
    places.push_back(c.text.alter(" MODIFY (\"S\" NOT NULL ENABLE)"));
    // A length beyond the data.
    const std::string prefix = "ALTER TABLE \"T\"";
    const std::int64_t at = c.text.writer.line_bare(prefix + " MODIFY DEFAULT");
    places.push_back({at + static_cast<std::int64_t>(prefix.size()), c.text.writer.offset()});
    c.text.writer.raw(std::string("\n\xFF\xFF(\"S\" DEFAULT 'a')", 19));
    c.open();
    EXPECT_TRUE(c.table->parse_alters(places));
    EXPECT_EQ(c.table->schema[0]->default_value.get_vt(), VT_EMPTY);
}

// Every cut of a text holding each kind of statement reads without a crash
// and leaves the stream where it was.
TEST(ora_dump_table_ddl, truncated_statements_end_cleanly)
{
    ddl_text full;
    full.writer.line("EXPORT:V12.01.00");
    std::vector<table_pos::index_record> indexes{full.index("\"I1\" ON \"T\" (\"A\" , \"B\" ) PCTFREE 10")};
    std::vector<std::pair<std::int64_t, std::int64_t>> alters{
        full.alter(" ADD CONSTRAINT \"FK1\" FOREIGN KEY (\"A\") REFERENCES \"PARENT\" (\"ID\") ENABLE"),
        full.alter(" ADD CONSTRAINT \"PK\" PRIMARY KEY (\"A\", \"B\") ENABLE"),
        full.modify_default("(\"B\" DEFAULT 'abc')"),
    };
    const std::string bytes = full.writer.str();
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        test_db db;
        ddl_table t(&db, false, L"T");
        auto stream = memory_stream(bytes.substr(0, cut));
        t.attach(stream.get());
        ASSERT_TRUE(t.process_table_desc("(\"A\" NUMBER, \"B\" VARCHAR2(5))"));
        const std::int64_t size = static_cast<std::int64_t>(cut);
        auto clip = [&](std::int64_t v) { return std::min(v, size); };
        std::vector<table_pos::index_record> ix = indexes;
        for (auto& i : ix)
            i.end = clip(i.end);
        std::vector<std::pair<std::int64_t, std::int64_t>> al = alters;
        for (auto& a : al)
            a.second = clip(a.second);
        stream->seek(clip(2));
        t.parse_indexes(ix);
        EXPECT_TRUE(t.parse_alters(al));
        EXPECT_EQ(stream->tell(), clip(2));
        EXPECT_LE(db.relationships.size(), 1u);
        EXPECT_LE(t.indexes.size(), 2u);
    }
}

// --- names in the dump's character set -----------------------------------------------

TEST(ora_dump_table_ddl, names_are_decoded_in_the_database_character_set)
{
    // "ИД" and "ТАБ" in windows-1251, then in UTF-8.
    struct set_case {
        int charset_class;
        int code_page;
        std::string id;
        std::string tab;
    };
    const set_case cases[] = {
        {0, 1251, "\xC8\xC4", "\xD2\xC0\xC1"},
        {1, 0, "\xD0\x98\xD0\x94", "\xD0\xA2\xD0\x90\xD0\x91"},
    };
    for (const set_case& s : cases) {
        SCOPED_TRACE(s.code_page);
        ddl_case c("(\"" + s.id + "\" NUMBER(5), \"" + s.tab + "\" VARCHAR2(4))",
                   decoder_for(s.charset_class, s.code_page));
        auto index = c.text.index("\"" + s.tab + "_I\" ON \"T\" (\"" + s.tab + "\")");
        auto fk = c.text.alter(" ADD CONSTRAINT \"" + s.id + "_FK\" FOREIGN KEY (\"" + s.id + "\") REFERENCES \"" +
                               s.tab + "\" (\"" + s.id + "\") ENABLE");
        auto pk = c.text.alter(" ADD CONSTRAINT \"" + s.id + "_PK\" PRIMARY KEY (\"" + s.id + "\") ENABLE");
        auto def = c.text.modify_default("(\"" + s.tab + "\" DEFAULT '" + s.id + "')");
        c.open();
        ASSERT_EQ(c.table->names(), (names_t{L"ИД", L"ТАБ"}));
        EXPECT_TRUE(c.table->parse_indexes({index}));
        EXPECT_TRUE(c.table->parse_alters({fk, pk, def}));
        ASSERT_EQ(c.table->indexes.size(), 2u);
        EXPECT_EQ(c.table->indexes[0].name, L"ТАБ_I");
        EXPECT_EQ(c.table->indexes[0].columns, (names_t{L"ТАБ"}));
        EXPECT_EQ(c.table->indexes[1].name, L"ИД_PK");
        EXPECT_EQ(c.table->indexes[1].columns, (names_t{L"ИД"}));
        ASSERT_EQ(c.db.relationships.size(), 1u);
        EXPECT_EQ(c.db.relationships[0].fk_name, L"ИД_FK");
        EXPECT_EQ(c.db.relationships[0].pk_table, L"ТАБ");
        EXPECT_EQ(c.db.relationships[0].fk_fields, (names_t{L"ИД"}));
        EXPECT_EQ(c.db.relationships[0].pk_fields, (names_t{L"ИД"}));
        EXPECT_EQ(c.table->schema[1]->default_value.to_wstring(), L"ИД");
        try {
            c.table->process_table_desc("(\"" + s.tab + "\" VARCHAR2)");
            ADD_FAILURE() << "no failure";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.message, "Cannot parse table decription, [TABLE] T: \"ТАБ\" VARCHAR2");
        }
    }
}

// --- a whole table --------------------------------------------------------------------

// Columns "a" and "A" through the classic initialisation: each takes its own
// INSERT values, and the index, key and default find the exact name.
TEST(ora_dump_table_ddl, a_table_with_columns_differing_in_case_reads_both)
{
    using ora_rows::row;
    ora_dump_writer writer;
    ora_dump_writer::header_fields h;
    ora_rows::table_spec t;
    t.name = "T";
    t.create_sql = "CREATE TABLE \"T\" (\"a\" NUMBER(5), \"A\" VARCHAR2(10))  PCTFREE 10";
    ora_rows::block_spec b;
    b.insert_sql = "INSERT INTO \"T\" (\"A\", \"a\") VALUES (:1, :2)";
    b.description = ora_rows::description_gen9({ora_rows::entry(1, 10), ora_rows::entry(2, 22)}, 10, {});
    b.rows.push_back(row().value(ora_rows::text(L"upper")).value(ora_rows::number("7")).gap().data());
    t.blocks.push_back(b);
    t.after_lines = {
        "CREATE INDEX \"IA\" ON \"T\" (\"A\" ) PCTFREE 10",
        "ALTER TABLE \"T\" ADD CONSTRAINT \"PK\" PRIMARY KEY (\"a\") ENABLE",
    };
    const ora_rows::dump_offsets offsets = ora_rows::write_dump(writer, h, {t});
    const ora_rows::table_offsets& to = offsets.tables.at(0);
    table_pos pos = ora_rows::table_position(to);
    const std::int64_t index_at = to.after_lines.at(0);
    const std::int64_t alter_at = to.after_lines.at(1);
    pos.index_records.push_back({index_at + 13, alter_at - 1, false});
    pos.alters.emplace_back(alter_at + 15, to.end - 1);

    auto stream = memory_stream(writer.str());
    auto decoder = ora_dump_reader_th::create(12, h.header_token);
    test_db db;
    ora_dump_table table(&db, false, L"T");
    ASSERT_TRUE(table.init(stream.get(), pos, decoder.get(), h.header_token));
    ASSERT_EQ(table.schema.size(), 2u);
    EXPECT_EQ(describe(table.indexes), (texts_t{"IA (A)", "PK primary (a)"}));
    table.reset();
    ASSERT_FALSE(table.is_eof());
    udb_record* r = table.get_item();
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->size(), 2u);
    EXPECT_EQ((*r)[0].to_wstring(), L"7");
    EXPECT_EQ((*r)[1].to_wstring(), L"upper");
}

}  // namespace
