// The row decoder of a classic export dump, and the value decoders it and
// the Data Pump decoder share.
//
// The table positions the stream at an INSERT block and names the block's
// columns; the decoder reads the block's field descriptions, tells whether
// the block's rows have ended, and turns one row into a udb_record. The
// layout of the field descriptions and some value details differ between
// the export generations 7, 8, 9 and 10 to 12; each has its class.
//
// Framing: every value decoder consumes exactly its bytes (or all its
// chunks) even when the value fails, so one bad value costs that row and no
// more. A failure that loses the framing (a length no slide accepts, data
// that runs past the table or the dump) is an ora_framing_error instead: the
// block's remaining rows cannot be found, and the table moves to the next
// block. Every length, piece and declared total is checked against what is
// left of the table's section before anything is read or allocated.
#pragma once

#include "ora_dump_reader.h"
#include "ole_variant.h"
#include "tk_exception.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ora_dump_stream;
class t_orcale_ftd;
class udb_record;
class udb_schema;

// A level-0 failure after which the rows of the block cannot be found.
class ora_framing_error : public tk_exception {
public:
    explicit ora_framing_error(const std::string& message) : tk_exception(message, 0) {}
};

// An Oracle NUMBER taken apart: sign, base-100 digits (most significant
// first) and the base-100 exponent of the first digit. The value is
// d1.d2d3... * 100^exponent; zero has no digits.
struct ora_number {
    bool negative = false;
    int exponent = 0;
    int count = 0;
    std::uint8_t digits[21] = {};

    // The digits as decimal text, two characters per base-100 digit, and
    // the power of ten the text is to be multiplied by.
    std::string decimal_digits() const;
    int decimal_exponent() const { return 2 * (exponent - count + 1); }
};

class ora_dump_reader_th {
public:
    // The special lengths of a classic row.
    static constexpr std::uint16_t len_null = 0xFFFE;
    static constexpr std::uint16_t len_chunked = 0xFFFD;
    static constexpr std::uint16_t len_end = 0xFFFF;
    // From this many bytes on, a LONG in a code page is kept as UTF-8.
    static constexpr std::size_t large_text_size = 64 * 1024;

    // The decoder of a classic generation: 7, 8, 9 and 10 to 12, which also
    // reads the exports of releases 18 to 23. For
    // generation 8 the three numbers of the header text's "EXPORT:Vaa.bb.cc"
    // are kept. Any other version gives none; the Data Pump decoder (1 and 2)
    // is made by its own reader.
    static std::unique_ptr<ora_dump_reader_th> create(int version, const std::string& header_text);

    ora_dump_reader_th();
    ora_dump_reader_th(const ora_dump_reader_th&) = delete;
    ora_dump_reader_th& operator=(const ora_dump_reader_th&) = delete;
    virtual ~ora_dump_reader_th();

    // 7, 8, 9 or 10.
    virtual int generation() const = 0;

