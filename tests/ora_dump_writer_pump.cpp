#include "ora_dump_writer_pump.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>

namespace ora_pump {

namespace {

void put_u16be(bytes& out, std::size_t at, std::uint16_t v)
{
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

void put_u32be(bytes& out, std::size_t at, std::uint32_t v)
{
    put_u16be(out, at, static_cast<std::uint16_t>(v >> 16));
    put_u16be(out, at + 2, static_cast<std::uint16_t>(v & 0xFFFF));
}

void append_u16be(bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

std::string num(int v) { return std::to_string(v); }

std::string schema_obj(const std::string& owner, const std::string& name)
{
    return "<SCHEMA_OBJ><OBJ_NUM>7</OBJ_NUM><OWNER_NAME>" + owner + "</OWNER_NAME><NAME>" + name +
           "</NAME><TYPE_NAME>TABLE</TYPE_NAME></SCHEMA_OBJ>";
}

// With the table's columns given, each reference carries the column's
// number as the export writes it (a key of several columns needs them).
std::string col_refs(const std::vector<std::string>& names, const char* item,
                     const std::vector<column>* table = nullptr)
{
    std::string s;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string number;
        for (std::size_t c = 0; table && c < table->size(); ++c)
            if ((*table)[c].name == names[i])
                number = "<COL_NUM>" + num((*table)[c].col_num ? (*table)[c].col_num : static_cast<int>(c + 1)) +
                         "</COL_NUM>";
        s += std::string("<") + item + "><POS_NUM>" + num(static_cast<int>(i + 1)) + "</POS_NUM><COL>" + number +
             "<NAME>" + names[i] + "</NAME></COL></" + item + ">";
    }
    return s;
}

const char* const declaration = "<?xml version=\"1.0\"?><ROWSET><ROW>\n  ";
const char* const closing = "</ROW></ROWSET>";

}  // namespace

void put_export_fields(bytes& out, const header_fields& f)
{
    if (f.block_size == 0)
        return;
    const std::size_t need = 67 + f.job_name.size() + 1;
    if (out.size() < need)
        throw std::invalid_argument("no room for the export's fields");
    put_u32be(out, 35, f.block_size);
    put_u32be(out, 54, f.master_block);
    put_u32be(out, 58, static_cast<std::uint32_t>(f.master_length >> 32));
    put_u32be(out, 62, static_cast<std::uint32_t>(f.master_length));
    std::copy(f.job_name.begin(), f.job_name.end(), out.begin() + 67);
    out[67 + f.job_name.size()] = 0;
}

bytes header(const header_fields& f)
{
    std::size_t size = f.size < 52 ? 52 : f.size;
    if (f.block_size != 0)
        size = std::max(size, 67 + f.job_name.size() + 1);
    bytes out(size, 0);
    out[0] = f.major;
    out[1] = f.minor;
    put_u16be(out, 33, f.part);
    put_u16be(out, 39, f.charset_id);
    out[51] = f.flags;
    for (const auto& [at, v] : f.extra)
        if (at < out.size() && at != 0 && at != 1 && at != 33 && at != 34 && at != 39 && at != 40 && at != 51)
            out[at] = v;
    put_export_fields(out, f);
    return out;
}

bytes utf16be(const std::string& s)
{
    std::wstring wide;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        std::size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else {
            cp = c & 0x07;
            n = 4;
        }
        if (i + n > s.size())
            throw std::invalid_argument("cut UTF-8");
        for (std::size_t k = 1; k < n; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        wide.push_back(static_cast<wchar_t>(cp));
    }
    return ora_rows::utf16be(wide);
}

bytes stored_document(const std::string& xml, const document_form& form)
{
    const bytes text = form.utf16 ? utf16be(xml) : bytes(xml.begin(), xml.end());
    bytes out;
    if (form.chunks.empty()) {
        out.assign(form.prefix, form.prefix + 4);
        out.insert(out.end(), text.begin(), text.end());
        return out;
    }
    std::size_t at = 0;
    auto put = [&](std::uint8_t kind, std::size_t size) {
        if (size > 0xFFFF || at + size > text.size())
            throw std::invalid_argument("chunk beyond the text");
        if (kind == 1) {
            out.push_back(0x01);
            out.push_back(0xFE);
        } else {
            out.push_back(kind);
            out.push_back(0x01);
            out.push_back(0xFE);
        }
        append_u16be(out, static_cast<std::uint16_t>(size));
        out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(at),
                   text.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    };
    for (const chunk& c : form.chunks)
        put(c.kind, c.size);
    if (at < text.size())
        put(1, text.size() - at);
    return out;
}

std::string column_items(const std::vector<column>& columns)
{
    std::string s;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const column& c = columns[i];
        const int n = c.col_num ? c.col_num : static_cast<int>(i + 1);
        s += "<COL_LIST_ITEM><OBJ_NUM>1</OBJ_NUM><COL_NUM>" + num(n) + "</COL_NUM><INTCOL_NUM>" + num(n) +
             "</INTCOL_NUM><SEGCOL_NUM>" + num(n) + "</SEGCOL_NUM><PROPERTY>0</PROPERTY><NAME>" + c.name +
             "</NAME><TYPE_NUM>" + num(c.type_num) + "</TYPE_NUM><LENGTH>" + num(c.length) + "</LENGTH>";
        if (c.precision)
            s += "<PRECISION_NUM>" + num(*c.precision) + "</PRECISION_NUM>";
        if (c.scale)
            s += "<SCALE>" + num(*c.scale) + "</SCALE>";
        s += std::string("<NOT_NULL>") + (c.not_null ? "1" : "0") + "</NOT_NULL>";
        if (c.charsetid)
            s += "<CHARSETID>" + num(c.charsetid) + "</CHARSETID><CHARSETFORM>" +
                 (c.charsetid == 2000 ? "2" : "1") + "</CHARSETFORM>";
        s += "</COL_LIST_ITEM>";
    }
    return s;
}

std::string strmtable_doc(const std::string& owner, const std::string& name, const std::vector<column>& columns)
{
    return std::string(declaration) +
           "<STRMTABLE_T><VERS_MAJOR>1</VERS_MAJOR><VERS_MINOR>2 </VERS_MINOR><OWNER_NAME>" + owner +
           "</OWNER_NAME><NAME>" + name + "</NAME><COL_LIST>" + column_items(columns) + "</COL_LIST></STRMTABLE_T>" +
           closing;
}

std::string table_doc(const std::string& owner, const std::string& name, const std::vector<column>& columns,
                      const std::vector<key>& keys, const std::vector<foreign_key>& fks)
{
    std::string s = std::string(declaration) + "<TABLE_T><VERS_MAJOR>2</VERS_MAJOR><VERS_MINOR>5 </VERS_MINOR>" +
                    schema_obj(owner, name) + "<COL_LIST>" + column_items(columns) + "</COL_LIST>";
    if (!keys.empty()) {
        s += "<CON1_LIST>";
        for (const key& k : keys) {
            s += "<CON1_LIST_ITEM><OWNER_NUM>102</OWNER_NUM><NAME>" + k.name + "</NAME><CONTYPE>" + num(k.contype) +
                 "</CONTYPE><COL_LIST>" + col_refs(k.columns, "COL_LIST_ITEM", &columns) + "</COL_LIST><IND>" +
                 schema_obj(owner, k.name) + "</IND></CON1_LIST_ITEM>";
        }
        s += "</CON1_LIST>";
    }
    if (!fks.empty()) {
        s += "<CON2_LIST>";
        for (const foreign_key& fk : fks)
            s += "<CON2_LIST_ITEM><NAME>" + fk.name + "</NAME><CONTYPE>4</CONTYPE>" +
                 schema_obj(fk.ref_owner, fk.ref_table) + "<SRC_COL_LIST>" + col_refs(fk.src, "SRC_COL_LIST_ITEM") +
                 "</SRC_COL_LIST><TGT_COL_LIST>" + col_refs(fk.tgt, "TGT_COL_LIST_ITEM") +
                 "</TGT_COL_LIST></CON2_LIST_ITEM>";
        s += "</CON2_LIST>";
    }
    return s + "</TABLE_T>" + closing;
}

std::string constraint_doc(const std::string& owner, const std::string& table, const key& k)
{
    return std::string(declaration) + "<CONSTRAINT_T><VERS_MAJOR>1</VERS_MAJOR><OWNER_NAME>" + owner +
           "</OWNER_NAME><BASE_OBJ><OBJ_NUM>5</OBJ_NUM><OWNER_NAME>" + owner + "</OWNER_NAME><NAME>" + table +
           "</NAME></BASE_OBJ><CON1><OWNER_NUM>9</OWNER_NUM><NAME>" + k.name + "</NAME><CONTYPE>" + num(k.contype) +
           "</CONTYPE><COL_LIST>" + col_refs(k.columns, "COL_LIST_ITEM") + "</COL_LIST><IND><SCHEMA_OBJ><NAME>" +
           k.name + "</NAME></SCHEMA_OBJ></IND></CON1></CONSTRAINT_T>" + closing;
}

std::string ref_constraint_doc(const std::string& owner, const std::string& table, const foreign_key& fk)
{
    return std::string(declaration) + "<REF_CONSTRAINT_T><OWNER_NAME>" + owner + "</OWNER_NAME><BASE_OBJ><OWNER_NAME>" +
           owner + "</OWNER_NAME><NAME>" + table + "</NAME></BASE_OBJ><CON2><NAME>" + fk.name +
           "</NAME><CONTYPE>4</CONTYPE>" + schema_obj(fk.ref_owner, fk.ref_table) + "<SRC_COL_LIST>" +
           col_refs(fk.src, "SRC_COL_LIST_ITEM") + "</SRC_COL_LIST><TGT_COL_LIST>" +
           col_refs(fk.tgt, "TGT_COL_LIST_ITEM") + "</TGT_COL_LIST></CON2></REF_CONSTRAINT_T>" + closing;
}

std::string other_doc(const std::string& body)
{
    return "<?xml version=\"1.0\"?><OTHER>" + body + "</OTHER>";
}

bytes value(const bytes& v)
{
    bytes out;
    if (v.size() >= 0xFE) {
        if (v.size() > 0xFFFF)
            throw std::invalid_argument("value too long");
        out.push_back(0xFE);
        append_u16be(out, static_cast<std::uint16_t>(v.size()));
    } else {
        out.push_back(static_cast<std::uint8_t>(v.size()));
    }
    out.insert(out.end(), v.begin(), v.end());
    return out;
}

bytes null_value() { return bytes{0xFF}; }

bytes record(const std::vector<bytes>& values, int field_count, std::uint8_t marker, const bytes& tail)
{
    bytes out{marker, 0, 0};
    out.push_back(static_cast<std::uint8_t>(field_count < 0 ? values.size() : static_cast<std::size_t>(field_count)));
    for (const bytes& v : values)
        out.insert(out.end(), v.begin(), v.end());
    out.insert(out.end(), tail.begin(), tail.end());
    if (out.size() > 0xFFFF)
        throw std::invalid_argument("record too long");
    put_u16be(out, 1, static_cast<std::uint16_t>(out.size()));
    return out;
}

bytes lob_record(std::uint8_t marker, const std::vector<bytes>& values, const bytes& lob_bytes, int field_count)
{
    bytes out{marker};
    out.push_back(static_cast<std::uint8_t>(field_count < 0 ? values.size() : static_cast<std::size_t>(field_count)));
    for (const bytes& v : values)
        out.insert(out.end(), v.begin(), v.end());
    out.insert(out.end(), lob_bytes.begin(), lob_bytes.end());
    return out;
}

writer::writer(const header_fields& fields) : out(header(fields)) {}

std::int64_t writer::document(const std::string& xml, const document_form& form, std::int64_t* end)
{
    const std::int64_t at = offset();
    const bytes stored = stored_document(xml, form);
    out.insert(out.end(), stored.begin(), stored.end());
    if (end)
        *end = offset();
    return at;
}

std::int64_t writer::zeros(std::size_t count)
{
    const std::int64_t at = offset();
    out.insert(out.end(), count, 0);
    return at;
}

std::int64_t writer::raw(const bytes& b)
{
    const std::int64_t at = offset();
    out.insert(out.end(), b.begin(), b.end());
    return at;
}

bool writer::write_file(const std::string& path) const
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(f);
}

