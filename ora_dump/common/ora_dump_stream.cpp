#include "ora_dump_stream.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cerrno>
#include <cstring>

ora_dump_source::~ora_dump_source() = default;

ora_dump_file_source::ora_dump_file_source(const std::string& path)
{
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw tk_exception_ex(tk_format("Cannot open file '%s'", path), 1);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = errno;
        ::close(fd);
        fd = -1;
        errno = e ? e : EISDIR;
        throw tk_exception_ex(tk_format("Cannot open file '%s'", path), 1);
    }
    length = static_cast<std::int64_t>(st.st_size);
}

ora_dump_file_source::~ora_dump_file_source()
{
    if (fd >= 0)
        ::close(fd);
}

std::int64_t ora_dump_file_source::read_at(std::int64_t offset, void* buffer, std::size_t count)
{
    std::size_t done = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

ora_dump_memory_source::ora_dump_memory_source(std::vector<std::uint8_t> bytes) : data(std::move(bytes)) {}

ora_dump_memory_source::ora_dump_memory_source(const std::string& bytes) : data(bytes.begin(), bytes.end()) {}

std::int64_t ora_dump_memory_source::read_at(std::int64_t offset, void* buffer, std::size_t count)
{
    if (offset < 0)
        return -1;
    if (offset >= size())
        return 0;
    std::size_t n = std::min<std::size_t>(count, data.size() - static_cast<std::size_t>(offset));
    std::memcpy(buffer, data.data() + offset, n);
    return static_cast<std::int64_t>(n);
}

ora_dump_failing_source::ora_dump_failing_source(std::unique_ptr<ora_dump_source> inner_, std::int64_t fail_offset_)
    : inner(std::move(inner_)), fail_offset(fail_offset_)
{
}

std::int64_t ora_dump_failing_source::read_at(std::int64_t offset, void* buffer, std::size_t count)
{
    if (offset + static_cast<std::int64_t>(count) > fail_offset)
        return -1;
    return inner->read_at(offset, buffer, count);
}

const bool AdjustDelimiters[256] = {
    // NUL, then HT LF VT FF CR at 9..13, and SP at 32.
    true,  false, false, false, false, false, false, false, false, true,  true,  true,  true,  true,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, true,
};

ora_dump_stream::ora_dump_stream(std::unique_ptr<ora_dump_source> source_, std::size_t window_)
    : source(std::move(source_)), window(std::max<std::size_t>(window_, 4)), length(source->size())
{
}

std::unique_ptr<ora_dump_stream> ora_dump_stream::open_file(const std::string& path, std::size_t window)
{
    return std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_file_source>(path), window);
}

const std::uint8_t* ora_dump_stream::view(std::size_t want, std::size_t& available)
{
    available = 0;
    if (has_failed || pos >= length || !ensure(pos, want) || pos < win_start || pos >= win_end)
        return nullptr;
    available = static_cast<std::size_t>(win_end - pos);
    return buf.data() + (pos - win_start);
}

