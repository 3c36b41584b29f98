// The row decoder of generation 9 dumps: CLOB character sets and extra
// descriptions in the field descriptions, RAW values continued in pieces,
// and little-endian LOB text of the UTF-8 sets.
#pragma once

#include "ora_dump_reader_th_8.h"

class ora_dump_reader_th_9 : public ora_dump_reader_th_8 {
public:
    ora_dump_reader_th_9() = default;
    int generation() const override { return 9; }
    void skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos) override;
    bool swap_utf8_lob() const override { return false; }

protected:
    void read_longraw_bytes(ora_dump_stream& stream, std::uint16_t length, std::vector<std::uint8_t>* out) override;
    // The field descriptions of generations 9 to 12; refine: the object
    // types of generation 10 and later, which also refine column types.
    void read_descriptions(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos, bool refine);
};
