// Small classic dumps of every generation the reader tells apart (7, 8.0.6,
// 8.1.7, 9, 10 and 12): a table of every kind of column the row decoders
// tell apart, with its index and key, and a plain second table; rows of
// ordinary values, edge values and NULLs. Small enough for every offset to
// be mutated, as the hostile-dump tests and the fuzz seeds do.
#pragma once

#include "ora_dump_writer_rows.h"

namespace ora_rows {

struct generation {
    const char* name;
    const char* header_token;
    int gen;  // 7, 8, 9 or 10
    int minor = 0;
    int patch = 0;
};

extern const generation generations[6];

bytes dump_of(const generation& g);

}  // namespace ora_rows
