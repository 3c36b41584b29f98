#include "table_pos.h"

#include "tk_logger.h"
#include "tk_unicode.h"

#include <cstring>

namespace {

std::int64_t put(std::vector<std::uint8_t>& file, std::int64_t offset, const void* bytes, std::size_t count)
{
    std::size_t at = static_cast<std::size_t>(offset);
    if (file.size() < at + count)
        file.resize(at + count);
    if (count)
        std::memcpy(file.data() + at, bytes, count);
    return offset + static_cast<std::int64_t>(count);
}

template <typename T>
std::int64_t put_le(std::vector<std::uint8_t>& file, std::int64_t offset, T v)
{
    std::uint8_t b[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i)
        b[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
    return put(file, offset, b, sizeof(T));
}

}  // namespace

namespace ora_ctx_writer {
std::int64_t u8(std::vector<std::uint8_t>& f, std::int64_t o, std::uint8_t v) { return put_le(f, o, v); }
std::int64_t u16(std::vector<std::uint8_t>& f, std::int64_t o, std::uint16_t v) { return put_le(f, o, v); }
std::int64_t u32(std::vector<std::uint8_t>& f, std::int64_t o, std::uint32_t v) { return put_le(f, o, v); }
std::int64_t u64(std::vector<std::uint8_t>& f, std::int64_t o, std::uint64_t v) { return put_le(f, o, v); }
std::int64_t text(std::vector<std::uint8_t>& f, std::int64_t o, const std::string& v)
{
    o = u16(f, o, static_cast<std::uint16_t>(v.size()));
    return put(f, o, v.data(), v.size());
}
}  // namespace ora_ctx_writer

template <typename T>
static std::int64_t get_le(const ora_ctx_reader& r, std::int64_t offset, T& v)
{
    if (!r.has(offset, sizeof(T)))
        return -1;
    std::uint64_t x = 0;
    const std::uint8_t* p = r.at(offset);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        x |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    v = static_cast<T>(x);
    return offset + static_cast<std::int64_t>(sizeof(T));
}

std::int64_t ora_ctx_reader::u8(std::int64_t o, std::uint8_t& v) const { return get_le(*this, o, v); }
std::int64_t ora_ctx_reader::u16(std::int64_t o, std::uint16_t& v) const { return get_le(*this, o, v); }
std::int64_t ora_ctx_reader::u32(std::int64_t o, std::uint32_t& v) const { return get_le(*this, o, v); }
std::int64_t ora_ctx_reader::u64(std::int64_t o, std::uint64_t& v) const { return get_le(*this, o, v); }
std::int64_t ora_ctx_reader::i64(std::int64_t o, std::int64_t& v) const
{
    std::uint64_t u = 0;
    o = get_le(*this, o, u);
    v = static_cast<std::int64_t>(u);
    return o;
}

std::int64_t ora_ctx_reader::text(std::int64_t o, std::string& v) const
{
    std::uint16_t n = 0;
    o = u16(o, n);
    if (o < 0 || !has(o, n))
        return -1;
    v.assign(reinterpret_cast<const char*>(at(o)), n);
    return o + n;
}

std::int64_t ora_ctx_reader::count(std::int64_t o, std::uint32_t& n, std::uint64_t item_size) const
{
    o = u32(o, n);
    if (o < 0 || !has(o, static_cast<std::uint64_t>(n) * item_size))
        return -1;
    return o;
}

table_pos::table_pos()
{
    TK_TRACE(2, "table_pos::ctor");
}

std::int64_t table_pos::save_int64_array(std::vector<std::uint8_t>& file, std::int64_t offset,
                                         const std::vector<std::int64_t>& list)
{
    TK_TRACE(1, "table_pos::save_int64_array(offset=%d)", static_cast<int>(offset));
    TK_TRACE(1, "Save array sie=%d", static_cast<int>(list.size()));
    offset = ora_ctx_writer::u32(file, offset, static_cast<std::uint32_t>(list.size()));
    for (std::size_t i = 0; i < list.size(); ++i) {
        TK_TRACE(1, "Save arr[%d]=%I64d", static_cast<int>(i), list[i]);
        offset = ora_ctx_writer::u64(file, offset, static_cast<std::uint64_t>(list[i]));
    }
    return offset;
}

std::int64_t table_pos::save(std::vector<std::uint8_t>& file, std::int64_t offset) const
{
    TK_TRACE(2, "table_pos::save(%d)", static_cast<int>(offset));
    TK_TRACE(1, "Save start_pos=%I64d", start_pos);
    offset = ora_ctx_writer::u64(file, offset, static_cast<std::uint64_t>(start_pos));
    TK_TRACE(1, "Save end_pos=%I64d", end_pos);
    offset = ora_ctx_writer::u64(file, offset, static_cast<std::uint64_t>(end_pos));
    offset = save_int64_array(file, offset, v_data_start_pos);
    offset = save_int64_array(file, offset, v_data_end_pos);
    offset = save_int64_array(file, offset, v_block_end_pos);
    offset = ora_ctx_writer::text(file, offset, tk_wide_to_utf8(str_full_name));
    offset = ora_ctx_writer::u32(file, offset, static_cast<std::uint32_t>(record_base));
    offset = ora_ctx_writer::u32(file, offset, 0);
    offset = ora_ctx_writer::u32(file, offset, static_cast<std::uint32_t>(alters.size()));
    for (std::size_t i = 0; i < alters.size(); ++i) {
        TK_TRACE(1, "Save alters[%d]=%I64d,%I64d", static_cast<int>(i), alters[i].first, alters[i].second);
        offset = ora_ctx_writer::u64(file, offset, static_cast<std::uint64_t>(alters[i].first));
        offset = ora_ctx_writer::u64(file, offset, static_cast<std::uint64_t>(alters[i].second));
    }
    return offset;
}

std::int64_t table_pos::load_int64_array(ora_ctx_reader& file, std::int64_t offset, std::vector<std::int64_t>& list)
{
    TK_TRACE(1, "table_pos::load_int64_array(offset=%d)", static_cast<int>(offset));
    std::uint32_t n = 0;
    offset = file.count(offset, n, 8);
    if (offset < 0)
        return -1;
    TK_TRACE(1, "Load array size=%d", static_cast<int>(n));
    list.reserve(list.size() + n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::int64_t v = 0;
        offset = file.i64(offset, v);
        TK_TRACE(1, "Load array[%d]=%I64d", static_cast<int>(i), v);
        list.push_back(v);
    }
    return offset;
}

std::int64_t table_pos::load(ora_ctx_reader& file, std::int64_t offset)
{
    TK_TRACE(2, "table_pos::load(offset=%d)", static_cast<int>(offset));
    if ((offset = file.i64(offset, start_pos)) < 0)
        return -1;
    TK_TRACE(1, "Load start_pos=%I64d", start_pos);
    if ((offset = file.i64(offset, end_pos)) < 0)
        return -1;
    TK_TRACE(1, "Load end_pos=%I64d", end_pos);
    if ((offset = load_int64_array(file, offset, v_data_start_pos)) < 0 ||
        (offset = load_int64_array(file, offset, v_data_end_pos)) < 0 ||
        (offset = load_int64_array(file, offset, v_block_end_pos)) < 0)
        return -1;
    std::string full;
    std::uint16_t full_length = 0;
    if (file.u16(offset, full_length) >= 0)
        TK_TRACE(1, "str_full_name_length=%d", static_cast<int>(full_length));
    if ((offset = file.text(offset, full)) < 0)
        return -1;
    str_full_name = tk_utf8_to_wide(full);
    std::uint32_t base = 0, reserved = 0, n = 0;
    if ((offset = file.u32(offset, base)) < 0 || (offset = file.u32(offset, reserved)) < 0)
        return -1;
    record_base = static_cast<std::int32_t>(base);
    if ((offset = file.count(offset, n, 16)) < 0)
        return -1;
    alters.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::int64_t s = 0, e = 0;
        offset = file.i64(offset, s);
        offset = file.i64(offset, e);
        TK_TRACE(1, "Load alters[%d]=(%I64d,%I64d)", static_cast<int>(i), s, e);
        alters.emplace_back(s, e);
    }
    TK_TRACE(1, "End_pos at the end of table_pos::load=%I64d", end_pos);
    return offset;
}
