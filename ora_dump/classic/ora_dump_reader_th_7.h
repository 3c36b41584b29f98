// The row decoder of generation 7 dumps: LOB values stand in the row.
#pragma once

#include "ora_dump_reader_th.h"

class ora_dump_reader_th_7 : public ora_dump_reader_th {
public:
    ora_dump_reader_th_7();
    int generation() const override { return 7; }
    void skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos) override;

protected:
    std::int16_t initial_skip_flag() const override { return 1; }
};
