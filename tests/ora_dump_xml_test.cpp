// The Data Pump XML metadata parser, on documents given as text and on the
// documents of the real Data Pump dump.
#include "ora_dump_parser.h"

#include "t_orcale_ftd.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

class test_table : public udb_recordset {
public:
    test_table() : udb_recordset(L"T") {}
    void append_record(udb_record&) override {}
};

using ora_dump_test::test_db;

// One describe-mode parse of a document.
struct described {
    test_table table;
    test_db db;
    ora_dump_parser parser;
    bool complete = false;

    explicit described(const std::string& xml)
    {
        complete = parser.parse_table_description(xml.c_str(), xml.size() + 1, table, &db);
    }
    const t_orcale_ftd& col(std::size_t i) const { return dynamic_cast<const t_orcale_ftd&>(*table.schema[i]); }
    std::vector<std::wstring> names() const
    {
        std::vector<std::wstring> n;
        for (const t_ftd* f : table.schema)
            n.push_back(f->name);
        return n;
    }
};

std::wstring table_name_of(const std::string& xml, ora_dump_parser& parser)
{
    return parser.parse_table_name(xml.c_str(), xml.size() + 1);
}

// A column item. Numbers are left out when negative, so that a test can
// leave out PRECISION_NUM and SCALE as the metadata does.
std::string item(const std::string& name, int type_num, int col_num, const std::string& extra = "", int length = 22,
                 int segcol_num = -2)
{
    std::string s = "<COL_LIST_ITEM><OBJ_NUM>1</OBJ_NUM><COL_NUM>" + std::to_string(col_num) + "</COL_NUM>";
    s += "<SEGCOL_NUM>" + std::to_string(segcol_num == -2 ? col_num : segcol_num) + "</SEGCOL_NUM>";
    s += "<NAME>" + name + "</NAME><TYPE_NUM>" + std::to_string(type_num) + "</TYPE_NUM>";
    s += "<LENGTH>" + std::to_string(length) + "</LENGTH>" + extra + "</COL_LIST_ITEM>";
    return s;
}

std::string schema_obj(const std::string& owner, const std::string& name)
{
    return "<SCHEMA_OBJ><OBJ_NUM>7</OBJ_NUM><OWNER_NAME>" + owner + "</OWNER_NAME><NAME>" + name +
           "</NAME><TYPE_NAME>TABLE</TYPE_NAME></SCHEMA_OBJ>";
}

std::string table_doc(const std::string& columns, const std::string& constraints = "",
                      const std::string& owner = "SCOTT", const std::string& name = "EMP")
{
    return "<?xml version=\"1.0\"?><ROWSET><ROW>\n  <TABLE_T><VERS_MAJOR>2</VERS_MAJOR>" + schema_obj(owner, name) +
           "<COL_LIST>" + columns + "</COL_LIST>" + constraints + "</TABLE_T></ROW></ROWSET>";
}

// A key on columns given as (name, number) pairs, as TABLE_T writes it.
std::string key_item(const std::string& name, int contype, const std::vector<std::pair<std::string, int>>& cols)
{
    std::string s = "<CON1_LIST_ITEM><OWNER_NUM>102</OWNER_NUM><NAME>" + name + "</NAME><CONTYPE>" +
                    std::to_string(contype) + "</CONTYPE><COL_LIST>";
    for (const auto& [col, num] : cols)
        s += "<COL_LIST_ITEM><POS_NUM>1</POS_NUM><COL><COL_NUM>" + std::to_string(num) + "</COL_NUM><SEGCOL_NUM>" +
             std::to_string(num) + "</SEGCOL_NUM><NAME>" + col + "</NAME><TYPE_NUM>2</TYPE_NUM></COL></COL_LIST_ITEM>";
    s += "</COL_LIST><IND><SCHEMA_OBJ><OWNER_NAME>SCOTT</OWNER_NAME><NAME>" + name +
         "</NAME></SCHEMA_OBJ><COL_LIST><COL_LIST_ITEM><COL><NAME>NOT_A_COLUMN</NAME></COL></COL_LIST_ITEM>"
         "</COL_LIST></IND></CON1_LIST_ITEM>";
    return s;
}

std::string foreign_key(const std::string& name, const std::string& ref_owner, const std::string& ref_table,
                        const std::string& src, const std::string& tgt)
{
    return "<CON2_LIST_ITEM><NAME>" + name + "</NAME><CONTYPE>4</CONTYPE>" + schema_obj(ref_owner, ref_table) +
           "<SRC_COL_LIST><SRC_COL_LIST_ITEM><COL><COL_NUM>3</COL_NUM><SEGCOL_NUM>3</SEGCOL_NUM><NAME>" + src +
           "</NAME></COL></SRC_COL_LIST_ITEM></SRC_COL_LIST><TGT_COL_LIST><TGT_COL_LIST_ITEM><COL><COL_NUM>1"
           "</COL_NUM><NAME>" +
           tgt + "</NAME></COL></TGT_COL_LIST_ITEM></TGT_COL_LIST></CON2_LIST_ITEM>";
}

const std::string three_columns = item("EMPNO", 2, 1, "<PRECISION_NUM>4</PRECISION_NUM><SCALE>0</SCALE>") +
                                  item("ENAME", 1, 2, "<CHARSETID>873</CHARSETID>", 10) +
                                  item("DEPTNO", 2, 3, "<PRECISION_NUM>2</PRECISION_NUM><SCALE>0</SCALE>");

