// The sample dump of the main command (samples/sample.dmp): a small export
// by SCOTT of three tables of our own invention.
#pragma once

#include "classic_dump_builder.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sample_dump {

// DEPT, EMP and EVENTS, in dump order.
std::vector<classic_dump::table> tables();
classic_dump::bytes bytes();

struct table_count {
    const char* name;  // as velcagent names the table by default
    std::size_t rows;
};
inline constexpr table_count counts[] = {{"dept", 5}, {"emp", 30}, {"events", 15}};

}  // namespace sample_dump
