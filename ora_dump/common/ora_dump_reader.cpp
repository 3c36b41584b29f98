#include "ora_dump_reader.h"

#include "error_handler.h"
#include "tk_format.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <cstring>
#include <string_view>

ora_dump_reader::ora_dump_reader()
{
    TK_TRACE(2, "ora_dump_reader::ctor");
    init_cp_tables();
    reset_dump_state();
}

ora_dump_reader::~ora_dump_reader() = default;

void ora_dump_reader::init_cp_tables()
{
    TK_TRACE(1, "ora_dump_reader::init_cp_tables");
    // Oracle character-set ids and the labels of their character sets. Ids
    // whose label has no code page below decode with the fallback.
    static const struct {
        unsigned id;
        const char* label;
    } names[] = {
        {1, "us-ascii"},       {2, "dec-mcs"},       {4, "ibm437"},        {10, "ibm850"},
        {31, "iso-8859-1"},    {32, "iso-8859-2"},   {33, "iso-8859-3"},   {34, "iso-8859-4"},
        {35, "iso-8859-5"},    {36, "iso-8859-6"},   {37, "iso-8859-7"},   {38, "iso-8859-8-i"},
        {39, "iso-8859-9"},    {41, "windows-874"},  {45, "windows-1258"}, {46, "iso-8859-15"},
        {47, "iso-8859-13"},   {51, "koi8-u"},       {152, "cp866"},       {170, "windows-1250"},
        {171, "windows-1251"}, {174, "windows-1253"}, {175, "windows-1255"}, {177, "windows-1254"},
        {178, "windows-1252"}, {179, "windows-1257"}, {182, "ibm277"},      {196, "koi8-r"},
        {351, "macintosh"},    {352, "macintosh"},   {558, "dos-720"},     {560, "windows-1256"},
        {829, "euc-jp"},       {830, "euc-jp"},      {831, "euc-jp"},      {837, "euc-jp"},
        {832, "shift_jis"},    {834, "shift_jis"},   {838, "shift_jis"},   {840, "euc-kr"},
        // The extra Hangul syllables of code page 949 are not in euc-kr.
        {846, "ks_c_5601-1987"},
        // GBK and GB2312 are subsets of GB18030.
        {850, "gbk"},          {852, "gbk"},         {854, "gb18030"},     {865, "big5"},
        {867, "big5"},         {871, "utf-8"},       {873, "utf-8"},       {2000, "utf-16be"},
    };
    static const struct {
        std::uint16_t code_page;
        const char* label;
    } pages[] = {
        {20127, "us-ascii"},     {28591, "iso-8859-1"},   {28592, "iso-8859-2"},   {28593, "iso-8859-3"},
        {28594, "iso-8859-4"},   {28595, "iso-8859-5"},   {28596, "iso-8859-6"},   {28597, "iso-8859-7"},
        {38598, "iso-8859-8-i"}, {28599, "iso-8859-9"},   {1258, "windows-1258"},  {28605, "iso-8859-15"},
        {28603, "iso-8859-13"},  {21866, "koi8-u"},       {866, "cp866"},          {1250, "windows-1250"},
        {1251, "windows-1251"},  {1253, "windows-1253"},  {1255, "windows-1255"},  {1254, "windows-1254"},
        {1252, "windows-1252"},  {1257, "windows-1257"},  {20277, "ibm277"},       {20866, "koi8-r"},
        {10000, "macintosh"},    {720, "dos-720"},        {1256, "windows-1256"},  {20932, "euc-jp"},
        {932, "shift_jis"},      {51949, "euc-kr"},       {54936, "gb18030"},      {950, "big5"},
        {949, "ks_c_5601-1987"}, {54936, "gbk"},          {874, "windows-874"},    {850, "ibm850"},
        {437, "ibm437"},         {65001, "utf-8"},
    };
    for (const auto& n : names)
        charset_names.emplace(n.id, n.label);
    for (const auto& p : pages)
        codepages.emplace(p.label, p.code_page);
}

void ora_dump_reader::reset_dump_state()
{
    compound_dump = false;
    first_part = false;
    m_datapump = false;
    info = dump_info();
}

int ora_dump_reader::get_progress() const
{
    TK_TRACE(1, "ora_dump_reader::get_progress");
    std::lock_guard<std::mutex> lock(progress_mutex);
    int ui = m_ui_progress.load(std::memory_order_relaxed);
    if (!m_datapump) {
        TK_TRACE(1, "!m_datapump, m_ui_progress=%d", ui);
        return ui;
    }
    if (ui == -1 || ui >= 100) {
        TK_TRACE(1, "m_datapump, m_ui_progress=%d", ui);
        return ui;
    }
    std::int64_t p = datapump_pos.load(std::memory_order_relaxed);
    int value;
    if (p == info.dump_length)
        value = 100;
    else if (info.dump_length <= 0)
        value = 0;
    else {
        double f = static_cast<double>(p) * 100.0 / static_cast<double>(info.dump_length);
        value = f < 0 ? 0 : f > 100 ? 100 : static_cast<int>(f);
    }
    TK_TRACE(1, "m_datapump, fl_progress=%d", value);
    return value;
}

