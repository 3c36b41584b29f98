#include "ora_dump_parser.h"

#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

#include <algorithm>
#include <limits>
#include <mutex>
#include <string_view>

using namespace xercesc;

namespace {

std::mutex& platform_mutex()
{
    static std::mutex m;
    return m;
}

}  // namespace

xml_platform_guard::xml_platform_guard()
{
    std::lock_guard<std::mutex> lock(platform_mutex());
    XMLPlatformUtils::Initialize("en_US");
}

xml_platform_guard::~xml_platform_guard()
{
    std::lock_guard<std::mutex> lock(platform_mutex());
    XMLPlatformUtils::Terminate();
}

namespace {

using hk = ora_dump_parser::handler_kind;

// Element names are ASCII: an ASCII case fold is all they need.
char16_t ascii_upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }

bool same_name(std::u16string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_upper(a[i]) != ascii_upper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool starts_with_name(std::u16string_view a, std::string_view prefix)
{
    return a.size() >= prefix.size() && same_name(a.substr(0, prefix.size()), prefix);
}

bool ends_with_name(std::u16string_view a, std::string_view suffix)
{
    return a.size() >= suffix.size() && same_name(a.substr(a.size() - suffix.size()), suffix);
}

// CON1_LIST, CON2_LIST, ...
bool is_constraint_list(std::u16string_view name)
{
    return name.size() > 8 && starts_with_name(name, "CON") && ends_with_name(name, "_LIST");
}

// CON1_LIST_ITEM, CON2_LIST_ITEM, ...
bool is_constraint_item(std::u16string_view name)
{
    return name.size() > 13 && starts_with_name(name, "CON") && ends_with_name(name, "_LIST_ITEM");
}

std::wstring wide(std::u16string_view text) { return tk_u16_to_wstring(text); }

// A key's column name, its end blanks removed, names a column of that name
// (letter case ignored) or one whose own name ends in blanks.
bool has_key_column(const udb_schema& schema, const std::wstring& trimmed)
{
    if (schema.find_field(trimmed))
        return true;
    for (const t_ftd* column : schema)
        if (tk_compare_no_case(tk_trim(column->name), trimmed) == 0)
            return true;
    return false;
}

std::string utf8(const XMLCh* text)
{
    if (!text)
        return std::string();
    return tk_wide_to_utf8(tk_u16_to_wstring(std::u16string_view(text)));
}

// A decimal integer: leading blanks, an optional sign, then digits; 0 when
// there are none. Values beyond 32 bits saturate.
struct parsed_number {
    std::int32_t value = 0;
    bool has_digits = false;
};

parsed_number parse_number(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    constexpr std::int64_t limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    std::int64_t magnitude = 0;
    parsed_number result;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        result.has_digits = true;
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - u'0'), limit);
    }
    if (negative)
        result.value = static_cast<std::int32_t>(-magnitude);
    else
        result.value = static_cast<std::int32_t>(std::min<std::int64_t>(magnitude, limit - 1));
    return result;
}

// The handler tables. A handler pushes a child for an element that its kind
// lists (an exact name or one of the constraint patterns), in the given name
// state only when one is given; pushing may change the name state, empty the
// lists, reset the current column and set the document kind.
enum class name_match : std::uint8_t { exact, constraint_list, constraint_item };

enum effect : std::uint8_t {
    fx_none = 0,
    fx_clear = 1,            // empty the column map and the target list
    fx_reset = 2,            // reset the current column
    fx_empty_map = 4,        // empty the column map only
    fx_empty_targets = 8,    // empty the target list only
    fx_state_2_to_3 = 16,    // a column item of a constraint
};

struct child_rule {
    hk parent;
    const char* element;
    name_match match;
    hk pushed;
    std::int8_t in_state;   // -1: in any state
    std::int8_t new_state;  // -1: unchanged
    std::uint8_t effects;
    std::int8_t doc_kind;   // -1: unchanged
};

constexpr name_match X = name_match::exact;

