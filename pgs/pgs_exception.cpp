#include "pgs_exception.h"

#include "tk_logger.h"

pgs_exception::pgs_exception(const std::string& message) : tk_exception(message, 0)
{
    TK_TRACE(2, "pgs_exception::ctor");
}

pgs_exception::pgs_exception(const std::string& message, int level) : tk_exception(message, level)
{
    TK_TRACE(2, "pgs_exception::ctor");
}

pgs_connection_lost::pgs_connection_lost(const std::string& message) : pgs_exception(message, 1)
{
    TK_TRACE(2, "pgs_connection_lost::ctor");
}
