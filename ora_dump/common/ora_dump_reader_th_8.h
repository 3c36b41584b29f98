// The row decoder of generation 8 dumps. Versions 8.0.4 to 8.0.6 write no
// skip flag in their field descriptions, so the decoder keeps the dump's
// version numbers.
#pragma once

#include "ora_dump_reader_th.h"

class ora_dump_reader_th_8 : public ora_dump_reader_th {
public:
    ora_dump_reader_th_8(int major = 0, int minor = 0, int patch = 0);
    int generation() const override { return 8; }
    void skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos) override;

    int version_major;
    int version_minor;
    int version_patch;

protected:
    void read_longraw_bytes(ora_dump_stream& stream, std::uint16_t length, std::vector<std::uint8_t>* out) override;
};
