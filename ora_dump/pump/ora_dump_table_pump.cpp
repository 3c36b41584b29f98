// The Data Pump side of the dump table: its columns and keys from its XML
// metadata document, its partitions from the positions the scan recorded.
#include "ora_dump_table.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_parser.h"
#include "ora_dump_pump_scan.h"
#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

namespace {

const char* const init_failure = "The exception occured during a tableinitialization.";

// A column list with a gap: the rows cannot be decoded by position.
class incomplete_columns : public tk_exception {
public:
    explicit incomplete_columns(const std::string& message) : tk_exception(message, 0) {}
};

// The table's column that a key names. Key lists reach here with the end
// blanks of their names removed, so a column whose own name ends in a blank
// is found by its name without them when no name matches.
int key_column(const udb_schema& schema, const std::wstring& name)
{
    const int idx = ora_dump_reader_th::find_column(schema, name);
    if (idx >= 0)
        return idx;
    const std::wstring bare = tk_trim(name);
    for (std::size_t i = 0; i < schema.size(); ++i)
        if (tk_compare_no_case(tk_trim(schema[i]->name), bare) == 0)
            return static_cast<int>(i);
    return -1;
}

}  // namespace

bool ora_dump_table::_init1(std::int64_t position, const table_pos& pos)
{
    TK_TRACE(2, "ora_dump_table::_init1( %d )", static_cast<int>(position));
    m_b_datapump = 1;
    // init puts the stream back on every exit.
    try {
        m_partitions.clear();
        m_lst_records.clear();
        m_cursor = 0;
        const dump_info info = m_decoder->get_dump_info();
        std::int64_t dump_length = m_stream->size();
        if (info.dump_length > 0 && info.dump_length < dump_length)
            dump_length = info.dump_length;
        if (pos.v_data_start_pos.empty()) {
            TK_WTRACE(3, L"Table '%s' has no records", name);
            m_start_pos = pos.start_pos;
            m_end_pos = pos.end_pos;
            TK_TRACE(1, "> m_start_pos=%I64d, m_end_pos=%I64d", m_start_pos, m_end_pos);
        } else {
            TK_TRACE(1, "a_p_table_pos.v_data_start_pos.size()=%d", static_cast<int>(pos.v_data_start_pos.size()));
            m_start_pos = pos.v_data_start_pos.front();
            // Rows run on past the recorded block ends (for the last table,
            // and for every partition after the first), and the decoder is
            // bounded by the dump alone: so is the table's range.
            m_end_pos = dump_length;
            TK_TRACE(1, ">>> m_start_pos=%I64d, m_end_pos=%I64d", m_start_pos, m_end_pos);
            const std::size_t count = std::min(pos.v_data_start_pos.size(), pos.v_data_end_pos.size());
            for (std::size_t i = 0; i < count; ++i) {
                TK_TRACE(1, "m_partitions.push_back(%I64d,%I64d)", pos.v_data_start_pos[i], pos.v_data_end_pos[i]);
                partition p;
                p.position = pos.v_data_end_pos[i];
                p.skip = m_decoder->m_skip_blob_flag != 0;
                m_partitions.push_back(std::move(p));
            }
            TK_WTRACE(3, L"XML start pos (stage 2, %s): %I64d, end pos : %I64d", name, m_start_pos, m_end_pos);
        }

        std::vector<std::uint8_t> buffer;
        if (!ora_dump_pump::extract_xml(*m_stream, pos.start_pos, pos.end_pos, dump_length, buffer))
            throw tk_exception(ora_dump_reader::message(11), 0);
        const std::string text = ora_dump_pump::document_text(info, buffer);
        buffer.clear();
        bool complete = false;
        std::string failure;
        {
            xml_platform_guard xml;
            ora_dump_parser parser(b_native_types != 0);
            complete = parser.parse_table_description(text.c_str(), text.size() + 1, *this, m_db);
            failure = parser.failure_message();
        }
        if (!complete)
            throw incomplete_columns(failure.empty() ? ora_dump_reader::message(0) : failure);

        // Keys of separate constraint documents, filed under the table's
        // own owner and bare name.
        if (auto* file = dynamic_cast<ora_dump_file*>(m_db)) {
            const std::wstring& full = pos.str_full_name;
            const std::size_t dot = full.find(L'.');
            const std::wstring owner = dot == std::wstring::npos ? std::wstring() : full.substr(0, dot);
            const std::wstring bare = dot == std::wstring::npos ? full : full.substr(dot + 1);
            auto found = file->global_indexes.find({owner, bare});
            if (found != file->global_indexes.end()) {
                // The table's own keys win: one of the same name merges
                // into it, and a second primary key is none.
                bool has_primary = false;
                for (const udb_index& index : indexes)
                    has_primary = has_primary || index.b_primary;
                for (const udb_index& index : found->second) {
                    if (index.b_primary && has_primary && !indexes.find2(index.name))
                        continue;
                    indexes.push_back(index);
                    has_primary = has_primary || index.b_primary;
                }
            }
        }

        // Each key on the column's own name.
        for (udb_index& index : indexes)
            for (std::wstring& column : index.columns) {
                const int idx = key_column(schema, column);
                if (idx >= 0)
                    column = schema[static_cast<std::size_t>(idx)]->name;
            }

        TK_TRACE(1, "bHasNoRecords=%d", m_partitions.empty() ? 1 : 0);
        m_export_rows = pos.export_rows;
        m_rows_end_reported = false;
        // The ends of the rows are told when the rows are read, not now.
        m_report_ends = false;
        rewind();
        m_report_ends = true;
        return true;
    } catch (const incomplete_columns& e) {
        TK_TRACE(3, "%s", init_failure);
        throw tk_exception(e.message, 0);
    } catch (const tk_final_exception&) {
        throw;
    } catch (const tk_exception&) {
        TK_TRACE(3, "%s", init_failure);
        return false;
    } catch (const std::exception&) {
        TK_TRACE(3, "%s\n", init_failure);
        return false;
    }
}

