// The failure every server error of the PostgreSQL target becomes: level 0,
// so the reporter skips the record or the table and the run goes on.
#pragma once

#include "tk_exception.h"

#include <string>

class pgs_exception : public tk_exception {
public:
    explicit pgs_exception(const std::string& message);
};
