// Bytes as hexadecimal text.
#include "tk_string.h"

std::string tk_bin_to_hex(const unsigned char* bytes, std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    if (!bytes)
        return out;
    out.resize(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return out;
}