void ora_dump_table::report_rows(const std::string& text) const
{
    TK_TRACE(3, "%s", text);
    error_handler* reporter = error_handler::try_instance();
    if (!reporter)
        return;
    // Outside any record: the context of an earlier record must not name it.
    const std::string context = reporter->get_context();
    reporter->set_context(std::wstring());
    try {
        reporter->handle(tk_exception(text, 0), false);
    } catch (...) {
        reporter->set_context(tk_utf8_to_wide(context));
        throw;
    }
    reporter->set_context(tk_utf8_to_wide(context));
}

void ora_dump_table::check_rows_end(std::int64_t pos)
{
    if (!m_b_datapump || !m_report_ends)
        return;
    ora_stream_restore restore(*m_stream);
    const std::int64_t at =
        ora_dump_pump::unexpected_after_rows(*m_stream, pos, m_decoder->get_dump_info().pump_block_size);
    if (at < 0)
        return;
    TK_TRACE(2, "After the rows that end at %I64d, %I64d holds what ends no partition", pos, at);
    report_rows(tk_format("Table %s: the rows stop at position %I64d, before the end of the table's data",
                          tk_wide_to_utf8(name), pos));
}

void ora_dump_table::rows_ended()
{
    if (!m_b_datapump || !m_report_ends || m_rows_end_reported || m_export_rows < 0)
        return;
    m_rows_end_reported = true;
    if (m_rows_found == static_cast<std::uint64_t>(m_export_rows))
        return;
    report_rows(tk_format("Table %s: %I64u rows read, the export wrote %I64d", tk_wide_to_utf8(name), m_rows_found,
                          m_export_rows));
}

std::int64_t ora_dump_table::pump_enter_block(const partition& block)
{
    // The first record's place as the scan recorded it: reading the
    // document again would end where its last chunk ended, not at the row.
    m_stream->clear();
    seek_to_pos(*m_stream, block.position);
    return block.position;
}
