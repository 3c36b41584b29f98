// The dump reader: one per program. It keeps the state that the other parts
// of the reader share while a dump is read (the progress the front ends poll,
// the dump's length and format flags, the classes and code pages of its two
// character sets) and finds the tables of a classic dump.
#pragma once

#include "tk_singleton.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ora_dump_file;
class ora_dump_reader_th;
class ora_dump_table;
class ora_dump_stream;
struct table_pos;

// What one opening learnt about its dump. The dump database keeps a copy, so
// that a later opening cannot change how an open dump's text is decoded.
struct dump_info {
    std::int64_t dump_length = 0;
    // 0 a code page, 1 UTF-8, 2 UTF-16 big-endian.
    int charset_class = 0;
    int ncharset_class = 2;
    // Windows code pages of the database and national sets; 0 means the
    // windows-1252 fallback.
    int dump_code_page = 0;
    int dump_ncode_page = 0;
    // Data Pump: the block size the export's header gives, 0 when none.
    // Each table's data begins a new block.
    std::int64_t pump_block_size = 0;
};

// Lines the user is meant to see while a dump is opened. "shown" goes to the
// log box of the wizard's page; "warning" to that box too, or in the console
// program to the standard error.
enum class ora_log_kind { shown, warning };
using ora_log_sink = std::function<void(ora_log_kind kind, const std::string& text)>;

// The table map: keys ordered by code unit.
using ora_table_map = std::map<std::wstring, table_pos>;

// A dump held in memory rather than in a file. Nothing is read from or
// written to the file system for it: its context is the image given with
// it, if any, and a scan of it leaves no context file.
struct ora_memory_dump {
    std::vector<std::uint8_t> bytes;
    // The dump's name: the path of its database and of its messages.
    std::wstring name;
    // The time stamp of the dump, which a context image must record to be
    // taken for it (as a context file must record its dump's).
    std::int64_t mtime_ns = 0;
    // What the context file of an earlier opening would hold; empty, or not
    // valid for this dump: the dump is scanned.
    std::vector<std::uint8_t> context_image;
};

class ora_dump_reader : public tk_singleton<ora_dump_reader> {
public:

    ora_dump_reader();
    ~ora_dump_reader() override;

    // Opens a dump as a source database, which belongs to the caller. A dump
    // that cannot be read is refused: the progress becomes -1 and a level-1
    // failure with the reader's message goes to error_handler::handle with
    // the flag 0, which does not come back; should a reporter return, the
    // refusal leaves as tk_final_exception. Any failure leaving the opening
    // sets the progress to -1 first.
    std::unique_ptr<ora_dump_file> open(const std::wstring& path);
    // Opens a dump held in memory as open(path) opens a file, refusals and
    // progress alike; the database reads from the bytes, which it keeps.
    std::unique_ptr<ora_dump_file> open(ora_memory_dump dump);
    // The Data Pump opening, for a dump without a classic header. The stream
    // is the one open read, cleared and at position 0.
    virtual std::unique_ptr<ora_dump_file> open_datapump(const std::wstring& path,
                                                         std::unique_ptr<ora_dump_stream> stream);

    // Progress of the dump reading: 0 at the start of an opening, 100 when
    // the dump database is ready, -1 when the opening failed.
    int get_progress() const;
    void set_progress(std::int64_t position, std::int64_t length);
    void set_ui_progress(int value);
    void set_datapump_pos(std::int64_t position);
    void set_local_progress(std::int64_t table_start, std::int64_t table_end, std::int64_t current);
    int get_local_progress() const;

    // Clears the format flags, sets the classes to 0 and 2 and both code
    // pages to 0; every opening starts with it.
    void reset_dump_state();

    // Classifies a big-endian Oracle character-set id as the database set or,
    // with national set, as the national one; stores the class and (class 0)
    // the code page in info, and returns the class.
    int get_cp(const unsigned char id[2], bool national);
    // The Windows code page of an Oracle character-set id; 0 when none.
    int charset_codepage(unsigned id) const;

