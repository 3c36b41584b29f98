// The byte stream through which the reader walks a dump.
//
// A dump mixes text lines with binary row data, so the reader never parses
// it whole: it searches forward for byte patterns, reads delimited tokens and
// jumps back to positions it remembered. The stream keeps one cached window
// of the source, so that the line-by-line scan reads each byte of the file
// once however often it seeks, and its state is explicit: the position is
// always the true one, and a failed source reads as the end of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Where the bytes come from.
class ora_dump_source {
public:
    virtual ~ora_dump_source();
    virtual std::int64_t size() const = 0;
    // Up to count bytes at offset into buffer; fewer only at the end of the
    // data. -1 when the source failed.
    virtual std::int64_t read_at(std::int64_t offset, void* buffer, std::size_t count) = 0;
};

// A file read with pread at 64-bit offsets.
class ora_dump_file_source : public ora_dump_source {
public:
    // Raises a level-1 tk_exception_ex when the file does not open.
    explicit ora_dump_file_source(const std::string& path);
    ~ora_dump_file_source() override;
    std::int64_t size() const override { return length; }
    std::int64_t read_at(std::int64_t offset, void* buffer, std::size_t count) override;

private:
    int fd = -1;
    std::int64_t length = 0;
};

// Bytes held in memory.
class ora_dump_memory_source : public ora_dump_source {
public:
    explicit ora_dump_memory_source(std::vector<std::uint8_t> bytes);
    explicit ora_dump_memory_source(const std::string& bytes);
    std::int64_t size() const override { return static_cast<std::int64_t>(data.size()); }
    std::int64_t read_at(std::int64_t offset, void* buffer, std::size_t count) override;

private:
    std::vector<std::uint8_t> data;
};

// A source that fails every read reaching at or beyond fail_offset; for
// tests of the failure paths.
class ora_dump_failing_source : public ora_dump_source {
public:
    ora_dump_failing_source(std::unique_ptr<ora_dump_source> inner, std::int64_t fail_offset);
    std::int64_t size() const override { return inner->size(); }
    std::int64_t read_at(std::int64_t offset, void* buffer, std::size_t count) override;

private:
    std::unique_ptr<ora_dump_source> inner;
    std::int64_t fail_offset;
};

// The token delimiters: the C white-space characters and NUL.
extern const bool AdjustDelimiters[256];

class ora_dump_stream {
public:
    static constexpr std::size_t default_window = 1u << 20;
    // The longest token, name or search pattern this reader handles.
    static constexpr std::size_t max_token = 4096;

    explicit ora_dump_stream(std::unique_ptr<ora_dump_source> source,
                             std::size_t window = default_window);
    ora_dump_stream(const ora_dump_stream&) = delete;
    ora_dump_stream& operator=(const ora_dump_stream&) = delete;

    // Opens a file; raises a level-1 tk_exception_ex when it does not open.
    static std::unique_ptr<ora_dump_stream> open_file(const std::string& path,
                                                      std::size_t window = default_window);

    std::int64_t size() const { return length; }
    std::int64_t tell() const { return pos; }
    // A read reached the end of the data.
    bool eof() const { return at_end; }
    // The source failed, or a seek went outside the data.
    bool failed() const { return has_failed; }
    // Neither at the end nor failed: callers take anything else for the end.
    bool good() const { return !at_end && !has_failed; }
    // Clears both states.
    void clear() { at_end = false; has_failed = false; }

    // Positions the stream and clears the end state; a position outside
    // [0, size] marks the stream failed and leaves it where it is. A failed
    // stream stays failed.
    bool seek(std::int64_t position);

    // The number of bytes actually read; fewer than count sets the end state.
    std::size_t read(void* buffer, std::size_t count);
    // The next byte, or -1 at the end (which sets the end state).
    int get()
    {
        if (pos >= win_start && pos < win_end && !has_failed) {
            ++pos;
            return buf[static_cast<std::size_t>(pos - 1 - win_start)];
        }
        return get_slow();
    }
    // The next byte without taking it, or -1 at the end.
    int peek()
    {
        if (pos >= win_start && pos < win_end && !has_failed)
            return buf[static_cast<std::size_t>(pos - win_start)];
        return peek_slow();
    }

