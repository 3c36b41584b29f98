// A profile saved on the finish page replays its run: the dump-file page's
// options that shape the result (case-sensitive names, merged schema and
// table names, definitions only, skipped indexes) travel in it, and quick
// launch and velcagent --profile= apply them, giving the same database.

// Before Qt, whose keywords the client library's headers use as names.
#include "e2e_support.h"

#include "wizserver_quick_support.h"

#include "e2e_dumps.h"
#include "run_wizard.h"
#include "sel_file_page.h"

#include "velconv_convertor.h"

#include <map>

using namespace wizard_test;

namespace {

class profile_replay_test : public quick_fixture {
protected:
    // What a run made, by SQL: the tables with their schema, the columns,
    // the keys and indexes, and every table's rows.
    std::string database_snapshot()
    {
        pqxx::connection c(server.conninfo(db));
        pqxx::nontransaction tx(c);
        const std::string user_schemas = " NOT IN ('pg_catalog', 'information_schema', 'pg_toast')";
        std::string out;
        const auto add = [&](const std::string& title, const std::string& sql) {
            out += title + ":\n";
            for (const auto& row : tx.exec(sql)) {
                for (const auto& field : row)
                    out += std::string(field.is_null() ? "<null>" : field.c_str()) + "|";
                out += "\n";
            }
        };
        add("schemas", "SELECT nspname FROM pg_namespace WHERE nspname" + user_schemas +
                           " AND nspname NOT LIKE 'pg_temp%' AND nspname NOT LIKE 'pg_toast_temp%' ORDER BY 1");
        add("columns", "SELECT table_schema, table_name, column_name, data_type, is_nullable, column_default "
                       "FROM information_schema.columns WHERE table_schema" + user_schemas +
                           " ORDER BY 1, 2, ordinal_position");
        add("keys", "SELECT tc.table_schema, tc.table_name, tc.constraint_type, kcu.column_name "
                    "FROM information_schema.table_constraints tc JOIN information_schema.key_column_usage kcu "
                    "ON kcu.constraint_schema = tc.constraint_schema AND kcu.constraint_name = tc.constraint_name "
                    "WHERE tc.table_schema" + user_schemas + " ORDER BY 1, 2, 3, kcu.ordinal_position");
        add("indexes", "SELECT schemaname, tablename, indexdef FROM pg_indexes WHERE schemaname" + user_schemas +
                           " ORDER BY 1, 2, 3");
        for (const auto& t : tx.exec("SELECT table_schema, table_name FROM information_schema.tables "
                                     "WHERE table_schema" + user_schemas + " ORDER BY 1, 2")) {
            const std::string name = tx.quote_name(t[0].c_str()) + "." + tx.quote_name(t[1].c_str());
            add("rows of " + name, "SELECT r::text FROM " + name + " r ORDER BY 1");
        }
        return out;
    }
    // The user's tables as "schema.name", in order.
    std::string table_list()
    {
        return query("SELECT string_agg(table_schema || '.' || table_name, ',' ORDER BY table_schema, table_name) "
                     "FROM information_schema.tables WHERE table_schema NOT IN ('pg_catalog', 'information_schema')");
    }
    void drop_db() { exec("DROP DATABASE IF EXISTS " + quoted(db) + " WITH (FORCE)", "postgres"); }
};

}  // namespace

TEST_F(profile_replay_test, TheSavedProfileGivesTheSameDatabaseInQuickLaunchAndInVelcagent)
{
    // Exported by SCOTT: merged, the tables are named after the owner too.
    const std::string src = write_dump("scott.dmp", classic_dump::whole_dump({e2e_dumps::dept(), e2e_dumps::emp()}));
    const std::string saved = work.file("replay");
    EXPECT_EQ(run_whole_wizard(src, saved,
                               [](wizard_page_base& page) {
                                   tick(&page, file_case_sens_id, true);
                                   tick(&page, file_use_schema_id, true);
                                   tick(&page, file_skip_idx_id, true);
                               }),
              1);
    // The options took effect: names merged with their owner, their case
    // kept, no index but the keys' own.
    EXPECT_EQ(table_list(), "public.SCOTT.DEPT,public.SCOTT.EMP");
    const std::string first = database_snapshot();
    EXPECT_EQ(first.find("EMP_DEPTNO"), std::string::npos) << first;
    const std::string profile_text = tk_test::read_file(saved + ".velc");
    for (const char* line : {"case_sens=1\r\n", "use_schema=1\r\n", "skip indexes=1\r\n", "only definitions=0\r\n",
                             "SCOTT.DEPT\r\n", "SCOTT.EMP\r\n"})
        EXPECT_NE(profile_text.find(line), std::string::npos) << line << " in\n" << profile_text;

    drop_db();
    std::vector<int> pages;
    std::vector<int> seen;
    EXPECT_EQ(run_quick(saved + ".velc", pages, seen), 1);
    EXPECT_EQ(seen, (std::vector<int>{108, 107, 116}));
    EXPECT_EQ(database_snapshot(), first);

    drop_db();
    const e2e::result r = e2e::run_velcagent({"--profile=" + saved + ".velc"}, work.path());
    EXPECT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(database_snapshot(), first);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(profile_replay_test, AnOlderProfileKeepsTheNamesAsBeforeAndTheProfileSavedFromItReplaysThat)
{
    // No use_schema and no case_sens: quick launch merges nothing and
    // lower-cases, whatever the settings file holds.
    const std::string src = write_dump("scott.dmp", classic_dump::whole_dump({e2e_dumps::dept()}));
    const std::string old_profile = profile(src, 0, "DEPT\r\n");
    wizard_hooks hooks;
    hooks.converter_ready = [](velconv_convertor& c) {
        // As the settings file of an earlier run with both options leaves them.
        c.case_sens = 1;
        c.use_schema = 1;
    };
    const std::string saved = work.file("from-old");
    ui.dialog_handlers["sheet"] = [&](QDialog& d) {
        auto& shell = dynamic_cast<wizard_shell&>(d);
        if (!wait_for_state([&] { return shell.current_idd() == 116; }, "page 116 in quick launch"))
            return;
        ui.file_answers.push_back(tk_utf8_to_wide(saved));
        click(shell.current_page(), save_settings_id);
        click(&shell, sheet_finish_id);
    };
    EXPECT_EQ(run_wizard({old_profile}, ui, hooks), 1);
    EXPECT_EQ(table_list(), "public.dept");
    const std::string text = tk_test::read_file(saved + ".velc");
    EXPECT_NE(text.find("case_sens=0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("use_schema=0\r\n"), std::string::npos) << text;

    drop_db();
    std::vector<int> pages;
    std::vector<int> seen;
    EXPECT_EQ(run_quick(saved + ".velc", pages, seen), 1);
    EXPECT_EQ(table_list(), "public.dept");

    drop_db();
    const e2e::result r = e2e::run_velcagent({"--profile=" + old_profile}, work.path());
    EXPECT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(table_list(), "public.dept");
    EXPECT_TRUE(ui.boxes().empty());
}
