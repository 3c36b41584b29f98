#include "pgs_exception.h"

#include "tk_logger.h"

pgs_exception::pgs_exception(const std::string& message) : tk_exception(message, 0)
{
    TK_TRACE(2, "pgs_exception::ctor");
}
