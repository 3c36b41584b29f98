// Opening a dump: the classic header is read and checked, the format and the
// row decoder's generation are told from it, and the tables come from the
// context file of an earlier opening or from a fresh scan.

#include "ora_dump_reader.h"

#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <sys/stat.h>

#include <cstring>

namespace {

// Entries of the reader's message table used here.
constexpr int cannot_read = 0;
constexpr int non_leading_part = 13;

// The header's tokens are searched among the first few only.
constexpr int header_token_tries = 5;

// The version of a header token: "EXPORT:V" and a number of at most two
// characters (a sign counts). False when the token is no header token or
// the number is 0, which both mean Data Pump.
bool header_version(const std::string& token, int& version)
{
    static constexpr char prefix[] = "EXPORT:V";
    constexpr std::size_t n = sizeof prefix - 1;
    if (token.compare(0, n, prefix) != 0)
        return false;
    std::size_t at = n;
    std::size_t end = std::min(token.size(), n + 2);
    bool negative = false;
    if (at < end && (token[at] == '-' || token[at] == '+')) {
        negative = token[at] == '-';
        ++at;
    }
    int value = 0;
    std::size_t digits = 0;
    while (at < end && token[at] >= '0' && token[at] <= '9') {
        value = value * 10 + (token[at] - '0');
        ++at;
        ++digits;
    }
    if (digits == 0)
        return false;
    version = negative ? -value : value;
    return version != 0;
}

std::string hex_bytes(const unsigned char* bytes, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i)
            out.push_back(' ');
        tk_append_hex(out, bytes + i, 1);
    }
    return out;
}

