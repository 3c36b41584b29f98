// The bytes as one metadata document of a Data Pump dump, through the
// parser's name mode and its describe mode, with and without native types.

#include "fuzz_support.h"

#include "ora_dump_parser.h"
#include "ora_dump_test_db.h"
#include "udb_database.h"
#include "udb_recordset.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

class fuzz_table : public udb_recordset {
public:
    fuzz_table() : udb_recordset(L"T") {}
    void append_record(udb_record&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static xml_platform_guard* platform = new xml_platform_guard();
    (void)platform;
    const char* text = reinterpret_cast<const char*>(data);
    fuzz::run([&] {
        ora_dump_parser::global_index_map indexes;
        ora_dump_parser names;
        names.set_global_indexes(&indexes);
        (void)names.parse_table_name(text, size);
        for (bool native : {false, true}) {
            fuzz_table table;
            ora_dump_test::test_db db;
            ora_dump_parser parser(native);
            parser.set_global_indexes(&indexes);
            (void)parser.parse_table_description(text, size, table, &db);
            for (const t_ftd* f : table.schema)
                (void)f->name.size();
        }
    });
    return 0;
}
