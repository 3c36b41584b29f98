// The dumps of the end-to-end tests, written by the test dump writer:
// D1 (DEPT, EMP and TYPES, exported by SCOTT), D2 (names that collide, a
// NULL in a NOT NULL column, an impossible date), D3 (a compound dump), D4
// (a non-leading part), and D1 with what the releases after 12 add, under
// any header token.
#pragma once

#include "classic_dump_builder.h"

#include <string>
#include <vector>

namespace e2e_dumps {

using namespace classic_dump;

inline table dept()
{
    table t;
    t.name = "DEPT";
    t.columns = {number("DEPTNO", "NUMBER(2, 0)", true), varchar2("DNAME", 14), varchar2("LOC", 13)};
    t.primary_key = {"DEPTNO"};
    t.rows = {
        {num("10"), text(L"ACCOUNTING"), text(L"NEW YORK")},
        {num("20"), text(L"RESEARCH"), text(L"DALLAS")},
        {num("30"), text(L"SALES"), text(L"CHICAGO")},
        {num("40"), text(L"OPERATIONS"), text(L"BOSTON")},
    };
    return t;
}

inline table emp()
{
    table t;
    t.name = "EMP";
    t.columns = {number("EMPNO", "NUMBER(4, 0)", true), varchar2("ENAME", 10), varchar2("JOB", 9),
                 number("MGR", "NUMBER(4, 0)"), date("HIREDATE"), number("SAL", "NUMBER(7, 2)"),
                 number("COMM", "NUMBER(7, 2)"), number("DEPTNO", "NUMBER(2, 0)")};
    t.primary_key = {"EMPNO"};
    t.indexes = {{"EMP_DEPTNO", {"DEPTNO"}}};
    struct e {
        const char* no;
        const wchar_t* name;
        const wchar_t* job;
        const char* mgr;
        int y, m, d;
        const char* sal;
        const char* comm;
        const char* dept;
    };
    const e rows[] = {
        {"7369", L"SMITH", L"CLERK", "7902", 1980, 12, 17, "800", nullptr, "20"},
        {"7499", L"ALLEN", L"SALESMAN", "7698", 1981, 2, 20, "1600", "300", "30"},
        {"7521", L"WARD", L"SALESMAN", "7698", 1981, 2, 22, "1250", "500", "30"},
        {"7566", L"JONES", L"MANAGER", "7839", 1981, 4, 2, "2975", nullptr, "20"},
        {"7654", L"MARTIN", L"SALESMAN", "7698", 1981, 9, 28, "1250", "1400", "30"},
        {"7698", L"BLAKE", L"MANAGER", "7839", 1981, 5, 1, "2850", nullptr, "30"},
        {"7782", L"CLARK", L"MANAGER", "7839", 1981, 6, 9, "2450", nullptr, "10"},
        {"7788", L"SCOTT", L"ANALYST", "7566", 1987, 4, 19, "3000", nullptr, "20"},
        {"7839", L"KING", L"PRESIDENT", nullptr, 1981, 11, 17, "5000", nullptr, "10"},
        {"7844", L"TURNER", L"SALESMAN", "7698", 1981, 9, 8, "1500", "0", "30"},
        {"7876", L"ADAMS", L"CLERK", "7788", 1987, 5, 23, "1100", nullptr, "20"},
        {"7900", L"JAMES", L"CLERK", "7698", 1981, 12, 3, "950", nullptr, "30"},
        {"7902", L"FORD", L"ANALYST", "7566", 1981, 12, 3, "3000", nullptr, "20"},
        {"7934", L"MILLER", L"CLERK", "7782", 1982, 1, 23, "1300.5", nullptr, "10"},
    };
    for (const e& r : rows)
        t.rows.push_back({num(r.no), text(r.name), text(r.job), r.mgr ? num(r.mgr) : null(), date(r.y, r.m, r.d),
                          num(r.sal), r.comm ? num(r.comm) : null(), num(r.dept)});
    return t;
}

// One row per edge value, no key.
inline table types()
{
    table t;
    t.name = "TYPES";
    t.columns = {number("N4", "NUMBER(4, 0)"),  number("N9", "NUMBER(9, 0)"),   number("N18", "NUMBER(18, 0)"),
                 number("N20", "NUMBER(20, 0)"), number("NSTAR", "NUMBER(*,0)"), number("NPLAIN"),
                 number("N10_2", "NUMBER(10, 2)"), number("F", "FLOAT(126)"),     varchar2("V", 40),
                 date("D"),                       timestamp("TS"),               raw("R", 16),
                 blob("B"),                       clob("C")};
    t.rows = {
        {num("-9999"), num("-999999999"), num("-999999999999999999"), num("-99999999999999999999"),
         num("12345678901234567890123456789012345678"), num("-123.456"), num("-12345678.9"), num("3.56789"),
         text(L"tab\there\rcr\nlf\\back"), date(50, 1, 2, 3, 4, 5), timestamp(2022, 6, 2, 8, 45, 40, 346906),
         raw(bytes{0x00, 0xFF, 0x10}), blob(bytes{}), clob(L"tab\tcr\rlf\n\\ Grüße")},
        {null(), null(), null(), null(), null(), null(), null(), null(), null(), null(), null(), null(), null(),
         null()},
        {num("9999"), num("999999999"), num("999999999999999999"), num("99999999999999999999"),
         num("-99999999999999999999999999999999999999"), num("0.000001"), num("0"), num("-1e-5"),
         text(L"Zürich"), date(9999, 12, 31, 23, 59, 59), timestamp(1999, 12, 31, 23, 59, 59, 1),
         raw(bytes{0xDE, 0xAD}), blob(bytes{0x01, 0x02, 0x03}), clob(L"")},
    };
    return t;
}

inline bytes d1(const options& o = {})
{
    return whole_dump({dept(), emp(), types()}, o);
}

// A table of one NUMBER key and one text column.
inline table pair_table(const std::string& name, const std::vector<std::pair<std::string, std::wstring>>& rows,
                        bool not_null_key = true)
{
    table t;
    t.name = name;
    t.columns = {number("ID", "NUMBER(6, 0)", not_null_key), varchar2("NAME", 20)};
    for (const auto& [id, text_value] : rows)
        t.rows.push_back({id.empty() ? null() : num(id), text(text_value)});
    return t;
}

// One table of about 200,000 rows of some width: its COPY runs long enough
// to be seen, stopped or cut in the middle.
inline table big_table(const std::string& name, bool keyed)
{
    table t;
    t.name = name;
    t.columns = {number("ID", "NUMBER(7, 0)", true), varchar2("NAME", 200)};
    if (keyed)
        t.primary_key = {"ID"};
    const std::wstring filler(150, L'x');
    for (int i = 1; i <= 200000; ++i)
        t.rows.push_back({num(std::to_string(i)), text(L"row " + std::to_wstring(i) + L" " + filler)});
    return t;
}

// A table of three rows.
inline table small_table(const std::string& name)
{
    return pair_table(name, {{"1", L"one"}, {"2", L"two"}, {"3", L"three"}});
}

inline bytes d2()
{
    table badnn = pair_table("BADNN", {{"1", L"one"}, {"", L"no key"}, {"3", L"three"}});
    table baddate;
    baddate.name = "BADDATE";
    baddate.columns = {number("ID", "NUMBER(6, 0)", true), date("D")};
    for (int i = 1; i <= 5; ++i) {
        cell d = date(2020, 1, i);
        if (i == 3)
            d.in_row = {0x78, 0x78, 0x0D, 0x01, 0x01, 0x01, 0x01};  // month 13
        baddate.rows.push_back({num(std::to_string(i)), d});
    }
    return whole_dump({pair_table("A/B", {{"1", L"slash"}}), pair_table("A?B", {{"2", L"question"}, {"3", L"mark"}}),
                       badnn, baddate, pair_table("GOOD", {{"7", L"seven"}, {"8", L"eight"}})});
}

// Two dumps joined: the first one's header declares its own length.
inline bytes d3()
{
    const std::vector<table> first = {dept()};
    options o;
    o.declared_length = 1;  // any value but 0, to measure the first dump
    o.declared_length = whole_dump(first, o).size();
    bytes all = whole_dump(first, o);
    const bytes second = whole_dump({emp()});
    all.insert(all.end(), second.begin(), second.end());
    return all;
}

// The tables and lines that exp of the releases after 12 writes beside
// those of D1: an index-organized table with its inline key; a table whose
// key column is an identity column (its sequence among the sequences
// before the tables, its default the sequence's next value), with the
// column and table clauses of those releases and zone-bearing timestamps;
// and the session settings with the database's time zone after the header.
inline bytes later_release_dump(const std::string& header_token)
{
    table countries;
    countries.name = "COUNTRIES";
    countries.columns = {varchar2("COUNTRY_ID", 2, true), varchar2("COUNTRY_NAME", 40), number("REGION_ID")};
    countries.constraints = {"CONSTRAINT \"COUNTRY_C_ID_PK\" PRIMARY KEY (\"COUNTRY_ID\") ENABLE"};
    countries.index_organized = true;
    countries.rows = {{text(L"AR"), text(L"Argentina"), num("2")},
                      {text(L"BE"), text(L"Belgium"), num("1")},
                      {text(L"ZW"), text(L"Zimbabwe"), num("4")}};

    const std::string identity = "NUMBER GENERATED BY DEFAULT ON NULL AS IDENTITY MINVALUE 1 MAXVALUE "
                                 "9999999999999999999999999999 INCREMENT BY 1 START WITH 1 CACHE 20 NOORDER  "
                                 "NOCYCLE  NOKEEP  NOSCALE";
    table orders;
    orders.name = "ORDERS";
    orders.columns = {number("ID", identity, true),
                      {"NOTE", "VARCHAR2(20) COLLATE \"USING_NLS_COMP\"", varchar2("NOTE", 20).entry},
                      {"PLACED", "TIMESTAMP (6) WITH TIME ZONE", ora_rows::entry(181, 13)},
                      {"SEEN", "TIMESTAMP (6) WITH LOCAL TIME ZONE", ora_rows::entry(231, 11)}};
    orders.primary_key = {"ID"};
    orders.indexes = {{"ORDERS_NOTE", {"NOTE"}}};
    orders.clauses = "DEFAULT COLLATION \"USING_NLS_COMP\" INMEMORY PRIORITY NONE MEMCOMPRESS FOR QUERY LOW "
                     "MEMOPTIMIZE FOR READ";
    orders.lines_after = {modify_default("ORDERS", "(\"ID\" DEFAULT \"SCOTT\".\"ISEQ$$_73512\".nextval)")};
    auto zoned = [](int hour, int length) {
        cell c;
        c.null = false;
        c.in_row = ora_rows::timestamp(2024, 3, 10, hour, 30, 0, 0, length);
        return c;
    };
    orders.rows = {{num("1"), text(L"first"), zoned(7, 13), zoned(7, 11)},
                   {num("2"), null(), zoned(0, 13), zoned(0, 11)}};

    options o;
    o.header_token = header_token;
    o.time_zone = "+00:00";
    o.before_tables = {
        "METRICSUsequence numbers",
        "CREATE SEQUENCE \"ISEQ$$_73512\" MINVALUE 1 MAXVALUE 9999999999999999999999999999 INCREMENT BY 1 "
        "START WITH 21 CACHE 20 NOORDER  NOCYCLE  NOKEEP  NOSCALE  GLOBAL",
        "CREATE SEQUENCE \"ORDERS_SEQ\" MINVALUE 1 MAXVALUE 9999999999999999999999999999 INCREMENT BY 1 "
        "START WITH 1 CACHE 20 NOORDER  NOCYCLE  NOKEEP  NOSCALE  GLOBAL",
        "METRICEU 14",
        "METRICSUcluster definitions",
        "METRICEU 14",
    };
    return whole_dump({countries, dept(), emp(), orders, types()}, o);
}

inline bytes non_leading_part()
{
    options o;
    o.marker = 0x0002;
    return whole_dump({dept()}, o);
}

}  // namespace e2e_dumps
