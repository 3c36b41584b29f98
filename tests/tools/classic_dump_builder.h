// Whole classic export dumps, as Oracle's exp writes them for version 12
// (and, under their own header token, for the releases 18 to 23 that keep
// its layout), described by their tables, columns and row values. Built on
// the test dump writer, for the sample dump and the end-to-end tests of
// velcagent.
#pragma once

#include "ora_dump_writer.h"
#include "ora_dump_writer_rows.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace classic_dump {

using bytes = ora_rows::bytes;

struct column {
    std::string name;
    std::string ddl;        // the type as the CREATE TABLE line spells it
    ora_rows::entry entry;  // its field description
    bool not_null = false;
    bool is_lob() const { return entry.code == 112 || entry.code == 113; }
};

column number(const std::string& name, const std::string& ddl = "NUMBER", bool not_null = false);
column varchar2(const std::string& name, int size, bool not_null = false);
column date(const std::string& name);
column timestamp(const std::string& name);  // TIMESTAMP (6)
column raw(const std::string& name, int size);
column clob(const std::string& name);
column blob(const std::string& name);

// One value of a row: NULL, the bytes kept in the row, or a LOB written
// after the row.
struct cell {
    bool null = true;
    bytes in_row;
    bool lob = false;
    bytes lob_bytes;
};

cell null();
cell num(const std::string& text);
cell text(const std::wstring& value);  // in the dump's AL32UTF8
cell date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
cell timestamp(int year, int month, int day, int hour, int minute, int second, int microsecond);
cell raw(const bytes& value);
cell clob(const std::wstring& value);
cell blob(const bytes& value);

struct index {
    std::string name;
    std::vector<std::string> columns;
    bool unique = false;
};

struct table {
    std::string name;
    std::vector<column> columns;
    std::vector<std::vector<cell>> rows;
    std::vector<std::string> primary_key;  // column names; empty for none
    std::string key_index;                 // the key's index; empty: the table's name and "_PK"
    bool key_constraint_named = true;      // ADD CONSTRAINT "<key index>" PRIMARY KEY, else ADD PRIMARY KEY
    std::vector<index> indexes;
    // Pieces written after the columns inside CREATE TABLE, as exp writes
    // table constraints there, e.g. CONSTRAINT "N" PRIMARY KEY ("A") ENABLE.
    std::vector<std::string> constraints;
    bool index_organized = false;  // ORGANIZATION INDEX after the list
    // Clauses written at the end of CREATE TABLE, after the storage and LOB
    // clauses, such as the later releases' DEFAULT COLLATION or INMEMORY.
    std::string clauses;
    // Lines written after the index and key lines (see modify_default).
    std::vector<std::string> lines_after;
};

struct options {
    std::string user = "SCOTT";
    std::string header_token = "EXPORT:V12.01.00";
    // The export session's settings that exp writes between the header and
    // the CONNECT line: the database time zone ("+00:00"), then the length
    // semantics, the unused and interpreted flags and the trigger setting,
    // each led by its 2-byte length. Empty writes none.
    std::string time_zone;
    // Lines between the CONNECT line and the first table, as the sections
    // before the tables hold them (sequences, procedural actions ...).
    std::vector<std::string> before_tables;
    // 0 writes no declared length (marker 0x0001 with 0); otherwise the
    // header declares this length, as a compound dump's first part does.
    std::uint64_t declared_length = 0;
    std::uint16_t marker = 0x0001;
};

// The header of an AL32UTF8 export by options.user.
ora_dump_writer::header_fields header(const options& o);

// The export session's settings after the header (see options::time_zone).
bytes session_settings(const std::string& time_zone);
// An ALTER TABLE ... MODIFY DEFAULT statement as exp writes it: a line feed
// after DEFAULT, then the clause's 2-byte length and the clause, such as
// ("ID" DEFAULT 0); a line of table::lines_after.
std::string modify_default(const std::string& table, const std::string& clause);

// The CREATE TABLE, INSERT and index lines of a table.
std::string create_sql(const table& t);
std::string insert_sql(const table& t);
std::vector<std::string> after_lines(const table& t);
// The field descriptions and one row's bytes.
bytes description(const table& t);
bytes row_bytes(const table& t, const std::vector<cell>& row);

// Appends the tables (TABLE line to the last index) and their rows.
void write_tables(ora_dump_writer& w, const std::vector<table>& tables);
// A whole dump: header, CONNECT line, tables, ENDTABLE and the EXIT lines.
bytes whole_dump(const std::vector<table>& tables, const options& o = {});

}  // namespace classic_dump