// ---------------------------------------------------------------------------
// Name mode.

TEST(OraDumpXmlName, TableDocumentGivesItsNameAndOwnerAndStopsThere)
{
    ora_dump_parser parser;
    // Everything after the name is broken: name mode must not read it.
    const std::string xml = "<?xml version=\"1.0\"?><ROWSET><ROW><TABLE_T>" + schema_obj("SCOTT", "EMP") +
                            "<COL_LIST><COL_LIST_ITEM><TYPE_NUM>999</TYPE_NUM></COL_LIST_ITEM><broken";
    EXPECT_EQ(table_name_of(xml, parser), L"EMP");
    EXPECT_EQ(parser.get_owner(), L"SCOTT");
    EXPECT_EQ(parser.get_table_owner(), L"SCOTT");
    EXPECT_EQ(parser.get_kind(), ora_dump_parser::kind_table);
}

TEST(OraDumpXmlName, StreamTableDocument)
{
    ora_dump_parser parser;
    const std::string xml = "<?xml version=\"1.0\"?><ROWSET><ROW>\n  <STRMTABLE_T><VERS_MAJOR>1</VERS_MAJOR>"
                            "<OWNER_NAME>HR</OWNER_NAME><NAME>JOBS</NAME><COL_LIST>" +
                            three_columns + "</COL_LIST></STRMTABLE_T></ROW></ROWSET>";
    EXPECT_EQ(table_name_of(xml, parser), L"JOBS");
    EXPECT_EQ(parser.get_owner(), L"HR");
    EXPECT_EQ(parser.get_kind(), ora_dump_parser::kind_stream_table);
}

TEST(OraDumpXmlName, SplitTextIsJoinedInBothModes)
{
    // A&amp;B reaches the handler in two pieces, "A" and "&B"; a character
    // reference splits 4&#48;00 in three.
    ora_dump_parser parser;
    EXPECT_EQ(table_name_of(table_doc(three_columns, "", "SCOTT", "A&amp;B"), parser), L"A&B");

    described d(table_doc("<COL_LIST_ITEM><COL_NUM>1</COL_NUM><NAME>C&amp;D</NAME><TYPE_NUM>1</TYPE_NUM>"
                          "<LENGTH>4&#48;00</LENGTH><CHARSETID>873</CHARSETID></COL_LIST_ITEM>",
                          "", "SCOTT", "A&amp;B"));
    ASSERT_EQ(d.table.schema.size(), 1u);
    EXPECT_EQ(d.col(0).name, L"C&D");
    EXPECT_EQ(d.col(0).size, 4000u);
}

TEST(OraDumpXmlName, ConstraintDocumentFilesItsIndexUnderItsBaseObject)
{
    ora_dump_parser::global_index_map map;
    ora_dump_parser parser;
    parser.set_global_indexes(&map);
    const std::string xml =
        "<?xml version=\"1.0\"?><ROWSET><ROW><CONSTRAINT_T><VERS_MAJOR>1</VERS_MAJOR><OWNER_NAME>HR</OWNER_NAME>"
        "<BASE_OBJ><OBJ_NUM>5</OBJ_NUM><OWNER_NAME>HR</OWNER_NAME><NAME>JOBS</NAME></BASE_OBJ>"
        "<CON1><OWNER_NUM>9</OWNER_NUM><NAME>PK_JOBS</NAME><CONTYPE>2</CONTYPE><COL_LIST>"
        "<COL_LIST_ITEM><COL><COL_NUM>1</COL_NUM><NAME>JOB_ID </NAME></COL></COL_LIST_ITEM>"
        "<COL_LIST_ITEM><COL><COL_NUM>2</COL_NUM><NAME>KIND</NAME></COL></COL_LIST_ITEM>"
        "</COL_LIST><IND><SCHEMA_OBJ><NAME>PK_JOBS</NAME></SCHEMA_OBJ></IND></CON1></CONSTRAINT_T></ROW></ROWSET>";
    EXPECT_EQ(table_name_of(xml, parser), L"");
    EXPECT_EQ(parser.get_kind(), ora_dump_parser::kind_constraint);
    ASSERT_EQ(map.size(), 1u);
    const auto it = map.find({L"HR", L"JOBS"});
    ASSERT_NE(it, map.end());
    ASSERT_EQ(it->second.size(), 1u);
    const udb_index& index = it->second[0];
    EXPECT_EQ(index.name, L"PK_JOBS");
    EXPECT_TRUE(index.b_primary);
    EXPECT_FALSE(index.b_unique);
    EXPECT_EQ(index.columns, (std::vector<std::wstring>{L"JOB_ID", L"KIND"}));
}

