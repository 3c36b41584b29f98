// The row decoder of generations 10 to 12.
#pragma once

#include "ora_dump_reader_th_9.h"

class ora_dump_reader_th_10 : public ora_dump_reader_th_9 {
public:
    ora_dump_reader_th_10() = default;
    int generation() const override { return 10; }
    void skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos) override;
    bool swap_utf8_lob() const override { return true; }
};
