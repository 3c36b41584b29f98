// velcagent on Data Pump dumps laid out as an export writes them, with a
// master table that names every table: values that hold the text of
// metadata documents arrive as data, a table known only from the master
// table arrives empty with its key, and a master table written before a
// table's own data gives that table its keys only.

#include "e2e_support.h"
#include "ora_dump_writer_pump.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using ora_pump::bytes;
using ora_pump::column;
using ora_pump::export_table;
using ora_pump::export_writer;
using strings = std::vector<std::string>;

class E2ePumpExport : public e2e_test {
protected:

    // The keys and indexes of the public schema as "table:index:columns",
    // primary keys marked.
    strings indexes()
    {
        return rows("SELECT c.relname || ':' || CASE WHEN i.indisprimary THEN 'primary' WHEN i.indisunique THEN "
                    "'unique' ELSE 'index' END || ':' || string_agg(a.attname, ',' ORDER BY k.n) "
                    "FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                    "JOIN pg_namespace s ON s.oid = c.relnamespace "
                    "CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, n) "
                    "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
                    "WHERE s.nspname = 'public' GROUP BY c.relname, i.indexrelid, i.indisprimary, i.indisunique "
                    "ORDER BY 1");
    }
};

bytes number(std::int64_t v) { return ora_pump::value(ora_rows::number(std::to_string(v))); }
bytes text(const std::string& utf8) { return ora_pump::value(bytes(utf8.begin(), utf8.end())); }

const std::vector<column> other_columns = {
    {"ID", 2, 22, 4, 0, 0, true},
    {"NAME", 1, 20, {}, {}, 873},
};

// --- values that hold documents ----------------------------------------------------------

// Each holder row holds one document as the export writes them, whole: in
// a VARCHAR2 value (8-bit), in an NVARCHAR2 value (UTF-16) and in a CLOB
// (UTF-16, after the in-row values). The documents describe a table the
// dump does not have, and OTHER, which has no key: a stream document, and
// a TABLE_T document with a primary key and a unique key on NAME.
struct held_document {
    const char* what;
    std::string xml;
};

std::vector<held_document> held_documents()
{
    return {
        {"a stream document of a table the dump lacks",
         ora_pump::strmtable_doc("SCOTT", "FAKE", {{"A", 2, 22, {}, {}}, {"B", 1, 10, {}, {}, 873}})},
        {"a stream document of OTHER", ora_pump::strmtable_doc("SCOTT", "OTHER", other_columns)},
        {"a TABLE_T document of OTHER with keys",
         ora_pump::table_doc("SCOTT", "OTHER", other_columns, {{"PK_OTHER", 2, {"NAME"}}, {"UK_OTHER", 3, {"ID"}}})},
    };
}

const std::vector<column> holder_columns = {
    {"ID", 2, 22, 4, 0, 0, true},
    {"BODY", 1, 4000, {}, {}, 873},
    {"NBODY", 1, 2000, {}, {}, 2000},
    {"CBODY", 112, 4000, {}, {}, 873},
};

// A holder row: ID and the two texts in row, the CLOB as the record's last
// LOB (flag 04, 01 FE and a 2-byte size).
bytes holder_row(std::int64_t id, const std::string& xml)
{
    const bytes wide = ora_pump::utf16be(xml);
    bytes lob = ora_rows::hex("04 01 FE");
    lob.push_back(static_cast<std::uint8_t>(wide.size() >> 8));
    lob.push_back(static_cast<std::uint8_t>(wide.size() & 0xFF));
    lob.insert(lob.end(), wide.begin(), wide.end());
    return ora_pump::lob_record(0x08, {number(id), text(xml), ora_pump::value(wide)}, lob);
}

export_table holder(const std::string& name)
{
    export_table t{"SCOTT", name, holder_columns, {}, {{"PK_" + name, 2, {"ID"}}}, {}, true};
    std::int64_t id = 1;
    for (const held_document& d : held_documents())
        t.rows.push_back(holder_row(id++, d.xml));
    t.rows.push_back(holder_row(id, "plain text"));
    return t;
}