TEST(OraDumpXmlName, RefConstraintDocumentLeavesOneRelationship)
{
    ora_dump_parser::global_index_map map;
    ora_dump_parser parser;
    parser.set_global_indexes(&map);
    const std::string xml =
        "<?xml version=\"1.0\"?><ROWSET><ROW><REF_CONSTRAINT_T><OWNER_NAME>SCOTT</OWNER_NAME>"
        "<BASE_OBJ><OWNER_NAME>SCOTT</OWNER_NAME><NAME>EMP</NAME></BASE_OBJ>"
        "<CON2><NAME>FK_DEPTNO</NAME><CONTYPE>4</CONTYPE>" +
        schema_obj("SCOTT", "DEPT") +
        "<SRC_COL_LIST><SRC_COL_LIST_ITEM><COL><COL_NUM>8</COL_NUM><NAME>DEPTNO</NAME></COL></SRC_COL_LIST_ITEM>"
        "</SRC_COL_LIST><TGT_COL_LIST><TGT_COL_LIST_ITEM><COL><COL_NUM>1</COL_NUM><NAME> DEPTNO </NAME></COL>"
        "</TGT_COL_LIST_ITEM></TGT_COL_LIST></CON2></REF_CONSTRAINT_T></ROW></ROWSET>";
    EXPECT_EQ(table_name_of(xml, parser), L"");
    EXPECT_TRUE(map.empty());
    ASSERT_EQ(parser.get_relationships().size(), 1u);
    const t_relationship& r = parser.get_relationships()[0];
    EXPECT_EQ(r.fk_name, L"FK_DEPTNO");
    EXPECT_EQ(r.fk_table, L"EMP");
    EXPECT_EQ(r.pk_table, L"DEPT");
    EXPECT_EQ(r.fk_fields, std::vector<std::wstring>{L"DEPTNO"});
    EXPECT_EQ(r.pk_fields, std::vector<std::wstring>{L"DEPTNO"});
}

TEST(OraDumpXmlName, UnreadableDocumentsGiveNoName)
{
    const std::vector<std::string> documents = {
        "",
        "not xml at all",
        "<ROWSET><ROW><TABLE_T><SCHEMA_OBJ><OWNER_NAME>S</OWNER_NAME>",  // cut before the name
        "<OTHER><TABLE_T><SCHEMA_OBJ><NAME>X</NAME></SCHEMA_OBJ></TABLE_T></OTHER>",
        std::string("<ROWSET>\0<ROW/></ROWSET>", 24),
    };
    for (const std::string& xml : documents) {
        ora_dump_parser parser;
        EXPECT_EQ(parser.parse_table_name(xml.data(), xml.size()), L"") << xml;
    }
}

// ---------------------------------------------------------------------------
// Describe mode: columns.

TEST(OraDumpXmlColumns, ColumnItemsAreFiledByTheirNumbers)
{
    // C has COL_NUM 3 and SEGCOL_NUM 5: it is stored fifth, after D (4).
    // N has neither number set to more than 0: a nested table.
    // X is XMLTYPE with COL_NUM 6; the hidden column of the same COL_NUM
    // becomes XMLTYPE as well.
    const std::string columns = item("A", 1, 1, "<CHARSETID>873</CHARSETID>", 10) +
                                item("C", 1, 3, "<CHARSETID>873</CHARSETID>", 10, 5) +
                                item("D", 12, 4, "", 7) + item("N", 2, 0, "", 16) +
                                item("X", 58, 6, "<CHARSETID>873</CHARSETID>", 4000, 6) +
                                item("X_HIDDEN", 112, 6, "<CHARSETID>873</CHARSETID>", 4000, 7);
    described d(table_doc(columns));
    EXPECT_TRUE(d.complete);
    EXPECT_EQ(d.names(), (std::vector<std::wstring>{L"N", L"A", L"D", L"C", L"X", L"X_HIDDEN"}));
    EXPECT_EQ(d.col(0).ora_type, t_orcale_ftd::ora_collection);
    EXPECT_EQ(d.col(0).vartype, VT_BLOB);
    EXPECT_EQ(d.col(0).size, 0u);
    EXPECT_EQ(d.col(2).vartype, VT_DATE);
    EXPECT_EQ(d.col(2).reserved, t_ftd::date_and_time);
    EXPECT_EQ(d.col(4).ora_type, t_orcale_ftd::ora_xmltype);
    EXPECT_EQ(d.col(5).ora_type, t_orcale_ftd::ora_xmltype);
    EXPECT_EQ(d.col(5).vartype, VT_BSTR);
    EXPECT_EQ(d.col(5).charset_id, 873);
}