void ora_dump_reader::set_progress(std::int64_t position, std::int64_t length)
{
    TK_TRACE(1, "ora_dump_reader::set_progress(%I64d,%I64d)", position, length);
    if (length == 0)
        return;
    double p = static_cast<double>(position) * 100.0 / static_cast<double>(length);
    if (position == length)
        p = 99;
    else if (p > 1)
        p -= 1;
    // Only the opening itself stores 100, and -1 means failure.
    int value = p < 0 ? 0 : p > 99 ? 99 : static_cast<int>(p);
    if (m_ui_progress.load(std::memory_order_relaxed) == value)
        return;
    std::lock_guard<std::mutex> lock(progress_mutex);
    m_ui_progress.store(value, std::memory_order_relaxed);
}

void ora_dump_reader::set_ui_progress(int value)
{
    std::lock_guard<std::mutex> lock(progress_mutex);
    m_ui_progress.store(value, std::memory_order_relaxed);
}

void ora_dump_reader::set_datapump_pos(std::int64_t position)
{
    std::lock_guard<std::mutex> lock(progress_mutex);
    datapump_pos.store(position, std::memory_order_relaxed);
}

void ora_dump_reader::set_local_progress(std::int64_t start, std::int64_t end, std::int64_t current)
{
    TK_TRACE(1, "ora_dump_reader::set_local_progress(%I64d,%I64d,%I64d)", start, end, current);
    if (end == start)
        return;
    int value;
    if (current == end)
        value = 100;
    else {
        double f = static_cast<double>(current - start) * 100.0 / static_cast<double>(end - start);
        value = f < 0 ? 0 : f > 100 ? 100 : static_cast<int>(f);
    }
    std::lock_guard<std::mutex> lock(local_mutex);
    local_progress.store(value, std::memory_order_relaxed);
}

int ora_dump_reader::get_local_progress() const
{
    std::lock_guard<std::mutex> lock(local_mutex);
    return local_progress.load(std::memory_order_relaxed);
}

int ora_dump_reader::charset_codepage(unsigned id) const
{
    auto n = charset_names.find(id);
    if (n == charset_names.end())
        return 0;
    auto c = codepages.find(n->second);
    return c == codepages.end() ? 0 : c->second;
}

int ora_dump_reader::get_cp(const unsigned char id[2], bool national)
{
    TK_TRACE(1, "ora_dump_reader::get_cp");
    int cls = 0;
    if (id[0] == 0x07 && id[1] == 0xD0)
        cls = 2;
    else if (id[0] == 0x03 && (id[1] == 0x69 || id[1] == 0x67))
        cls = 1;
    if (national)
        info.ncharset_class = cls;
    else
        info.charset_class = cls;
    if (cls == 0) {
        int cp = charset_codepage(id[0] * 256u + id[1]);
        (national ? info.dump_ncode_page : info.dump_code_page) = cp;
    }
    return cls;
}

namespace {

// Oracle's UTF8 (CESU-8) writes a character beyond U+FFFF as two 3-byte
// surrogates; join them into the 4-byte form before decoding.
std::string join_cesu_pairs(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    auto u = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    while (i < s.size()) {
        if (i + 6 <= s.size() && u(i) == 0xED && (u(i + 1) & 0xF0) == 0xA0 && (u(i + 2) & 0xC0) == 0x80 &&
            u(i + 3) == 0xED && (u(i + 4) & 0xF0) == 0xB0 && (u(i + 5) & 0xC0) == 0x80) {
            char32_t hi = 0xD000 | ((u(i + 1) & 0x3F) << 6) | (u(i + 2) & 0x3F);
            char32_t lo = 0xD000 | ((u(i + 4) & 0x3F) << 6) | (u(i + 5) & 0x3F);
            tk_append_utf8(out, 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00));
            i += 6;
        } else {
            out.push_back(s[i]);
            ++i;
        }
    }
    return out;
}

}  // namespace

std::wstring ora_dump_reader::get_wstring(const dump_info& info, const char* data, std::size_t length, bool national)
{
    if (!data || length == 0)
        return std::wstring();
    // Dump bytes need not end with a NUL: never look past length.
    std::string_view text(data, strnlen(data, length));
    TK_TRACE(2, "ora_dump_reader::get_wstring(%s)", text);
    int cls = national ? info.ncharset_class : info.charset_class;
    switch (cls) {
    case 0: {
        int cp = national ? info.dump_ncode_page : info.dump_code_page;
        if (cp == 0)
            cp = 1252;
        try {
            return tk_to_unicode(text, cp);
        } catch (const std::exception&) {
            // A code page whose converter does not open: the fallback.
            try {
                return tk_to_unicode(text, 1252);
            } catch (const std::exception&) {
                return tk_utf8_to_wide(text);
            }
        }
    }
    case 1:
        return tk_utf8_to_wide(join_cesu_pairs(text));
    case 2:
        return tk_utf16be_to_wstring(reinterpret_cast<const unsigned char*>(data), length);
    default:
        return std::wstring();
    }
}