    // Reads the field descriptions after an INSERT line; the stream then
    // stands at the block's first row (or its end marker). Entry i belongs to
    // the INSERT's column i (see set_field_names), which the column
    // refinements find by name. end_pos bounds the reading (-1: the dump's
    // end). Raises level-0 failures for descriptions that do not fit.
    virtual void skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos) = 0;

    // One row in the schema's order. None at an unexpected end of the row
    // (FF FF or 00 00 as a length), with next_pos -1. Otherwise next_pos is
    // the next row's position, set even when a value failed: the row's first
    // value failure is raised after the whole row was read. A framing error
    // leaves next_pos -1. An INSERT name the schema lacks raises the level-1
    // "Unknown field name has been found in INSERT statement: ".
    virtual std::unique_ptr<udb_record> get_record(ora_dump_stream& stream, const udb_schema& schema,
                                                   std::int64_t end_pos, std::int64_t& next_pos);
    // Steps over one classic row by the framing get_record reads it with,
    // decoding no value: gives the next row's position where get_record
    // gives it, or -1 where get_record finds no row. Raises what get_record
    // raises for bytes that cannot be framed, and for an INSERT name the
    // schema lacks.
    std::int64_t skip_row(ora_dump_stream& stream, const udb_schema& schema, std::int64_t end_pos);
    // From the stream's position, up to max_rows rows that skip_row would
    // step over by their lengths alone (no special length, slide, chunk or
    // LOB), stepped over in memory. Stops with the stream at the first row
    // it leaves to skip_row, or at the block's end marker FF FF (at_end);
    // gives that position.
    std::int64_t skip_plain_rows(ora_dump_stream& stream, const udb_schema& schema, std::int64_t end_pos,
                                 std::size_t max_rows, bool& at_end);
    // Whether the block's end marker FF FF stands at the stream's position;
    // the stream does not move.
    virtual bool check_for_eof(ora_dump_stream& stream);
    // Whether two bytes lie between a row's last column and its LOB values.
    virtual bool skip_lob_gap() const { return true; }
    // Sets the skip flag back to the generation's start value and gives it.
    virtual std::int16_t reset_skip_flag();
    // LONG RAW, RAW, BFILE, object types and in-row BLOB bytes.
    void get_longraw_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length);
    // LONG, and chunked CLOB text.
    virtual void get_long_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                                unsigned charset_id);
    virtual void get_xmltype_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                                   unsigned charset_id);
    // Whether LOB text of the UTF-8 sets (871, 873) is big-endian UTF-16.
    virtual bool swap_utf8_lob() const { return true; }

    // The value decoders. Each reads the value's bytes from the stream's
    // position and leaves the stream after them.
    //
    // By the column's value type: numbers, dates, text and byte arrays. A
    // type without a decoder gives the level-0 "Unknown field type".
    void get_ole_value(ole_variant& value, VARTYPE vartype, std::int32_t ora_type, ora_dump_stream& stream,
                       std::uint16_t length);
    // A NUMBER as the given type: VT_DECIMAL exact, VT_R8 correctly rounded,
    // the integer types exact with their range checked.
    void get_floating_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                            VARTYPE vartype = VT_DECIMAL);
    // BINARY_FLOAT (4 bytes) and BINARY_DOUBLE (8 bytes).
    void get_ieee_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length, std::int32_t ora_type);
    void get_string_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length, std::int32_t ora_type);
    void get_datetime_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length);
    void get_timestamp_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length);
    // A BLOB or CLOB value after a classic row: text for VT_BSTR, else bytes.
    void get_blob_value(ole_variant& value, ora_dump_stream& stream, VARTYPE vartype, unsigned charset_id);
    // The Data Pump LOB layout; lob_record tells that a LOB record follows.
    void get_pump_lob_value(ole_variant& value, ora_dump_stream& stream, unsigned charset_id, bool& lob_record);
    // The Data Pump SDO_GEOMETRY layout; length receives the value's size.
    void get_sdo_geometry_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t& length);

    // A column's 2-byte length, slid at most two bytes on while check_length
    // refuses it. FF FF is given back unread.
    std::uint16_t get_field_length(ora_dump_stream& stream, const t_orcale_ftd* column);
    bool check_length(const t_orcale_ftd* column, std::uint16_t length) const;

    // Takes L bytes of an Oracle NUMBER apart; false for bytes that are no
    // number.
    static bool decode_number(const std::uint8_t* bytes, std::size_t length, ora_number& out);

    // The column names of the current INSERT, in INSERT order.
    void set_field_names(std::vector<std::wstring> names);
    const std::vector<std::wstring>& field_names() const { return m_field_names; }

    // How the dump's text is decoded; the dump database gives its copy.
    void set_dump_info(const dump_info& value)
    {
        info = value;
        slots_valid = false;  // check_length reads the character sets
    }
    const dump_info& get_dump_info() const { return info; }

    // The end of the table's section, which bounds every read of the value
    // decoders; -1 leaves only the dump's end.
    void set_end_pos(std::int64_t end_pos) { m_end_pos = end_pos; }

    // 0 when LOB values follow the row, non-zero when the row's bytes are
    // the whole value.
    std::int16_t m_skip_blob_flag = 0;

    // The schema position of a name: an exact match first, then the first
    // match ignoring case; -1 when none.
    static int find_column(const udb_schema& schema, const std::wstring& name);

