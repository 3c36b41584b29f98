#include "ora_dump_pump_master.h"

#include "ora_dump_pump_reader_th.h"
#include "ora_dump_stream.h"
#include "tk_exception.h"
#include "tk_logger.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <charconv>

namespace ora_dump_pump {

namespace {

constexpr std::size_t job_name_offset = 67;
// Two quoted names of at most 128 bytes each, the point between them.
constexpr std::size_t job_name_max = 2 * (128 + 2) + 1;

// A whole number as the NUMBER column gives it; false for anything else.
bool whole_number(const udb_field& value, std::int64_t& out)
{
    if (value.get_vt() == VT_EMPTY || value.get_vt() == VT_NULL)
        return false;
    const std::string text = value.to_string();
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, out);
    return error == std::errc() && at == end && out >= 0;
}

std::wstring text_of(const udb_field& value)
{
    return value.get_vt() == VT_BSTR ? value.get_bstr() : std::wstring();
}

// The counts of one table at its three levels: the table, its partitions
// and its subpartitions.
struct table_counts {
    std::int64_t level[3] = {0, 0, 0};
    bool seen[3] = {false, false, false};
    bool unknown[3] = {false, false, false};
};

}  // namespace

bool master_table_name(const std::uint8_t* header, std::size_t size, const dump_info& info, std::wstring& owner,
                       std::wstring& name)
{
    owner.clear();
    name.clear();
    if (size <= job_name_offset)
        return false;
    const std::uint8_t* p = header + job_name_offset;
    std::size_t n = 0;
    const std::size_t room = std::min(size - job_name_offset, job_name_max);
    while (n < room && p[n] != 0)
        ++n;
    if (n == room)
        return false;
    const std::wstring text = ora_dump_reader::get_wstring(info, reinterpret_cast<const char*>(p), n, false);
    // "OWNER"."NAME": a quote may stand in neither name.
    if (text.size() < 7 || text.front() != L'"' || text.back() != L'"')
        return false;
    const std::size_t middle = text.find(L"\".\"");
    if (middle == std::wstring::npos || middle < 2 || middle + 4 > text.size() - 1)
        return false;
    std::wstring o = text.substr(1, middle - 1);
    std::wstring t = text.substr(middle + 3, text.size() - middle - 4);
    if (o.find(L'"') != std::wstring::npos || t.find(L'"') != std::wstring::npos)
        return false;
    owner = std::move(o);
    name = std::move(t);
    return true;
}

master_rows read_master_rows(ora_dump_pump_reader_th& decoder, ora_dump_stream& stream, const udb_schema& schema,
                             std::int64_t first_row)
{
    TK_TRACE(2, "ora_dump_pump::read_master_rows(%I64d)", first_row);
    master_rows out;
    ora_stream_restore restore(stream);
    const int type = schema.get_field_idx(L"OBJECT_TYPE");
    const int owner = schema.get_field_idx(L"OBJECT_SCHEMA");
    const int object = schema.get_field_idx(L"OBJECT_NAME");
    const int partition = schema.get_field_idx(L"PARTITION_NAME");
    const int subpartition = schema.get_field_idx(L"SUBPARTITION_NAME");
    const int completed = schema.get_field_idx(L"COMPLETED_ROWS");
    const bool counts = type >= 0 && owner >= 0 && object >= 0 && completed >= 0;
    std::map<std::wstring, table_counts> tables;

    decoder.reset_skip_flag();
    decoder.set_field_names({});
    std::int64_t pos = first_row;
    for (;;) {
        stream.clear();
        stream.seek(pos);
        std::int64_t next = -1;
        try {
            std::unique_ptr<udb_record> record = decoder.get_record(stream, schema, -1, next);
            const udb_record& r = *record;
            if (counts && text_of(r[static_cast<std::size_t>(type)]) == L"TABLE_DATA") {
                const std::wstring full = text_of(r[static_cast<std::size_t>(owner)]) + L"." +
                                          text_of(r[static_cast<std::size_t>(object)]);
                int level = 0;
                if (subpartition >= 0 && !text_of(r[static_cast<std::size_t>(subpartition)]).empty())
                    level = 2;
                else if (partition >= 0 && !text_of(r[static_cast<std::size_t>(partition)]).empty())
                    level = 1;
                table_counts& c = tables[full];
                c.seen[level] = true;
                std::int64_t rows = 0;
                if (whole_number(r[static_cast<std::size_t>(completed)], rows))
                    c.level[level] += rows;
                else
                    c.unknown[level] = true;
            }
        } catch (const tk_exception& e) {
            if (next < 0) {
                // The framing is lost here: the rows end, cut when the
                // record runs past the data.
                out.rows_end = pos;
                out.ran_off = e.message == ora_th_messages::eof_reached;
                break;
            }
        }
        if (next <= pos) {
            out.rows_end = pos;
            break;
        }
        stream.clear();
        stream.seek(next);
        if (decoder.check_for_eof(stream)) {
            out.rows_end = next;
            break;
        }
        pos = next;
    }
    for (const auto& [full, c] : tables) {
        int level = 0;
        for (int l = 2; l > 0; --l)
            if (c.seen[l]) {
                level = l;
                break;
            }
        if (!c.unknown[level])
            out.completed_rows[full] = c.level[level];
    }
    TK_TRACE(2, "The master table's rows end at %I64d; %d tables counted", out.rows_end,
             static_cast<int>(out.completed_rows.size()));
    return out;
}

}  // namespace ora_dump_pump
