#include "udb_schema.h"

#include "tk_logger.h"
#include "tk_string.h"

#include <atomic>
#include <cstdint>

namespace {

std::atomic<std::uint64_t> last_stamp{0};

}  // namespace

void udb_schema::restamp()
{
    stamp = last_stamp.fetch_add(1, std::memory_order_relaxed) + 1;
}

udb_schema::udb_schema()
{
    TK_TRACE(1, "udb_schema::ctor");
    restamp();
}

udb_schema::udb_schema(const udb_schema& other)
    : seed(other.seed), increment(other.increment), fields(other.fields)
{
    restamp();
}

udb_schema& udb_schema::operator=(const udb_schema& other)
{
    if (this != &other) {
        fields = other.fields;
        seed = other.seed;
        increment = other.increment;
        restamp();
    }
    return *this;
}

udb_schema::~udb_schema()
{
    TK_TRACE(1, "udb_schema::dtor");
}

int udb_schema::find(const std::wstring& name) const
{
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (tk_compare_no_case(fields[i]->name, name) == 0)
            return static_cast<int>(i);
    return -1;
}

bool udb_schema::find_field(const std::wstring& name) const
{
    TK_TRACE(1, "udb_schema::find_field(%s)", name);
    TK_TRACE(1, "Schema size=%d", fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const t_ftd* field = fields[i];
        TK_TRACE(1, "Processing field #%d, ptr=%08X", i, reinterpret_cast<std::uintptr_t>(field));
        TK_TRACE(1, "Field name: '%s'", field->name);
        if (tk_compare_no_case(field->name, name) == 0)
            return true;
    }
    return false;
}

int udb_schema::get_field_idx(const std::wstring& name) const
{
    TK_TRACE(1, "udb_schema::get_field_idx(%s)", name);
    return find(name);
}

t_ftd* udb_schema::named(const std::wstring& name, const char* operation) const
{
    TK_TRACE(1, "%s(%s)", operation, name);
    const int i = find(name);
    if (i < 0) {
        TK_TRACE(3, "Field '%s' not found", name);
        return nullptr;
    }
    return fields[static_cast<std::size_t>(i)];
}

t_ftd* udb_schema::get_field1(const std::wstring& name)
{
    return named(name, "udb_schema::get_field1");
}

const t_ftd* udb_schema::get_field2(const std::wstring& name) const
{
    return named(name, "udb_schema::get_field2");
}

void udb_schema::push_back(t_ftd* descriptor)
{
    fields.push_back(descriptor);
    restamp();
}

void udb_schema::clear()
{
    fields.clear();
    restamp();
}