protected:
    virtual std::int16_t initial_skip_flag() const { return 0; }

    // The first position no read of the current table may reach.
    std::int64_t limit(const ora_dump_stream& stream) const;
    // Raises message 11 unless count bytes remain before the limit.
    void require(const ora_dump_stream& stream, std::uint64_t count) const;
    // count bytes into the scratch buffer; raises message 11 when they are
    // not there.
    const std::uint8_t* take(ora_dump_stream& stream, std::size_t count);
    void skip(ora_dump_stream& stream, std::size_t count);
    std::uint16_t read_u16le(ora_dump_stream& stream);
    std::uint16_t read_u16be(ora_dump_stream& stream);
    std::uint8_t read_u8(ora_dump_stream& stream);
    // Appends count bytes of the stream to out.
    void append(ora_dump_stream& stream, std::vector<std::uint8_t>& out, std::size_t count);
    // The same onto out, or past the bytes when out is null: the framing of
    // a value is walked once, whether its bytes are kept or not.
    void consume(ora_dump_stream& stream, std::vector<std::uint8_t>* out, std::size_t count);

    // The bytes of a LONG RAW, RAW, BFILE or object value of the given row
    // length (chunked for 0xFFFD) onto out, or past them when out is null.
    virtual void read_longraw_bytes(ora_dump_stream& stream, std::uint16_t length, std::vector<std::uint8_t>* out);
    // The bytes of a LONG or chunked CLOB value, the same way.
    void read_long_bytes(ora_dump_stream& stream, std::uint16_t length, std::vector<std::uint8_t>* out);
    // The bytes of a BLOB or CLOB value after a classic row, the same way.
    void read_lob_bytes(ora_dump_stream& stream, std::vector<std::uint8_t>* out);

    // Pieces of a chunked LONG or LONG RAW (length 0xFFFD): sizes repeat
    // until one differs, which is the last piece; two bytes end the value.
    // With zero_last_ends a last size of 0 ends it without them.
    void read_chunks(ora_dump_stream& stream, std::vector<std::uint8_t>* out, bool zero_last_ends);
    // The bytes that read_chunks will append, from the piece sizes alone;
    // the stream stays where it is. A value cut short counts what is there.
    std::uint64_t chunks_length(ora_dump_stream& stream, bool zero_last_ends) const;
    // The chunks of a long LOB after its header, each led by its 16-bit
    // size; a zero size ends them. After each chunk, next(size) reads on
    // and gives the size of the following chunk, or 0 when the LOB's own
    // rule (a total reached, a size that changes) has ended it.
    template <typename Next>
    void append_lob_chunks(ora_dump_stream& stream, std::vector<std::uint8_t>* out, Next next);

    // A record of the schema's column names and sizes with empty values:
    // a row's values are decoded straight into its fields.
    static std::unique_ptr<udb_record> blank_record(const udb_schema& schema);
    // Decodes one value of a row. A level-0 failure that keeps the framing
    // costs that value alone: it is cleared, and the row's first such
    // failure is kept, to be raised once the whole row was read.
    template <typename Decode>
    static void decode_value(ole_variant& value, std::optional<tk_exception>& first_failure, Decode&& decode)
    {
        try {
            decode();
        } catch (const ora_framing_error&) {
            throw;
        } catch (const tk_exception& e) {
            if (e.level != 0)
                throw;
            if (!first_failure)
                first_failure = e;
            value.clear();
        }
    }

    // Text of a LONG, LOB or XMLTYPE by its character-set id.
    enum class utf16_order { big_endian, little_endian };
    std::wstring charset_text(const std::uint8_t* bytes, std::size_t count, unsigned charset_id,
                              utf16_order order) const;
    std::wstring code_page_text(const std::uint8_t* bytes, std::size_t count, unsigned charset_id) const;
    // The code page in which charset_text reads text of a single code page
    // (not UTF-8 or UTF-16); false for the others.
    bool text_code_page(unsigned charset_id, int& code_page) const;

    // The schema column of field description entry i (by INSERT name), or
    // null with a level-2 trace.
    t_orcale_ftd* entry_column(udb_schema& schema, std::size_t entry) const;

    // The entries (type code, size) of a field description; the 4 bytes
    // after codes 1 and 96 are skipped when skip_text_extra is set.
    struct field_entry {
        std::uint16_t code = 0;
        std::uint16_t size = 0;
    };
    std::vector<field_entry> read_entries(ora_dump_stream& stream, bool skip_text_extra, bool trace_entries);

    dump_info info;
    std::int64_t m_end_pos = -1;
    std::vector<std::wstring> m_field_names;
    std::vector<std::uint8_t> scratch;

private:
    struct column_slot {
        int index = -1;
        const t_orcale_ftd* column = nullptr;
    };
    void map_columns(const udb_schema& schema);
    void decode_column(ole_variant& value, const column_slot& slot, ora_dump_stream& stream, std::uint16_t length,
                       bool& queue_lob);
    // The bytes decode_column would consume for the column, passed over.
    void skip_column(const column_slot& slot, ora_dump_stream& stream, std::uint16_t length, bool& queue_lob);
    // The bytes get_ole_value would consume, passed over.
    void skip_ole_value(VARTYPE vartype, std::int32_t ora_type, ora_dump_stream& stream, std::uint16_t length);
    // One row in the mapped columns: decoded into values, or only framed
    // when values is null. False at an unexpected end of the row.
    bool read_row(ora_dump_stream& stream, std::int64_t end_pos, std::int64_t& next_pos, udb_record* values,
                  std::optional<tk_exception>& first_failure);

    std::vector<column_slot> slots;
    // Per slot: the column takes exactly its length's bytes in skip_column,
    // and which lengths below 256 check_length accepts for it.
    std::vector<char> plain_slots;
    std::vector<std::uint64_t> short_lengths;  // 4 words a slot
    std::uint64_t slots_schema = 0;
    bool slots_valid = false;
};

// The messages of the row decoders.
namespace ora_th_messages {
inline constexpr const char* unknown_field_type = "Unknown field type";
inline constexpr const char* eof_reached = "Can't read record. EOF reached";
inline constexpr const char* date_error = "Can't read record. Date error.";
inline constexpr const char* unexpected_data = "Unexpected data at position: %I64d";
inline constexpr const wchar_t* unknown_insert_name = L"Unknown field name has been found in INSERT statement: ";
}  // namespace ora_th_messages
