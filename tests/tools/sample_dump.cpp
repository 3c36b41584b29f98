#include "sample_dump.h"

namespace sample_dump {

using namespace classic_dump;

namespace {

table dept()
{
    table t;
    t.name = "DEPT";
    t.columns = {number("DEPTNO", "NUMBER(2, 0)", true), varchar2("DNAME", 20), varchar2("LOC", 20)};
    t.primary_key = {"DEPTNO"};
    t.rows = {
        {num("10"), text(L"ACCOUNTING"), text(L"New York")},
        {num("20"), text(L"RESEARCH"), text(L"Zürich")},
        {num("30"), text(L"SALES"), text(L"Москва")},
        {num("40"), text(L"OPERATIONS"), text(L"東京")},
        {num("50"), text(L"SUPPORT"), null()},
    };
    return t;
}

table emp()
{
    table t;
    t.name = "EMP";
    t.columns = {number("EMPNO", "NUMBER(4, 0)", true), varchar2("ENAME", 30), varchar2("JOB", 20),
                 date("HIREDATE"), number("SAL", "NUMBER(7, 2)"), number("COMM", "NUMBER(7, 2)"),
                 number("DEPTNO", "NUMBER(2, 0)")};
    t.primary_key = {"EMPNO"};
    t.indexes = {{"EMP_DEPTNO_IX", {"DEPTNO"}}};
    const wchar_t* const names[] = {
        L"SMITH",   L"ALLEN",    L"WARD",    L"JONES",   L"MARTIN",  L"BLAKE", L"CLARK",    L"SCOTT",
        L"KING",    L"TURNER",   L"ADAMS",   L"JAMES",   L"FORD",    L"MILLER", L"Ångström", L"Müller",
        L"Núñez",   L"Łukasz",   L"Søren",   L"Иванов",  L"Παπαδόπουλος", L"山田", L"O'Brien", L"D\"Arcy",
        L"Back\\Slash", L"Zoë",  L"François", L"Dvořák", L"Çelik", L"Þór"};
    const wchar_t* const jobs[] = {L"CLERK", L"SALESMAN", L"MANAGER", L"ANALYST", L"PRESIDENT"};
    for (int i = 0; i < 30; ++i) {
        std::vector<cell> r;
        r.push_back(num(std::to_string(7300 + i * 17)));
        r.push_back(text(names[i]));
        r.push_back(i % 11 == 10 ? null() : text(jobs[i % 5]));
        r.push_back(date(1980 + i % 25, 1 + i % 12, 1 + (i * 7) % 28, i % 24, (i * 13) % 60, (i * 29) % 60));
        const int sal = 80000 + i * 12345;  // in cents
        r.push_back(num(std::to_string(sal / 100) + "." + std::to_string(sal % 100 / 10) + std::to_string(sal % 10)));
        r.push_back(i % 4 == 1 ? num(std::to_string(i * 25) + ".5") : null());
        r.push_back(i % 9 == 8 ? null() : num(std::to_string(10 * (1 + i % 5))));
        t.rows.push_back(std::move(r));
    }
    return t;
}

table events()
{
    table t;
    t.name = "EVENTS";
    t.columns = {number("ID", "NUMBER(6, 0)", true), timestamp("HAPPENED"), raw("TAG", 8), clob("NOTES")};
    t.primary_key = {"ID"};
    for (int i = 1; i <= 15; ++i) {
        std::vector<cell> r;
        r.push_back(num(std::to_string(i)));
        r.push_back(i == 7 ? null() : timestamp(2024, 1 + i % 12, i, i, i * 3, i * 2, i * 111111 % 1000000));
        if (i % 5 == 0)
            r.push_back(null());
        else
            r.push_back(raw({static_cast<std::uint8_t>(i), 0x00, 0xAB, 0xFF, static_cast<std::uint8_t>(0x10 * i)}));
        if (i % 4 == 0)
            r.push_back(null());
        else if (i == 1)
            r.push_back(clob(L"First event.\nSecond line, with a tab:\tand a backslash \\."));
        else
            r.push_back(clob(L"Event " + std::to_wstring(i) + L": naïve café, 日本語, Ελληνικά"));
        t.rows.push_back(std::move(r));
    }
    return t;
}

}  // namespace

std::vector<table> tables()
{
    return {dept(), emp(), events()};
}

classic_dump::bytes bytes()
{
    return whole_dump(tables());
}

}  // namespace sample_dump