constexpr child_rule child_rules[] = {
    {hk::rowset, "ROW", X, hk::row, -1, -1, fx_none, -1},

    {hk::row, "TABLE_T", X, hk::table, -1, -1, fx_none, ora_dump_parser::kind_table},
    {hk::row, "STRMTABLE_T", X, hk::stream_table, -1, -1, fx_none, ora_dump_parser::kind_stream_table},
    {hk::row, "CONSTRAINT_T", X, hk::constraint, -1, -1, fx_none, ora_dump_parser::kind_constraint},
    {hk::row, "REF_CONSTRAINT_T", X, hk::ref_constraint, -1, -1, fx_none, ora_dump_parser::kind_constraint},

    {hk::table, "SCHEMA_OBJ", X, hk::schema, -1, -1, fx_none, -1},
    {hk::table, "COL_LIST", X, hk::col_list, -1, 1, fx_clear | fx_reset, -1},
    {hk::table, nullptr, name_match::constraint_list, hk::conx_list, -1, 2, fx_clear | fx_reset, -1},

    {hk::stream_table, "NAME", X, hk::name, -1, -1, fx_none, -1},
    {hk::stream_table, "OWNER_NAME", X, hk::owner, -1, -1, fx_none, -1},
    {hk::stream_table, "COL_LIST", X, hk::col_list, -1, 1, fx_clear | fx_reset, -1},

    {hk::constraint, "BASE_OBJ", X, hk::baseobj, -1, -1, fx_none, -1},
    {hk::constraint, "CON1", X, hk::conx_item, -1, 2, fx_clear | fx_reset, -1},
    {hk::ref_constraint, "BASE_OBJ", X, hk::baseobj, -1, -1, fx_none, -1},
    {hk::ref_constraint, "CON2", X, hk::conx_item, -1, 2, fx_clear | fx_reset, -1},

    {hk::schema, "NAME", X, hk::name, -1, -1, fx_none, -1},
    {hk::schema, "OWNER_NAME", X, hk::owner, -1, -1, fx_none, -1},
    {hk::baseobj, "NAME", X, hk::name, -1, -1, fx_none, -1},
    {hk::baseobj, "OWNER_NAME", X, hk::owner, -1, -1, fx_none, -1},

    {hk::col_list, "COL_LIST_ITEM", X, hk::col_list_item, -1, -1, fx_reset | fx_state_2_to_3, -1},
    {hk::col_list, "SRC_COL_LIST_ITEM", X, hk::col_list_item, 5, -1, fx_reset | fx_state_2_to_3, -1},
    {hk::col_list, "TGT_COL_LIST_ITEM", X, hk::col_list_item, 6, -1, fx_reset | fx_state_2_to_3, -1},

    {hk::col_list_item, "NAME", X, hk::name, -1, -1, fx_none, -1},
    {hk::col_list_item, "BASE_COL_NAME", X, hk::base_name, -1, -1, fx_none, -1},
    {hk::col_list_item, "COL", X, hk::col, -1, -1, fx_none, -1},
    {hk::col_list_item, "COL_NUM", X, hk::colnum, -1, -1, fx_none, -1},
    {hk::col_list_item, "SEGCOL_NUM", X, hk::segcol_num, -1, -1, fx_none, -1},
    {hk::col_list_item, "CHARSETID", X, hk::charset, -1, -1, fx_none, -1},
    {hk::col_list_item, "TYPE_NUM", X, hk::type_num, -1, -1, fx_none, -1},
    {hk::col_list_item, "LENGTH", X, hk::length, -1, -1, fx_none, -1},
    {hk::col_list_item, "PRECISION_NUM", X, hk::precision_num, -1, -1, fx_none, -1},
    {hk::col_list_item, "SCALE", X, hk::scale, -1, -1, fx_none, -1},
    {hk::col_list_item, "NOT_NULL", X, hk::not_null, -1, -1, fx_none, -1},
    // Constraint, LOB and type metadata of a column: nothing inside them
    // describes the column itself.
    {hk::col_list_item, "CON", X, hk::hidden, -1, -1, fx_none, -1},
    {hk::col_list_item, "LOBMD", X, hk::hidden, -1, -1, fx_none, -1},
    {hk::col_list_item, "TYPEMD", X, hk::hidden, -1, -1, fx_none, -1},

    {hk::col, "NAME", X, hk::name, -1, -1, fx_none, -1},
    {hk::col, "COL_NUM", X, hk::colnum, -1, -1, fx_none, -1},
    {hk::col, "SEGCOL_NUM", X, hk::segcol_num, -1, -1, fx_none, -1},

    {hk::conx_list, nullptr, name_match::constraint_item, hk::conx_item, -1, -1, fx_reset, -1},

    {hk::conx_item, "COL_LIST", X, hk::col_list, -1, -1, fx_clear | fx_reset, -1},
    {hk::conx_item, "IND", X, hk::ind, -1, 7, fx_none, -1},
    {hk::conx_item, "SCHEMA_OBJ", X, hk::schema, -1, 4, fx_none, -1},
    {hk::conx_item, "SRC_COL_LIST", X, hk::col_list, -1, 5, fx_empty_map, -1},
    {hk::conx_item, "TGT_COL_LIST", X, hk::col_list, -1, 6, fx_empty_targets, -1},
    {hk::conx_item, "NAME", X, hk::name, -1, -1, fx_none, -1},
    {hk::conx_item, "CONTYPE", X, hk::contype, -1, -1, fx_none, -1},
};

