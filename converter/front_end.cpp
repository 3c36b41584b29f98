#include "front_end.h"

#include "tk_logger.h"

front_end::front_end()
{
    TK_TRACE(2, "front_end::ctor");
}

front_end::~front_end()
{
    TK_TRACE(2, "front_end::dtor");
}
