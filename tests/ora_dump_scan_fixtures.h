// Writer-made classic dumps for the scan tests and the hostile-input sweep,
// each with the table map the scan must find, computed from the offsets the
// writer returned.
#pragma once

#include "ora_dump_reader.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer.h"
#include "table_pos.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace scan_fixtures {

struct dump {
    std::vector<std::uint8_t> bytes;
    // Where the header ends: the scan starts here.
    std::int64_t body = 0;
    // The logical length; the file's size unless a compound dump says less.
    std::int64_t dump_length = 0;
    bool merge = false;
    ora_table_map expected;
    std::vector<std::string> warnings;
};

struct scan_case {
    const char* name;
    std::function<dump()> make;
};

// A CREATE TABLE line as the export writes it.
inline std::string create_table(const std::string& quoted_name, const std::string& tablespace = "")
{
    std::string s = "CREATE TABLE " + quoted_name + " (\"ID\" NUMBER, \"NAME\" VARCHAR2(20))  PCTFREE 10 PCTUSED 40";
    if (!tablespace.empty())
        s += " TABLESPACE \"" + tablespace + "\"";
    return s + " LOGGING NOCOMPRESS";
}

inline std::string insert_into(const std::string& quoted_name)
{
    return "INSERT INTO " + quoted_name + " (\"ID\", \"NAME\") VALUES (:1, :2)";
}

// Starts a dump with the header of a version-12 export; gives the body's
// start.
inline std::int64_t start(ora_dump_writer& w)
{
    w.header(ora_dump_writer::header_fields{});
    return w.offset() - 1;
}

// A row block of opaque bytes that hold "(", a blank, and line feeds followed
// by NUL (as 2-byte lengths are), none of which may disturb the scan; then
// the line feed before the next statement.
inline void rows(ora_dump_writer& w, int count = 2)
{
    std::vector<std::uint8_t> r;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t row[] = {0x03, 0x00, 'a', '(', 'b', 0x0A, 0x00, 'C', 'R', 'E', 'A', 'T', 'E', ' ', 0x00, 0x00};
        r.insert(r.end(), std::begin(row), std::end(row));
    }
    w.block_gen10({{2, 22}, {1, 20, {0xB2, 0x00, 0x01, 0x00}}}, r);
    w.raw("\n");
}

// The two EXIT lines with which exp closes an export; a dump without them
// ends early.
inline void close_export(ora_dump_writer& w)
{
    w.line("EXIT");
    w.line("EXIT");
}

inline dump finish(ora_dump_writer& w, std::int64_t body)
{
    dump d;
    d.bytes = w.data();
    d.body = body;
    d.dump_length = static_cast<std::int64_t>(d.bytes.size());
    return d;
}

// A complete table section: TABLE line, CREATE TABLE, INSERT with rows, a
// unique index and an ALTER TABLE. Fills t with what the scan must record,
// except end_pos.
inline void section(ora_dump_writer& w, const std::string& name, const std::string& tablespace, table_pos& t,
                    bool with_table_line = true, const std::vector<std::uint8_t>* row_bytes = nullptr)
{
    const std::string q = "\"" + name + "\"";
    if (with_table_line)
        w.line("TABLE " + q);
    t.start_pos = w.line(create_table(q, tablespace));
    t.v_data_start_pos.push_back(w.line(insert_into(q)));
    if (row_bytes) {
        w.block_gen10({{2, 22}, {1, 20, {0xB2, 0x00, 0x01, 0x00}}}, *row_bytes);
        w.raw("\n");
    } else {
        rows(w);
    }
    std::int64_t idx = w.line("CREATE UNIQUE INDEX \"" + name + "_PK\" ON " + q + " (\"ID\" )  PCTFREE 10");
    t.index_records.push_back({idx + 19, w.offset(), true});
    std::int64_t alt = w.line("ALTER TABLE " + q + " ADD  CONSTRAINT \"" + name + "_PK\" PRIMARY KEY (\"ID\") ENABLE");
    t.alters.push_back({alt + 12 + static_cast<std::int64_t>(q.size()), w.offset()});
    w.line("ANALSTATS TR " + q);
}