    // Dump text to wide text, in the class and code page of the database set
    // (or of the national set). Classes 0 and 1 stop at the first NUL within
    // length. Never raises: undecodable bytes become U+FFFD.
    static std::wstring get_wstring(const dump_info& info, const char* data, std::size_t length, bool national);
    std::wstring get_wstring(const char* data, std::size_t length, bool national) const
    {
        return get_wstring(info, data, length, national);
    }
    // Text in a code page (0 is windows-1252) as the UTF-8 of the wide text
    // that get_wstring gives for it in class 0, made without that wide text.
    static std::string code_page_utf8(int code_page, const char* data, std::size_t length);

    void set_log_sink(ora_log_sink sink);
    // Sends a line through the sink of the live reader, if any; never raises.
    static void send_log(ora_log_kind kind, const std::string& text) noexcept;

    // Asked at each step of a scan (each line of a classic dump, each
    // document candidate of a Data Pump one); when it says true the opening
    // ends as a stop, with tk_final_exception, and nothing of the scan is
    // kept. Set and cleared on the thread that opens; empty asks nothing.
    void set_stop_check(std::function<bool()> check);
    // Raises tk_final_exception when the stop check says so.
    void check_stop() const;

    // The classic scan: walks the dump from the stream's position (the end of
    // the header) and fills the context's table map. Reports its own
    // failures through error_handler; sets the context's complete flag when
    // the walk ended normally.
    //
    // With rows, a row decoder of the dump's generation that no table uses,
    // the scan steps over the rows after each INSERT INTO line by their
    // framing, so that no text inside a value is taken for a statement; it
    // searches on line by line only where the framing cannot be followed.
    // Without one every byte is searched as text.
    template <typename Context>
    void find_ora_objects(ora_dump_stream& stream, Context& context, ora_dump_reader_th* rows = nullptr)
    {
        find_ora_objects(stream, context.tables, context.complete, rows);
    }
    void find_ora_objects(ora_dump_stream& stream, ora_table_map& tables, bool& complete,
                          ora_dump_reader_th* rows = nullptr);

    // The level-0 report of a dump that ends before the export's end, with
    // the number of tables found whole; the caller marks the context
    // truncated. Returns when the reporter does.
    static void report_truncated(std::size_t whole_tables);

    // A name of more than 2 bytes that starts and ends with quote loses both.
    static std::string embellish_name(const std::string& name, char quote);
    // user + "." + name when merging and the user is known.
    std::string merge_schema_name(const std::string& name, const std::string& schema_user) const;

    // The reader's messages, by entry; entries without a text are empty.
    static constexpr int message_count = 19;
    static const char* message(int entry);

    // What one scan keeps while it walks the dump.
    struct scan_state {
        // A name seen once, and a name seen more than once, to its
        // tablespace-qualified key.
        std::map<std::wstring, std::wstring> map_unique_names;
        std::map<std::wstring, std::wstring> map_non_unique_names;
        // The table whose section is being read: its key and its name. The
        // name also claims the lines of a table whose name is no longer
        // unique, because its lines follow its own CREATE TABLE line.
        std::wstring current_key;
        std::wstring current_name;
        std::string schema_user;
        // The row decoder the scan steps over row data with, if any, and the
        // table whose definition frames the rows of the INSERT lines of
        // walk_key (null when that definition cannot be read).
        ora_dump_reader_th* rows = nullptr;
        std::wstring walk_key;
        std::shared_ptr<ora_dump_table> walk_table;
        // The key of the table the last INSERT INTO line was accepted for.
        std::wstring insert_key;
    };

    // The steps of the scan, each at the line that starts at line_pos.
    void parse_table_description(ora_dump_stream& stream, std::int64_t line_pos, scan_state& scan,
                                 ora_table_map& tables);
    void parse_index(ora_dump_stream& stream, std::int64_t line_pos, bool unique, scan_state& scan,
                     ora_table_map& tables);
    bool parse_alter(ora_dump_stream& stream, scan_state& scan, ora_table_map& tables);
    bool parse_insert(ora_dump_stream& stream, std::int64_t line_pos, scan_state& scan, ora_table_map& tables);
    // After an accepted INSERT INTO line at insert_pos: the stream to after
    // the block's rows, or to where their framing was lost.
    void step_over_rows(ora_dump_stream& stream, std::int64_t insert_pos, scan_state& scan,
                        const ora_table_map& tables);