TEST(OraDumpXmlColumns, TypesSizesAndNotNull)
{
    struct row {
        const char* what;
        std::string extra;
        int type_num;
        int length;
        std::int32_t ora_type;
        VARTYPE vartype;
        std::uint32_t size;
        bool not_null;
    };
    const std::vector<row> rows = {
        {"CLOB 4000", "<CHARSETID>873</CHARSETID>", 112, 4000, t_orcale_ftd::ora_clob, VT_BSTR, 0, false},
        {"BLOB", "", 113, 4000, t_orcale_ftd::ora_blob, VT_BLOB, 0, false},
        {"VARCHAR2 NOT NULL 1", "<NOT_NULL>1</NOT_NULL><CHARSETID>873</CHARSETID>", 1, 30,
         t_orcale_ftd::ora_varchar2, VT_BSTR, 30, true},
        {"NOT_NULL 0", "<NOT_NULL>0</NOT_NULL>", 1, 30, t_orcale_ftd::ora_varchar2, VT_BSTR, 30, false},
        {"NOT_NULL true", "<NOT_NULL>true</NOT_NULL>", 1, 30, t_orcale_ftd::ora_varchar2, VT_BSTR, 30, false},
        {"NVARCHAR2", "<CHARSETID>2000</CHARSETID>", 1, 40, t_orcale_ftd::ora_nvarchar2, VT_BSTR, 40, false},
        {"NCHAR", "<CHARSETID>2000</CHARSETID>", 96, 2, t_orcale_ftd::ora_nchar, VT_BSTR, 2, false},
        {"RAW", "", 23, 16, t_orcale_ftd::ora_raw, VT_BLOB, 16, false},
        {"TIMESTAMP(6)", "<SCALE>6</SCALE>", 180, 11, t_orcale_ftd::ora_timestamp, VT_DATE, 11, false},
        {"BINARY_DOUBLE", "", 101, 8, t_orcale_ftd::ora_binary_double, VT_R8, 8, false},
        {"overflowing LENGTH", "", 1, -1, t_orcale_ftd::ora_varchar2, VT_BSTR, 2147483647u, false},
    };
    for (const row& r : rows) {
        std::string it = item("C", r.type_num, 1, r.extra, r.length);
        if (r.length < 0)
            it = "<COL_LIST_ITEM><COL_NUM>1</COL_NUM><NAME>C</NAME><TYPE_NUM>1</TYPE_NUM>"
                 "<LENGTH>99999999999999999999</LENGTH></COL_LIST_ITEM>";
        described d(table_doc(it));
        ASSERT_EQ(d.table.schema.size(), 1u) << r.what;
        const t_orcale_ftd& c = d.col(0);
        EXPECT_EQ(c.ora_type, r.ora_type) << r.what;
        EXPECT_EQ(c.vartype, r.vartype) << r.what;
        EXPECT_EQ(c.size, r.size) << r.what;
        EXPECT_EQ(c.b_not_null, r.not_null) << r.what;
    }
}

TEST(OraDumpXmlColumns, NumberForms)
{
    // Which of PRECISION_NUM and SCALE the metadata wrote tells the forms
    // apart; nothing is swapped and a negative scale stays.
    struct row {
        const char* what;
        std::string elements;
        std::int32_t ora_type;
        VARTYPE vartype;
        std::uint32_t reserved;
    };
    const std::vector<row> rows = {
        {"NUMBER", "", t_orcale_ftd::ora_number, VT_DECIMAL, 0},
        {"INTEGER", "<SCALE>0</SCALE>", t_orcale_ftd::ora_number, VT_DECIMAL, 0x2600},
        {"NUMBER(*,2)", "<SCALE>2</SCALE>", t_orcale_ftd::ora_number, VT_DECIMAL, 0x2602},
        {"FLOAT(126)", "<PRECISION_NUM>126</PRECISION_NUM>", t_orcale_ftd::ora_float, VT_R8, 0},
        {"NUMBER(2)", "<PRECISION_NUM>2</PRECISION_NUM><SCALE>0</SCALE>", t_orcale_ftd::ora_number, VT_I1, 0x0200},
        {"NUMBER(4)", "<PRECISION_NUM>4</PRECISION_NUM><SCALE>0</SCALE>", t_orcale_ftd::ora_number, VT_I2, 0x0400},
        {"NUMBER(9)", "<PRECISION_NUM>9</PRECISION_NUM><SCALE>0</SCALE>", t_orcale_ftd::ora_number, VT_I4, 0x0900},
        {"NUMBER(18)", "<PRECISION_NUM>18</PRECISION_NUM><SCALE>0</SCALE>", t_orcale_ftd::ora_number, VT_I8, 0x1200},
        {"NUMBER(19)", "<PRECISION_NUM>19</PRECISION_NUM><SCALE>0</SCALE>", t_orcale_ftd::ora_number, VT_DECIMAL,
         0x1300},
        {"NUMBER(7,2)", "<PRECISION_NUM>7</PRECISION_NUM><SCALE>2</SCALE>", t_orcale_ftd::ora_number, VT_DECIMAL,
         0x0702},
        {"NUMBER(2,5)", "<PRECISION_NUM>2</PRECISION_NUM><SCALE>5</SCALE>", t_orcale_ftd::ora_number, VT_DECIMAL,
         0x0205},
        {"NUMBER(10,-2)", "<PRECISION_NUM>10</PRECISION_NUM><SCALE>-2</SCALE>", t_orcale_ftd::ora_number, VT_DECIMAL,
         0x0AFE},
        {"blanks before the digits", "<PRECISION_NUM> 5</PRECISION_NUM><SCALE>\n1</SCALE>", t_orcale_ftd::ora_number,
         VT_DECIMAL, 0x0501},
        {"an empty element is no element", "<PRECISION_NUM></PRECISION_NUM><SCALE/>", t_orcale_ftd::ora_number,
         VT_DECIMAL, 0},
    };
    for (const row& r : rows) {
        described d(table_doc(item("N", 2, 1, r.elements)));
        ASSERT_EQ(d.table.schema.size(), 1u) << r.what;
        EXPECT_EQ(d.col(0).ora_type, r.ora_type) << r.what;
        EXPECT_EQ(d.col(0).vartype, r.vartype) << r.what;
        EXPECT_EQ(d.col(0).reserved, r.reserved) << r.what;
    }
}

class OraDumpXmlLog : public tk_test::logger_fixture {};

