// The table-list file of velcagent: which names each file gives, and the
// files that are refused with the list left as it was.

#include "udb_converter.h"

#include "test_support.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using names = std::vector<std::wstring>;

const names before = {L"OLD1", L"OLD2"};

struct tab_file_row {
    const char* name;
    std::string content;
    // The list the file gives, or, when the file is refused, the level-1 text.
    std::optional<names> tables;
    const char* refusal;
};

const std::string bom = "\xEF\xBB\xBF";

std::vector<tab_file_row> rows()
{
    return {
        {"empty_line_skipped", "EMP\n\nDEPT\n", names{L"EMP", L"DEPT"}, nullptr},
        {"bom_then_name", bom + "EMP\nDEPT\n", names{L"EMP", L"DEPT"}, nullptr},
        {"bom_after_blank_lines_is_still_first", "\n\r\n" + bom + "EMP\n", names{L"EMP"}, nullptr},
        {"bom_on_later_line_kept", "EMP\n" + bom + "DEPT\n", names{L"EMP", L"\xFEFF" L"DEPT"}, nullptr},
        {"bom_only_first_line_gives_empty_name", bom + "\nEMP\n", names{L"", L"EMP"}, nullptr},
        {"blanks_around_dropped_case_and_inner_blanks_kept", " Emp \nd e p t\n", names{L"Emp", L"d e p t"},
         nullptr},
        {"tabs_around_dropped", "\tEMP\t\r\nDEPT \t\n", names{L"EMP", L"DEPT"}, nullptr},
        {"line_of_blanks_is_empty", "EMP\n   \n\t\r\nDEPT\n", names{L"EMP", L"DEPT"}, nullptr},
        {"bom_then_blanks", bom + "  EMP\n", names{L"EMP"}, nullptr},
        {"quoted_name_keeps_its_blanks", "  \" EMP X \"\t\n\"emp\"\n", names{L" EMP X ", L"emp"}, nullptr},
        {"doubled_quote_in_a_quoted_name", "\"A\"\"B\"\n", names{L"A\"B"}, nullptr},
        {"unbalanced_or_inner_quotes_kept", "\"EMP\nA\"B\n\"\n", names{L"\"EMP", L"A\"B", L"\""}, nullptr},
        {"empty_quotes_name_nothing", "\"\"\nEMP\n", names{L"EMP"}, nullptr},
        {"utf8_name", "\xD0\x96URNAL\n", names{L"\x0416URNAL"}, nullptr},
        {"crlf_with_blank_line", "EMP\r\n\r\nDEPT\r\n", names{L"EMP", L"DEPT"}, nullptr},
        {"only_one_cr_dropped", "EMP\r\r\n", names{L"EMP\r"}, nullptr},
        {"last_line_without_end", "EMP\nDEPT", names{L"EMP", L"DEPT"}, nullptr},
        {"last_line_cr_without_lf", "EMP\r", names{L"EMP"}, nullptr},
        {"empty_file", "", names{}, nullptr},
        {"blank_lines_only", "\n\r\n\n", names{}, nullptr},
        {"line_of_254_bytes", std::string(254, 'T') + "\nEMP\n", names{std::wstring(254, L'T'), L"EMP"}, nullptr},
        {"line_of_254_bytes_crlf", std::string(254, 'T') + "\r\n", names{std::wstring(254, L'T')}, nullptr},
        {"line_of_254_bytes_at_end", "EMP\n" + std::string(254, 'T'), names{L"EMP", std::wstring(254, L'T')},
         nullptr},
        {"bom_counts_as_bytes_254", bom + std::string(251, 'T') + "\n", names{std::wstring(251, L'T')}, nullptr},
        {"line_of_255_bytes", std::string(255, 'T') + "\n", std::nullopt,
         "Table names file: line 1 is longer than 254 bytes."},
        {"line_of_255_bytes_crlf", std::string(255, 'T') + "\r\n", std::nullopt,
         "Table names file: line 1 is longer than 254 bytes."},
        {"bom_counts_as_bytes_255", bom + std::string(252, 'T') + "\n", std::nullopt,
         "Table names file: line 1 is longer than 254 bytes."},
        {"long_line_numbered_with_empty_lines", "EMP\n\nDEPT\n" + std::string(300, 'T') + "\nX\n", std::nullopt,
         "Table names file: line 4 is longer than 254 bytes."},
        {"long_last_line_without_end", "EMP\n" + std::string(255, 'T'), std::nullopt,
         "Table names file: line 2 is longer than 254 bytes."},
        {"very_long_line", std::string(100000, 'T'), std::nullopt,
         "Table names file: line 1 is longer than 254 bytes."},
        // A name would end at the NUL byte and name another table.
        {"line_of_nul_bytes", std::string("EM\n\0\0\0\0\0\0\0", 10), std::nullopt,
         "Table names file: line 2 holds a NUL byte."},
        {"nul_inside_a_name", std::string("EMP\0X\r\nDEPT\n", 12), std::nullopt,
         "Table names file: line 1 holds a NUL byte."},
    };
}