std::string ora_dump_reader::code_page_utf8(int code_page, const char* data, std::size_t length)
{
    if (!data || length == 0)
        return std::string();
    const std::string_view text(data, strnlen(data, length));
    if (code_page == 0)
        code_page = 1252;
    // The fallbacks of get_wstring, in its order.
    try {
        return tk_code_page_to_utf8(text, code_page);
    } catch (const std::exception&) {
        try {
            return tk_code_page_to_utf8(text, 1252);
        } catch (const std::exception&) {
            return tk_wide_to_utf8(tk_utf8_to_wide(text));
        }
    }
}

std::wstring utf16be_to_wstring(const unsigned char* bytes, std::size_t length, bool skip_headers)
{
    if (!skip_headers || !bytes)
        return tk_utf16be_to_wstring(bytes, length);
    std::u16string units;
    units.reserve(length / 2);
    std::size_t pos = 0;
    while (pos + 1 < length) {
        if (pos % 8132 <= 1) {
            std::size_t boundary = pos - pos % 8132;
            if (boundary + 3 <= length && bytes[boundary] == 0x06 && bytes[boundary + 1] == 0x01 &&
                bytes[boundary + 2] == 0xFE) {
                pos = boundary + 5;
                continue;
            }
        }
        units.push_back(static_cast<char16_t>(bytes[pos] << 8 | bytes[pos + 1]));
        pos += 2;
    }
    return tk_u16_to_wstring(units);
}

std::wstring utf16_upto_zero(const unsigned char* bytes, std::size_t length, bool big_endian)
{
    std::size_t end = 0;
    while (end + 1 < length && (bytes[end] != 0 || bytes[end + 1] != 0))
        end += 2;
    return big_endian ? tk_utf16be_to_wstring(bytes, end) : tk_utf16le_to_wstring(bytes, end);
}

void ora_dump_reader::set_stop_check(std::function<bool()> check)
{
    stop_check = std::move(check);
}

void ora_dump_reader::check_stop() const
{
    if (stop_check && stop_check()) {
        TK_TRACE(2, "The dump reading was stopped");
        throw tk_final_exception();
    }
}

void ora_dump_reader::set_log_sink(ora_log_sink s)
{
    std::lock_guard<std::mutex> lock(sink_mutex);
    sink = std::move(s);
}

void ora_dump_reader::send_log(ora_log_kind kind, const std::string& text) noexcept
{
    ora_dump_reader* r = try_instance();
    if (!r)
        return;
    try {
        ora_log_sink s;
        {
            std::lock_guard<std::mutex> lock(r->sink_mutex);
            s = r->sink;
        }
        if (s)
            s(kind, text);
    } catch (...) {
        // A sink that fails must not stop the reading.
    }
}

std::string ora_dump_reader::embellish_name(const std::string& name, char quote)
{
    TK_TRACE(1, "ora_dump_reader::embellish_name('%s','%c')", name, quote);
    if (name.size() > 2 && name.front() == quote && name.back() == quote)
        return name.substr(1, name.size() - 2);
    return name;
}

std::string ora_dump_reader::merge_schema_name(const std::string& name, const std::string& schema_user) const
{
    if (merge_schema && !schema_user.empty())
        return schema_user + "." + name;
    return name;
}

void ora_dump_reader::report_truncated(std::size_t whole_tables)
{
    const std::string text = tk_format(
        "The dump file ends before the end of the export: it is truncated or incomplete. Tables found whole: %I64u.",
        static_cast<std::uint64_t>(whole_tables));
    TK_TRACE(3, "%s", text);
    error_handler::instance()->handle(tk_exception(text, 0), false);
}

const char* ora_dump_reader::message(int entry)
{
    static const char* const texts[message_count] = {
        "The program cannot read Oracle dump file. It may be corrupted or does not comply with Oracle dump file "
        "format.",
        "Out of recordset range.",
        "",
        "Failed to move next.",
        "",
        "",
        "",
        "Unknown field type",
        "",
        "Field not found during index creation",
        "This is a compound dump file (several dumps merged together). The program can extract only first dump.",
        "Can't read record. EOF reached",
        "Can't read record. Date error.",
        "This is a non-leading part of multifile dump. The program can extract data from the first part of "
        "multifile dump only. See 'Troubleshooting' article of the product documentation for solution.",
        "This is the first part of multifile dump. The program extracts data stored in this file only, other parts "
        "of the dump will not be processed. See 'Troubleshooting' article of the product documentation for "
        "solution.",
        "Unexpected data at position: %I64d",
        "Unknown field name has been found in INSERT statement: ",
        "The dump file is compressed. Current version of the product does not support compressed dump files.",
        "The dump file is encrypted. It must first be decrypted with the decryption tool that comes with the "
        "product.",
    };
    return entry >= 0 && entry < message_count ? texts[entry] : "";
}