TEST_F(OraDumpXmlLog, UnknownTypeLeavesTheListIncomplete)
{
    described d(table_doc(item("A", 1, 1, "", 5) + item("B", 999, 2) + item("C", 1, 3, "", 5)));
    EXPECT_FALSE(d.complete);
    EXPECT_EQ(d.parser.failure_message(), "Unknown field type");
    EXPECT_EQ(d.names(), std::vector<std::wstring>{L"A"});
    EXPECT_NE(log_text().find("XML parser error, unknown field type: type 999"), std::string::npos);
}

TEST_F(OraDumpXmlLog, BrokenXmlInsideTheColumnListLeavesItIncomplete)
{
    const std::string whole = table_doc(three_columns);
    const std::string cut = whole.substr(0, whole.find("<NAME>ENAME"));
    described d(cut);
    EXPECT_FALSE(d.complete);
    EXPECT_TRUE(d.table.schema.empty());
    EXPECT_FALSE(d.parser.failure_message().empty());
    const std::string log = log_text();
    EXPECT_NE(log.find("Couldn't parse xml table description: "), std::string::npos) << log;
    EXPECT_NE(log.find(", line: 2, column: "), std::string::npos) << log;
}

TEST(OraDumpXmlColumns, NoColumnsIsIncomplete)
{
    EXPECT_FALSE(described(table_doc("")).complete);
    EXPECT_FALSE(described("<ROWSET><ROW><TABLE_T>" + schema_obj("S", "T") + "</TABLE_T></ROW></ROWSET>").complete);
}

TEST(OraDumpXmlColumns, HiddenMetadataDoesNotTouchTheColumn)
{
    // A LOB's metadata and a column's constraint carry names and numbers of
    // their own, nested to any depth.
    const std::string it = "<COL_LIST_ITEM><COL_NUM>1</COL_NUM><NAME>DOC</NAME><TYPE_NUM>113</TYPE_NUM>"
                           "<LOBMD><NAME>SYS_LOB</NAME><LOBMD><COL_NUM>9</COL_NUM></LOBMD><TYPE_NUM>1</TYPE_NUM>"
                           "</LOBMD><CON><NAME>X</NAME></CON><LENGTH>4000</LENGTH></COL_LIST_ITEM>";
    described d(table_doc(it + item("B", 1, 2, "", 3)));
    EXPECT_EQ(d.names(), (std::vector<std::wstring>{L"DOC", L"B"}));
    EXPECT_EQ(d.col(0).ora_type, t_orcale_ftd::ora_blob);
}

// ---------------------------------------------------------------------------
// Describe mode: keys and foreign keys.

TEST(OraDumpXmlKeys, KeysAndForeignKeysOfATable)
{
    const std::string constraints = "<CON1_LIST>" + key_item("PK_EMP", 2, {{"  EMPNO  ", 1}}) +
                                    key_item("UK_NAME", 3, {{"ENAME", 2}, {"DEPTNO", 3}}) +
                                    key_item("IX_PLAIN", 1, {{"DEPTNO", 3}}) + "</CON1_LIST><CON2_LIST>" +
                                    foreign_key("FK_DEPTNO", "SCOTT", "DEPT", "DEPTNO", "DEPTNO") + "</CON2_LIST>";
    described d(table_doc(three_columns, constraints));
    EXPECT_TRUE(d.complete);
    EXPECT_EQ(d.parser.failure_message(), "");
    ASSERT_EQ(d.table.indexes.size(), 3u);
    EXPECT_EQ(d.table.indexes[0].name, L"PK_EMP");
    EXPECT_TRUE(d.table.indexes[0].b_primary);
    EXPECT_EQ(d.table.indexes[0].columns, std::vector<std::wstring>{L"EMPNO"});
    EXPECT_TRUE(d.table.indexes[1].b_unique);
    EXPECT_EQ(d.table.indexes[1].columns, (std::vector<std::wstring>{L"ENAME", L"DEPTNO"}));
    EXPECT_FALSE(d.table.indexes[2].b_unique || d.table.indexes[2].b_primary);
    ASSERT_EQ(d.db.relationships.size(), 1u);
    const t_relationship& r = d.db.relationships[0];
    EXPECT_EQ(r.fk_name, L"FK_DEPTNO");
    EXPECT_EQ(r.fk_table, L"EMP");
    EXPECT_EQ(r.pk_table, L"DEPT");
    EXPECT_EQ(r.fk_fields, std::vector<std::wstring>{L"DEPTNO"});
    EXPECT_EQ(r.pk_fields, std::vector<std::wstring>{L"DEPTNO"});
    EXPECT_EQ(d.parser.get_table_owner(), L"SCOTT");
}

// Oracle keeps blanks at the end of a quoted name; the key list's names
// lose theirs, and still name the column.
TEST(OraDumpXmlKeys, AKeyFindsAColumnWhoseNameEndsInABlank)
{
    const std::string columns = item("ID", 2, 1) + item("TAIL ", 1, 2, "<CHARSETID>873</CHARSETID>", 10);
    const std::string constraints =
        "<CON1_LIST>" + key_item("PK_T", 2, {{"TAIL ", 2}}) + key_item("UK_T", 3, {{"ID", 1}}) + "</CON1_LIST>";
    described d(table_doc(columns, constraints));
    EXPECT_TRUE(d.complete);
    EXPECT_EQ(d.parser.failure_message(), "");
    EXPECT_EQ(d.names(), (std::vector<std::wstring>{L"ID", L"TAIL "}));
    ASSERT_EQ(d.table.indexes.size(), 2u);
    EXPECT_TRUE(d.table.indexes[0].b_primary);
    EXPECT_TRUE(d.table.indexes[1].b_unique);
}

