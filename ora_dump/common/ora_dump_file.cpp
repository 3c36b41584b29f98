// The dump seen as a source database: its tables by name, each handed out
// as a recordset that reads through the database's stream and row decoder.
#include "ora_dump_file.h"

#include "error_handler.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"

ora_dump_file::ora_dump_file(context&& from)
    : udb_database(std::wstring(), 1, false),
      export_header(from.export_header),
      user_name(from.user_name),
      tablespace_name(from.tablespace_name),
      tables(std::move(from.tables)),
      global_indexes(std::move(from.global_indexes)),
      m_stream(std::move(from.stream)),
      m_decoder(std::move(from.decoder)),
      m_info(from.info),
      saved(std::move(from))
{
    TK_TRACE(2, "ora_dump_file::ora_dump_file(...)");
    saved.tables.clear();
    saved.global_indexes.clear();
    // The tables decode text as this opening found it, whatever a later
    // opening finds in another dump.
    if (m_decoder)
        m_decoder->set_dump_info(m_info);
    add_relationships(saved.relationships);
    init();
}

std::unique_ptr<ora_dump_file> ora_dump_file::context::open_database(std::unique_ptr<ora_dump_stream> dump_stream,
                                                                     std::unique_ptr<ora_dump_reader_th> dump_decoder,
                                                                     const dump_info& dump_info_now) &&
{
    dump_stream->clear();
    dump_stream->seek(0);
    stream = std::move(dump_stream);
    decoder = std::move(dump_decoder);
    info = dump_info_now;
    return std::make_unique<ora_dump_file>(std::move(*this));
}

ora_dump_file::~ora_dump_file()
{
    TK_TRACE(2, "ora_dump_file::~ora_dump_file()");
    if (live_count.load() != 0) {
        // A table outlived its database and reads through freed pointers.
        try {
            tk_mail_assertion failure("ora_dump_file", 160);
            if (error_handler* reporter = error_handler::try_instance())
                reporter->handle(failure, false);
            else
                tk_internal_error("ora_dump_file", 160);
        } catch (...) {
            tk_internal_error("ora_dump_file", 160);
        }
    }
    try {
        if (saved.complete) {
            saved.export_header = export_header;
            saved.user_name = user_name;
            saved.tablespace_name = tablespace_name;
            saved.tables = std::move(tables);
            saved.global_indexes = std::move(global_indexes);
            saved.save();
        }
    } catch (...) {
        // Copying the texts can only fail for memory; the next opening scans.
    }
}

void ora_dump_file::init()
{
    TK_TRACE(2, "ora_dump_file::init");
    table_names.clear();
    table_names.reserve(tables.size());
    for (const auto& entry : tables)
        table_names.push_back(entry.first);
}

std::unique_ptr<udb_recordset> ora_dump_file::create_table(const std::wstring&, const udb_schema&,
                                                           const udb_indexes&)
{
    return nullptr;
}

std::unique_ptr<udb_recordset> ora_dump_file::get_query(const std::wstring&, const std::wstring&, std::int32_t)
{
    return nullptr;
}

bool ora_dump_file::test_query(const std::wstring&)
{
    return true;
}

void ora_dump_file::create_relationships(const std::vector<t_relationship>& list)
{
    TK_TRACE(2, "ora_dump_file::create_relationships");
    relationships = list;
}

std::unique_ptr<udb_recordset> ora_dump_file::get_table(const std::wstring& table_name, std::int32_t open_flags)
{
    TK_TRACE(2, "ora_dump_file::get_table(%s,%d)", table_name, static_cast<int>(open_flags));
    // Quoted names may differ only in case: each must find its own table.
    auto found = tables.find(table_name);
    if (found == tables.end() && !case_sensitive) {
        for (auto it = tables.begin(); it != tables.end(); ++it)
            if (tk_compare_no_case(it->first, table_name) == 0) {
                found = it;
                break;
            }
    }
    if (found == tables.end()) {
        std::wstring text = tk_wformat(L"Table \"%s\" doesn't exist in the database", table_name);
        TK_TRACE(2, "%s", text);
        throw tk_exception(text, 1);
    }
    TK_TRACE(2, "Table \"%s\" is found.", found->first);
    auto table = std::make_unique<ora_dump_table>(this, b_native_types, found->first);
    table->set_live_counter(&live_count);
    if (!table->init(m_stream.get(), found->second, m_decoder.get(), export_header)) {
        TK_TRACE(3, "Failed to init table '%s'", table_name);
        throw tk_exception("Failed to initialize table", 1);
    }
    return table;
}