TEST_F(E2ePumpExport, ValuesHoldingMetadataDocumentsArriveAsData)
{
    // A holder before OTHER and one after it, so that a document taken
    // from a value would come before and after OTHER's own.
    export_table other{"SCOTT", "OTHER", other_columns, {}, {}, {}, true};
    for (std::int64_t i = 1; i <= 3; ++i)
        other.rows.push_back(ora_pump::record({number(i), text("name " + std::to_string(i))}));
    const std::string src =
        write_dump("held.dmp", export_writer::whole({holder("BEFORE"), other, holder("AFTER")}));
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tables(), (strings{"after", "before", "other", "sys_export_schema_01"}));
    EXPECT_EQ(count("other"), "3");
    EXPECT_EQ(columns("other"), (strings{"id|smallint||16|0|NO", "name|character varying|20|||YES"}));
    EXPECT_EQ(indexes(), (strings{"after:primary:id", "before:primary:id"}));
    const std::vector<held_document> docs = held_documents();
    for (const char* t : {"before", "after"}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(count(t), std::to_string(docs.size() + 1));
        for (std::size_t i = 0; i < docs.size(); ++i) {
            SCOPED_TRACE(docs[i].what);
            const std::string id = std::to_string(i + 1);
            EXPECT_EQ(query(std::string("SELECT body FROM ") + t + " WHERE id = " + id), docs[i].xml);
            EXPECT_EQ(query(std::string("SELECT nbody FROM ") + t + " WHERE id = " + id), docs[i].xml);
            EXPECT_EQ(query(std::string("SELECT cbody FROM ") + t + " WHERE id = " + id), docs[i].xml);
        }
    }
}

// --- tables the master table tells of ----------------------------------------------------

const std::vector<column> pair_columns = {
    {"ID", 2, 22, 4, 0, 0, true},
    {"CODE", 1, 8, {}, {}, 873},
    {"AMOUNT", 2, 22, 10, 2},
};

export_table pairs_table()
{
    export_table t{"SCOTT", "PAIRS", pair_columns, {}, {{"PK_PAIRS", 2, {"ID", "CODE"}}}, {}, true};
    t.rows.push_back(ora_pump::record({number(1), text("a"), ora_pump::value(ora_rows::number("1.50"))}));
    t.rows.push_back(ora_pump::record({number(2), text("b"), ora_pump::null_value()}));
    return t;
}

// A table without rows has no data in the dump and no stream document:
// only its TABLE_T document in the master table's rows tells of it, with
// its columns and its key.
TEST_F(E2ePumpExport, ATableKnownOnlyFromTheMasterTableArrivesEmptyWithItsKey)
{
    const export_table empty{"SCOTT",
                             "EMPTY",
                             {{"K", 2, 22, 6, 0, 0, true}, {"LABEL", 1, 30, {}, {}, 873}, {"AT", 12, 7, {}, {}}},
                             {},
                             {{"PK_EMPTY", 2, {"K"}}, {"UK_EMPTY", 3, {"LABEL"}}},
                             {},
                             false};
    const std::string src = write_dump("empty.dmp", export_writer::whole({pairs_table(), empty}));
    const e2e::result r = run(args(src, {"--mode=0", "--tab_file=" + table_list({"EMPTY", "PAIRS"})}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Converting table EMPTY (0 records)\n"), std::string::npos) << r.out;
    EXPECT_EQ(tables(), (strings{"empty", "pairs"}));
    EXPECT_EQ(columns("empty"), (strings{"k|integer||32|0|NO", "label|character varying|30|||YES",
                                         "at|timestamp without time zone||||YES"}));
    EXPECT_EQ(count("empty"), "0");
    EXPECT_EQ(count("pairs"), "2");
    EXPECT_EQ(indexes(), (strings{"empty:primary:k", "empty:unique:label", "pairs:primary:id,code"}));
}

// The master table written before a table's own data: its TABLE_T document
// of the table comes first, yet the table's stream document gives the
// columns and the rows; the master table's document adds only the key.
// (Its CODE is declared wider there, and it lists a column the data does
// not have.)
TEST_F(E2ePumpExport, AMasterTableBeforeATablesDataGivesOnlyItsKeys)
{
    export_table in_master = pairs_table();
    in_master.columns = {pair_columns[0], {"CODE", 1, 40, {}, {}, 873}, pair_columns[2], {"EXTRA", 2, 22, {}, {}}};
    export_writer e;
    e.master({in_master});
    e.table(pairs_table());
    const std::string src = write_dump("master_first.dmp", e.data());
    const e2e::result r = run(args(src, {"--mode=0", "--tab_file=" + table_list({"PAIRS"})}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tables(), strings{"pairs"});
    EXPECT_EQ(columns("pairs"), (strings{"id|smallint||16|0|NO", "code|character varying|8|||NO",
                                         "amount|numeric||10|2|YES"}));
    EXPECT_EQ(rows("SELECT id, code, amount FROM pairs ORDER BY id"), (strings{"1|a|1.50", "2|b|<null>"}));
    EXPECT_EQ(indexes(), strings{"pairs:primary:id,code"});
}

}  // namespace