const child_rule* find_rule(hk parent, std::u16string_view element, int state)
{
    for (const child_rule& r : child_rules) {
        if (r.parent != parent || (r.in_state >= 0 && r.in_state != state))
            continue;
        bool hit = false;
        switch (r.match) {
        case name_match::exact:
            hit = same_name(element, r.element);
            break;
        case name_match::constraint_list:
            hit = is_constraint_list(element);
            break;
        case name_match::constraint_item:
            hit = is_constraint_item(element);
            break;
        }
        if (hit)
            return &r;
    }
    return nullptr;
}

bool is_text_kind(hk kind)
{
    switch (kind) {
    case hk::name:
    case hk::base_name:
    case hk::owner:
    case hk::contype:
    case hk::charset:
    case hk::type_num:
    case hk::length:
    case hk::precision_num:
    case hk::scale:
    case hk::colnum:
    case hk::segcol_num:
    case hk::not_null:
        return true;
    default:
        return false;
    }
}

// How name mode stops reading once the table name is known.
class name_found : public tk_exception {
public:
    name_found() : tk_exception("table name found", 0) {}
};

// A document built to exhaust memory, refused before the library expands it.
struct xml_refusal {
    std::string message;
};

// Internal entities with long texts multiply memory by every reference, in
// attribute values as well as in text; metadata declares none.
class guarded_sax_parser : public SAXParser {
public:
    void entityDecl(const DTDEntityDecl& decl, const bool is_pe_decl, const bool is_ignored) override
    {
        if (decl.getValueLen() > ora_dump_parser::max_entity_value)
            throw xml_refusal{"the entity '" + utf8(decl.getName()) + "' is longer than " +
                              std::to_string(ora_dump_parser::max_entity_value) + " characters"};
        SAXParser::entityDecl(decl, is_pe_decl, is_ignored);
    }
};

const XMLByte no_bytes[1] = {0};

}  // namespace

// ---------------------------------------------------------------------------
// The handlers.

ora_dump_parser::elem_handler::elem_handler(ora_dump_parser& parser, handler_kind kind, std::u16string element,
                                            std::int64_t depth)
    : parser(parser), kind_(kind), element_(std::move(element)), depth_(depth)
{
}

void ora_dump_parser::elem_handler::startElement(const XMLCh* name)
{
    if (kind_ == hk::hidden || is_text_kind(kind_))
        return;
    const std::u16string_view element(name);
    const child_rule* rule = find_rule(kind_, element, parser.name_state);
    if (!rule)
        return;  // transparent: its children come to this handler
    if (rule->effects & fx_clear)
        parser.clear_lists();
    if (rule->effects & fx_empty_map)
        parser.column_map.clear();
    if (rule->effects & fx_empty_targets)
        parser.target_columns.clear();
    if (rule->effects & fx_reset)
        parser.reset_column();
    if (rule->new_state >= 0)
        parser.name_state = rule->new_state;
    if ((rule->effects & fx_state_2_to_3) && parser.name_state == 2)
        parser.name_state = 3;
    if (rule->doc_kind >= 0)
        parser.doc_kind = rule->doc_kind;
    parser.push(rule->pushed, name);
}

void ora_dump_parser::elem_handler::characters(const XMLCh* chars, std::size_t length)
{
    if (is_text_kind(kind_))
        text.append(chars, length);
}