namespace {

header_fields export_header(std::uint32_t block_size, header_fields f)
{
    f.block_size = block_size;
    f.size = std::max<std::size_t>(f.size, block_size);
    f.job_name = std::string("\"") + export_writer::master_owner + "\".\"" + export_writer::master_name + "\"";
    return f;
}

// A text value in the dump's character set (AL32UTF8 in the writer's
// header), NULL when empty.
bytes text_value(const std::string& utf8)
{
    if (utf8.empty())
        return null_value();
    return value(bytes(utf8.begin(), utf8.end()));
}

bytes number_value(std::int64_t v) { return value(ora_rows::number(std::to_string(v))); }

}  // namespace

export_writer::export_writer(std::uint32_t block_size, const header_fields& header)
    : block(block_size), fields(export_header(block_size, header)), w(fields)
{
    if (block_size < 512 || (block_size & (block_size - 1)) != 0)
        throw std::invalid_argument("a block size is a power of two from 512");
    pad_to_block();
}

void export_writer::pad_to_block()
{
    const std::int64_t over = w.offset() % block;
    if (over != 0)
        w.zeros(static_cast<std::size_t>(block - over));
}

export_writer::unit export_writer::stream_unit(const std::string& owner, const std::string& name,
                                               const std::vector<column>& columns, const std::vector<bytes>& rows)
{
    unit u;
    const bytes block_header{0xFF, 0xFF, 0x24, 0x24, 0x0A};
    u.start = w.raw(block_header);
    // The prefix's last two bytes begin the next block, as the export
    // writes them.
    w.zeros(block - block_header.size() - 2);
    u.document = w.document(strmtable_doc(owner, name, columns));
    u.rows = w.offset();
    for (const bytes& r : rows)
        w.raw(r);
    u.rows_end = w.offset();
    pad_to_block();
    u.end = w.offset();
    return u;
}

