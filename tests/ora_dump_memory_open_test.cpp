// A dump held in memory opens as the same dump in a file does: the same
// refusals, tables, texts and rows; its context comes from the image given
// with it, and nothing is read from or written to the file system for it.

#include "ora_dump_reader.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_writer.h"
#include "ora_dump_writer_pump.h"
#include "ora_dump_writer_rows.h"
#include "recording_front_end.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"
#include "udb_recordset.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

std::wstring W(const std::string& s) { return tk_utf8_to_wide(s); }

ora_rows::table_spec classic_table(const std::string& name, int rows)
{
    const std::string q = "\"" + name + "\"";
    ora_rows::table_spec t;
    t.name = name;
    t.create_sql = "CREATE TABLE " + q + " (\"ID\" NUMBER(9, 0), \"NAME\" VARCHAR2(20))  PCTFREE 10";
    ora_rows::block_spec b;
    b.insert_sql = "INSERT INTO " + q + " (\"ID\", \"NAME\") VALUES (:1, :2)";
    b.description = ora_rows::description_gen9({ora_rows::entry(2, 22), ora_rows::entry(1, 20)}, 10, {});
    for (int i = 1; i <= rows; ++i)
        b.rows.push_back(ora_rows::row()
                             .value(ora_rows::number(std::to_string(i)))
                             .value(ora_rows::text(W(name)))
                             .gap()
                             .data());
    t.blocks.push_back(b);
    return t;
}

bytes classic_dump()
{
    ora_dump_writer w;
    ora_dump_writer::header_fields h;
    h.marker = 0x0020;
    ora_rows::write_dump(w, h, {classic_table("EMP", 3), classic_table("DEPT", 2)});
    return w.data();
}

bytes pump_dump()
{
    using ora_pump::column;
    const std::vector<column> dept = {{"DEPTNO", 2, 22, 2, 0, 0, true}, {"DNAME", 1, 14, {}, {}, 873}};
    ora_pump::export_table d{"SCOTT", "DEPT", dept, {}, {{"PK_DEPT", 2, {"DEPTNO"}}}, {}, true};
    d.rows = {ora_pump::record({ora_pump::value(ora_rows::number("10")),
                                ora_pump::value(ora_rows::text(L"ACCOUNTING", 65001))}),
              ora_pump::record({ora_pump::value(ora_rows::number("20")), ora_pump::null_value()})};
    return ora_pump::export_writer::whole({d});
}

// What an opening gives, as texts two openings can be compared by.
struct outcome {
    bool opened = false;
    std::vector<std::string> errors;
    ora_table_map tables;
    std::string header, user, tablespace;
    bool truncated = false;
    std::vector<std::string> rows;
};

class memory_open : public tk_test::home_fixture {
protected:
    outcome take(const std::function<std::unique_ptr<ora_dump_file>()>& open)
    {
        outcome o;
        fe->calls.clear();
        try {
            std::unique_ptr<ora_dump_file> db = open();
            o.opened = db != nullptr;
            if (db) {
                o.tables = db->tables;
                o.header = db->export_header;
                o.user = db->user_name;
                o.tablespace = db->tablespace_name;
                o.truncated = db->is_truncated();
                for (const std::wstring& name : db->get_table_names()) {
                    std::unique_ptr<udb_recordset> t = db->get_table(name, 1);
                    for (t->reset(); !t->is_eof(); t->next()) {
                        std::string line = tk_wide_to_utf8(name) + ":";
                        for (const udb_field& f : *t->get_item())
                            line += " " + f.to_string();
                        o.rows.push_back(line);
                    }
                }
            }
        } catch (const tk_final_exception&) {
            o.errors.push_back("stopped");
        } catch (const tk_exception& e) {
            o.errors.push_back("raised: " + e.message);
        } catch (const front_end_exit&) {
            o.errors.push_back("exit");
        }
        for (const auto& call : fe->calls)
            o.errors.push_back(call.name + ": " + call.text);
        return o;
    }

    outcome from_file(const std::string& path)
    {
        return take([&] { return reader.open(W(path)); });
    }

