// The bytes as a dump, classic or Data Pump: opened with the reader's
// normal opening (from memory: no file is written, and no context file is
// read or left behind), then every table read as a conversion run reads it.

#include "fuzz_support.h"

#include "ora_dump_file.h"
#include "ora_dump_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ora_dump_reader* reader = new ora_dump_reader();
    fuzz::front();
    fuzz::run([&] {
        ora_memory_dump dump;
        dump.bytes.assign(data, data + size);
        dump.name = L"input.dmp";
        std::unique_ptr<ora_dump_file> db = reader->open(std::move(dump));
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
    return 0;
}
