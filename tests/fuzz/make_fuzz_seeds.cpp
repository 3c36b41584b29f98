// Writes the committed seeds of the fuzz harnesses, one folder per harness
// under the folder given (tests/fuzz/seeds), from the test writers: dumps
// of every generation and a Data Pump dump, the context files of the
// context harness's fixed dumps, a stored profile, table lists, command
// lines and metadata documents.

#include "fuzz_dumps.h"
#include "fuzz_support.h"

#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "ora_dump_writer_generations.h"
#include "ora_dump_writer_pump.h"
#include "tk_unicode.h"
#include "velconv_convertor.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string root;

void seed(const std::string& harness, const std::string& name, const std::string& content)
{
    fs::create_directories(root + "/" + harness);
    fuzz::write_file(root + "/" + harness + "/" + name, reinterpret_cast<const std::uint8_t*>(content.data()),
                     content.size());
}

void seed(const std::string& harness, const std::string& name, const fuzz::bytes& content)
{
    seed(harness, name, std::string(content.begin(), content.end()));
}

std::string read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The context file a first opening of the fixed dump writes.
std::string context_of(const std::string& name, const fuzz::bytes& dump)
{
    ora_dump_reader reader;
    const std::string path = fuzz::home() + "/" + name;
    fuzz::write_fixed_dump(path, dump);
    fuzz::remove_context_files(path);
    reader.open(tk_utf8_to_wide(path)).reset();
    return read(tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(path))));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <seeds folder>\n");
        return 2;
    }
    root = fs::absolute(argv[1]).string();
    fuzz::front(true);

    for (const ora_rows::generation& g : ora_rows::generations)
        seed("dump_fuzzer", std::string("classic_") + g.name + ".dmp", ora_rows::dump_of(g));
    seed("dump_fuzzer", "sample.dmp", fuzz::classic_dump());
    seed("dump_fuzzer", "pump.dmp", fuzz::pump_dump());
    seed("dump_fuzzer", "pump_export.dmp", fuzz::pump_export_dump());

    seed("context_fuzzer", "classic.vcx", context_of("classic.dmp", fuzz::classic_dump()));
    seed("context_fuzzer", "pump.vcx", context_of("pump.dmp", fuzz::pump_dump()));

    {
        velconv_convertor converter;
        converter.n_mode = 3;
        converter.skip_idx = 1;
        converter.selected_tables = {L"EMP", L"DEPT"};
        converter.available_queries = {{L"rich", L"SELECT * FROM EMP WHERE SAL > 3000"}};
        converter.set_connection("db.example", "scott", "tiger", 5433);
        converter.dest = L"target";
        const std::string path = fuzz::home() + "/work/seed.velc";
        if (!converter.save_profile_file(tk_utf8_to_wide(path)))
            fuzz::finding("the seed profile cannot be stored");
        seed("profile_fuzzer", "stored.velc", read(path));
    }
    seed("profile_fuzzer", "bare.velc", std::string("[Generic settings]\nmode=2\nlogfile=\n[Selected Tables]\nEMP\n"));

    seed("tab_file_fuzzer", "plain.txt", std::string("EMP\nDEPT\n"));
    seed("tab_file_fuzzer", "crlf_bom.txt", std::string("\r\n\xEF\xBB\xBF" "Gr\xC3\xBC\xC3\x9F" "e\r\n\nSCOTT.EMP \r\n"));

    const std::string z(1, '\0');
    seed("cmd_line_fuzzer", "full.txt",
         "--src=a.dmp" + z + "--dest=target" + z + "--host=localhost" + z + "--port=5433" + z + "--user=scott" + z +
             "--pswd=tiger" + z + "--mode=1" + z + "--tab_file=tabs.txt" + z + "--skip_idx" + z + "--tab_def" + z +
             "--case_sense" + z + "--ora_schema" + z + "--silent" + z + "--logfile=run.log");
    seed("cmd_line_fuzzer", "profile.txt", "--profile=p.velc" + z + "--src=a.dmp" + z + "--dest=d");
    seed("cmd_line_fuzzer", "help.txt", std::string("--help"));

    const std::vector<ora_pump::column> cols = {{"ID", 2, 22, 4, 0, 0, true},
                                                {"NAME", 1, 10, {}, {}, 873},
                                                {"DOC", 58, 4000, {}, {}},
                                                {"B", 113, 4000, {}, {}}};
    seed("xml_fuzzer", "table.xml",
         ora_pump::table_doc("SCOTT", "T", cols, {{"PK_T", 2, {"ID"}}, {"UQ_T", 3, {"NAME"}}},
                             {{"FK_T", "SCOTT", "U", {"ID"}, {"ID"}}}));
    seed("xml_fuzzer", "strmtable.xml", ora_pump::strmtable_doc("SCOTT", "T", cols));
    seed("xml_fuzzer", "constraint.xml", ora_pump::constraint_doc("SCOTT", "T", {"PK_T", 2, {"ID"}}));
    seed("xml_fuzzer", "ref_constraint.xml",
         ora_pump::ref_constraint_doc("SCOTT", "T", {"FK_T", "SCOTT", "U", {"ID"}, {"ID"}}));
    return 0;
}
