#include "tk_file.h"

#include "tk_exception.h"
#include "tk_file_name.h"
#include "tk_logger.h"
#include "tk_utils.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const char* bad_path() { return tk_messages[3]; }
const char* open_failed() { return tk_messages[4]; }
const char* read_failed() { return tk_messages[5]; }
const char* write_failed() { return tk_messages[6]; }

}  // namespace

tk_file::tk_file(const std::string& name, int mode_) : mode(mode_)
{
    TK_TRACE(2, "tk_file::tk_file(%s)", name);
    TK_CHECK(!name.empty(), "tk_file", 20);
    canonical_name = tk_file_name(name).get_full_name();
    TK_TRACE(1, "Canonized file name: %s", canonical_name);
    if (!(mode & 1) && !tk_is_file_exist(canonical_name, 0x4000))
        throw tk_exception(bad_path(), 1);
}

tk_file::~tk_file()
{
    TK_TRACE(2, "tk_file::~tk_file");
    if (stream) {
        std::fclose(stream);
        stream = nullptr;
    }
}

tk_stdio_file::tk_stdio_file(const std::string& name, int mode_) : tk_file(name, mode_)
{
    TK_TRACE(2, "tk_stdio_file::ctor(%s)", name);
    const char* how = (mode & 3) == 3 ? "w+b" : (mode & 1) ? "r+b" : "rb";
    stream = std::fopen(canonical_name.c_str(), how);
    if (!stream)
        throw tk_exception(open_failed(), 1);
}

tk_stdio_file::~tk_stdio_file()
{
    TK_TRACE(2, "tk_stdio_file::dtor");
}

void tk_stdio_file::seek(std::int64_t offset, int whence, const char* failure)
{
    if (offset < 0 || offset > std::numeric_limits<off_t>::max() ||
        ::fseeko(stream, static_cast<off_t>(offset), whence) != 0)
        throw tk_exception(failure, 1);
}

std::int64_t tk_stdio_file::get_length()
{
    TK_TRACE(1, "tk_stdio_file::get_length");
    off_t here = ::ftello(stream);
    if (here < 0 || ::fseeko(stream, 0, SEEK_END) != 0)
        throw tk_exception(read_failed(), 1);
    off_t size = ::ftello(stream);
    if (size < 0 || ::fseeko(stream, here, SEEK_SET) != 0)
        throw tk_exception(read_failed(), 1);
    TK_TRACE(1, "Got file size: %d", static_cast<std::int64_t>(size));
    return size;
}

void* tk_stdio_file::get_at(std::int64_t offset, void* buffer, std::int64_t length)
{
    TK_TRACE(1, "tk_stdio_file::get_at(%d,%d)", offset, length);
    std::int64_t size = get_length();
    if (offset < 0 || length < 0 || length > size || offset > size - length) {
        TK_TRACE(2, "Reading out of range: offset=%d, length=%d, file size=%d", offset, length,
                 size);
        throw tk_exception(read_failed(), 1);
    }
    seek(offset, SEEK_SET, read_failed());
    std::size_t want = static_cast<std::size_t>(length);
    if (want != 0 && std::fread(buffer, 1, want, stream) != want)
        throw tk_exception(read_failed(), 1);
    return buffer;
}

std::uint8_t tk_stdio_file::get_char_at(std::int64_t offset)
{
    std::uint8_t v = 0;
    get_at(offset, &v, sizeof v);
    return v;
}

std::uint16_t tk_stdio_file::get_short_at(std::int64_t offset)
{
    std::uint16_t v = 0;
    get_at(offset, &v, sizeof v);
    return v;
}

std::uint32_t tk_stdio_file::get_long_at(std::int64_t offset)
{
    std::uint32_t v = 0;
    get_at(offset, &v, sizeof v);
    return v;
}

void tk_stdio_file::put_at(std::int64_t offset, const void* data, std::int64_t length)
{
    TK_TRACE(1, "tk_stdio_file::put_at(%d,%d)", offset, length);
    if (offset < 0 || length < 0)
        throw tk_exception(read_failed(), 1);
    std::int64_t size = get_length();
    if (offset > size) {
        TK_TRACE(1, "offset > file_size, padding with nulls");
        seek(0, SEEK_END, read_failed());
        static const char zeros[4096] = {};
        for (std::int64_t left = offset - size; left > 0;) {
            std::size_t n = static_cast<std::size_t>(
                std::min<std::int64_t>(left, static_cast<std::int64_t>(sizeof zeros)));
            if (std::fwrite(zeros, 1, n, stream) != n)
                throw tk_exception(write_failed(), 1);
            left -= static_cast<std::int64_t>(n);
        }
    }
    seek(offset, SEEK_SET, read_failed());
    std::size_t want = static_cast<std::size_t>(length);
    if (want != 0 && std::fwrite(data, 1, want, stream) != want)
        throw tk_exception(write_failed(), 1);
    // A write that the disk refuses (full, quota) shows at the flush; report
    // it here instead of losing it at the close.
    if (std::fflush(stream) != 0)
        throw tk_exception(write_failed(), 1);
}