    outcome from_memory(const bytes& data, const bytes& context = {}, std::int64_t mtime_ns = 0)
    {
        return take([&] {
            ora_memory_dump dump;
            dump.bytes = data;
            // Where a context file would go, were one written.
            dump.name = W(home.file("held.dmp"));
            dump.mtime_ns = mtime_ns;
            dump.context_image = context;
            return reader.open(std::move(dump));
        });
    }

    // Every file under the home folder.
    std::vector<std::string> files() const
    {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(home.path()))
            if (e.is_regular_file())
                out.push_back(e.path().string());
        return out;
    }

    ora_dump_test::scoped_documents_folder docs{home};
    std::optional<recording_front_end> fe{std::in_place, recording_front_end::mode::gui};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
};

void expect_same(const outcome& file, const outcome& memory)
{
    EXPECT_EQ(memory.opened, file.opened);
    EXPECT_EQ(memory.errors, file.errors);
    EXPECT_EQ(memory.tables, file.tables);
    EXPECT_EQ(memory.header, file.header);
    EXPECT_EQ(memory.user, file.user);
    EXPECT_EQ(memory.tablespace, file.tablespace);
    EXPECT_EQ(memory.truncated, file.truncated);
    EXPECT_EQ(memory.rows, file.rows);
}

TEST_F(memory_open, reads_like_the_same_dump_in_a_file)
{
    const bytes classic = classic_dump();
    const bytes pump = pump_dump();
    const std::string junk = "not a dump at all\n";
    const struct {
        const char* name;
        bytes data;
        bool opens;
    } cases[] = {
        {"classic", classic, true},
        {"data pump", pump, true},
        {"classic cut inside its rows", bytes(classic.begin(), classic.begin() + classic.size() * 3 / 4), true},
        {"data pump cut", bytes(pump.begin(), pump.begin() + pump.size() / 2), true},
        {"not a dump", bytes(junk.begin(), junk.end()), false},
        {"empty", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = home.file("case.dmp");
        tk_test::write_file(path, std::string(c.data.begin(), c.data.end()));
        const outcome file = from_file(path);
        fs::remove(tk_wide_to_utf8(ora_dump_file::context_file_name(W(path))));
        fs::remove(path);
        ASSERT_TRUE(files().empty());

        const outcome memory = from_memory(c.data);
        expect_same(file, memory);
        EXPECT_EQ(memory.opened, c.opens);
        if (c.opens) {
            EXPECT_FALSE(memory.tables.empty());
        }
        EXPECT_TRUE(files().empty()) << "a dump in memory left a file";
    }
}

TEST_F(memory_open, takes_the_context_image_made_for_it_and_no_other)
{
    const bytes dump = classic_dump();
    const std::int64_t mtime_ns = 1600000000LL * 1000000000LL;
    const outcome scanned = from_memory(dump, {}, mtime_ns);
    ASSERT_TRUE(scanned.opened);

    // The image of that scan, with a table the dump lacks: taken, it shows.
    ora_dump_file::context c;
    c.tables = scanned.tables;
    c.tables[L"GHOST"] = c.tables.at(L"DEPT");
    c.export_header = scanned.header;
    c.user_name = scanned.user;
    c.tablespace_name = scanned.tablespace;
    c.complete = true;
    bytes image;
    ASSERT_TRUE(ora_dump_file::build_image(c, static_cast<std::int64_t>(dump.size()), mtime_ns, image));

    const outcome taken = from_memory(dump, image, mtime_ns);
    EXPECT_EQ(taken.tables.count(L"GHOST"), 1u);
    EXPECT_EQ(taken.header, scanned.header);

    // Made for another time stamp, or damaged: the dump is scanned.
    bytes damaged = image;
    damaged[damaged.size() / 2] ^= 0x55;
    for (const auto& [image_given, time] : {std::pair{image, mtime_ns + 1}, std::pair{damaged, mtime_ns}}) {
        const outcome again = from_memory(dump, image_given, time);
        expect_same(scanned, again);
    }
    EXPECT_TRUE(files().empty());
}

}  // namespace
