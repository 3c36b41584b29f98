// Value texts and type maps: the model's values and columns as PostgreSQL
// text, and the catalogue's type names back as VARTYPEs.
#pragma once

#include "ole_variant.h"
#include "t_ftd.h"
#include "udb_record.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum pgs_form { pgs_copy_form = 0, pgs_sql_form = 1 };

// The text of one value: a COPY field (before the writer escapes line feeds
// and carriage returns) or an SQL literal. An invalid date raises the
// level-0 "Invalid date value: '%s'".
std::wstring to_pgs_str(const std::wstring& text, VARTYPE vartype, std::uint32_t reserved, pgs_form form);
// The SQL literal of a field, by its own type.
std::wstring to_pgs_str(const udb_field& field);
// The text after DEFAULT, or empty for no DEFAULT clause.
std::wstring make_pgs_def_val(const t_ftd& column);
// The column type; a level-0 tk_exception for a vartype without one.
std::wstring pgs_get_native_type(const t_ftd& column);
VARTYPE pgs_get_vartype(const char* type_name);
// A null text gives an empty value.
ole_variant pgs_get_variant(VARTYPE vartype, const char* text);

// Appends the finished COPY field of a converted field for its column
// (UTF-8, escapes applied), without building the value's text first. Gives
// the same bytes as to_pgs_str followed by the writer's escapes, except that
// an empty byte array is the empty bytea rather than NULL.
void pgs_append_copy_field(std::string& out, const udb_field& field, const t_ftd& column);

// A value of a COPY line too large to be copied into the line's text: where
// it belongs in the text, and the field. The COPY stream writes it straight
// to the server in pieces (pgs_write_copy_value), so that a value of
// hundreds of megabytes costs no second copy of itself, nor a third for its
// hexadecimal form.
struct pgs_copy_large_value {
    std::size_t at = 0;
    const udb_field* field = nullptr;
};
// The size from which a byte array (in bytes) or a text (in characters) is
// a large value; a text kept as UTF-8 always is one.
inline constexpr std::size_t pgs_copy_large_size = 64 * 1024;
// As above; with large given, a large byte array or text field only takes
// its place in large, and its text is left out of out.
void pgs_append_copy_field(std::string& out, const udb_field& field, const t_ftd& column,
                           std::vector<pgs_copy_large_value>* large);
// The COPY text of a field that pgs_append_copy_field put in large, in
// pieces of about piece bytes: each is appended to buffer, and send takes
// it (and empties buffer).
void pgs_write_copy_value(const udb_field& field, std::size_t piece, std::string& buffer,
                          const std::function<void(std::string&)>& send);

// The texts of text and binary columns longer than this are TEXT and BYTEA
// without DEFAULT or index.
inline constexpr std::uint32_t pgs_max_varchar = 32672;

bool pgs_is_binary_vartype(VARTYPE vartype);