export_writer::unit export_writer::table(const export_table& t)
{
    if (!t.has_data)
        return unit();
    return stream_unit(t.owner, t.name, t.columns, t.rows);
}

std::vector<column> export_writer::master_columns()
{
    return {
        {"PROCESS_ORDER", 2, 22, {}, {}},
        {"OBJECT_TYPE", 1, 30, {}, {}, 873},
        {"OBJECT_SCHEMA", 1, 128, {}, {}, 873},
        {"OBJECT_NAME", 1, 128, {}, {}, 873},
        {"PARTITION_NAME", 1, 128, {}, {}, 873},
        {"SUBPARTITION_NAME", 1, 128, {}, {}, 873},
        {"COMPLETED_ROWS", 2, 22, {}, {}},
        {"XML_CLOB", 112, 4000, {}, {}, 873},
    };
}

std::vector<bytes> export_writer::master_rows(const std::vector<export_table>& tables)
{
    std::vector<bytes> rows;
    std::int64_t order = 1;
    for (const export_table& t : tables) {
        // The TABLE row: the in-row values, then the CLOB as the last LOB
        // (flag 04), 01 FE and a 2-byte size.
        const bytes doc = utf16be(table_doc(t.owner, t.name, t.columns, t.keys));
        if (doc.size() > 0xFFFF)
            throw std::invalid_argument("document too long");
        bytes lob{0x04, 0x01, 0xFE, static_cast<std::uint8_t>(doc.size() >> 8),
                  static_cast<std::uint8_t>(doc.size() & 0xFF)};
        lob.insert(lob.end(), doc.begin(), doc.end());
        rows.push_back(lob_record(0x08,
                                  {number_value(order), text_value("TABLE"), text_value(t.owner),
                                   text_value(t.name), null_value(), null_value(), null_value()},
                                  lob));
        const std::int64_t completed =
            t.completed_rows ? *t.completed_rows : static_cast<std::int64_t>(t.has_data ? t.rows.size() : 0);
        rows.push_back(record({number_value(order), text_value("TABLE_DATA"), text_value(t.owner),
                               text_value(t.name), null_value(), null_value(), number_value(completed)}));
        ++order;
    }
    return rows;
}

