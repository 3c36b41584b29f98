#include "udb_names_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(TNamesMap, FirstPairWinsAndKeysWalkInExactOrder)
{
    t_names_map map;
    map.add(L"emp", L"emp_1");
    map.add(L"emp", L"emp_2");
    map.add(L"Emp", L"Emp_x");
    map.add(L"DEPT", L"dept_1");
    EXPECT_EQ(map.size(), 3u);

    std::vector<std::wstring> keys;
    for (const auto& pair : map)
        keys.push_back(pair.first);
    // Exact code-point order: upper-case letters sort before lower-case ones.
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"DEPT", L"Emp", L"emp"}));
}

TEST(TNamesMap, GetMappedName)
{
    t_names_map map;
    map.add(L"emp", L"emp_1");
    map.add(L"Emp", L"Emp_x");
    map.add(L"\u0416\u0443\u043a", L"zhuk");  // Жук

    struct row {
        const wchar_t* name;
        bool exact;
        const wchar_t* expected;
    };
    const row rows[] = {
        {L"emp", true, L"emp_1"},
        {L"Emp", true, L"Emp_x"},
        {L"EMP", true, L"EMP"},  // no exact match: unchanged
        // Ignoring case the first pair in key order answers: "Emp" < "emp".
        {L"EMP", false, L"Emp_x"},
        {L"emp", false, L"Emp_x"},
        {L"\u0436\u0423\u041a", false, L"zhuk"},  // жУК
        {L"\u0436\u0423\u041a", true, L"\u0436\u0423\u041a"},
        {L"", false, L""},
        {L"other", false, L"other"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(map.get_mapped_name(r.name, r.exact), r.expected)
            << "name " << testing::PrintToString(std::wstring(r.name)) << " exact " << r.exact;
}

TEST(UdbNamesMap, TableNames)
{
    udb_names_map names;
    names.add_tn_mapping(L"ORDERS", L"public.orders_1");
    names.add_tn_mapping(L"ORDERS", L"public.orders_2");
    EXPECT_EQ(names.get_tn_mapped_name(L"ORDERS", true), L"public.orders_1");
    EXPECT_EQ(names.get_tn_mapped_name(L"Orders", true), L"Orders");
    EXPECT_EQ(names.get_tn_mapped_name(L"Orders", false), L"public.orders_1");
    EXPECT_EQ(names.get_tn_mapped_name(L"EMP", false), L"EMP");
}

TEST(UdbNamesMap, ColumnNamesLookTheTableUpExactly)
{
    t_names_map columns;
    columns.add(L"Select", L"select_");
    udb_names_map names;
    names.add_fn_map(L"public.emp", columns);

    t_names_map later;
    later.add(L"Select", L"other");
    names.add_fn_map(L"public.emp", later);  // first map of a table wins

    EXPECT_EQ(names.get_fn_mapped_name(L"public.emp", L"Select", true), L"select_");
    EXPECT_EQ(names.get_fn_mapped_name(L"public.emp", L"SELECT", true), L"SELECT");
    EXPECT_EQ(names.get_fn_mapped_name(L"public.emp", L"SELECT", false), L"select_");
    EXPECT_EQ(names.get_fn_mapped_name(L"public.emp", L"name", false), L"name");
    // The table name follows no flag: a table known only in another case has
    // no column map, so the column comes back as given.
    EXPECT_EQ(names.get_fn_mapped_name(L"public.EMP", L"Select", false), L"Select");
    EXPECT_EQ(names.get_fn_mapped_name(L"public.dept", L"Select", false), L"Select");
}
