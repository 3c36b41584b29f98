// The dump context file: the image that keeps one opening's scan results
// (table positions, indexes, relationships, the header's facts) for the next
// opening of the same dump, its checks on reading, and its atomic saving
// beside the dump or in the documents folder.
#include "ora_dump_file.h"

#include "error_handler.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "tk_file.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_replace_file.h"
#include "tk_string.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>

namespace {

constexpr std::uint32_t context_magic = 0xE1E2F100;
constexpr std::uint8_t trailer_magic[4] = {'V', 'C', 'X', 'T'};
constexpr std::uint8_t end_magic[4] = {'V', 'C', 'X', 'E'};
constexpr std::uint32_t trailer_version = 2;
constexpr std::size_t max_text = 65535;

std::uint64_t fnv1a64(const std::uint8_t* p, std::size_t n)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string utf8(const std::wstring& s) { return tk_wide_to_utf8(s); }

// The dump's absolute, lexically normal path, as UTF-8.
std::string normal_path(const std::wstring& path)
{
    std::filesystem::path p(utf8(path));
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(p, ec);
    if (ec)
        a = p;
    return a.lexically_normal().string();
}

std::int64_t put_magic(std::vector<std::uint8_t>& f, std::int64_t o, const std::uint8_t (&m)[4])
{
    for (std::uint8_t b : m)
        o = ora_ctx_writer::u8(f, o, b);
    return o;
}

bool stat_file(const std::wstring& path, std::int64_t& size, std::int64_t& mtime_ns)
{
    struct stat st {};
    if (::stat(utf8(path).c_str(), &st) != 0)
        return false;
    size = static_cast<std::int64_t>(st.st_size);
    mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return true;
}

void report_save_failure(const std::string& text)
{
    TK_TRACE(3, "%s", text);
    ora_dump_reader::send_log(ora_log_kind::warning, text);
}

// Writes the image to a new file beside name and renames it over name, so
// that an interrupted save leaves the old file (or none). The dump's folder
// may be writable by others: nothing in it is opened by name for writing.
bool write_atomic(const std::wstring& wname, const std::vector<std::uint8_t>& image)
{
    const std::string name = utf8(wname);
    const tk_replace_result r = tk_replace_file(
        name, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()), tk_replace_options{});
    if (!r)
        TK_TRACE(2, "Cannot write '%s' (%s): %s", name, r.step, std::strerror(r.error));
    return static_cast<bool>(r);
}

bool position_ok(std::int64_t p, std::int64_t size) { return p >= 0 && p <= size; }

bool positions_ok(const table_pos& t, std::int64_t size)
{
    if (!position_ok(t.start_pos, size) || !position_ok(t.end_pos, size))
        return false;
    for (const auto* list : {&t.v_data_start_pos, &t.v_data_end_pos, &t.v_block_end_pos})
        for (std::int64_t p : *list)
            if (!position_ok(p, size))
                return false;
    for (const auto& a : t.alters)
        if (!position_ok(a.first, size) || !position_ok(a.second, size))
            return false;
    for (const auto& r : t.index_records)
        if (!position_ok(r.start, size) || !position_ok(r.end, size))
            return false;
    return true;
}

}  // namespace

std::wstring (*ora_dump_file::documents_folder)() = &tk_get_user_home_wpath;

ora_dump_file::context::context()
{
    TK_TRACE(2, "ora_dump_file::context::ctor");
}

std::int64_t ora_dump_file::load_string(ora_ctx_reader& file, std::int64_t offset, std::string& text)
{
    TK_TRACE(1, "ora_dump_file::load_string(offset=%d)", static_cast<int>(offset));
    std::uint16_t n = 0;
    if (file.u16(offset, n) < 0)
        return -1;
    TK_TRACE(1, "str_length=%d", static_cast<int>(n));
    std::int64_t next = file.text(offset, text);
    if (next >= 0)
        TK_TRACE(1, "str=%s", text);
    return next;
}

std::int64_t ora_dump_file::save_string(std::vector<std::uint8_t>& file, std::int64_t offset, const std::string& text)
{
    TK_TRACE(1, "ora_dump_file::load_string(offset=%d, str=%s)", static_cast<int>(offset), text);
    return ora_ctx_writer::text(file, offset, text);
}

