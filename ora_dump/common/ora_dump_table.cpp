// The dump table: its initialisation by format, and its cursor.
#include "ora_dump_table.h"

#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "udb_record.h"

#include <algorithm>
#include <exception>
#include <string_view>

namespace {

constexpr const char* out_of_range = "Out of recordset range.";
constexpr const char* failed_to_move_next = "Failed to move next.";

}  // namespace

ora_dump_table::ora_dump_table(udb_database* db, bool native_types, const std::wstring& name)
    : udb_recordset(name), m_db(db), b_native_types(native_types ? 1 : 0)
{
    TK_WTRACE(2, L"ora_dump_table::ctor(%s)", name);
}

ora_dump_table::~ora_dump_table()
{
    TK_TRACE(2, "ora_dump_table::dtor");
    m_record.reset();
    m_partitions.clear();
    m_lst_records.clear();
    if (m_live_counter)
        m_live_counter->fetch_sub(1, std::memory_order_acq_rel);
}

void ora_dump_table::set_live_counter(std::atomic<int>* counter)
{
    if (m_live_counter)
        m_live_counter->fetch_sub(1, std::memory_order_acq_rel);
    m_live_counter = counter;
    if (m_live_counter)
        m_live_counter->fetch_add(1, std::memory_order_acq_rel);
}

// --- initialisation ---------------------------------------------------------

bool ora_dump_table::init(ora_dump_stream* stream, const table_pos& pos, ora_dump_reader_th* decoder,
                          const std::string& header_text)
{
    TK_TRACE(2, "ora_dump_table::init(%s)", header_text);
    TK_CHECK(stream != nullptr, "ora_dump_table", 245);
    TK_CHECK(decoder != nullptr, "ora_dump_table", 246);
    m_stream = stream;
    m_decoder = decoder;
    rec_count = pos.record_base;
    m_decoder->reset_skip_flag();

    ora_stream_restore restore(*m_stream);
    static constexpr std::string_view classic = "EXPORT:";
    if (tk_compare_no_case(std::string_view(header_text).substr(0, classic.size()), classic) == 0)
        return _init2(restore.where(), pos);
    return _init1(restore.where(), pos);
}

// --- cursor -----------------------------------------------------------------

void ora_dump_table::append_record(udb_record&) {}

void ora_dump_table::set_progress()
{
    if (!m_stream)
        return;
    if (ora_dump_reader* reader = ora_dump_reader::try_instance())
        reader->set_local_progress(m_start_pos, m_end_pos, m_stream->tell());
}

void ora_dump_table::give_decoder(std::size_t block)
{
    const partition& p = m_partitions[block];
    const std::int16_t flag = p.skip ? 1 : 0;
    if (m_decoder->m_skip_blob_flag != flag)
        m_decoder->m_skip_blob_flag = flag;
    // The decoder is shared by the tables of the dump; the names go over
    // only when they changed, which keeps its column map.
    if (m_decoder->field_names() != p.field_names)
        m_decoder->set_field_names(p.field_names);
    m_cur_partition = block;
}

std::int64_t ora_dump_table::enter_block(std::size_t block)
{
    give_decoder(block);
    const partition& p = m_partitions[block];
    if (m_b_datapump)
        return pump_enter_block(p);
    m_stream->clear();
    seek_to_pos(*m_stream, p.position);
    return p.position;
}

void ora_dump_table::trim_kept_positions()
{
    while (m_lst_records.size() > kept_positions && m_cursor > 0) {
        m_lst_records.pop_front();
        --m_cursor;
    }
}

bool ora_dump_table::enter_rows(std::size_t block)
{
    for (; block < m_partitions.size(); ++block) {
        const std::int64_t first = enter_block(block);
        if (m_b_datapump && m_decoder->check_for_eof(*m_stream)) {
            check_rows_end(first);
            m_stream->clear();
            m_stream->seek(first);
            continue;
        }
        m_lst_records.push_back({first, block});
        ++m_rows_found;
        return true;
    }
    return false;
}

void ora_dump_table::rewind()
{
    TK_TRACE(1, "ora_dump_table::reset");
    m_lst_records.clear();
    m_cursor = 0;
    m_next_known = false;
    m_cur_partition = 0;
    m_rows_found = 0;
    if (!m_stream)
        return;
    if (m_partitions.empty() || !enter_rows(0)) {
        m_stream->clear();
        m_stream->seek(m_start_pos);
        if (m_decoder)
            m_decoder->set_field_names({});
    }
    set_progress();
}

void ora_dump_table::reset()
{
    rewind();
    if (m_lst_records.empty())
        rows_ended();
}

bool ora_dump_table::is_eof()
{
    TK_TRACE(1, "ora_dump_table::is_eof");
    TK_TRACE(1, "m_lst_records.size=%d", static_cast<int>(m_lst_records.size()));
    return m_lst_records.empty() || m_cursor >= m_lst_records.size();
}