    // Skips delimiters, then takes bytes up to the next delimiter (which is
    // left in the stream). False when no token starts before the end of the
    // data. A token longer than max is consumed whole; text then holds its
    // first max bytes and too_long is set.
    bool read_token(std::string& text, bool& too_long, std::size_t max = max_token);

    // Searches forward from the current position. Found: the stream stands
    // right after the first occurrence and found_pos holds that position.
    // Not found: the stream stands at the end of the data, in the end state.
    // A failure of the source returns false and marks the stream failed.
    enum class find_result { found, not_found, source_failed };
    find_result find(const std::uint8_t* pattern, std::size_t count, std::int64_t& found_pos);

    // The line scan's search: moves to the start of the next line (the
    // position after a line feed) whose first byte is marked in wanted, or
    // whose first byte lies outside the window, and gives that position.
    // Lines that start with an unmarked byte are passed in memory. not_found
    // when no such line starts before limit: the stream then stands at the
    // limit or, at the end of the data, in the end state.
    find_result find_line(const bool (&wanted)[256], std::int64_t limit, std::int64_t& line_pos);

    // The bytes from the position on as they stand in the window, at least
    // want of them where the data has them (available says how many); null
    // at the end, in the failed state or when the source fails. The
    // position does not move.
    const std::uint8_t* view(std::size_t want, std::size_t& available);
    // The bytes fetched from the source so far.
    std::uint64_t bytes_read() const { return fetched; }
    std::size_t window_size() const { return window; }

private:
    int get_slow();
    int peek_slow();
    // Makes the window hold [from, from + need) as far as the data allows;
    // false when the source failed.
    bool ensure(std::int64_t from, std::size_t need);

    std::unique_ptr<ora_dump_source> source;
    std::size_t window;
    std::int64_t length;
    std::vector<std::uint8_t> buf;
    std::int64_t win_start = 0;
    std::int64_t win_end = 0;
    std::int64_t pos = 0;
    bool at_end = false;
    bool has_failed = false;
    std::uint64_t fetched = 0;
};

// The search, positioning and name operations the scans and the table
// readers share.
//
// seek_to_symbols: see ora_dump_stream::find. A stream at its end gives false
// at once; a pattern above 4096 bytes raises the level-1 "Buffer size is too
// small"; a failing source raises the level-1 "Something went wrong when
// searching a string in the file". An empty pattern is an internal error.
bool seek_to_symbols(ora_dump_stream& stream, const void* pattern, std::size_t count,
                     std::int64_t& found_pos);
bool seek_to_symbols(ora_dump_stream& stream, const char* pattern, std::int64_t& found_pos);
void seek_to_pos(ora_dump_stream& stream, std::int64_t position);

// Puts a shared stream back where it stood, its end state cleared, on every
// exit of the scope: a read that raised may have left it mid-row or at its
// end.
class ora_stream_restore {
public:
    explicit ora_stream_restore(ora_dump_stream& stream) : stream(stream), position(stream.tell()) {}
    ora_stream_restore(const ora_stream_restore&) = delete;
    ora_stream_restore& operator=(const ora_stream_restore&) = delete;
    ~ora_stream_restore()
    {
        stream.clear();
        stream.seek(position);
    }
    std::int64_t where() const { return position; }

private:
    ora_dump_stream& stream;
    std::int64_t position;
};

// The line scan's search (ora_dump_stream::find_line), with the failures of
// seek_to_symbols: false at the end of the data or at the limit, and the
// level-1 "Something went wrong when searching a string in the file" when
// the source fails.
bool seek_to_line(ora_dump_stream& stream, const bool (&wanted)[256], std::int64_t limit, std::int64_t& line_pos);
// The text from the current position up to the next "(" on the same line,
// without blanks at either end; the stream is left just before the "(".
// The search stops at the line feed and after 4096 bytes: then the text is
// empty and the stream stands where the search stopped (before the line feed).
std::string read_table_name(ora_dump_stream& stream);

void trim_left_inplace(std::string& text);
void trim_right_inplace(std::string& text);