std::wstring ora_dump_file::context_file_name(const std::wstring& dump_path)
{
    std::size_t slash = dump_path.rfind(L'/');
    std::size_t name_start = slash == std::wstring::npos ? 0 : slash + 1;
    std::size_t dot = dump_path.rfind(L'.');
    std::wstring name;
    if (dot != std::wstring::npos && dot >= name_start)
        name = dump_path.substr(0, dot) + L".vcx";
    else
        name = dump_path + L".vcx";
    // A dump named "x.vcx" must not be its own context file.
    if (normal_path(name) == normal_path(dump_path))
        name = dump_path + L".vcx";
    return name;
}

std::wstring ora_dump_file::fallback_file_name(const std::wstring& dump_path)
{
    std::wstring folder = documents_folder ? documents_folder() : std::wstring();
    if (folder.empty())
        return std::wstring();
    std::size_t slash = dump_path.rfind(L'/');
    std::wstring file = slash == std::wstring::npos ? dump_path : dump_path.substr(slash + 1);
    std::size_t dot = file.rfind(L'.');
    if (dot != std::wstring::npos)
        file.erase(dot);
    // The hash of the full path keeps two dumps of one name apart.
    std::string normal = normal_path(dump_path);
    std::uint64_t h = fnv1a64(reinterpret_cast<const std::uint8_t*>(normal.data()), normal.size());
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    while (!folder.empty() && folder.back() == L'/' && folder.size() > 1)
        folder.pop_back();
    return folder + (folder.back() == L'/' ? L"" : L"/") + file + L"." + tk_utf8_to_wide(hex) + L".vcx";
}

bool ora_dump_file::context::stat_dump()
{
    return stat_file(path, dump_size, dump_mtime_ns);
}

void ora_dump_file::context::start_scan(const std::wstring& dump_path, bool merge_setting, int format_now)
{
    *this = context();
    path = dump_path;
    merge_schema = merge_setting;
    format = format_now;
    stat_dump();
}

void ora_dump_file::context::start_memory_scan(const std::wstring& dump_name, bool merge_setting, int format_now,
                                               std::int64_t size, std::int64_t mtime_ns)
{
    *this = context();
    path = dump_name;
    merge_schema = merge_setting;
    format = format_now;
    dump_size = size;
    dump_mtime_ns = mtime_ns;
    in_memory = true;
}

bool ora_dump_file::context::load_image(const std::vector<std::uint8_t>& image, const std::wstring& dump_name,
                                        std::int64_t size, std::int64_t mtime_ns, bool merge_setting, int format_now)
{
    try {
        if (image.empty() || !parse_image(image, *this, size, mtime_ns, merge_setting, format_now)) {
            TK_TRACE(3, "No valid dump context for '%s'; scanning the dump", dump_name);
            return false;
        }
        path = dump_name;
        in_memory = true;
        return true;
    } catch (...) {
        TK_TRACE(3, "The dump context of '%s' cannot be read; scanning the dump", dump_name);
        return false;
    }
}

bool ora_dump_file::build_image(const context& c, std::vector<std::uint8_t>& image)
{
    return build_image(c, c.dump_size, c.dump_mtime_ns, image);
}