TEST(OraDumpXmlKeys, ForeignKeyOwnerReplacesTheOwner)
{
    const std::string constraints =
        "<CON2_LIST>" + foreign_key("FK_X", "HR", "DEPARTMENTS", "DEPTNO", "DEPARTMENT_ID") + "</CON2_LIST>";
    described d(table_doc(three_columns, constraints));
    EXPECT_EQ(d.parser.get_owner(), L"HR");
    EXPECT_EQ(d.parser.get_table_owner(), L"SCOTT");
    ASSERT_EQ(d.db.relationships.size(), 1u);
    EXPECT_EQ(d.db.relationships[0].pk_table, L"DEPARTMENTS");
}

TEST_F(OraDumpXmlLog, KeyOnAMissingColumnEndsTheDescription)
{
    const std::string constraints = "<CON1_LIST>" + key_item("PK_X", 2, {{"NOPE", 1}}) +
                                    key_item("UK_LATER", 3, {{"ENAME", 2}}) + "</CON1_LIST>";
    described d(table_doc(three_columns, constraints));
    EXPECT_TRUE(d.complete);  // the columns are all there
    EXPECT_EQ(d.table.schema.size(), 3u);
    EXPECT_TRUE(d.table.indexes.empty());
    EXPECT_EQ(d.parser.failure_message(), "Field not found during index creation");
    EXPECT_NE(log_text().find("Field not found during index creation"), std::string::npos);
}

TEST(OraDumpXmlKeys, XmlCutAfterTheColumnListKeepsEveryColumn)
{
    const std::string whole =
        table_doc(three_columns, "<CON1_LIST>" + key_item("PK_EMP", 2, {{"EMPNO", 1}}) + "</CON1_LIST>");
    const std::string cut = whole.substr(0, whole.find("<CONTYPE>"));
    described d(cut);
    EXPECT_TRUE(d.complete);
    EXPECT_EQ(d.names(), (std::vector<std::wstring>{L"EMPNO", L"ENAME", L"DEPTNO"}));
    EXPECT_TRUE(d.table.indexes.empty());
    EXPECT_FALSE(d.parser.failure_message().empty());
}

// ---------------------------------------------------------------------------
// Declared encodings and hostile documents.

TEST_F(OraDumpXmlLog, DeclaredEncodingIsOverriddenByUtf8)
{
    for (const char* encoding : {"ISO-8859-1", "AL32UTF8", "UTF-16"}) {
        const std::string xml = std::string("<?xml version=\"1.0\" encoding=\"") + encoding +
                                "\"?><ROWSET><ROW><TABLE_T>" + schema_obj("SCOTT", "CAF\xC3\x89") +
                                "<COL_LIST>" + item("\xD0\xAF", 1, 1, "", 3) + "</COL_LIST></TABLE_T></ROW></ROWSET>";
        ora_dump_parser names;
        EXPECT_EQ(table_name_of(xml, names), L"CAF\u00C9") << encoding;
        described d(xml);
        EXPECT_TRUE(d.complete) << encoding;
        ASSERT_EQ(d.table.schema.size(), 1u) << encoding;
        EXPECT_EQ(d.col(0).name, L"\u042F") << encoding;
    }
    EXPECT_EQ(log_text().find("Couldn't parse"), std::string::npos) << log_text();
}

TEST(OraDumpXmlHostile, ExternalEntitiesAndDtdsAreNotRead)
{
    tk_test::temp_dir dir;
    const std::string secret = dir.file("secret.txt");
    tk_test::write_file(secret, "SECRET");
    const std::string dtd = dir.file("evil.dtd");
    tk_test::write_file(dtd, "<!ENTITY inj \"SECRET\">");
    const std::vector<std::string> documents = {
        "<?xml version=\"1.0\"?><!DOCTYPE ROWSET [<!ENTITY x SYSTEM \"file://" + secret +
            "\">]><ROWSET><ROW><TABLE_T>" + schema_obj("S", "T&x;") + "</TABLE_T></ROW></ROWSET>",
        "<?xml version=\"1.0\"?><!DOCTYPE ROWSET [<!ENTITY % p SYSTEM \"file://" + dtd +
            "\"> %p;]><ROWSET><ROW><TABLE_T>" + schema_obj("S", "T") + "</TABLE_T></ROW></ROWSET>",
        "<?xml version=\"1.0\"?><!DOCTYPE ROWSET SYSTEM \"file://" + dtd + "\"><ROWSET><ROW><TABLE_T>" +
            schema_obj("S", "T") + "</TABLE_T></ROW></ROWSET>",
    };
    for (const std::string& xml : documents) {
        ora_dump_parser parser;
        const std::wstring name = table_name_of(xml, parser);
        EXPECT_EQ(name.find(L"SECRET"), std::wstring::npos) << xml;
        EXPECT_TRUE(name == L"T" || name.empty()) << xml;
    }
}

