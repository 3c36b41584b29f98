// One table of a dump seen as a recordset.
//
// The table does not read row bytes itself: the row decoder of the dump's
// generation does, at positions the table keeps. All tables of a dump share
// one stream, so the table positions the stream before every read; init and
// get_item put it back where they found it (also when they raise), while
// reset, prev and a move of next to a new block leave it at the row they
// move to.
//
// Rows are never loaded ahead: the table keeps the positions of the current
// row, a few rows before it and, once known, the row after it, each with
// the block whose column list decodes it.
#pragma once

#include "ole_variant.h"
#include "table_pos.h"
#include "udb_database.h"
#include "udb_recordset.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class ora_dump_reader_th;
class ora_dump_stream;
class udb_record;

class ora_dump_table : public udb_recordset {
public:
    // One data block of the table: for a classic table the rows after one
    // INSERT INTO line, for a Data Pump table one partition.
    struct partition {
        // Classic: the block's first row. Data Pump: the partition's first
        // record.
        std::int64_t position = 0;
        // The decoder's skip flag was non-zero after the block's field
        // descriptions: the rows carry their LOB values in row.
        bool skip = false;
        // The INSERT's column names, in INSERT order.
        std::vector<std::wstring> field_names;
    };

    // A kept row position and the block (index into m_partitions) whose
    // column list decodes it.
    struct record_pos {
        std::int64_t position = 0;
        std::size_t block = 0;
    };

    // At most this many row positions, the cursor's row included, stay
    // kept after a move of the cursor.
    static constexpr std::size_t kept_positions = 5;
    // The longest CREATE TABLE rest of line or INSERT column list read.
    static constexpr std::size_t max_line = 1u << 20;

    ora_dump_table(udb_database* db, bool native_types, const std::wstring& name);
    ~ora_dump_table() override;

    // Reads the table's definition and finds its blocks. A missing stream or
    // decoder is an internal error. A header text starting with "EXPORT:"
    // (ignoring case) is a classic dump, anything else Data Pump. The stream
    // stands where it stood before. Definitions that cannot be parsed raise
    // the level-0 failure of the column; a damaged INSERT line answers no.
    bool init(ora_dump_stream* stream, const table_pos& pos, ora_dump_reader_th* decoder,
              const std::string& header_text);
    // Data Pump initialisation.
    bool _init1(std::int64_t position, const table_pos& pos);
    // Classic initialisation.
    bool _init2(std::int64_t position, const table_pos& pos);

    // The scan's step over a classic table's rows. prepare_walk reads the
    // table's definition from its CREATE TABLE line at start_pos, reading no
    // further than end_pos; walk_block then steps over the rows of the
    // INSERT block at insert_pos by their framing, decoding no value. It
    // gives true with end after the block's end marker, or false with end
    // where the framing was lost: at the row that cannot be framed, or after
    // the INSERT line when its column list or field descriptions cannot be
    // read. progress is called every few thousand rows with the position.
    bool prepare_walk(ora_dump_stream* stream, ora_dump_reader_th* decoder, std::int64_t start_pos,
                      std::int64_t end_pos);
    bool walk_block(std::int64_t insert_pos, std::int64_t& end, const std::function<void(std::int64_t)>& progress);

    // The recordset slots. append_record does nothing: a dump is read only.
    void append_record(udb_record& record) override;
    // Decodes the cursor's row; the record stays the table's until the next
    // get_item. Raises "Out of recordset range." at the end and passes the
    // decoder's failures on.
    udb_record* get_item() override;
    bool is_eof() override;
    // Moves on to the next row, or to the first row of the next block when
    // the rows of this block ended or cannot be found any more.
    void next() override;
    void prev() override;
    void reset() override;

    // Hands the table's section and the stream position to the reader's
    // progress.
    void set_progress();
    // Every double-quoted name of an INSERT column list, in order; the
    // level-1 "Cannot parse the list of fields in the INSERT statement" when
    // there is none.
    std::vector<std::wstring> get_fields_names(const std::string& text) const;
    // The position after the next line feed from the current position,
    // looking no further than limit (-1: the end of the data); -1 when there
    // is none. The stream does not move; its end state is cleared.
    std::int64_t find_delimeter(std::int64_t limit = -1);

    // Counts the table among the live tables of its database: increments
    // *counter now and decrements it when the table is destroyed.
    void set_live_counter(std::atomic<int>* counter);

    const std::vector<partition>& partitions() const { return m_partitions; }
    std::int64_t start_pos() const { return m_start_pos; }
    std::int64_t end_pos() const { return m_end_pos; }
    bool is_datapump() const { return m_b_datapump != 0; }
    bool native_types() const { return b_native_types != 0; }