bool ora_dump_file::build_image(const context& c, std::int64_t dump_size, std::int64_t dump_mtime_ns,
                                std::vector<std::uint8_t>& f)
{
    namespace w = ora_ctx_writer;
    bool fits = true;
    auto text = [&](std::int64_t o, const std::string& s) {
        if (s.size() > max_text) {
            fits = false;
            return o;
        }
        return save_string(f, o, s);
    };
    auto wtext = [&](std::int64_t o, const std::wstring& s) { return text(o, utf8(s)); };
    f.clear();
    std::int64_t o = w::u32(f, 0, context_magic);
    o = text(o, c.export_header);
    o = text(o, c.user_name);
    o = text(o, c.tablespace_name);
    o = w::u32(f, o, static_cast<std::uint32_t>(c.tables.size()));
    for (const auto& [key, tp] : c.tables) {
        TK_TRACE(1, "Save table_pos for '%s'", key);
        o = wtext(o, key);
        if (utf8(tp.str_full_name).size() > max_text)
            fits = false;
        o = tp.save(f, o);
    }
    // The trailer: what the layout above cannot say.
    std::int64_t trailer = o;
    o = put_magic(f, o, trailer_magic);
    o = w::u32(f, o, trailer_version);
    o = w::u64(f, o, static_cast<std::uint64_t>(dump_size));
    o = w::u64(f, o, static_cast<std::uint64_t>(dump_mtime_ns));
    o = w::u8(f, o, c.merge_schema ? 1 : 0);
    o = w::u8(f, o, static_cast<std::uint8_t>(c.format));
    o = w::u32(f, o, static_cast<std::uint32_t>(c.tables.size()));
    for (const auto& [key, tp] : c.tables) {
        o = w::u32(f, o, static_cast<std::uint32_t>(tp.index_records.size()));
        for (const auto& r : tp.index_records) {
            o = w::u64(f, o, static_cast<std::uint64_t>(r.start));
            o = w::u64(f, o, static_cast<std::uint64_t>(r.end));
            o = w::u8(f, o, r.unique ? 1 : 0);
        }
        o = w::u64(f, o, static_cast<std::uint64_t>(tp.export_rows));
    }
    o = w::u32(f, o, static_cast<std::uint32_t>(c.global_indexes.size()));
    for (const auto& [owner_table, list] : c.global_indexes) {
        o = wtext(o, owner_table.first);
        o = wtext(o, owner_table.second);
        o = w::u32(f, o, static_cast<std::uint32_t>(list.size()));
        for (const udb_index& idx : list) {
            o = wtext(o, idx.name);
            o = w::u8(f, o, idx.b_unique ? 1 : 0);
            o = w::u8(f, o, idx.b_primary ? 1 : 0);
            o = w::u32(f, o, static_cast<std::uint32_t>(idx.columns.size()));
            for (const std::wstring& col : idx.columns)
                o = wtext(o, col);
        }
    }
    o = w::u32(f, o, static_cast<std::uint32_t>(c.relationships.size()));
    for (const t_relationship& r : c.relationships) {
        o = wtext(o, r.fk_name);
        o = wtext(o, r.fk_table);
        o = wtext(o, r.pk_table);
        o = wtext(o, r.rule);
        for (const auto* fields : {&r.fk_fields, &r.pk_fields}) {
            o = w::u32(f, o, static_cast<std::uint32_t>(fields->size()));
            for (const std::wstring& name : *fields)
                o = wtext(o, name);
        }
    }
    o = w::u32(f, o, static_cast<std::uint32_t>(o - trailer));
    o = w::u64(f, o, fnv1a64(f.data(), static_cast<std::size_t>(o)));
    put_magic(f, o, end_magic);
    return fits;
}