inline std::vector<scan_case> cases()
{
    std::vector<scan_case> list;

    list.push_back({"plain_sections_end_at_the_next_table_line_and_the_last_at_the_length", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        w.line("CONNECT SCOTT");
        table_pos a, b;
        section(w, "DEPT", "USERS", a);
        std::int64_t next = w.offset();
        section(w, "EMP", "", b);
        a.end_pos = next;
        w.line("ENDTABLE");
        dump d = finish(w, body);
        b.end_pos = d.dump_length;
        d.expected[L"DEPT"] = a;
        d.expected[L"EMP"] = b;
        return d;
    }});

    list.push_back({"lines_that_start_with_a_blank_tab_or_nul_are_passed_over", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "A", "", a);
        w.line(" CREATE TABLE \"B\" (\"X\" NUMBER)");
        w.line("\tCREATE TABLE \"C\" (\"X\" NUMBER)");
        w.line(std::string(1, '\0') + "CREATE TABLE \"D\" (\"X\" NUMBER)");
        w.line(" INSERT INTO \"A\" (\"X\") VALUES (:1)");
        // An empty line hides nothing: the line after it counts.
        w.line("");
        std::int64_t ins = w.line(insert_into("\"A\""));
        rows(w);
        a.v_data_start_pos.push_back(ins);
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"keywords_are_case_sensitive_and_other_create_statements_add_nothing", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        w.line("create table \"L\" (\"X\" NUMBER)");
        w.line("CREATE VIEW \"V\" (\"X\") AS SELECT 1 FROM DUAL");
        w.line("CREATE SEQUENCE \"S\" MINVALUE 1");
        w.line("Create Table \"M\" (\"X\" NUMBER)");
        w.line("CREATE  TABLE");
        dump d = finish(w, body);
        return d;
    }});

    list.push_back({"a_table_line_with_a_blank_before_its_line_feed_ends_no_section", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a, b;
        section(w, "A", "", a);
        w.line("TABLE \"X\" ");
        w.line("TABLE \"Y\" (not a table line)");
        std::int64_t next = w.offset();
        section(w, "B", "", b, false);
        a.end_pos = next;
        dump d = finish(w, body);
        b.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        d.expected[L"B"] = b;
        return d;
    }});

    list.push_back({"a_unique_name_with_a_tablespace_is_listed_under_its_plain_name", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "EMP", "USERS", a);
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"EMP"] = a;
        return d;
    }});

    list.push_back({"one_name_in_two_tablespaces_keeps_each_tables_own_lines", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos users, data;
        section(w, "EMP", "USERS", users);
        std::int64_t next = w.offset();
        section(w, "EMP", "DATA", data);
        users.end_pos = next;
        // Lines for EMP outside either section belong to neither.
        data.end_pos = w.line("TABLE \"OTHER\"");
        w.line(insert_into("\"EMP\""));
        rows(w);
        w.line("ALTER TABLE \"EMP\" ADD CONSTRAINT \"X\" CHECK (1=1) ENABLE");
        dump d = finish(w, body);
        d.expected[L"USERS.EMP"] = users;
        d.expected[L"DATA.EMP"] = data;
        return d;
    }});

    list.push_back({"one_key_twice_warns_once_and_keeps_the_first_table", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos first, second;
        section(w, "EMP", "USERS", first);
        std::int64_t dup = w.offset();
        section(w, "EMP", "USERS", second, false);
        // The first section ends at the second CREATE TABLE line, which
        // adds nothing; its lines belong to no table.
        first.end_pos = dup;
        dump d = finish(w, body);
        d.expected[L"USERS.EMP"] = first;
        d.warnings = {"Database contians 2 or more tables with the same name USERS.EMP"};
        return d;
    }});

    list.push_back({"a_quoted_name_with_a_point_never_takes_another_tables_key", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos first, second, dotted;
        section(w, "EMP", "USERS", first);
        std::int64_t dup = w.offset();
        section(w, "EMP", "USERS", second, false);
        section(w, "USERS.EMP", "DATA", dotted);
        first.end_pos = dup;
        dump d = finish(w, body);
        dotted.end_pos = d.dump_length;
        d.expected[L"USERS.EMP"] = first;
        d.expected[L"DATA.USERS.EMP"] = dotted;
        d.warnings = {"Database contians 2 or more tables with the same name USERS.EMP"};
        return d;
    }});

    list.push_back({"empty_or_unbounded_names_record_nothing", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        w.line("CREATE TABLE (\"X\" NUMBER)");
        w.line("CREATE TABLE \"A\"");
        // Binary bytes that hold "(" after the line feed must not become
        // part of a name.
        w.raw(std::vector<std::uint8_t>{0x01, 0x00, 'x', '(', 0xFF, 0x0A, 0x00});
        w.line("CREATE TABLE \"" + std::string(5000, 'N') + "\" (\"X\" NUMBER)");
        w.line("INSERT INTO (\"X\") VALUES (:1)");
        dump d = finish(w, body);
        return d;
    }});

    list.push_back({"merge_names_tables_by_the_connect_user", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos plain, scott;
        section(w, "DEPT", "USERS", plain);
        std::int64_t next = w.offset();
        w.line("CONNECT SCOTT");
        section(w, "EMP", "USERS", scott);
        plain.end_pos = next + std::int64_t(sizeof("CONNECT SCOTT\n") - 1);
        dump d = finish(w, body);
        d.merge = true;
        scott.end_pos = d.dump_length;
        d.expected[L"DEPT"] = plain;
        d.expected[L"SCOTT.EMP"] = scott;
        return d;
    }});

    list.push_back({"a_compound_dump_ends_at_its_declared_length", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "A", "", a);
        std::int64_t second = w.offset();
        ora_dump_writer::header_fields h;
        w.header(h);
        table_pos b;
        section(w, "B", "", b);
        dump d = finish(w, body);
        d.dump_length = second;
        a.end_pos = second;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"the_last_line_ends_exactly_at_the_end_of_the_file", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "A", "", a);
        std::int64_t idx = w.line("CREATE INDEX \"A_I\" ON \"A\" (\"NAME\" )");
        a.index_records.push_back({idx + 12, w.offset(), false});
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"a_create_index_at_the_end_without_line_feed_ends_at_0", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "A", "", a);
        std::int64_t idx = w.line_bare("CREATE INDEX \"A_J\" ON \"A\" (\"ID\" )");
        a.index_records.push_back({idx + 12, 0, false});
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"an_alter_table_at_the_end_without_line_feed_ends_after_the_next_nul", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "A", "", a);
        std::int64_t alt = w.line_nul("ALTER TABLE \"A\" ADD CONSTRAINT \"C1\" CHECK (\"ID\" > 0) ENABLE");
        a.alters.push_back({alt + 15, w.offset()});
        w.raw("xy");
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"an_alter_table_at_the_end_without_line_feed_or_nul_is_not_recorded", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "A", "", a);
        w.line_bare("ALTER TABLE \"A\" ADD CONSTRAINT \"C1\" CHECK (\"ID\" > 0) ENABLE");
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"a_synonym_block_is_passed_whole", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        w.line("BEGINSYNONYM4TYPE");
        w.line(create_table("\"HIDDEN\""));
        w.line(insert_into("\"HIDDEN\""));
        w.line("ENDSYNONYM4TYPE");
        table_pos a;
        section(w, "A", "", a);
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"on_ignores_case_and_the_index_table_name_must_be_quoted", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        table_pos a;
        section(w, "A", "", a);
        std::int64_t idx = w.line("CREATE INDEX \"A_L\" on \"A\" (\"NAME\" )");
        a.index_records.push_back({idx + 12, w.offset(), false});
        // Index and constraint lines that follow each other directly.
        idx = w.line("CREATE INDEX \"A_M\" ON \"A\" (\"ID\", \"NAME\" )");
        a.index_records.push_back({idx + 12, w.offset(), false});
        std::int64_t alt = w.line("ALTER TABLE \"A\" ADD CONSTRAINT \"C2\" CHECK (\"ID\" > 1) ENABLE");
        a.alters.push_back({alt + 15, w.offset()});
        alt = w.line("ALTER TABLE \"A\" ADD CONSTRAINT \"C3\" CHECK (\"ID\" > 2) ENABLE");
        a.alters.push_back({alt + 15, w.offset()});
        w.line("CREATE INDEX \"A_U\" ON A (\"NAME\" )");
        w.line("CREATE INDEX \"A_V\" ONTO \"A\" (\"NAME\" )");
        w.line("CREATE UNIQUE INDEX \"A_W\" ON \"\"\"\" (\"NAME\" )");
        dump d = finish(w, body);
        a.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        return d;
    }});

    list.push_back({"statement_lines_inside_framed_values_are_stepped_over", [] {
        ora_dump_writer w;
        std::int64_t body = start(w);
        // Each NAME value is a line feed, a statement line and a line feed;
        // rows end with 00 00. The statement names the tables before and
        // after, which the scan would otherwise take up.
        std::vector<std::uint8_t> r;
        int id = 0;
        for (const std::string& text : {std::string("\nTABLE \"B\"\n"), std::string("\nINSERT INTO \"A\" (\n"),
                                        std::string("\nCREATE TABLE \"F\" (\n"), std::string("\nCONNECT X\n")}) {
            const std::uint8_t number[] = {0x02, 0x00, 0xC1, static_cast<std::uint8_t>(2 + id++)};
            r.insert(r.end(), std::begin(number), std::end(number));
            r.push_back(static_cast<std::uint8_t>(text.size()));
            r.push_back(0);
            r.insert(r.end(), text.begin(), text.end());
            r.push_back(0);
            r.push_back(0);
        }
        table_pos a, b;
        section(w, "A", "", a, true, &r);
        std::int64_t next = w.offset();
        section(w, "B", "", b, true, &r);
        a.end_pos = next;
        dump d = finish(w, body);
        b.end_pos = d.dump_length;
        d.expected[L"A"] = a;
        d.expected[L"B"] = b;
        return d;
    }});

    return list;
}

}  // namespace scan_fixtures