udb_record* ora_dump_table::get_item()
{
    TK_TRACE(1, "ora_dump_table::get_item()");
    if (is_eof())
        throw tk_exception(out_of_range, 1);
    ora_dump_stream& s = *m_stream;
    ora_stream_restore restore(s);
    TK_TRACE(1, "stream_start(1)=%d", static_cast<int>(restore.where()));
    m_record.reset();

    const record_pos row = m_lst_records[m_cursor];
    give_decoder(row.block);
    s.clear();
    seek_to_pos(s, row.position);
    TK_TRACE(1, "after safe_seekg: pos=%I64d", row.position);

    std::int64_t next_pos = -1;
    // The next row's place is known once the row was read, also when a value
    // failed: the failure costs this row and not the rest of the block.
    auto record_next = [&]() {
        m_next_known = true;
        if (m_cursor + 1 != m_lst_records.size())
            return;
        if (next_pos < 0) {
            TK_TRACE(2, "The rows of the block cannot be found after %I64d", row.position);
            return;
        }
        if (next_pos <= row.position) {
            TK_TRACE(3, "A row at %I64d ends at %I64d: the block ends", row.position, next_pos);
            return;
        }
        if (next_pos + 2 > m_end_pos) {
            check_rows_end(next_pos);
            return;
        }
        s.clear();
        s.seek(next_pos);
        if (m_decoder->check_for_eof(s)) {
            check_rows_end(next_pos);
            return;
        }
        TK_TRACE(1, "last_pos=%I64d", next_pos);
        m_lst_records.push_back({next_pos, row.block});
        ++m_rows_found;
    };
    try {
        m_record = m_decoder->get_record(s, schema, m_end_pos, next_pos);
    } catch (const tk_exception&) {
        record_next();
        set_progress();
        throw;
    }
    record_next();
    set_progress();
    TK_TRACE(1, "stream_start(2)=%d", static_cast<int>(restore.where()));
    return m_record.get();
}

void ora_dump_table::next()
{
    TK_TRACE(1, "ora_dump_table::next");
    if (is_eof()) {
        TK_TRACE(2, "ERROR: EOF has been reached");
        throw tk_exception(out_of_range, 1);
    }
    if (rec_count == 0)
        rec_count = 1;

    if (m_cursor + 1 == m_lst_records.size() && !m_next_known) {
        // Moved on without reading the row: its end is the next row's start.
        try {
            get_item();
        } catch (const tk_exception& e) {
            if (e.level != 0)
                throw;
        }
    }
    m_next_known = false;

    if (m_cursor + 1 < m_lst_records.size()) {
        TK_TRACE(1, "Iterate previously loaded data...");
        ++m_cursor;
        ++rec_count;
        const record_pos& row = m_lst_records[m_cursor];
        if (row.block != m_cur_partition)
            give_decoder(row.block);
        trim_kept_positions();
        return;
    }

    TK_TRACE(1, "Load new data...");
    TK_TRACE(1, "STORE FILE POINTER: %I64d", m_stream->tell());
    TK_TRACE(2, "Processing the last record of table");
    const std::size_t block = m_lst_records[m_cursor].block + 1;
    if (block >= m_partitions.size()) {
        m_cursor = m_lst_records.size();
        TK_TRACE(1, "RESTORE FILE POINTER: %d", static_cast<int>(m_stream->tell()));
        rows_ended();
        return;
    }
    const std::int64_t stored = m_stream->tell();
    try {
        if (!enter_rows(block)) {
            m_cursor = m_lst_records.size();
            m_stream->clear();
            m_stream->seek(stored);
            rows_ended();
            return;
        }
        m_cursor = m_lst_records.size() - 1;
        ++rec_count;
    } catch (const tk_final_exception&) {
        throw;
    } catch (const std::exception&) {
        TK_TRACE(3, "Failed to move next %I64d %I64d %I64d", m_stream->tell(),
                 static_cast<std::int64_t>(m_cursor), static_cast<std::int64_t>(block));
        m_stream->clear();
        m_stream->seek(stored);
        throw tk_exception(failed_to_move_next, 1);
    }
    trim_kept_positions();
    TK_TRACE(1, "RESTORE FILE POINTER: %d", static_cast<int>(m_stream->tell()));
}

void ora_dump_table::prev()
{
    TK_TRACE(1, "ora_dump_table::prev");
    if (m_lst_records.empty() || m_cursor == 0)
        throw tk_exception(out_of_range, 1);
    --m_cursor;
    m_next_known = true;
    const record_pos& row = m_lst_records[m_cursor];
    if (row.block != m_cur_partition)
        give_decoder(row.block);
    m_stream->clear();
    seek_to_pos(*m_stream, row.position);
    set_progress();
}