bool ora_dump_file::parse_image(const std::vector<std::uint8_t>& image, context& c, std::int64_t dump_size,
                                std::int64_t dump_mtime_ns, bool merge_setting, int format_now)
{
    ora_ctx_reader r(image.data(), image.size());
    std::uint32_t magic = 0;
    std::int64_t o = r.u32(0, magic);
    if (o < 0 || magic != context_magic)
        return false;
    std::string header, user, tablespace;
    if ((o = load_string(r, o, header)) < 0 || (o = load_string(r, o, user)) < 0 ||
        (o = load_string(r, o, tablespace)) < 0)
        return false;
    std::uint32_t count = 0;
    // The smallest table entry: an empty key and empty lists.
    if ((o = r.count(o, count, 2 + 8 + 8 + 4 + 4 + 4 + 2 + 4 + 4 + 4)) < 0)
        return false;
    TK_TRACE(1, "m_pmap_tables_size=%d", static_cast<int>(count));
    ora_table_map tables;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t key_length = 0;
        if (r.u16(o, key_length) >= 0)
            TK_TRACE(1, "tab_name_length=%d", static_cast<int>(key_length));
        std::string key;
        if ((o = r.text(o, key)) < 0)
            return false;
        TK_TRACE(1, "tab_name_buf=%s", key);
        table_pos tp;
        if ((o = tp.load(r, o)) < 0)
            return false;
        TK_TRACE(1, "After tp.load");
        if (!tables.emplace(tk_utf8_to_wide(key), std::move(tp)).second)
            return false;  // two entries of one key
    }
    // The trailer follows the last table directly.
    if (!r.has(o, 4) || std::memcmp(r.at(o), trailer_magic, 4) != 0)
        return false;
    std::int64_t trailer = o;
    o += 4;
    std::uint32_t version = 0, trailer_count = 0;
    std::uint64_t size = 0, mtime = 0;
    std::uint8_t merge = 0, format = 0;
    if ((o = r.u32(o, version)) < 0 || version != trailer_version || (o = r.u64(o, size)) < 0 ||
        (o = r.u64(o, mtime)) < 0 || (o = r.u8(o, merge)) < 0 || (o = r.u8(o, format)) < 0 ||
        (o = r.u32(o, trailer_count)) < 0)
        return false;
    if (static_cast<std::int64_t>(size) != dump_size || static_cast<std::int64_t>(mtime) != dump_mtime_ns ||
        merge != (merge_setting ? 1 : 0) || format != format_now || trailer_count != count)
        return false;
    for (auto& [key, tp] : tables) {
        std::uint32_t n = 0;
        if ((o = r.count(o, n, 17)) < 0)
            return false;
        tp.index_records.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            table_pos::index_record rec;
            std::uint8_t unique = 0;
            o = r.i64(o, rec.start);
            o = r.i64(o, rec.end);
            o = r.u8(o, unique);
            rec.unique = unique != 0;
            tp.index_records.push_back(rec);
        }
        if ((o = r.i64(o, tp.export_rows)) < 0 || tp.export_rows < -1)
            return false;
        if (!positions_ok(tp, dump_size))
            return false;
    }
    auto wtext = [&](std::int64_t at, std::wstring& out) {
        std::string s;
        at = r.text(at, s);
        if (at >= 0)
            out = tk_utf8_to_wide(s);
        return at;
    };
    std::map<std::pair<std::wstring, std::wstring>, udb_indexes> global_indexes;
    std::uint32_t entries = 0;
    if ((o = r.count(o, entries, 2 + 2 + 4)) < 0)
        return false;
    for (std::uint32_t i = 0; i < entries; ++i) {
        std::pair<std::wstring, std::wstring> owner_table;
        std::uint32_t n = 0;
        if ((o = wtext(o, owner_table.first)) < 0 || (o = wtext(o, owner_table.second)) < 0 ||
            (o = r.count(o, n, 2 + 1 + 1 + 4)) < 0)
            return false;
        udb_indexes list;
        for (std::uint32_t k = 0; k < n; ++k) {
            udb_index idx;
            std::uint8_t unique = 0, primary = 0;
            std::uint32_t columns = 0;
            if ((o = wtext(o, idx.name)) < 0 || (o = r.u8(o, unique)) < 0 || (o = r.u8(o, primary)) < 0 ||
                (o = r.count(o, columns, 2)) < 0)
                return false;
            idx.b_unique = unique != 0;
            idx.b_primary = primary != 0;
            idx.columns.resize(columns);
            for (std::wstring& col : idx.columns)
                if ((o = wtext(o, col)) < 0)
                    return false;
            list.push_back(idx);
        }
        if (!global_indexes.emplace(std::move(owner_table), std::move(list)).second)
            return false;
    }
    std::vector<t_relationship> relationships;
    std::uint32_t rel_count = 0;
    if ((o = r.count(o, rel_count, 2 * 4 + 4 + 4)) < 0)
        return false;
    relationships.resize(rel_count);
    for (t_relationship& rel : relationships) {
        if ((o = wtext(o, rel.fk_name)) < 0 || (o = wtext(o, rel.fk_table)) < 0 || (o = wtext(o, rel.pk_table)) < 0 ||
            (o = wtext(o, rel.rule)) < 0)
            return false;
        for (auto* fields : {&rel.fk_fields, &rel.pk_fields}) {
            std::uint32_t n = 0;
            if ((o = r.count(o, n, 2)) < 0)
                return false;
            fields->resize(n);
            for (std::wstring& name : *fields)
                if ((o = wtext(o, name)) < 0)
                    return false;
        }
    }
    std::uint32_t trailer_length = 0;
    std::uint64_t checksum = 0;
    if ((o = r.u32(o, trailer_length)) < 0 || trailer_length != static_cast<std::uint64_t>(o - 4 - trailer))
        return false;
    std::int64_t sum_end = o;
    if ((o = r.u64(o, checksum)) < 0 || checksum != fnv1a64(image.data(), static_cast<std::size_t>(sum_end)))
        return false;
    if (!r.has(o, 4) || std::memcmp(r.at(o), end_magic, 4) != 0 || static_cast<std::size_t>(o + 4) != image.size())
        return false;

    c.export_header = std::move(header);
    c.user_name = std::move(user);
    c.tablespace_name = std::move(tablespace);
    c.tables = std::move(tables);
    c.global_indexes = std::move(global_indexes);
    c.relationships = std::move(relationships);
    c.merge_schema = merge_setting;
    c.format = format_now;
    c.dump_size = dump_size;
    c.dump_mtime_ns = dump_mtime_ns;
    c.complete = true;
    return true;
}

