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

void front_end::reading_file(const std::wstring&) {}

void front_end::run_started() {}

void front_end::dump_warnings(bool, bool) {}

void front_end::converting_file(const std::wstring&, std::uint64_t) {}

void front_end::table_missing(const std::wstring&) {}

void front_end::schema_line(const std::wstring&) {}

void front_end::table_started(const std::wstring&) {}

void front_end::definitions_done(const std::wstring&) {}

void front_end::table_converted(const std::wstring&, std::uint64_t) {}

void front_end::other_exception(const std::string&) {}

void front_end::dump_open_failed(const std::string& text)
{
    other_exception(text);
}
