// The XML metadata of a Data Pump dump: one document (a ROWSET of ROW
// elements) turned into a table name during the scan, or into the columns,
// keys and foreign keys of a table when the table is opened.
#pragma once

#include "udb_database.h"
#include "udb_indexes.h"
#include "udb_recordset.h"

#include <xercesc/sax/HandlerBase.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Initialises Xerces-C for its scope. Pairs nest (the library counts them)
// and are serialised, so guards of different threads cannot race. Every
// Xerces object must be destroyed before the guard that covers it ends.
class xml_platform_guard {
public:
    xml_platform_guard();
    ~xml_platform_guard();
    xml_platform_guard(const xml_platform_guard&) = delete;
    xml_platform_guard& operator=(const xml_platform_guard&) = delete;
};

class ora_dump_parser : public xercesc::HandlerBase {
public:
    // Indexes per (owner, table), filled from constraint documents.
    using global_index_map = std::map<std::pair<std::wstring, std::wstring>, udb_indexes>;

    // Larger documents are refused before they reach the XML library.
    static constexpr std::size_t max_document_size = std::size_t(64) << 20;
    // Real metadata declares no entities at all (&amp; and the other
    // predefined ones do not count), so these bounds only ever stop a
    // document built to exhaust memory: at most this many expansions, of
    // entities whose text is at most this long.
    static constexpr unsigned entity_expansion_limit = 1000;
    static constexpr std::size_t max_entity_value = 4096;

    // The fields of one column item as its elements give them. PRECISION_NUM
    // and SCALE are written only when the column has them, so whether each
    // was seen is kept beside its value.
    struct column_record {
        std::int32_t length = 0;
        std::int32_t type_num = 0;
        std::int32_t charsetid = 0;
        std::wstring name;
        bool not_null = false;
        std::int32_t precision_num = 0;
        std::int32_t scale = 0;
        bool has_precision = false;
        bool has_scale = false;
        std::int32_t col_num = -1;
        std::int32_t segcol_num = -1;
    };

    // Document kinds.
    enum : int { kind_none = 0, kind_table = 1, kind_stream_table = 2, kind_constraint = 3 };

    // What a handler stands for; the rules of each kind are in the parser's
    // tables.
    enum class handler_kind : std::uint8_t {
        root,
        rowset,
        row,
        table,
        stream_table,
        constraint,
        ref_constraint,
        schema,
        baseobj,
        col_list,
        col_list_item,
        conx_list,
        conx_item,
        ind,
        col,
        hidden,
        name,
        base_name,
        owner,
        contype,
        charset,
        type_num,
        length,
        precision_num,
        scale,
        colnum,
        segcol_num,
        not_null,
    };

    // One entry of the handler stack: the element it stands for and where
    // that element started. Its callbacks follow the rules of its kind.
    class elem_handler {
    public:
        elem_handler(ora_dump_parser& parser, handler_kind kind, std::u16string element, std::int64_t depth);
        virtual ~elem_handler() = default;
        elem_handler(const elem_handler&) = delete;
        elem_handler& operator=(const elem_handler&) = delete;

        virtual void startElement(const XMLCh* name);
        // own: the element that ends is the one this handler stands for.
        virtual void endElement(const XMLCh* name, bool own);
        virtual void characters(const XMLCh* text, std::size_t length);

        handler_kind kind() const { return kind_; }
        const std::u16string& element() const { return element_; }
        std::int64_t depth() const { return depth_; }

    protected:
        ora_dump_parser& parser;

    private:
        void end_own();
        void act_on_text();

        handler_kind kind_;
        std::u16string element_;
        std::int64_t depth_;
        // The element's text, gathered over every piece the library hands
        // over (text handlers only).
        std::u16string text;
    };

    // The bottom of the stack, never removed: it takes the ROWSET element.
    class root_handler : public elem_handler {
    public:
        explicit root_handler(ora_dump_parser& parser);
        void startElement(const XMLCh* name) override;
        void endElement(const XMLCh* name, bool own) override;
    };

    explicit ora_dump_parser(bool native_types = false);
    ~ora_dump_parser() override;
    ora_dump_parser(const ora_dump_parser&) = delete;
    ora_dump_parser& operator=(const ora_dump_parser&) = delete;