bool ora_dump_file::context::load_if(const std::wstring& dump_path)
{
    ora_dump_reader* reader = ora_dump_reader::try_instance();
    return load_if(dump_path, reader && reader->merge_schema, reader && reader->m_datapump ? 1 : 0);
}

bool ora_dump_file::context::load_if(const std::wstring& dump_path, bool merge_setting, int format_now)
{
    try {
        TK_TRACE(2, "ora_dump_file::context::load_if(%s)", dump_path);
        std::wstring name = context_file_name(dump_path);
        if (!tk_is_file_exist(name, 0x4000)) {
            TK_TRACE(2, "Failed to find file '%s', try to do this in user's home folder", name);
            name = fallback_file_name(dump_path);
            if (name.empty() || !tk_is_file_exist(name, 0x4000)) {
                TK_TRACE(2, "File '%s' does not exist as well", name);
                return false;
            }
        }
        std::int64_t size = 0, mtime = 0;
        if (!stat_file(dump_path, size, mtime))
            return false;
        std::vector<std::uint8_t> image;
        {
            tk_stdio_file f(utf8(name), 0);
            std::int64_t length = f.get_length();
            if (length <= 9 || length >= (std::int64_t(1) << 32)) {
                TK_TRACE(2, "Invalid file size");
                return false;
            }
            image.resize(static_cast<std::size_t>(length));
            f.get_at(0, image.data(), length);
        }
        std::uint32_t magic = static_cast<std::uint32_t>(image[0]) | image[1] << 8 | image[2] << 16 |
                              static_cast<std::uint32_t>(image[3]) << 24;
        if (magic != context_magic) {
            TK_TRACE(2, "Invalid magic number");
            return false;
        }
        TK_TRACE(3, "Loading dump context from '%s'", name);
        if (!parse_image(image, *this, size, mtime, merge_setting, format_now)) {
            TK_TRACE(3, "The dump context file '%s' is not valid or belongs to another dump; scanning the dump", name);
            return false;
        }
        path = dump_path;
        return true;
    } catch (...) {
        TK_TRACE(3, "The dump context file of '%s' cannot be read; scanning the dump", dump_path);
        return false;
    }
}

bool ora_dump_file::context::save() const noexcept
{
    if (in_memory)
        return false;  // no file lies beside a dump held in memory
    try {
        TK_TRACE(2, "ora_dump_file::context::save");
        if (!complete || truncated) {
            TK_TRACE(2, "The scan of '%s' did not complete: no dump context file", path);
            return false;
        }
        std::vector<std::uint8_t> image;
        // The trailer records the dump as the scan saw it, when known.
        std::int64_t size = dump_size, mtime = dump_mtime_ns;
        if (size < 0 && !stat_file(path, size, mtime)) {
            report_save_failure(tk_format("Couldn't save the dump context file of '%s': the dump is gone", path));
            return false;
        }
        bool fits = build_image(*this, size, mtime, image);
        std::wstring name = context_file_name(path);
        if (!fits) {
            report_save_failure(
                tk_format("Couldn't save the dump context file '%s': a text is longer than 65535 bytes", name));
            return false;
        }
        if (write_atomic(name, image))
            return true;
        TK_TRACE(2, "Failed to create file '%s', try to do this in user's home folder", name);
        std::wstring fallback = fallback_file_name(path);
        if (!fallback.empty() && write_atomic(fallback, image))
            return true;
        report_save_failure(tk_format("Couldn't save the dump context file '%s'", name));
        return false;
    } catch (...) {
        return false;
    }
}