void ora_dump_parser::elem_handler::endElement(const XMLCh* name, bool own)
{
    switch (kind_) {
    case hk::row:
        // The row handler stays for the next ROW of the set; it compares
        // exactly.
        if (!own) {
            const std::u16string_view n(name);
            if (n == u"TABLE_T" || n == u"STRMTABLE_T" || n == u"CONSTRAINT_T") {
                parser.name_state = 0;
                parser.pop();
            }
        }
        return;
    case hk::col_list:
        TK_WTRACE(1, L"ora_dump_parser::col_list_handler::endElement(%s)", wide(name));
        break;
    case hk::conx_item:
        TK_TRACE(1, "ora_dump_parser::conx_item_handler::endElement");
        break;
    default:
        break;
    }
    if (own)
        end_own();
}

// The end of the element this handler stands for. The handler is destroyed
// by the pop, which therefore comes last.
void ora_dump_parser::elem_handler::end_own()
{
    switch (kind_) {
    case hk::constraint:
    case hk::ref_constraint:
        parser.name_state = 0;
        if (!parser.table_name.empty())
            parser.add_global_index();
        parser.table_name.clear();
        break;
    case hk::schema:
        if (parser.name_state == 4)
            parser.name_state = 2;
        break;
    case hk::col_list:
        parser.end_column_list(element_);
        break;
    case hk::col_list_item:
        parser.store_column_item(element_);
        break;
    case hk::conx_list:
        if (parser.name_state == 2)
            parser.name_state = 0;
        break;
    case hk::conx_item:
        if (is_constraint_item(element_)) {
            parser.add_index();
            parser.name_state = 2;
        }
        break;
    case hk::ind:
        parser.name_state = 2;
        break;
    default:
        if (is_text_kind(kind_))
            act_on_text();
        break;
    }
    parser.pop();
}

void ora_dump_parser::elem_handler::act_on_text()
{
    column_record& c = parser.column;
    switch (kind_) {
    case hk::name:
        TK_WTRACE(1, L"name_handler::characters(%s)", wide(text));
        parser.set_name(wide(text));
        break;
    case hk::base_name:
        parser.set_name(wide(text));
        break;
    case hk::owner:
        parser.owner = wide(text);
        break;
    case hk::contype:
        parser.constraint_type = parse_number(text).value;
        break;
    case hk::charset:
        c.charsetid = parse_number(text).value;
        break;
    case hk::type_num:
        TK_WTRACE(1, L"type_num_handler::characters(%s)", wide(text));
        c.type_num = parse_number(text).value;
        break;
    case hk::length:
        c.length = parse_number(text).value;
        break;
    case hk::precision_num: {
        const parsed_number n = parse_number(text);
        c.precision_num = n.value;
        c.has_precision = n.has_digits;
        break;
    }
    case hk::scale: {
        const parsed_number n = parse_number(text);
        c.scale = n.value;
        c.has_scale = n.has_digits;
        break;
    }
    case hk::colnum:
        c.col_num = parse_number(text).value;
        break;
    case hk::segcol_num:
        c.segcol_num = parse_number(text).value;
        break;
    case hk::not_null:
        c.not_null = text == u"1";
        break;
    default:
        break;
    }
}

ora_dump_parser::root_handler::root_handler(ora_dump_parser& parser)
    : elem_handler(parser, hk::root, std::u16string(), 0)
{
}

void ora_dump_parser::root_handler::startElement(const XMLCh* name)
{
    if (same_name(name, "ROWSET"))
        parser.push(hk::rowset, name);
}

void ora_dump_parser::root_handler::endElement(const XMLCh*, bool) {}

// ---------------------------------------------------------------------------
// The parser.

ora_dump_parser::ora_dump_parser(bool native_types) : native_types(native_types)
{
    handlers.push_back(std::make_unique<root_handler>(*this));
}

ora_dump_parser::~ora_dump_parser() = default;

void ora_dump_parser::push(handler_kind kind, const XMLCh* element)
{
    handlers.push_back(std::make_unique<elem_handler>(*this, kind, std::u16string(element), depth));
}

void ora_dump_parser::pop()
{
    if (handlers.size() > 1)
        handlers.pop_back();
}

void ora_dump_parser::startElement(const XMLCh* const name, AttributeList&)
{
    ++depth;
    handlers.back()->startElement(name);
}

void ora_dump_parser::endElement(const XMLCh* const name)
{
    elem_handler& top = *handlers.back();
    top.endElement(name, top.depth() == depth);
    --depth;
}

void ora_dump_parser::characters(const XMLCh* const chars, const XMLSize_t length)
{
    handlers.back()->characters(chars, length);
}

