#include "udb_record.h"

#include "tk_logger.h"
#include "tk_string.h"

#include <stdexcept>
#include <utility>

udb_field::udb_field()
{
    TK_TRACE(1, "udb_field::empty ctor");
}

udb_field::udb_field(const std::wstring& name, std::uint32_t size, const ole_variant& value, bool b_not_null,
                     bool b_autoincrement)
    : ole_variant(value), size(size), name(name), b_not_null(b_not_null), b_autoincrement(b_autoincrement)
{
    TK_TRACE(1, "udb_field::ctor #2");
    TK_TRACE(1, "name=%s, size=%d", name, size);
}

udb_field& udb_field::operator=(const ole_variant& value)
{
    ole_variant::operator=(value);
    return *this;
}

udb_field& udb_field::operator=(ole_variant&& value) noexcept
{
    ole_variant::operator=(std::move(value));
    return *this;
}

VARTYPE udb_field::get_type() const
{
    TK_TRACE(1, "ole_variant::get_type");
    return get_vt();
}

const udb_field* udb_record::find(const std::wstring& name) const
{
    for (const auto& field : fields)
        if (tk_compare_no_case(field->name, name) == 0)
            return field.get();
    return nullptr;
}

bool udb_record::find_field(const std::wstring& name) const
{
    TK_TRACE(1, "udb_record::find_field(%s)", name);
    for (const auto& field : fields) {
        TK_TRACE(1, "Processing %s", field->name);
        if (tk_compare_no_case(field->name, name) == 0)
            return true;
    }
    return false;
}

const udb_field* udb_record::get_field(const std::wstring& name) const
{
    // The record's lookup has always traced under the schema's name.
    TK_TRACE(1, "udb_schema::find_field(%s)", name);
    return find(name);
}

udb_field* udb_record::get_field(const std::wstring& name)
{
    return const_cast<udb_field*>(std::as_const(*this).get_field(name));
}

void udb_record::resize(std::size_t count)
{
    if (count <= fields.size()) {
        fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(count), fields.end());
        return;
    }
    fields.reserve(count);
    while (fields.size() < count)
        fields.push_back(std::make_unique<udb_field>());
}

void udb_record::push_back(std::unique_ptr<udb_field> field)
{
    if (!field)
        throw std::invalid_argument("udb_record::push_back: null field");
    fields.push_back(std::move(field));
}

udb_field& udb_record::emplace_back(const std::wstring& name, std::uint32_t size, const ole_variant& value)
{
    fields.push_back(std::make_unique<udb_field>(name, size, value));
    return *fields.back();
}