bool ora_dump_stream::ensure(std::int64_t from, std::size_t need)
{
    std::int64_t want_end = std::min<std::int64_t>(length, from + static_cast<std::int64_t>(need));
    if (from >= win_start && want_end <= win_end && from <= win_end)
        return true;
    std::size_t cap = std::max(window, need);
    // A small dump needs no more than its own size.
    if (length >= 0 && static_cast<std::uint64_t>(length) < cap)
        cap = std::max<std::size_t>(need, std::max<std::size_t>(static_cast<std::size_t>(length), 4));
    if (buf.size() < cap)
        buf.resize(cap);
    std::int64_t keep_start;
    if (from >= win_start && from <= win_end && win_end > win_start) {
        // Moving forward: keep the tail of the old window, so that a short
        // step back (to the start of the current line) needs no new read.
        // Only a short tail: each refill moves it to the front.
        const std::size_t keep_back = std::min<std::size_t>(cap / 2, 64 * 1024);
        keep_start = std::min(from, std::max(win_start, win_end - static_cast<std::int64_t>(keep_back)));
        std::size_t kept = static_cast<std::size_t>(win_end - keep_start);
        std::memmove(buf.data(), buf.data() + (keep_start - win_start), kept);
        win_start = keep_start;
    } else {
        win_start = from;
        win_end = from;
    }
    std::size_t kept = static_cast<std::size_t>(win_end - win_start);
    std::int64_t fetch_end = std::min<std::int64_t>(length, win_start + static_cast<std::int64_t>(cap));
    if (fetch_end > win_end) {
        std::size_t count = static_cast<std::size_t>(fetch_end - win_end);
        std::int64_t n = source->read_at(win_end, buf.data() + kept, count);
        if (n < 0) {
            has_failed = true;
            return false;
        }
        fetched += static_cast<std::uint64_t>(n);
        win_end += n;
        if (static_cast<std::size_t>(n) < count)
            length = win_end;  // the source ended early: that is its end now
    }
    return true;
}

bool ora_dump_stream::seek(std::int64_t position)
{
    if (has_failed)
        return false;
    if (position < 0 || position > length) {
        has_failed = true;
        return false;
    }
    pos = position;
    at_end = false;
    return true;
}

int ora_dump_stream::get_slow()
{
    const int c = peek_slow();
    if (c >= 0)
        ++pos;
    return c;
}

int ora_dump_stream::peek_slow()
{
    if (has_failed)
        return -1;
    if (pos >= length || !ensure(pos, 1) || pos >= win_end) {
        at_end = true;
        return -1;
    }
    return buf[static_cast<std::size_t>(pos - win_start)];
}

std::size_t ora_dump_stream::read(void* buffer, std::size_t count)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count && !has_failed) {
        if (pos >= length) {
            at_end = true;
            break;
        }
        if (!(pos >= win_start && pos < win_end)) {
            if (!ensure(pos, std::min(count - done, window)))
                break;
            if (pos >= win_end) {
                at_end = true;
                break;
            }
        }
        std::size_t n = std::min<std::size_t>(count - done, static_cast<std::size_t>(win_end - pos));
        std::memcpy(out + done, buf.data() + (pos - win_start), n);
        done += n;
        pos += static_cast<std::int64_t>(n);
    }
    if (done < count && !has_failed)
        at_end = true;
    return done;
}

bool ora_dump_stream::read_token(std::string& text, bool& too_long, std::size_t max)
{
    text.clear();
    too_long = false;
    int c;
    for (;;) {
        c = peek();
        if (c < 0)
            return false;
        if (!AdjustDelimiters[c])
            break;
        ++pos;
    }
    for (;;) {
        // Take the run of token bytes that lies in the window at once.
        if (pos >= win_start && pos < win_end && !has_failed) {
            const std::uint8_t* p = buf.data() + (pos - win_start);
            const std::uint8_t* e = buf.data() + (win_end - win_start);
            const std::uint8_t* q = p;
            while (q < e && !AdjustDelimiters[*q])
                ++q;
            std::size_t n = static_cast<std::size_t>(q - p);
            std::size_t room = max > text.size() ? max - text.size() : 0;
            if (n > room) {
                too_long = true;
                text.append(reinterpret_cast<const char*>(p), room);
            } else {
                text.append(reinterpret_cast<const char*>(p), n);
            }
            pos += static_cast<std::int64_t>(n);
            if (q < e)
                return true;  // the delimiter stays in the stream
        }
        c = peek();
        if (c < 0)
            return true;  // the token ends at the end of the data
        if (AdjustDelimiters[c])
            return true;
    }
}

