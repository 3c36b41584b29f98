// Bytes as hexadecimal text.
#include "tk_string.h"

void tk_append_hex(std::string& out, const unsigned char* bytes, std::size_t count, bool lower)
{
    const std::size_t old = out.size();
    out.resize(old + 2 * count);
    tk_write_hex(out.data() + old, bytes, count, lower);
}

std::string tk_bin_to_hex(const unsigned char* bytes, std::size_t count)
{
    std::string out;
    if (bytes)
        tk_append_hex(out, bytes, count);
    return out;
}