    dump_info info;
    bool compound_dump = false;
    bool first_part = false;
    bool m_datapump = false;
    // Prefix table names with the schema user; set by the front ends.
    bool merge_schema = false;

    std::map<unsigned, std::string> charset_names;
    std::map<std::string, std::uint16_t> codepages;

protected:
    // The context of the dump being opened, in the format: from its context
    // file, or for a dump held in memory from the image given with it. False
    // when there is none valid for the dump: it is to be scanned.
    template <typename Context>
    bool load_context(Context& ctx, const std::wstring& path, int format)
    {
        if (memory_dump)
            return ctx.load_image(memory_dump->context_image, path, memory_size, memory_dump->mtime_ns, merge_schema,
                                  format);
        return ctx.load_if(path, merge_schema, format);
    }
    // Makes ctx the context of a fresh scan of the dump being opened.
    template <typename Context>
    void start_scan(Context& ctx, const std::wstring& path, int format)
    {
        if (memory_dump)
            ctx.start_memory_scan(path, merge_schema, format, memory_size, memory_dump->mtime_ns);
        else
            ctx.start_scan(path, merge_schema, format);
    }

    // Refuses the dump being opened with the message of entry: the progress
    // becomes -1 and the reporter gets it as a level-1 failure.
    [[noreturn]] void refuse(int entry);

private:
    // The classic header after its header token: the names, the character
    // sets and the marker. Gives the row decoder of the version; refuses
    // what cannot be read.
    std::unique_ptr<ora_dump_reader_th> read_classic_header(ora_dump_stream& stream,
                                                            const unsigned char pre_number[3], int version,
                                                            const std::string& header_token,
                                                            std::string& user, std::string& tablespace,
                                                            std::int64_t& declared_length);
    // A classic dump that ends before the export's end: its last content is
    // not the two EXIT lines that close an export, or the header declares a
    // length the file does not reach. whole counts the tables whose section
    // a later line ends. The stream is left anywhere, its states cleared.
    bool classic_ends_early(ora_dump_stream& stream, const ora_table_map& tables, std::int64_t declared_length,
                            std::size_t& whole);
    void init_cp_tables();
    // The key whose table claims the lines of a statement naming name_w:
    // its unique key, or the table being read when it has that name.
    // Null when no table does.
    const std::wstring* claim(const std::wstring& name_w, const scan_state& scan, const char* what,
                              std::int64_t position) const;
    // The opening after the file or the bytes are open: the header, the
    // format, then the tables.
    std::unique_ptr<ora_dump_file> open_stream(const std::wstring& path, std::unique_ptr<ora_dump_stream> stream);
    void scan_lines(ora_dump_stream& stream, scan_state& scan, ora_table_map& tables);
    void finish_scan(ora_dump_stream& stream, scan_state& scan, ora_table_map& tables);

    // Guards m_ui_progress and datapump_pos together.
    mutable std::mutex progress_mutex;
    // Guards local_progress.
    mutable std::mutex local_mutex;
    std::atomic<int> m_ui_progress{0};
    std::atomic<std::int64_t> datapump_pos{0};
    std::atomic<int> local_progress{0};

    mutable std::mutex sink_mutex;
    ora_log_sink sink;
    std::function<bool()> stop_check;
    // The dump held in memory being opened; null while a file is.
    const ora_memory_dump* memory_dump = nullptr;
    std::int64_t memory_size = 0;
};

// Big-endian UTF-16 to wide text: surrogate pairs are joined, lone halves
// become U+FFFD and a trailing odd byte is dropped. With skip_headers, the
// 5-byte chunk headers (06 01 FE ...) at every 8132-byte boundary are passed.
std::wstring utf16be_to_wstring(const unsigned char* bytes, std::size_t length, bool skip_headers);
// UTF-16 in either byte order up to its first zero unit (LOB and XMLTYPE
// text padded with zeros).
std::wstring utf16_upto_zero(const unsigned char* bytes, std::size_t length, bool big_endian);