export_writer::unit export_writer::master(const std::vector<export_table>& tables)
{
    const unit u = stream_unit(master_owner, master_name, master_columns(), master_rows(tables));
    fields.master_block = static_cast<std::uint32_t>(u.start / block + 1);
    fields.master_length = static_cast<std::uint64_t>(u.rows_end - u.start);
    put_export_fields(w.data(), fields);
    return u;
}

bytes export_writer::whole(const std::vector<export_table>& tables, std::uint32_t block_size)
{
    export_writer e(block_size);
    for (const export_table& t : tables)
        e.table(t);
    e.master(tables);
    return e.data();
}

file_writer::file_writer(const std::string& path, const header_fields& fields, std::size_t batch_size)
    : batch(batch_size ? batch_size : 1)
{
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    good = fd >= 0;
    pending.reserve(std::min<std::size_t>(batch, std::size_t(1) << 24));
    raw(header(fields));
}

file_writer::~file_writer() { close(); }

void file_writer::flush()
{
    const std::uint8_t* p = pending.data();
    std::size_t left = pending.size();
    if (fd < 0 && left > 0)
        good = false;
    while (good && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            good = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    written += static_cast<std::int64_t>(pending.size());
    pending.clear();
}

std::int64_t file_writer::raw(const std::uint8_t* data, std::size_t count)
{
    const std::int64_t at = offset();
    pending.insert(pending.end(), data, data + count);
    if (pending.size() >= batch)
        flush();
    return at;
}

std::int64_t file_writer::zeros(std::size_t count)
{
    const std::int64_t at = offset();
    pending.insert(pending.end(), count, 0);
    if (pending.size() >= batch)
        flush();
    return at;
}

std::int64_t file_writer::document(const std::string& xml, const document_form& form, std::int64_t* end)
{
    const std::int64_t at = raw(stored_document(xml, form));
    if (end)
        *end = offset();
    return at;
}

bool file_writer::close()
{
    // After an earlier close this fails on any byte appended since.
    flush();
    if (fd >= 0 && ::close(fd) != 0)
        good = false;
    fd = -1;
    return good;
}

}  // namespace ora_pump