// The case's name, in the test list and in failure messages, in place of
// its raw bytes.
void PrintTo(const tab_file_row& row, std::ostream* os)
{
    *os << row.name;
}

class tab_file : public tk_test::home_fixture, public ::testing::WithParamInterface<tab_file_row> {};

TEST_P(tab_file, gives_the_names_or_leaves_the_list)
{
    const tab_file_row& row = GetParam();
    const std::string path = home.file("tables.txt");
    tk_test::write_file(path, row.content);

    udb_converter converter;
    converter.selected_tables = before;
    if (row.tables) {
        converter.process_tab_file(path);
        EXPECT_EQ(converter.selected_tables, *row.tables);
    } else {
        try {
            converter.process_tab_file(path);
            ADD_FAILURE() << "the file was accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_EQ(e.message, row.refusal);
        }
        EXPECT_EQ(converter.selected_tables, before);
    }
}

std::vector<tab_file_row> all_rows = rows();

INSTANTIATE_TEST_SUITE_P(table, tab_file, ::testing::ValuesIn(all_rows),
                         [](const ::testing::TestParamInfo<tab_file_row>& info) {
                             return std::string(info.param.name);
                         });

class tab_file_path : public tk_test::home_fixture {};

TEST_F(tab_file_path, missing_file_or_folder_is_refused_with_the_list_unchanged)
{
    const char* const text = "Table names file does not exist.\nPlease verify the correct path/name was given.";
    for (const std::string& path : {home.file("missing.txt"), home.path(), std::string()}) {
        SCOPED_TRACE(path);
        udb_converter converter;
        converter.selected_tables = before;
        try {
            converter.process_tab_file(path);
            ADD_FAILURE() << "the path was accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_EQ(e.message, text);
        }
        EXPECT_EQ(converter.selected_tables, before);
    }
}

TEST_F(tab_file_path, a_read_error_is_refused_with_the_list_unchanged)
{
    // Opening works, but reading from offset 0 fails: nothing is mapped at
    // address 0.
    const std::string path = "/proc/self/mem";
    if (!tk_is_file_exist(path, 0x4000))
        GTEST_SKIP() << path << " cannot be opened here";
    udb_converter converter;
    converter.selected_tables = before;
    try {
        converter.process_tab_file(path);
        ADD_FAILURE() << "the file was accepted";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_EQ(e.message, "Table names file cannot be read.");
    }
    EXPECT_EQ(converter.selected_tables, before);
}

TEST_F(tab_file_path, a_second_file_replaces_the_first)
{
    tk_test::write_file(home.file("a.txt"), "EMP\nDEPT\n");
    tk_test::write_file(home.file("b.txt"), "BONUS\n");
    udb_converter converter;
    converter.process_tab_file(home.file("a.txt"));
    converter.process_tab_file(home.file("b.txt"));
    EXPECT_EQ(converter.selected_tables, names{L"BONUS"});
}

}  // namespace