    // Name mode. The text is UTF-8 whatever the document declares; length
    // may count a terminating zero. Gives the name of the table the document
    // describes (empty for constraint documents and for documents that
    // cannot be read) and stops reading as soon as the name is known. Never
    // raises.
    std::wstring parse_table_name(const char* text, std::size_t length);
    // Describe mode: adds the document's columns, indexes and keys to the
    // table and, when the parse ended normally, its foreign keys to the
    // database (when one is given). Never raises: failures are logged, and
    // what was built before them stays. Gives columns_complete().
    bool parse_table_description(const char* text, std::size_t length, udb_recordset& table,
                                 udb_database* database);

    // Keys mode: reads a TABLE_T document for its table name and owner (as
    // name mode gives them), its primary and unique keys, which are added
    // to keys, and its foreign keys (get_relationships). Columns are read
    // for nothing. Never raises; false when the document is no TABLE_T or
    // could not be read to its end (what was read before stays).
    bool parse_table_keys(const char* text, std::size_t length, udb_indexes& keys);

    // Set by the scan before parse_table_name.
    void set_global_indexes(global_index_map* map) { global_indexes = map; }

    // Read after a parse.
    // The latest OWNER_NAME, which a foreign key's own SCHEMA_OBJ replaces.
    const std::wstring& get_owner() const { return owner; }
    // The owner that was current when the table name was read: the table's
    // own owner.
    const std::wstring& get_table_owner() const { return table_owner; }
    int get_kind() const { return doc_kind; }
    const std::vector<t_relationship>& get_relationships() const { return relationships; }
    // True when a column list of the table ended with every one of its
    // columns added, and there was at least one. Values are decoded by
    // position, so a table with a gap in its columns must not be read.
    bool columns_complete() const { return complete; }
    // The text of the failure that ended the parse early ("Unknown field
    // type", the XML library's message, ...); empty when none did.
    const std::string& failure_message() const { return failure; }

    // The SAX callbacks.
    void startElement(const XMLCh* const name, xercesc::AttributeList& attributes) override;
    void endElement(const XMLCh* const name) override;
    void characters(const XMLCh* const chars, const XMLSize_t length) override;
    void warning(const xercesc::SAXParseException& exc) override;
    void error(const xercesc::SAXParseException& exc) override;
    void fatalError(const xercesc::SAXParseException& exc) override;
    void resetErrors() override {}
    // External entities resolve to nothing: a document cannot pull in a
    // file or a URL.
    xercesc::InputSource* resolveEntity(const XMLCh* const public_id, const XMLCh* const system_id) override;

private:
    friend class elem_handler;
    friend class root_handler;

    enum class run_result { normal, stopped, failed };
    run_result run(const char* text, std::size_t length, const char* mode);

    void push(handler_kind kind, const XMLCh* element);
    void pop();

    void set_name(const std::wstring& text);
    void store_column_item(const std::u16string& element);
    void end_column_list(const std::u16string& element);
    void add_field(column_record& column);
    void add_index();
    void add_global_index();
    void add_foreign_key();
    std::int32_t column_number(const column_record& column) const;
    void reset_column() { column = column_record(); }
    void clear_lists()
    {
        column_map.clear();
        target_columns.clear();
    }
    std::vector<std::wstring> trimmed_map_names() const;
    void note_failure(const std::string& text);

    std::vector<std::unique_ptr<elem_handler>> handlers;
    udb_recordset* target = nullptr;
    udb_indexes* key_sink = nullptr;
    std::wstring constraint_name;
    std::wstring table_name;
    std::wstring ref_table_name;
    std::wstring owner;
    std::wstring table_owner;
    int name_state = 0;
    int doc_kind = kind_none;
    int constraint_type = 0;
    bool describe = false;
    global_index_map* global_indexes = nullptr;
    column_record column;
    std::map<std::int32_t, column_record> column_map;
    std::vector<column_record> target_columns;
    std::vector<t_relationship> relationships;
    std::set<std::int32_t> xmltype_numbers;
    bool native_types;

    std::int64_t depth = 0;
    bool complete = false;
    std::string failure;
};
