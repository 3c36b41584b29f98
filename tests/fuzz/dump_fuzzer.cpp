// The bytes as a dump file, classic or Data Pump: opened with the reader's
// normal opening, then every table read as a conversion run reads it.

#include "fuzz_support.h"

#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "tk_unicode.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = fuzz::home() + "/input.dmp";
    static ora_dump_reader* reader = new ora_dump_reader();
    fuzz::front();
    // A context left by an earlier input of the same size and time stamp
    // would stand in for this input's scan.
    fuzz::remove_context_files(path);
    fuzz::write_file(path, data, size);
    fuzz::run([&] {
        std::unique_ptr<ora_dump_file> db = reader->open(tk_utf8_to_wide(path));
        if (!db)
            return;
        const bool pump = reader->m_datapump;
        fuzz::read_tables(*db, [&](const std::wstring& name) -> std::int64_t {
            // A classic table's records lie between its start and end; a
            // Data Pump table's partitions may lie anywhere in the file.
            const auto pos = db->tables.find(name);
            if (pump || pos == db->tables.end())
                return static_cast<std::int64_t>(size);
            return pos->second.end_pos > pos->second.start_pos ? pos->second.end_pos - pos->second.start_pos : 0;
        });
    });
    fuzz::remove_context_files(path);
    return 0;
}