ora_dump_stream::find_result ora_dump_stream::find(const std::uint8_t* pattern, std::size_t count,
                                                   std::int64_t& found_pos)
{
    if (has_failed)
        return find_result::source_failed;
    std::int64_t from = pos;
    // The window must hold at least twice the pattern, so that each step
    // brings in new bytes whatever the window size.
    std::size_t need = std::max(window, 2 * count);
    for (;;) {
        if (from + static_cast<std::int64_t>(count) > length)
            break;
        if (!ensure(from, count))
            return find_result::source_failed;
        const std::uint8_t* base = buf.data() + (from - win_start);
        std::size_t avail = static_cast<std::size_t>(win_end - from);
        if (avail >= count) {
            const void* hit;
            if (count == 1)
                hit = std::memchr(base, pattern[0], avail);
            else
                hit = ::memmem(base, avail, pattern, count);
            if (hit) {
                std::int64_t at = from + (static_cast<const std::uint8_t*>(hit) - base);
                pos = at + static_cast<std::int64_t>(count);
                at_end = false;
                found_pos = pos;
                return find_result::found;
            }
        }
        if (win_end >= length)
            break;
        // An occurrence across the window's end starts in its last count-1
        // bytes.
        from = win_end - static_cast<std::int64_t>(count) + 1;
        // ensure() keeps at most half the capacity, so it reads new bytes.
        if (!ensure(from, need))
            return find_result::source_failed;
    }
    pos = length;
    at_end = true;
    return find_result::not_found;
}

namespace {

// The byte-at-a-time search for what the vector loops leave over.
const std::uint8_t* next_wanted_line_bytewise(const std::uint8_t* p, const std::uint8_t* scan_end,
                                              const std::uint8_t* data_end, const bool (&wanted)[256])
{
    for (; p < scan_end; ++p) {
        if (*p != '\n')
            continue;
        const std::uint8_t* next = p + 1;
        if (next == data_end || wanted[*next])
            return next;
    }
    return nullptr;
}

// The first byte after a line feed in [p, scan_end) that is marked in wanted
// or is data_end itself; null when there is none. The line feeds of 16 bytes
// are found at once, so that the common case, a line of row data that starts
// with an unmarked byte, costs a bit test rather than a call.
#if defined(__x86_64__)
__attribute__((target("avx2"))) const std::uint8_t* next_wanted_line_avx2(const std::uint8_t* p,
                                                                          const std::uint8_t* scan_end,
                                                                          const std::uint8_t* data_end,
                                                                          const bool (&wanted)[256])
{
    const __m256i lf = _mm256_set1_epi8('\n');
    for (; scan_end - p >= 64; p += 64) {
        __m256i a = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), lf);
        __m256i b = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), lf);
        if (_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_or_si256(a, b)))
            continue;
        std::uint64_t m = static_cast<std::uint32_t>(_mm256_movemask_epi8(a)) |
                          static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(b))) << 32;
        while (m) {
            const std::uint8_t* next = p + __builtin_ctzll(m) + 1;
            if (next == data_end || wanted[*next])
                return next;
            m &= m - 1;
        }
    }
    return next_wanted_line_bytewise(p, scan_end, data_end, wanted);
}
#endif

const std::uint8_t* next_wanted_line(const std::uint8_t* p, const std::uint8_t* scan_end,
                                     const std::uint8_t* data_end, const bool (&wanted)[256])
{
#if defined(__x86_64__)
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (has_avx2)
        return next_wanted_line_avx2(p, scan_end, data_end, wanted);
#endif
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    for (; scan_end - p >= 16; p += 16) {
        unsigned m = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), lf)));
        while (m) {
            const std::uint8_t* next = p + __builtin_ctz(m) + 1;
            if (next == data_end || wanted[*next])
                return next;
            m &= m - 1;
        }
    }
#endif
    return next_wanted_line_bytewise(p, scan_end, data_end, wanted);
}

}  // namespace