namespace {

void log_parse_exception(const SAXParseException& exc)
{
    tk_trace(3, "Couldn't parse xml table description: %S, line: %I64d, column: %I64d",
             tk_u16_to_wstring(exc.getMessage() ? exc.getMessage() : u""),
             static_cast<std::int64_t>(exc.getLineNumber()), static_cast<std::int64_t>(exc.getColumnNumber()));
}

}  // namespace

void ora_dump_parser::warning(const SAXParseException& exc) { log_parse_exception(exc); }

void ora_dump_parser::error(const SAXParseException& exc) { log_parse_exception(exc); }

void ora_dump_parser::fatalError(const SAXParseException& exc)
{
    log_parse_exception(exc);
    note_failure(utf8(exc.getMessage()));
}

InputSource* ora_dump_parser::resolveEntity(const XMLCh* const, const XMLCh* const)
{
    return new MemBufInputSource(no_bytes, 0, "no entity", false);
}

void ora_dump_parser::note_failure(const std::string& text)
{
    if (failure.empty())
        failure = text.empty() ? std::string("XML error") : text;
}

ora_dump_parser::run_result ora_dump_parser::run(const char* text, std::size_t length, const char* mode)
{
    TK_TRACE(2, "%s", mode);
    // The callers count the terminating zero; the XML library would take it
    // for content after the document.
    while (length > 0 && text[length - 1] == '\0')
        --length;
    handlers.resize(1);
    depth = 0;
    if (length > max_document_size) {
        const std::string message = "the document is larger than " + std::to_string(max_document_size >> 20) + " MiB";
        tk_trace(3, "Couldn't parse xml table description: %s", message);
        note_failure(message);
        return run_result::failed;
    }
    std::string message;
    bool unknown = false;
    try {
        xml_platform_guard guard;
        // The library's objects, and its exceptions, end inside the guard.
        try {
            SecurityManager security;
            security.setEntityExpansionLimit(entity_expansion_limit);
            guarded_sax_parser parser;
            parser.setValidationScheme(SAXParser::Val_Never);
            parser.setDoNamespaces(false);
            parser.setDoSchema(false);
            parser.setLoadExternalDTD(false);
            parser.setDisableDefaultEntityResolution(true);
            parser.setSecurityManager(&security);
            parser.setDocumentHandler(this);
            parser.setErrorHandler(this);
            parser.setEntityResolver(this);
            // Installs the declaration hook of guarded_sax_parser as well.
            parser.setDTDHandler(this);
            MemBufInputSource source(reinterpret_cast<const XMLByte*>(text), length, "xml table description", false);
            // We always pass UTF-8, whatever the document declares.
            source.setEncoding(u"UTF-8");
            parser.parse(source);
            return run_result::normal;
        } catch (const XMLException& exc) {
            message = utf8(exc.getMessage());
        } catch (const OutOfMemoryException&) {
            message = "out of memory";
        }
    } catch (const tk_exception& exc) {
        if (dynamic_cast<const name_found*>(&exc))
            return run_result::stopped;
        if (!describe)
            return run_result::stopped;
        tk_trace(3, "%s", exc.message);
        note_failure(exc.message);
        return run_result::failed;
    } catch (const xml_refusal& refusal) {
        message = refusal.message;
    } catch (...) {
        unknown = true;
    }
    if (unknown) {
        tk_trace(3, "Couldn't parse xml table description. Unknown error");
        note_failure("Couldn't parse xml table description. Unknown error");
    } else {
        tk_trace(3, "Couldn't parse xml table description: %s", message);
        note_failure(message);
    }
    return run_result::failed;
}

std::wstring ora_dump_parser::parse_table_name(const char* text, std::size_t length)
{
    describe = false;
    target = nullptr;
    if (run(text, length, "ora_dump_parser::parse_table_name") == run_result::failed)
        return std::wstring();
    // A constraint document names no table of its own, even when it breaks
    // off before its end.
    if (doc_kind == kind_constraint)
        return std::wstring();
    TK_WTRACE(2, L"Got table name: %s", table_name);
    return table_name;
}

bool ora_dump_parser::parse_table_description(const char* text, std::size_t length, udb_recordset& table,
                                              udb_database* database)
{
    describe = true;
    target = &table;
    complete = false;
    const run_result result = run(text, length, "ora_dump_parser::parse_table_description");
    if (result == run_result::normal && database)
        database->add_relationships(relationships);
    target = nullptr;
    return complete;
}