TEST(OraDumpXmlHostile, EntityExpansionIsBounded)
{
    // Ten levels of ten references: 10^10 expansions.
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE ROWSET [<!ENTITY e0 \"0123456789\">";
    for (int level = 1; level <= 10; ++level) {
        bomb += "<!ENTITY e" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i)
            bomb += "&e" + std::to_string(level - 1) + ";";
        bomb += "\">";
    }
    bomb += "]><ROWSET><ROW><TABLE_T>" + schema_obj("S", "&e10;") + "</TABLE_T></ROW></ROWSET>";

    // One long entity referenced many times, in an attribute and in text.
    const std::string big(200000, 'x');
    std::string refs;
    for (int i = 0; i < 2000; ++i)
        refs += "&big;";
    const std::string wide_attribute = "<?xml version=\"1.0\"?><!DOCTYPE ROWSET [<!ENTITY big \"" + big +
                                       "\">]><ROWSET a=\"" + refs + "\"><ROW/></ROWSET>";
    const std::string wide_text = "<?xml version=\"1.0\"?><!DOCTYPE ROWSET [<!ENTITY big \"" + big +
                                  "\">]><ROWSET><ROW><TABLE_T>" + schema_obj("S", refs) + "</TABLE_T></ROW></ROWSET>";

    for (const std::string* xml : std::vector<const std::string*>{&bomb, &wide_attribute, &wide_text}) {
        const auto start = std::chrono::steady_clock::now();
        ora_dump_parser names;
        EXPECT_EQ(table_name_of(*xml, names), L"");
        described d(*xml);
        EXPECT_FALSE(d.parser.failure_message().empty());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
}

TEST(OraDumpXmlHostile, ManyPredefinedEntitiesStillParse)
{
    std::string name;
    for (int i = 0; i < 20000; ++i)
        name += "&amp;&lt;";
    ora_dump_parser parser;
    const std::wstring got = table_name_of(table_doc(three_columns, "", "S", name), parser);
    EXPECT_EQ(got.size(), 40000u);
    EXPECT_EQ(got.substr(0, 4), L"&<&<");
}

TEST(OraDumpXmlHostile, DeepNestingHugeAttributesAndOversizedDocuments)
{
    std::string deep = "<ROWSET><ROW><TABLE_T>";
    for (int i = 0; i < 100000; ++i)
        deep += "<A>";
    deep += schema_obj("S", "DEEP");
    for (int i = 0; i < 100000; ++i)
        deep += "</A>";
    deep += "<COL_LIST>" + three_columns + "</COL_LIST></TABLE_T></ROW></ROWSET>";
    {
        ora_dump_parser parser;
        EXPECT_EQ(table_name_of(deep, parser), L"DEEP");
        described d(deep);
        EXPECT_TRUE(d.complete);
    }
    {
        // Cut in the middle of the nesting.
        described d(deep.substr(0, deep.size() / 4));
        EXPECT_FALSE(d.complete);
    }
    {
        const std::string xml = "<ROWSET a=\"" + std::string(8u << 20, 'v') + "\"><ROW><TABLE_T>" +
                                schema_obj("S", "ATTR") + "</TABLE_T></ROW></ROWSET>";
        ora_dump_parser parser;
        EXPECT_EQ(table_name_of(xml, parser), L"ATTR");
    }
    {
        std::string xml = table_doc(three_columns);
        xml.resize(ora_dump_parser::max_document_size + 1, ' ');
        described d(xml);
        EXPECT_FALSE(d.complete);
        EXPECT_TRUE(d.table.schema.empty());
        EXPECT_NE(d.parser.failure_message().find("64 MiB"), std::string::npos);
    }
}

TEST(OraDumpXmlHostile, GuardsNest)
{
    xml_platform_guard outer;
    {
        xml_platform_guard inner;
        ora_dump_parser parser;
        EXPECT_EQ(table_name_of(table_doc(three_columns), parser), L"EMP");
    }
    ora_dump_parser parser;
    EXPECT_EQ(table_name_of(table_doc(three_columns), parser), L"EMP");
}

// ---------------------------------------------------------------------------
// The documents of the real Data Pump dump.

std::string real_dump_path() { return std::string(VELC_REAL_DATA_DIR) + "/datapump_12c_scott.dmp"; }

class OraDumpXmlReal : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ifstream in(real_dump_path(), std::ios::binary);
        if (!in)
            GTEST_SKIP() << "no real dump at " << real_dump_path();
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // The 8-bit stream-table document that holds the marker.
    std::string stream_document(const std::string& marker) const
    {
        const std::size_t at = bytes.find(marker);
        if (at == std::string::npos)
            return std::string();
        const std::size_t start = bytes.rfind("<?xml", at);
        const std::size_t end = bytes.find("</ROWSET>", at);
        if (start == std::string::npos || end == std::string::npos)
            return std::string();
        return bytes.substr(start, end + 9 - start);
    }

    // The UTF-16 TABLE_T documents inside the master table's rows, as UTF-8:
    // each one follows its 01 FE chunk header and may go on in 06 01 FE or
    // 03 01 FE chunks.
    std::vector<std::string> utf16_table_documents() const
    {
        static const std::string open("\0<\0?\0x\0m\0l", 10);
        static const std::string close("\0<\0/\0R\0O\0W\0S\0E\0T\0>", 18);
        std::vector<std::string> docs;
        for (std::size_t at = bytes.find(open); at != std::string::npos; at = bytes.find(open, at + 1)) {
            if (at < 4 || static_cast<unsigned char>(bytes[at - 4]) != 0x01 ||
                static_cast<unsigned char>(bytes[at - 3]) != 0xFE)
                continue;
            std::string text;
            std::size_t pos = at - 4;
            while (pos + 5 <= bytes.size() && text.find(close) == std::string::npos) {
                const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
                std::size_t header, length;
                if (b(pos) == 0x01 && b(pos + 1) == 0xFE) {
                    header = 4;
                    length = b(pos + 2) << 8 | b(pos + 3);
                } else if ((b(pos) == 0x06 || b(pos) == 0x03) && b(pos + 1) == 0x01 && b(pos + 2) == 0xFE) {
                    header = 5;
                    length = b(pos + 3) << 8 | b(pos + 4);
                } else {
                    break;
                }
                if (pos + header + length > bytes.size())
                    break;
                text += bytes.substr(pos + header, length);
                pos += header + length;
            }
            const std::size_t end = text.find(close);
            if (end == std::string::npos)
                continue;
            text.resize(end + close.size());
            docs.push_back(tk_wide_to_utf8(
                tk_utf16be_to_wstring(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
        }
        return docs;
    }

    std::string bytes;
};

TEST_F(OraDumpXmlReal, StreamTableDocuments)
{
    const std::string dept = stream_document("<OWNER_NAME>SCOTT</OWNER_NAME><NAME>DEPT</NAME>");
    ASSERT_FALSE(dept.empty());
    ora_dump_parser names;
    EXPECT_EQ(table_name_of(dept, names), L"DEPT");
    EXPECT_EQ(names.get_owner(), L"SCOTT");

    described d(dept);
    ASSERT_TRUE(d.complete);
    EXPECT_EQ(d.names(), (std::vector<std::wstring>{L"DEPTNO", L"DNAME", L"LOC"}));
    EXPECT_EQ(d.col(0).vartype, VT_I1);
    EXPECT_EQ(d.col(0).reserved, 0x0200u);
    EXPECT_TRUE(d.col(0).b_not_null);
    EXPECT_EQ(d.col(1).ora_type, t_orcale_ftd::ora_varchar2);
    EXPECT_EQ(d.col(1).size, 14u);
    EXPECT_EQ(d.col(1).charset_id, 873);

    const std::string emp = stream_document("<OWNER_NAME>SCOTT</OWNER_NAME><NAME>EMP</NAME>");
    described e(emp);
    ASSERT_TRUE(e.complete);
    ASSERT_EQ(e.table.schema.size(), 8u);
    EXPECT_EQ(e.col(4).name, L"HIREDATE");
    EXPECT_EQ(e.col(4).vartype, VT_DATE);
    EXPECT_EQ(e.col(5).name, L"SAL");
    EXPECT_EQ(e.col(5).reserved, 0x0702u);

    // SALGRADE's columns are unconstrained NUMBERs: no PRECISION_NUM, no
    // SCALE.
    const std::string salgrade = stream_document("<OWNER_NAME>SCOTT</OWNER_NAME><NAME>SALGRADE</NAME>");
    described s(salgrade);
    ASSERT_TRUE(s.complete);
    ASSERT_EQ(s.table.schema.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s.col(i).vartype, VT_DECIMAL);
        EXPECT_EQ(s.col(i).reserved, 0u);
    }
}

TEST_F(OraDumpXmlReal, Utf16TableDocumentsWithTheirKeys)
{
    bool saw_dept = false, saw_emp = false;
    for (const std::string& doc : utf16_table_documents()) {
        ora_dump_parser names;
        const std::wstring name = table_name_of(doc, names);
        if (name == L"DEPT") {
            saw_dept = true;
            described d(doc);
            EXPECT_TRUE(d.complete);
            EXPECT_EQ(d.table.schema.size(), 3u);
            ASSERT_EQ(d.table.indexes.size(), 1u);
            EXPECT_EQ(d.table.indexes[0].name, L"PK_DEPT");
            EXPECT_TRUE(d.table.indexes[0].b_primary);
            EXPECT_EQ(d.table.indexes[0].columns, std::vector<std::wstring>{L"DEPTNO"});
            EXPECT_TRUE(d.db.relationships.empty());
        } else if (name == L"EMP") {
            saw_emp = true;
            described d(doc);
            EXPECT_TRUE(d.complete);
            EXPECT_EQ(d.table.schema.size(), 8u);
            ASSERT_EQ(d.table.indexes.size(), 1u);
            EXPECT_EQ(d.table.indexes[0].name, L"PK_EMP");
            EXPECT_EQ(d.table.indexes[0].columns, std::vector<std::wstring>{L"EMPNO"});
            ASSERT_EQ(d.db.relationships.size(), 1u);
            const t_relationship& r = d.db.relationships[0];
            EXPECT_EQ(r.fk_name, L"FK_DEPTNO");
            EXPECT_EQ(r.fk_table, L"EMP");
            EXPECT_EQ(r.pk_table, L"DEPT");
            EXPECT_EQ(r.fk_fields, std::vector<std::wstring>{L"DEPTNO"});
            EXPECT_EQ(r.pk_fields, std::vector<std::wstring>{L"DEPTNO"});
        }
    }
    EXPECT_TRUE(saw_dept);
    EXPECT_TRUE(saw_emp);
}

}  // namespace
