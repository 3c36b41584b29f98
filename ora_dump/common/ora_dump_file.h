// The dump seen as a source database: its tables listed by name and handed
// out one by one as recordsets, whichever the dump's format. Also the record
// that carries one opening's results to the dump database, and the dump
// context file that keeps a scan's results for the next opening of the same
// dump.
#pragma once

#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "table_pos.h"
#include "udb_database.h"
#include "udb_indexes.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class ora_ctx_reader;

class ora_dump_file : public udb_database {
public:
    // The results of one opening. It owns the stream and the row decoder
    // until the dump database takes them over, so a refused opening frees
    // them with it.
    class context {
    public:
        context();
        context(context&&) noexcept = default;
        context& operator=(context&&) noexcept = default;

        // Reads the context file of the dump into this context: true when a
        // valid file was found, made for this very dump (size and time)
        // under the current merge setting and format. Anything else leaves
        // the context as it was and gives false, so that the dump is
        // scanned. Never raises.
        bool load_if(const std::wstring& dump_path, bool merge_setting, int format_now);
        bool load_if(const std::wstring& dump_path);
        // load_if for a dump held in memory, of that size and time stamp,
        // from what its context file would hold: the same checks, and no
        // file read. The context is then one of a dump in memory.
        bool load_image(const std::vector<std::uint8_t>& image, const std::wstring& dump_name,
                        std::int64_t size, std::int64_t mtime_ns, bool merge_setting, int format_now);
        // Writes the context file beside the dump, or else in the documents
        // folder, through a temporary file and a rename. Only a complete scan
        // is saved, and never that of a dump held in memory. Never raises: a
        // failure gives false, is traced and sent to the log sink as a
        // warning.
        bool save() const noexcept;

        // Takes the dump's size and modification time, which the trailer
        // records; false when the dump cannot be reached.
        bool stat_dump();
        // Starts over as the context of a fresh scan of the dump at path.
        void start_scan(const std::wstring& dump_path, bool merge_setting, int format_now);
        // start_scan for a dump held in memory, of that size and time stamp.
        void start_memory_scan(const std::wstring& dump_name, bool merge_setting, int format_now,
                               std::int64_t size, std::int64_t mtime_ns);
        // The end of every opening: the stream, rewound, the row decoder and
        // the text facts join the context, which becomes the dump database.
        std::unique_ptr<ora_dump_file> open_database(std::unique_ptr<ora_dump_stream> dump_stream,
                                                     std::unique_ptr<ora_dump_reader_th> dump_decoder,
                                                     const dump_info& dump_info_now) &&;

        std::wstring path;
        std::unique_ptr<ora_dump_stream> stream;
        // The row decoder of the dump's generation.
        std::unique_ptr<ora_dump_reader_th> decoder;
        // How the opening found the dump's text encoded.
        dump_info info;
        std::string export_header;
        std::string user_name;
        std::string tablespace_name;
        ora_table_map tables;
        // Data Pump: indexes per (owner, table), and the foreign keys of the
        // constraint documents.
        std::map<std::pair<std::wstring, std::wstring>, udb_indexes> global_indexes;
        std::vector<t_relationship> relationships;
        // The scan ended normally: only then is the context worth saving.
        bool complete = false;
        // The dump ends before the export's end: the scan reported it, the
        // tables found whole are listed, and no context file is written, so
        // that every opening reports it again.
        bool truncated = false;
        // The merge setting and the format (0 classic, 1 Data Pump) the scan
        // ran under.
        bool merge_schema = false;
        int format = 0;
        // The dump as stat_dump saw it; -1 until then.
        std::int64_t dump_size = -1;
        std::int64_t dump_mtime_ns = 0;
        // The context of a dump held in memory: save() writes no file for
        // it, since no file lies beside it.
        bool in_memory = false;
    };

    // Takes over the stream, the row decoder, the table map and the Data Pump
    // indexes of the context, keeps the rest of it for the context file, and
    // lists the tables. The context is left without them.
    explicit ora_dump_file(context&& from);
    // Writes the context file when the scan was complete; never raises. Every
    // table must be gone by now: a live one is an internal error.
    ~ora_dump_file() override;

    // The table-name list: every key of the table map, in key order.
    void init();

    // A dump is read only: no table is created and no query runs.
    std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& query_text,
                                             std::int32_t open_flags) override;
    // The table of that key (an exact match first, then ignoring case unless
    // names are case-sensitive), initialised and owned by the caller; it must
    // not outlive the database. The level-1 "Table \"%s\" doesn't exist in
    // the database" for a name without a key, the level-1 "Failed to
    // initialize table" for a table that cannot be read.
    std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, std::int32_t open_flags) override;
    bool test_query(const std::wstring& query_text) override;
    void create_relationships(const std::vector<t_relationship>& list) override;

    // The number of tables alive that this database handed out.
    int live_tables() const { return live_count.load(); }

    const std::wstring& path() const { return saved.path; }
    ora_dump_stream* stream() const { return m_stream.get(); }
    ora_dump_reader_th* decoder() const { return m_decoder.get(); }
    const dump_info& info() const { return m_info; }
    bool complete() const { return saved.complete; }
    bool is_truncated() const override { return saved.truncated; }

    std::string export_header;
    std::string user_name;
    std::string tablespace_name;
    ora_table_map tables;
    std::map<std::pair<std::wstring, std::wstring>, udb_indexes> global_indexes;

    // The text at offset of the file image: a u16 byte count and the bytes.
    // Gives the next offset, or -1 when the bytes are not all there.
    static std::int64_t load_string(ora_ctx_reader& file, std::int64_t offset, std::string& text);
    // Appends a text; the caller keeps it within 65,535 bytes.
    static std::int64_t save_string(std::vector<std::uint8_t>& file, std::int64_t offset, const std::string& text);

    // The context file's names for a dump: beside it, and in the documents
    // folder (empty when no documents folder is known).
    static std::wstring context_file_name(const std::wstring& dump_path);
    static std::wstring fallback_file_name(const std::wstring& dump_path);

    // The documents folder; tests replace it.
    static std::wstring (*documents_folder)();

    // The file image of a context, or false when it cannot be stored (a
    // text above 65,535 bytes). Exposed for tests of the layout.
    static bool build_image(const context& c, std::vector<std::uint8_t>& image);
    static bool build_image(const context& c, std::int64_t dump_size, std::int64_t dump_mtime_ns,
                            std::vector<std::uint8_t>& image);
    // Fills c from an image; false when it is not valid for a dump of that
    // size and time under that merge setting and format.
    static bool parse_image(const std::vector<std::uint8_t>& image, context& c, std::int64_t dump_size,
                            std::int64_t dump_mtime_ns, bool merge_setting, int format_now);

private:
    // The tables hold pointers to these; they go last, after every table.
    std::unique_ptr<ora_dump_stream> m_stream;
    std::unique_ptr<ora_dump_reader_th> m_decoder;
    dump_info m_info;
    // The rest of the opening's context, written to the context file at the
    // end with the texts and the table map as they are then.
    context saved;
    std::atomic<int> live_count{0};
};
