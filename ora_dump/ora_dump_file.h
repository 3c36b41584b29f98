// The dump seen as a source database. For now: the record that carries one
// opening's results to the dump database, and the dump context file that
// keeps a scan's results for the next opening of the same dump.
#pragma once

#include "ora_dump_reader.h"
#include "table_pos.h"
#include "udb_database.h"
#include "udb_indexes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class ora_dump_stream;
class ora_ctx_reader;

class ora_dump_file {
public:
    // The results of one opening.
    class context {
    public:
        context();

        // Reads the context file of the dump into this context: true when a
        // valid file was found, made for this very dump (size and time)
        // under the current merge setting and format. Anything else leaves
        // the context as it was and gives false, so that the dump is
        // scanned. Never raises.
        bool load_if(const std::wstring& dump_path, bool merge_setting, int format_now);
        bool load_if(const std::wstring& dump_path);
        // Writes the context file beside the dump, or else in the documents
        // folder, through a temporary file and a rename. Only a complete scan
        // is saved. Never raises: a failure gives false, is traced and sent
        // to the log sink as a warning.
        bool save() const noexcept;

        // Takes the dump's size and modification time, which the trailer
        // records; false when the dump cannot be reached.
        bool stat_dump();

        std::wstring path;
        std::shared_ptr<ora_dump_stream> stream;
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
        // The merge setting and the format (0 classic, 1 Data Pump) the scan
        // ran under.
        bool merge_schema = false;
        int format = 0;
        // The dump as stat_dump saw it; -1 until then.
        std::int64_t dump_size = -1;
        std::int64_t dump_mtime_ns = 0;
    };

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
    // Tests make a write fail after this many bytes; -1 never.
    static std::int64_t fail_write_after;

    // The file image of a context, or false when it cannot be stored (a
    // text above 65,535 bytes). Exposed for tests of the layout.
    static bool build_image(const context& c, std::vector<std::uint8_t>& image);
    static bool build_image(const context& c, std::int64_t dump_size, std::int64_t dump_mtime_ns,
                            std::vector<std::uint8_t>& image);
    // Fills c from an image; false when it is not valid for a dump of that
    // size and time under that merge setting and format.
    static bool parse_image(const std::vector<std::uint8_t>& image, context& c, std::int64_t dump_size,
                            std::int64_t dump_mtime_ns, bool merge_setting, int format_now);
};
