#include "tk_error_converter.h"

#include "tk_exception.h"
#include "tk_logger.h"

tk_error_converter::tk_error_converter(int count, const entry* table)
{
    TK_TRACE(2, "tk_error_converter::ctor (map size=%d)", count);
    load_map(count, table);
}

void tk_error_converter::load_map(int count, const entry* table)
{
    TK_TRACE(2, "tk_error_converter::load_map (map size=%d)", count);
    TK_CHECK(table != nullptr, "tk_errco", 43);
    for (int i = 0; i < count; ++i) {
        // emplace leaves an existing code alone, so the first text wins.
        texts.emplace(table[i].code, table[i].text ? std::string(table[i].text) : std::string());
    }
}

std::string tk_error_converter::convert(int code) const
{
    TK_TRACE(2, "tk_error_converter::convert(%d)", code);
    auto it = texts.find(code);
    if (it == texts.end()) {
        TK_TRACE(1, "Error message not found!");
        return std::string();
    }
    TK_TRACE(1, "Error message has been found: %s", it->second);
    return it->second;
}
