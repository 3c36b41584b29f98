// The bytes as the context of a fixed small dump (a classic one and a Data
// Pump one), then the dump's opening and the reading of its tables. The dump
// and its context are opened from memory: no file is written per input.
//
// A context that is not valid for the dump must give a rescan: the opening
// must reach the scan, which starts from a fresh context and so gives what
// a first opening gives. The harness stops the opening at the scan's first
// step; for one input in sixteen (chosen by the input's bytes, so a run is
// repeatable) it lets the scan run and checks the same tables, at the same
// places, with the same rows as a first opening. A context that is valid
// (the harness also tries each input with its checksum made to match) is
// trusted by design; its tables may lie, but reading them must stay the
// reader's own business: no crash, no internal error, no table that never
// ends.

#include "fuzz_support.h"
#include "fuzz_dumps.h"

#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "recording_front_end.h"
#include "tk_unicode.h"
#include "udb_record.h"
#include "udb_recordset.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

struct fixed_dump {
    std::wstring name;
    fuzz::bytes data;
    std::int64_t size = 0;
    std::int64_t mtime_ns = 0;
    int format = 0;
    ora_table_map tables;
    std::vector<std::string> rows;  // every value of every row, as text
};

ora_dump_reader& reader()
{
    static ora_dump_reader* r = new ora_dump_reader();
    return *r;
}

// Opens the dump and reads everything, as a list of texts the outcomes of
// two openings can be compared by.
void open_and_read(fixed_dump& d, const fuzz::bytes& image, ora_table_map* tables_out, std::vector<std::string>& rows)
{
    rows.clear();
    fuzz::run([&] {
        ora_memory_dump dump;
        dump.bytes = d.data;
        dump.name = d.name;
        dump.mtime_ns = d.mtime_ns;
        dump.context_image = image;
        std::unique_ptr<ora_dump_file> db = reader().open(std::move(dump));
        if (!db)
            return;
        if (tables_out)
            *tables_out = db->tables;
        for (const std::wstring& name : db->get_table_names()) {
            std::unique_ptr<udb_recordset> t;
            try {
                t = db->get_table(name, 1);
                if (!t)
                    continue;
                t->reset();
                std::int64_t steps = 0;
                while (!t->is_eof()) {
                    if (++steps > d.size + 1)
                        fuzz::finding("table " + tk_wide_to_utf8(name) + " never ends");
                    try {
                        if (udb_record* r = t->get_item()) {
                            std::string line = tk_wide_to_utf8(name) + ":";
                            for (const udb_field& f : *r)
                                line += " " + f.to_string();
                            rows.push_back(line);
                        }
                    } catch (const tk_exception& e) {
                        fuzz::check_level(e.level, "get_item");
                        rows.push_back("record failure: " + e.message);
                    }
                    t->next();
                }
            } catch (const tk_exception& e) {
                fuzz::check_level(e.level, "table");
                rows.push_back("table failure: " + e.message);
            }
            t.reset();
        }
    });
}

fixed_dump make_dump(const std::string& name, const fuzz::bytes& data, int format)
{
    fixed_dump d;
    d.name = tk_utf8_to_wide(name);
    d.data = data;
    d.format = format;
    d.size = static_cast<std::int64_t>(data.size());
    // The time stamp the committed context seeds record.
    d.mtime_ns = fuzz::fixed_mtime_s * 1000000000;
    open_and_read(d, {}, &d.tables, d.rows);
    if (d.tables.empty() || d.rows.empty())
        fuzz::finding("the fixed dump " + name + " does not read");
    return d;
}

std::vector<fixed_dump>& dumps()
{
    static std::vector<fixed_dump>* all = [] {
        auto* v = new std::vector<fixed_dump>();
        v->push_back(make_dump("classic.dmp", fuzz::classic_dump(), 0));
        v->push_back(make_dump("pump.dmp", fuzz::pump_dump(), 1));
        return v;
    }();
    return *all;
}

// The context file's checksum (64-bit FNV-1a), written here from its
// definition: like the test writers, the harness shares no code with the
// reader it checks.
std::uint64_t fnv1a64(const std::uint8_t* p, std::size_t n)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

// The image with the checksum before its last four bytes made to match.
fuzz::bytes with_checksum(fuzz::bytes image)
{
    if (image.size() < 16)
        return image;
    const std::size_t at = image.size() - 12;
    std::uint64_t sum = fnv1a64(image.data(), at);
    for (int i = 0; i < 8; ++i)
        image[at + i] = static_cast<std::uint8_t>(sum >> (8 * i));
    return image;
}

bool valid_for(const fixed_dump& d, const fuzz::bytes& image)
{
    ora_dump_file::context parsed;
    return ora_dump_file::parse_image(image, parsed, d.size, d.mtime_ns, false, d.format);
}

// Opens the dump with the context until its scan starts: true when it did.
bool reaches_scan(fixed_dump& d, const fuzz::bytes& image)
{
    bool scanning = false;
    reader().set_stop_check([&] {
        scanning = true;
        return true;
    });
    fuzz::run([&] {
        ora_memory_dump dump;
        dump.bytes = d.data;
        dump.name = d.name;
        dump.mtime_ns = d.mtime_ns;
        dump.context_image = image;
        (void)reader().open(std::move(dump));
    });
    reader().set_stop_check({});
    return scanning;
}

void one_case(fixed_dump& d, const fuzz::bytes& image, bool valid, bool whole_rescan)
{
    if (!valid && !whole_rescan) {
        if (!reaches_scan(d, image))
            fuzz::finding("a context that is not valid did not give a rescan");
        return;
    }
    ora_table_map tables;
    std::vector<std::string> rows;
    open_and_read(d, image, &tables, rows);
    if (valid)
        return;
    if (tables != d.tables)
        fuzz::finding("a context that is not valid gave other tables than the scan");
    if (rows != d.rows)
        fuzz::finding("a context that is not valid gave other rows than the scan");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::front();
    const fuzz::bytes image(data, data + size);
    const fuzz::bytes fixed = with_checksum(image);
    const bool whole_rescan = fnv1a64(data, size) % 16 == 0;
    for (fixed_dump& d : dumps()) {
        one_case(d, image, valid_for(d, image), whole_rescan);
        // A checksum made to match mostly gives a context that is still not
        // valid: its opening would only repeat the rescan just checked.
        if (fixed != image && valid_for(d, fixed))
            one_case(d, fixed, true, false);
    }
    return 0;
}