bool ora_dump_parser::parse_table_keys(const char* text, std::size_t length, udb_indexes& keys)
{
    describe = true;
    target = nullptr;
    key_sink = &keys;
    const run_result result = run(text, length, "ora_dump_parser::parse_table_keys");
    key_sink = nullptr;
    return result == run_result::normal && doc_kind == kind_table;
}

void ora_dump_parser::set_name(const std::wstring& text)
{
    TK_WTRACE(1, L"ora_dump_parser::set_name(%s)", text);
    switch (name_state) {
    case 0:
        table_name = text;
        table_owner = owner;
        if (!describe && doc_kind != kind_constraint)
            throw name_found();
        break;
    case 1:
    case 3:
    case 5:
    case 6:
        column.name = text;
        break;
    case 2:
        constraint_name = text;
        break;
    case 4:
        ref_table_name = text;
        break;
    default:
        break;
    }
}

std::int32_t ora_dump_parser::column_number(const column_record& c) const
{
    if (c.segcol_num != -1 && c.segcol_num != c.col_num) {
        tk_trace(2, "XML parser warning: Field(%S) SEGCOL_NUM(%d) is not equal to COL_NUM(%d)", c.name,
                 c.segcol_num, c.col_num);
        return c.segcol_num;
    }
    return c.col_num;
}

void ora_dump_parser::store_column_item(const std::u16string& element)
{
    if (same_name(element, "COL_LIST_ITEM") || same_name(element, "SRC_COL_LIST_ITEM")) {
        const std::int32_t number = column_number(column);
        auto it = column_map.find(number);
        if (it != column_map.end())
            it->second.charsetid = column.charsetid;
        else
            column_map.emplace(number, column);
    } else if (same_name(element, "TGT_COL_LIST_ITEM")) {
        target_columns.push_back(column);
    }
}

void ora_dump_parser::end_column_list(const std::u16string& element)
{
    if (same_name(element, "COL_LIST")) {
        if (name_state == 1) {
            TK_TRACE(1, "field_level");
            // A failure part way leaves the list incomplete.
            complete = false;
            for (auto& [number, record] : column_map) {
                TK_TRACE(1, "col_num=%d, oracle_type=%d", record.col_num, record.type_num);
                if (record.type_num == 58)
                    xmltype_numbers.insert(record.col_num);
                else if (xmltype_numbers.count(record.col_num))
                    record.type_num = 58;
                if (number <= 0) {
                    TK_TRACE(2, "Got nested table");
                    record.type_num = 122;
                }
                add_field(record);
            }
            complete = describe && target && !column_map.empty();
            name_state = 0;
        } else if (name_state == 3) {
            TK_TRACE(1, "constraint_field_level");
            name_state = 2;
        }
    } else if (name_state == 5 || name_state == 6) {
        TK_TRACE(1, "constraint_level");
        name_state = 2;
    }
}