ora_dump_stream::find_result ora_dump_stream::find_line(const bool (&wanted)[256], std::int64_t limit,
                                                        std::int64_t& line_pos)
{
    if (has_failed)
        return find_result::source_failed;
    limit = std::min(limit, length);
    // A line starts before limit only after a line feed before limit - 1.
    const std::int64_t last_lf = limit - 1;
    std::int64_t from = pos;
    while (from < last_lf) {
        if (!(from >= win_start && from < win_end) && !ensure(from, window))
            return find_result::source_failed;
        if (from >= win_end)
            break;  // the source ended early
        const std::uint8_t* base = buf.data();
        std::int64_t scan_to = std::min(win_end, last_lf);
        const std::uint8_t* next = next_wanted_line(base + (from - win_start), base + (scan_to - win_start),
                                                    base + (win_end - win_start), wanted);
        if (next) {
            pos = win_start + (next - base);
            at_end = false;
            line_pos = pos;
            return find_result::found;
        }
        from = scan_to;
        if (from >= last_lf)
            break;
        if (!ensure(from, window))
            return find_result::source_failed;
    }
    pos = std::max(pos, limit);
    at_end = pos >= length;
    return find_result::not_found;
}

namespace {

// A search's outcome as found or not; a source that failed under it is a
// damaged file, raised at level 1.
bool found_or_raise(ora_dump_stream::find_result result, const ora_dump_stream& stream, std::int64_t start,
                    int length)
{
    switch (result) {
    case ora_dump_stream::find_result::found:
        return true;
    case ora_dump_stream::find_result::not_found:
        return false;
    case ora_dump_stream::find_result::source_failed:
        break;
    }
    TK_TRACE(1, "pos=%I64d, count=%I64d, len=%d, b_first_pass=%d", start, stream.tell(), length, 1);
    throw tk_exception("Something went wrong when searching a string in the file", 1);
}

}  // namespace

bool seek_to_symbols(ora_dump_stream& stream, const void* pattern, std::size_t count, std::int64_t& found_pos)
{
    if (!stream.good() && !stream.failed())
        return false;
    TK_CHECK(count > 0, "ora_dump_reader", 2101);
    if (count > ora_dump_stream::max_token)
        throw tk_exception("Buffer size is too small", 1);
    const std::int64_t start = stream.tell();
    return found_or_raise(stream.find(static_cast<const std::uint8_t*>(pattern), count, found_pos), stream, start,
                          static_cast<int>(count));
}

bool seek_to_symbols(ora_dump_stream& stream, const char* pattern, std::int64_t& found_pos)
{
    return seek_to_symbols(stream, pattern, std::strlen(pattern), found_pos);
}

bool seek_to_line(ora_dump_stream& stream, const bool (&wanted)[256], std::int64_t limit, std::int64_t& line_pos)
{
    const std::int64_t start = stream.tell();
    return found_or_raise(stream.find_line(wanted, limit, line_pos), stream, start, 1);
}

void seek_to_pos(ora_dump_stream& stream, std::int64_t position)
{
    stream.seek(position);
}

std::string read_table_name(ora_dump_stream& stream)
{
    std::int64_t start = stream.tell();
    std::string name;
    for (std::size_t i = 0; i <= ora_dump_stream::max_token; ++i) {
        int c = stream.peek();
        if (c < 0 || c == '\n')
            return std::string();
        if (c == '(') {
            if (name.empty())
                return name;
            trim_right_inplace(name);
            trim_left_inplace(name);
            return name;
        }
        stream.get();
        name.push_back(static_cast<char>(c));
    }
    // No "(" within the longest name: nothing, and the stream stays where the
    // search stopped.
    (void)start;
    return std::string();
}

void trim_left_inplace(std::string& text)
{
    std::size_t i = text.find_first_not_of(' ');
    text.erase(0, i == std::string::npos ? text.size() : i);
}

void trim_right_inplace(std::string& text)
{
    std::size_t i = text.find_last_not_of(' ');
    text.erase(i == std::string::npos ? 0 : i + 1);
}