    // Table definitions from the DDL text
    //
    // Parses the CREATE TABLE text after the table name; raises the level-0
    // "Cannot parse table decription, [TABLE] " failure for a column that
    // cannot be parsed.
    bool process_table_desc(const std::string& text);
    // One column definition of the CREATE TABLE list.
    bool add_field(const std::string& definition);
    // A PRIMARY KEY or UNIQUE piece of the CREATE TABLE list, named by
    // CONSTRAINT "N" or not: the table's key, as an ALTER TABLE line would
    // give it. Other pieces, and keys on columns the table lacks, add
    // nothing.
    void add_table_constraint(const std::string& definition);
    // Adds a key by the index rules; a second primary key of another name
    // is none.
    void add_key(udb_index key);
    bool get_type(const std::string& type_word, std::uint32_t& size, VARTYPE& vartype, int& scale, int& precision,
                  std::int32_t& ora_type);
    // The numbers between the parentheses of a type word.
    bool get_typesize(const std::string& type_word, std::vector<std::int64_t>& sizes);
    // The CREATE INDEX statements at the places the scan recorded.
    bool parse_indexes(const std::vector<table_pos::index_record>& places);
    // The ALTER TABLE statements; hands the foreign keys to the database.
    bool parse_alters(const std::vector<std::pair<std::int64_t, std::int64_t>>& places);
    // One constraint clause from the stream's position (after ADD). No
    // read passes limit (-1: the end of the table's section).
    void parse_keys(std::vector<t_relationship>& relationships, std::int64_t limit = -1);
    // A parenthesised column list from the stream, as dump text; empty for
    // an expression (a nested parenthesis).
    std::string get_index_fields(std::int64_t limit = -1);
    // A parenthesised column list from the stream, as names.
    void get_field_list(std::vector<std::wstring>& names, std::int64_t limit = -1);
    // The clause after ALTER TABLE ... MODIFY DEFAULT: a line feed, its
    // 16-bit length and the text giving one column its default.
    void parse_default();

protected:
    // Called at the start of each INSERT block of the classic
    // initialisation; a seam for tests of the failure paths.
    virtual void on_insert_block(std::int64_t position);

    // Classic: the definition from the CREATE TABLE line at m_start_pos.
    bool read_definition();
    // Classic: the INSERT line at insert_pos: the text of its column list
    // (left as it was for a list of two characters or less) and the
    // position after its line feed, where the field descriptions start.
    // False when the line is not a whole INSERT INTO ... VALUES line.
    bool read_insert_line(std::int64_t insert_pos, std::string& fields_text, std::int64_t& rows_at);

    // Positions the stream at the first row of block, gives that position
    // and hands the block's skip flag and column names to the decoder.
    std::int64_t enter_block(std::size_t block);
    // Hands the block's skip flag and column names to the shared decoder
    // and makes it the current block.
    void give_decoder(std::size_t block);
    // Data Pump: the stream to the first record of the partition. Defined
    // with the Data Pump initialisation.
    std::int64_t pump_enter_block(const partition& block);
    // From block on, enters the first block that has a row, keeps the
    // row's position and gives true; false when none has. A Data Pump
    // partition without a record where its rows begin is passed over, and
    // reported when what stands there is none of what ends a partition.
    bool enter_rows(std::size_t block);
    // Data Pump: the rows of a partition end at pos; reports what stands
    // there when it is neither the end of the data nor what the export
    // writes after a partition.
    void check_rows_end(std::int64_t pos);
    // Data Pump: the rows of the table ended; reports a number of rows that
    // differs from what the export wrote.
    void rows_ended();
    // A level-0 report about the table's rows, outside any record.
    void report_rows(const std::string& text) const;
    // The cursor's reset without the reports of the rows' end.
    void rewind();

    // Drops kept positions behind the cursor beyond kept_positions.
    void trim_kept_positions();
    // Text of the dump in the database character set.
    std::wstring dump_text(const std::string& text) const;

    // Shared with the database and the other tables; not owned.
    ora_dump_stream* m_stream = nullptr;
    ora_dump_reader_th* m_decoder = nullptr;
    udb_database* m_db = nullptr;

    // The cursor's row is m_lst_records[m_cursor]; m_cursor equal to the
    // size is the end.
    std::deque<record_pos> m_lst_records;
    std::size_t m_cursor = 0;
    // get_item read the cursor's row, so a missing next position means the
    // rows of its block ended.
    bool m_next_known = false;
    // The block of the cursor's row.
    std::size_t m_cur_partition = 0;
    std::vector<partition> m_partitions;

    // First the start of the CREATE TABLE line, then the first row; and the
    // end of the table's section, which bounds every read of the decoder.
    std::int64_t m_start_pos = 0;
    std::int64_t m_end_pos = 0;

    std::unique_ptr<udb_record> m_record;
    // Data Pump: the rows the export wrote (-1: unknown), the row positions
    // found since the last reset, whether the rows' end was reported, and
    // whether the ends of partitions are reported at all (not while the
    // table is initialised).
    std::int64_t m_export_rows = -1;
    std::uint64_t m_rows_found = 0;
    bool m_rows_end_reported = false;
    bool m_report_ends = true;
    std::uint8_t m_b_datapump = 0;
    std::uint8_t b_native_types = 0;

    std::atomic<int>* m_live_counter = nullptr;
};

// The text without trailing line feeds, carriage returns and blanks; a text
// of one character stays as it is.
std::string smart_trim_tail(const std::string& text);
