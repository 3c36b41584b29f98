// The failure every server error of the PostgreSQL target becomes: level 0,
// so the reporter skips the record or the table and the run goes on; except
// a lost connection, after which the run cannot go on.
#pragma once

#include "tk_exception.h"

#include <string>

class pgs_exception : public tk_exception {
public:
    explicit pgs_exception(const std::string& message);

protected:
    pgs_exception(const std::string& message, int level);
};

// The connection to the server is gone. Nothing after it can be written, so
// it is no failure of one record or table: level 1, which ends the run (and
// the console program) after its one report.
class pgs_connection_lost : public pgs_exception {
public:
    explicit pgs_connection_lost(const std::string& message);
};