void ora_dump_parser::add_field(column_record& c)
{
    TK_TRACE(1, "ora_dump_parser::add_field");
    TK_TRACE(1, "oracle_type=%d, length=%d", c.type_num, c.length);
    if (!target) {
        reset_column();
        return;
    }
    // The NUMBER forms, told apart by which of PRECISION_NUM and SCALE the
    // metadata wrote: neither is NUMBER, SCALE alone INTEGER or NUMBER(*,s),
    // PRECISION_NUM alone FLOAT(b). Precision and scale are taken as they
    // stand: never swapped, a negative scale kept.
    std::int32_t ora_type;
    int precision = c.has_precision ? c.precision_num : 0;
    int scale = c.has_scale ? c.scale : 0;
    const bool number = c.type_num == 2 || c.type_num == 3 || c.type_num == 68;
    if (number && c.has_precision && !c.has_scale) {
        ora_type = t_orcale_ftd::ora_float;
        scale = 0;
    } else if (number) {
        ora_type = t_orcale_ftd::ora_number;
        if (c.has_scale && (!c.has_precision || precision <= 0))
            precision = 38;
    } else {
        ora_type = t_orcale_ftd::native2oratype(c.type_num, static_cast<unsigned>(std::max(c.charsetid, 0)));
    }
    if (ora_type == t_orcale_ftd::ora_none) {
        tk_trace(3, "XML parser error, unknown field type: type %d, charset %d, precision %d, scale %d", c.type_num,
                 c.charsetid, c.precision_num, c.scale);
        throw tk_exception("Unknown field type", 0);
    }
    std::uint32_t size = static_cast<std::uint32_t>(std::max(c.length, 0));
    switch (ora_type) {
    case t_orcale_ftd::ora_blob:
    case t_orcale_ftd::ora_bfile:
    case t_orcale_ftd::ora_clob:
    case t_orcale_ftd::ora_sdo_geometry:
    case t_orcale_ftd::ora_collection:
        TK_TRACE(2, "Tuning field size for type=%d, old size=%d", ora_type, c.length);
        size = 0;
        break;
    default:
        break;
    }
    const unsigned charset = static_cast<unsigned>(std::clamp(c.charsetid, 0, 0xFFFF));
    const VARTYPE vartype = t_orcale_ftd::ora2oletype(ora_type, size, precision, scale, charset);
    auto descriptor = std::make_unique<t_orcale_ftd>(size, ora_type, c.name, vartype, c.not_null, false,
                                                     ole_variant(), 0u);
    descriptor->apply_reserved(precision, scale);
    descriptor->charset_id = static_cast<std::uint16_t>(charset);
    if (native_types && c.type_num != 96) {
        try {
            descriptor->native_type = t_orcale_ftd::native2oratext(c.type_num, size, charset, precision, scale);
            TK_WTRACE(2, L"Store native type: '%s'", descriptor->native_type);
        } catch (const tk_exception&) {
            // A type without a declaration text keeps none.
        }
    }
    target->add_owned_column(std::move(descriptor));
    (void)column_number(c);
    reset_column();
}

std::vector<std::wstring> ora_dump_parser::trimmed_map_names() const
{
    std::vector<std::wstring> names;
    names.reserve(column_map.size());
    for (const auto& [number, record] : column_map)
        names.push_back(tk_trim(record.name));
    return names;
}

void ora_dump_parser::add_index()
{
    TK_TRACE(2, "ora_dump_parser::add_index(contype=%d)", constraint_type);
    if (constraint_type == 4) {
        add_foreign_key();
        return;
    }
    if (!target) {
        // Keys mode: only primary and unique keys are indexes; a CHECK or
        // NOT NULL constraint of the lists is none.
        if (key_sink && (constraint_type == 2 || constraint_type == 3) && !constraint_name.empty()) {
            std::vector<std::wstring> names = trimmed_map_names();
            if (!names.empty())
                key_sink->push_back(udb_index(constraint_name, constraint_type == 3, constraint_type == 2, names));
        }
        constraint_type = 0;
        reset_column();
        column_map.clear();
        return;
    }
    std::vector<std::wstring> names = trimmed_map_names();
    for (const std::wstring& name : names) {
        if (!has_key_column(target->schema, name)) {
            column_map.clear();
            throw tk_exception("Field not found during index creation", 1);
        }
    }
    udb_index index(constraint_name, constraint_type == 3, constraint_type == 2, names);
    constraint_type = 0;
    if (!names.empty())
        target->indexes.push_back(index);
    reset_column();
    column_map.clear();
}

void ora_dump_parser::add_global_index()
{
    TK_TRACE(2, "ora_dump_parser::add_global_index(contype=%d)", constraint_type);
    if (constraint_type == 4) {
        add_foreign_key();
        return;
    }
    if (global_indexes) {
        std::vector<std::wstring> names = trimmed_map_names();
        udb_index index(constraint_name, constraint_type == 3, constraint_type == 2, names);
        constraint_type = 0;
        if (!index.name.empty() && !names.empty())
            (*global_indexes)[{owner, table_name}].push_back(index);
    }
    reset_column();
    column_map.clear();
}

void ora_dump_parser::add_foreign_key()
{
    TK_WTRACE(2, L"ora_dump_parser::add_foreign_key(%s)", constraint_name);
    std::vector<std::wstring> pk_fields;
    pk_fields.reserve(target_columns.size());
    for (const column_record& record : target_columns)
        pk_fields.push_back(tk_trim(record.name));
    relationships.emplace_back(constraint_name, std::wstring(), table_name, ref_table_name, trimmed_map_names(),
                               std::move(pk_fields), std::wstring());
    reset_column();
    column_map.clear();
    target_columns.clear();
    ref_table_name.clear();
    TK_TRACE(1, "ora_dump_parser::add_foreign_key - at the end, rels.size=%d", relationships.size());
}