std::int64_t file_length(const std::wstring& path)
{
    struct stat st {};
    if (::stat(tk_wide_to_utf8(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return static_cast<std::int64_t>(st.st_size);
}

void shown(const std::string& text)
{
    ora_dump_reader::send_log(ora_log_kind::shown, text);
}

// The header's name tokens: a kind letter and the name.
bool read_name(ora_dump_stream& stream, std::string& name)
{
    std::string token;
    bool too_long = false;
    if (!stream.read_token(token, too_long) || too_long || token.empty())
        return false;
    name = token.substr(1);
    return true;
}

}  // namespace

void ora_dump_reader::refuse(int entry)
{
    set_ui_progress(-1);
    error_handler::instance()->handle(tk_exception(message(entry), 1), false);
    // The reporter ends the opening at level 1; this is for one that does not.
    throw tk_final_exception();
}

std::unique_ptr<ora_dump_reader_th> ora_dump_reader::read_classic_header(ora_dump_stream& stream,
                                                                          const unsigned char pre_number[3],
                                                                          int version, const std::string& header_token,
                                                                          std::string& user, std::string& tablespace,
                                                                          std::int64_t& declared_length)
{
    declared_length = 0;
    TK_TRACE(3, "Dump file version: %d (exp)\n", version);
    shown(tk_format("Dump file version: %d (exp)\n", version));
    std::unique_ptr<ora_dump_reader_th> decoder = ora_dump_reader_th::create(version, header_token);
    if (!decoder) {
        TK_TRACE(3, "Couldn't get propper tocken handlerfor value %d\n", version);
        refuse(cannot_read);
    }

    if (!read_name(stream, user))
        refuse(cannot_read);
    TK_TRACE(2, "User name %s\n", user);
    if (!read_name(stream, tablespace))
        refuse(cannot_read);
    TK_TRACE(3, "Tablespace name: %s\n", tablespace);
    shown(tk_format("Tablespace name: %s\n", tablespace));

    if (version == 7) {
        // The national set keeps its class.
        get_cp(pre_number + 1, false);
        return decoder;
    }
    for (int i = 0; i < 5; ++i) {
        std::int64_t found = 0;
        if (!seek_to_symbols(stream, "\n", found))
            refuse(cannot_read);
    }
    unsigned char sets[6] = {};
    if (stream.read(sets, 6) != 6)
        refuse(cannot_read);
    int cls = get_cp(sets + 2, false);
    TK_TRACE(3, "Dump charset: %d\n", cls);
    shown(tk_format("Dump charset: %d\n", cls));
    cls = get_cp(sets + 4, true);
    TK_TRACE(3, "Dump ncharset: %d\n", cls);
    shown(tk_format("Dump ncharset: %d\n", cls));

    unsigned char marker[2] = {};
    if (stream.read(marker, 2) != 2)
        refuse(cannot_read);
    const unsigned value = marker[0] << 8 | marker[1];
    if (value == 0x0020)
        return decoder;
    if (value != 0x0001) {
        TK_TRACE(3, "%s", message(non_leading_part));
        refuse(non_leading_part);
    }
    unsigned char bytes[8] = {};
    if (stream.read(bytes, 8) != 8)
        refuse(cannot_read);
    std::uint64_t u = 0;
    for (unsigned char b : bytes)
        u = u << 8 | b;
    const std::int64_t declared = static_cast<std::int64_t>(u);
    TK_TRACE(2, "Declared dump length: %I64d", declared);
    // A length that ends inside the header already read is no length.
    if (declared < 0 || (declared != 0 && declared < stream.tell()))
        refuse(cannot_read);
    declared_length = declared;
    if (declared != 0 && declared < info.dump_length) {
        compound_dump = true;
        info.dump_length = declared;
    } else if (declared != 0) {
        first_part = true;
    }
    return decoder;
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open(const std::wstring& path)
{
    TK_TRACE(2, "ora_dump_reader::open(%s)", path);
    set_ui_progress(0);
    reset_dump_state();
    try {
        const std::int64_t length = file_length(path);
        info.dump_length = length;

        std::unique_ptr<ora_dump_stream> stream;
        try {
            stream = ora_dump_stream::open_file(tk_wide_to_utf8(path));
        } catch (const tk_exception&) {
            TK_TRACE(3, "Couldn't open dump file %s", path);
            refuse(cannot_read);
        }
        return open_stream(path, std::move(stream));
    } catch (...) {
        set_ui_progress(-1);
        throw;
    }
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open(ora_memory_dump dump)
{
    TK_TRACE(2, "ora_dump_reader::open(memory: %s)", dump.name);
    set_ui_progress(0);
    reset_dump_state();
    // The opening's context comes from the dump, and goes with the opening.
    struct memory_scope {
        ora_dump_reader& reader;
        ~memory_scope()
        {
            reader.memory_dump = nullptr;
            reader.memory_size = 0;
        }
    } scope{*this};
    try {
        memory_size = static_cast<std::int64_t>(dump.bytes.size());
        info.dump_length = memory_size;
        auto stream = std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_memory_source>(std::move(dump.bytes)));
        memory_dump = &dump;
        return open_stream(dump.name, std::move(stream));
    } catch (...) {
        set_ui_progress(-1);
        throw;
    }
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open_stream(const std::wstring& path,
                                                            std::unique_ptr<ora_dump_stream> stream)
{
    const std::int64_t length = info.dump_length;
    TK_TRACE(3, "Dump file length: %I64d", length);
    if (length <= 0) {
        TK_TRACE(3, "File has 0 size.");
        refuse(cannot_read);
    }

    // A read that fails in the header is a dump that cannot be read.
    std::string header_token, user, tablespace;
    std::unique_ptr<ora_dump_reader_th> decoder;
    std::int64_t declared_length = 0;
    bool classic = false;
    try {
        unsigned char pre_number[3] = {};
        if (stream->read(pre_number, 3) != 3)
            refuse(cannot_read);
        TK_TRACE(2, "Version pre-number %s", hex_bytes(pre_number, 3));

        int version = 0;
        for (int i = 0; i < header_token_tries && !classic; ++i) {
            bool too_long = false;
            if (!stream->read_token(header_token, too_long))
                break;
            classic = !too_long && header_version(header_token, version);
        }
        if (classic)
            decoder = read_classic_header(*stream, pre_number, version, header_token, user, tablespace,
                                          declared_length);
    } catch (const tk_exception&) {
        TK_TRACE(3, "Couldn't read the dump header");
        refuse(cannot_read);
    }
    if (!classic) {
        stream->clear();
        stream->seek(0);
        return open_datapump(path, std::move(stream));
    }

    set_progress(stream->tell(), info.dump_length);

    ora_dump_file::context ctx;
    if (!load_context(ctx, path, 0)) {
        TK_TRACE(2, "Read tables \n");
        start_scan(ctx, path, 0);
        find_ora_objects(*stream, ctx);
        ctx.export_header = header_token;
        ctx.user_name = user;
        ctx.tablespace_name = tablespace;
    }
    // Also a context file's tables: only a whole dump's is ever saved,
    // and the check reads little more than the dump's last bytes.
    std::size_t whole = 0;
    if (classic_ends_early(*stream, ctx.tables, declared_length, whole)) {
        report_truncated(whole);
        ctx.truncated = true;
    }
    auto database = std::move(ctx).open_database(std::move(stream), std::move(decoder), info);
    set_ui_progress(100);
    return database;
}
