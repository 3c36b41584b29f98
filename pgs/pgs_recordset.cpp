// The reader of a PostgreSQL table: its opening, its definition from the
// catalogue (columns, keys, indexes, foreign keys, row count) and its cursor.
// The writing is in pgs_table_writer.cpp.
#include "pgs_recordset.h"

#include "pgs_database.h"
#include "pgs_engine.h"
#include "pgs_exception.h"
#include "pgs_values.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

pgs_engine& engine()
{
    return *pgs_engine::get_instance();
}

}  // namespace

pgs_t_ftd::pgs_t_ftd(std::uint32_t size_, const std::wstring& name_, VARTYPE vartype_, bool b_not_null_,
                     const std::string& orig_type_, bool b_autoincrement_, const ole_variant& default_value_,
                     std::uint32_t reserved_)
    : t_ftd(size_, name_, vartype_, b_not_null_, b_autoincrement_, default_value_, reserved_),
      orig_type(orig_type_)
{
    TK_TRACE(1, "pgs_t_ftd::ctor(size=%d,name=%s)", size_, name_);
    TK_TRACE(1, "orig_type=%s", orig_type_);
}

// -------------------------------------------------------------- opening

pgs_recordset::pgs_recordset(pgs_database& db_, const std::wstring& name_, std::vector<t_relationship>& rels,
                             std::int32_t open_flags_)
    : udb_recordset(name_), open_flags(open_flags_), relationships(rels), db(db_)
{
    TK_TRACE(2, "pgs_recordset::pgs_recordset2(%s)", name_);
    std::tie(schema_name, table_name) = db.split_name(name_);
    TK_TRACE(2, "tname=(%s,%s)", schema_name, table_name);
    init_schema();
    if (schema.empty()) {
        TK_TRACE(2, "Empty table");
        return;
    }
    if ((open_flags & 0x60) != 0x60)
        init_indexes();
    rec_count = get_rec_count();
    TK_TRACE(2, "Got %I64d records", rec_count);
}

pgs_recordset::pgs_recordset(pgs_database& db_, const std::wstring& name_, const std::wstring&,
                             std::vector<t_relationship>& rels, std::int32_t open_flags_)
    : udb_recordset(name_), open_flags(open_flags_), relationships(rels), db(db_)
{
    TK_TRACE(2, "pgs_recordset::pgs_recordset1(%s)", name_);
    std::tie(schema_name, table_name) = db.split_name(name_);
}

pgs_recordset::~pgs_recordset()
{
    TK_TRACE(1, "pgs_recordset::~pgs_recordset");
    if (copy) {
        try {
            copy->complete();
            copy.reset();
            copy_tx->commit();
        } catch (const std::exception& e) {
            TK_TRACE(3, "ERROR: %s", e.what());
        }
    }
    release_copy();
    release_cursor();
    TK_TRACE(1, "pgs_recordset::~pgs_recordset - END");
}

void pgs_recordset::release_copy() noexcept
{
    copy.reset();
    if (copy_tx) {
        copy_tx.reset();
        engine().work_closed();
    }
}

void pgs_recordset::release_cursor() noexcept
{
    cursor.reset();
    block = pqxx::result();
    if (cursor_tx) {
        cursor_tx.reset();
        engine().work_closed();
    }
}

std::string pgs_recordset::table_sql(const std::string& s, const std::string& t)
{
    return "SELECT ordinal_position, column_name,  data_type, character_maximum_length, column_default, "
           "is_nullable, numeric_precision, numeric_precision_radix, numeric_scale, datetime_precision FROM "
           "information_schema.columns  WHERE table_schema = " +
           s + " AND table_name = " + t + " order by table_name, ordinal_position ";
}

std::string pgs_recordset::pk_sql(const std::string& t)
{
    return "SELECT DISTINCT relname FROM pg_class WHERE oid IN ( SELECT indexrelid FROM pg_index, pg_class WHERE "
           "pg_class.relname=" +
           t + " AND pg_class.oid=pg_index.indrelid AND indisunique = 't' AND indisprimary = 't' );";
}

std::string pgs_recordset::pk_detailed_sql(const std::string& t)
{
    return "SELECT DISTINCT pg_attribute.attname as column_name, format_type(pg_attribute.atttypid, "
           "pg_attribute.atttypmod), t.relname, i.relname FROM pg_class t, pg_class i, pg_index ix, pg_attribute "
           "WHERE t.oid=ix.indrelid AND i.oid=ix.indexrelid AND pg_attribute.attrelid=t.oid AND "
           "pg_attribute.attnum=ANY(ix.indkey) AND t.relkind='r' AND t.relname=" +
           t + " AND indisprimary ORDER BY t.relname, i.relname";
}

std::string pgs_recordset::indices_sql(const std::string& t)
{
    return "SELECT relname, indkey, indisunique   FROM pg_class, pg_index   WHERE pg_class.oid = "
           "pg_index.indexrelid     AND pg_class.oid IN (   SELECT indexrelid   FROM pg_index, pg_class   WHERE "
           "pg_class.relname=" +
           t + "   AND pg_class.oid=pg_index.indrelid   AND indisunique != 't'   AND indisprimary != 't') ";
}

std::string pgs_recordset::fk_sql(const std::string& t)
{
    return "SELECT c.conname AS constraint_name, __t.relname AS table_name,  array_to_string(c.conkey, ' ') AS "
           "constraint_key, __t2.relname AS references_table, array_to_string(c.confkey, ' ') AS "
           "fk_constraint_key,  c.contype AS constraint_type, confdeltype AS on_delete, confupdtype AS on_update "
           "FROM pg_constraint c LEFT JOIN pg_class __t  ON c.conrelid  = __t.oid LEFT JOIN pg_class __t2 ON "
           "c.confrelid = __t2.oid WHERE c.contype = 'f' and __t.relname  = " +
           t;
}

std::int64_t pgs_recordset::parse_count(const char* text)
{
    const std::string_view s = text ? text : "";
    std::int64_t n = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
    if (r.ec == std::errc::result_out_of_range)
        return !s.empty() && s[0] == '-' ? 0 : std::numeric_limits<std::int64_t>::max();
    if (r.ec != std::errc() || n < 0)
        return 0;
    return n;
}

namespace {

// The catalogue's referential action character as the text after prefix;
// empty for "no action" and anything unknown.
std::wstring referential_action(char c, const wchar_t* prefix)
{
    // Both rules trace the same name, as they always have.
    TK_TRACE(1, "pgs_recordset::get_delete_rule");
    const wchar_t* action = nullptr;
    switch (c) {
    case 'c':
        action = L"CASCADE";
        break;
    case 'd':
        action = L"SET DEFAULT";
        break;
    case 'n':
        action = L"SET NULL";
        break;
    case 'r':
        action = L"RESTRICT";
        break;
    default:
        return std::wstring();
    }
    return std::wstring(prefix) + action;
}

}  // namespace

std::wstring pgs_recordset::get_delete_rule(char c) { return referential_action(c, L"ON DELETE "); }

std::wstring pgs_recordset::get_update_rule(char c) { return referential_action(c, L"ON UPDATE "); }

void pgs_recordset::get_numbers_from_string(const std::string& text, std::vector<std::wstring>& out,
                                            const udb_schema& columns)
{
    TK_TRACE(1, "get_numbers_from_string('%s')", text);
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
            ++i;
        if (i >= text.size())
            break;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n')
            ++i;
        const std::string_view word(text.data() + start, i - start);
        TK_TRACE(1, "sub=%s", word);
        TK_TRACE(1, "schema.size=%d", columns.size());
        // The word's leading number, as atoi reads it.
        long long value = 0;
        std::size_t p = 0;
        bool negative = false;
        if (p < word.size() && (word[p] == '-' || word[p] == '+'))
            negative = word[p++] == '-';
        while (p < word.size() && word[p] >= '0' && word[p] <= '9' && value < 1000000000)
            value = value * 10 + (word[p++] - '0');
        const long long n = (negative ? -value : value) - 1;
        if (n < 0 || n >= static_cast<long long>(columns.size())) {
            TK_TRACE(2, "Field index %d is out of range, skip it", n);
            continue;
        }
        out.push_back(columns[static_cast<std::size_t>(n)]->name);
    }
    TK_TRACE(1, "get_numbers_from_string - END");
}

void pgs_recordset::init_schema()
{
    TK_TRACE(2, "pgs_recordset::init_schema");
    const std::string s8 = tk_to_utf8(pgs_engine::case_form(schema_name));
    const std::string t8 = tk_to_utf8(pgs_engine::case_form(table_name));
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_schema");
        const pqxx::result rows = engine().exec(tx, table_sql(pgs_engine::quote_literal(tx, s8), pgs_engine::quote_literal(tx, t8)));
        bool have_serial = false;
        for (const pqxx::row& row : rows) {
            const std::string def = row[4].is_null() ? std::string() : std::string(row[4].c_str());
            const std::string data_type = row[2].c_str();
            const bool nextval = tk_compare_no_case(std::string_view(def).substr(0, 7), std::string_view("nextval")) == 0;
            bool autoinc = false;
            if (nextval && !have_serial) {
                TK_TRACE(2, "Got auto_increment '%s'", row[1].c_str());
                autoinc = have_serial = true;
            } else if (nextval) {
                TK_TRACE(3, "Multiple auto_increment columns: '%s'!", row[1].c_str());
            }
            const VARTYPE vt = pgs_get_vartype(data_type.c_str());
            const std::uint32_t size =
                row[3].is_null() ? 0u : static_cast<std::uint32_t>(std::max<long long>(0, row[3].as<long long>()));
            auto column = std::make_unique<pgs_t_ftd>(size, tk_utf8_to_unicode(row[1].c_str()), vt,
                                                      std::string(row[5].c_str()) != "YES", data_type, autoinc,
                                                      ole_variant(), 0);
            if (vt == VT_DECIMAL) {
                TK_TRACE(1, "Setting prec/scale");
                const int precision = row[6].is_null() ? 0 : row[6].as<int>();
                // A negative scale comes back as the 11-bit pattern the
                // server keeps in the type modifier.
                int scale = row[8].is_null() ? 0 : row[8].as<int>();
                if (scale >= 1024 && scale < 2048)
                    scale -= 2048;
                column->reserved = t_ftd::encode_decimal(precision, scale);
            }
            if (!def.empty() && !nextval) {
                TK_TRACE(2, "Got def.value: '%s'", def);
                std::string value = def;
                const std::size_t cast = value.find("'::");
                if (cast != std::string::npos) {
                    TK_TRACE(1, "Def.value must be pre-processed");
                    value = value.substr(0, cast);
                    if (!value.empty() && value[0] == '\'') {
                        // A quoted literal: drop its quote and undouble
                        // the apostrophes inside.
                        std::string bare;
                        for (std::size_t k = 1; k < value.size(); ++k) {
                            bare.push_back(value[k]);
                            if (value[k] == '\'' && k + 1 < value.size() && value[k + 1] == '\'')
                                ++k;
                        }
                        value = bare;
                    }
                    TK_TRACE(1, "After pre-processing: '%s'", value);
                }
                try {
                    column->default_value =
                        pgs_get_variant(vt == VT_DATE || vt == VT_BSTR ? VT_BSTR : vt, value.c_str());
                } catch (const tk_exception&) {
                    // An expression rather than a value: nothing reads it.
                    column->default_value = ole_variant(value);
                }
            }
            for (const char* n : {"time_stamp", "timestamp", "timestamp without time zone"})
                if (data_type == n)
                    column->reserved = t_ftd::date_and_time;
            // A zone-bearing column takes instants, written as UTC: without
            // the zone the server would read them in the session's zone.
            for (const char* n : {"timestampz", "timestamp with time zone"})
                if (data_type == n)
                    column->reserved = t_ftd::date_time_utc;
            if (data_type == "date")
                column->reserved = t_ftd::date_only;
            for (const char* n : {"abstime", "time", "time without time zone"})
                if (data_type == n)
                    column->reserved = t_ftd::time_only;
            add_owned_column(std::move(column));
        }
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what());
    }
}

void pgs_recordset::init_indexes()
{
    TK_TRACE(1, "pgs_recordset::init_indexes");
    struct kept_fk {
        std::wstring name;
        std::wstring fk_table;
        std::wstring pk_table;
        std::vector<std::wstring> fk_fields;
        std::string pk_numbers;
        std::wstring rule;
    };
    std::vector<kept_fk> kept;
    const std::wstring s = pgs_engine::case_form(schema_name);
    const std::string t8 = tk_to_utf8(pgs_engine::case_form(table_name));
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "init_indexes");
        const std::string t = pgs_engine::quote_literal(tx, t8);
        const pqxx::result pk = engine().exec(tx, pk_sql(t));
        if (!pk.empty()) {
            const std::wstring pk_name = tk_utf8_to_unicode(pk[0][0].c_str());
            TK_TRACE(2, "got PK name: %s", pk_name);
            std::vector<std::wstring> cols;
            for (const pqxx::row& row : engine().exec(tx, pk_detailed_sql(t))) {
                TK_TRACE(1, "got PK fld name: %s", row[0].c_str());
                cols.push_back(tk_utf8_to_unicode(row[0].c_str()));
            }
            if (!cols.empty()) {
                TK_TRACE(1, "Adding primary key");
                add_index(udb_index(pk_name, true, true, cols));
            }
        }
        for (const pqxx::row& row : engine().exec(tx, indices_sql(t))) {
            std::vector<std::wstring> cols;
            get_numbers_from_string(row[1].c_str(), cols, schema);
            TK_TRACE(2, "Adding index '%s'", row[0].c_str());
            add_index(udb_index(tk_utf8_to_unicode(row[0].c_str()), std::string(row[2].c_str()) == "t", false, cols));
        }
        for (const pqxx::row& row : engine().exec(tx, fk_sql(t))) {
            kept_fk fk;
            fk.name = tk_utf8_to_unicode(row[0].c_str());
            fk.fk_table = s + L"." + tk_utf8_to_unicode(row[1].c_str());
            fk.pk_table = s + L"." + tk_utf8_to_unicode(row[3].c_str());
            fk.rule = get_delete_rule(row[6].c_str()[0]) + L" " + get_update_rule(row[7].c_str()[0]);
            get_numbers_from_string(row[2].c_str(), fk.fk_fields, schema);
            fk.pk_numbers = row[4].c_str();
            TK_TRACE(2, "Foreign key '%s' found:", fk.name);
            TK_TRACE(2, "fk_table='%s', pk_table='%s', rule='%s'", fk.fk_table, fk.pk_table, fk.rule);
            kept.push_back(std::move(fk));
        }
        tx.commit();
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what());
    }
    for (const kept_fk& fk : kept) {
        TK_TRACE(2, "Processing foreign key: '%s'", fk.name);
        if (!db.is_table_exist(fk.pk_table)) {
            // Another schema's table, or one made after the list was read.
            TK_TRACE(2, "Referenced table '%s' is not known, skip the foreign key", fk.pk_table);
            continue;
        }
        std::unique_ptr<udb_recordset> referenced = db.get_table(fk.pk_table, 97);
        std::vector<std::wstring> pk_fields;
        get_numbers_from_string(fk.pk_numbers, pk_fields, referenced->schema);
        TK_TRACE(1, "Just before adding FK into cache");
        relationships.emplace_back(fk.name, std::wstring(), fk.fk_table, fk.pk_table, fk.fk_fields, pk_fields,
                                   fk.rule);
    }
}

std::int64_t pgs_recordset::get_rec_count()
{
    TK_TRACE(1, "pgs_recordset::get_rec_count");
    const std::string sql = "SELECT COUNT(*) FROM " + pgs_engine::make_name8(name);
    TK_TRACE(1, "Running query: %s", sql);
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_rec_count");
        const pqxx::result r = engine().exec(tx, sql);
        return r.empty() ? 0 : parse_count(r[0][0].c_str());
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what(), "Cannot get number of records (" + tk_to_ansi(name) + "): ");
    }
}

// -------------------------------------------------------------- reading

std::wstring pgs_recordset::get_select_fields() const
{
    TK_TRACE(1, "pgs_recordset::get_select_fields");
    std::wstring out;
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const t_ftd& c = *schema[i];
        const std::wstring id = pgs_engine::make_ident(c.name);
        if (i)
            out += L", ";
        const auto* p = dynamic_cast<const pgs_t_ftd*>(&c);
        if (c.vartype == VT_DATE && c.reserved == t_ftd::time_only)
            out += L"to_char(" + id + L", 'YYYY-MM-DD HH24:MI:SS.US') as " + id;
        else if (c.vartype == VT_DATE)
            // The form the date reader takes back, to the microsecond, with
            // the era; an instant as its UTC time, whatever the session's
            // zone, as the writer gives it back.
            out += L"to_char(" + id + (c.reserved == t_ftd::date_time_utc ? L" AT TIME ZONE 'UTC'" : L"") +
                   L", 'YYYY-MM-DD HH24:MI:SS.US BC') as " + id;
        else if (c.vartype == VT_BOOL)
            out += L"CASE WHEN " + id + L"='t' THEN 'true' ELSE 'false' END ";
        else if (c.vartype == VT_R8 && p && p->orig_type == "money")
            out += id + L"::numeric";
        else if (pgs_is_binary_vartype(c.vartype))
            out += L"'0x' || encode(" + id + L", 'hex')";
        else
            out += id;
    }
    TK_TRACE(1, "res=%s", out);
    return out;
}

void pgs_recordset::fetch_block()
{
    block = pqxx::result();
    *cursor >> block;
    position = 0;
    end_flag = block.empty();
}

void pgs_recordset::reset()
{
    TK_TRACE(2, "pgs_recordset::reset");
    const std::string sql = tk_to_utf8(L"SELECT " + get_select_fields() + L" FROM " + pgs_engine::make_name(name));
    TK_TRACE(2, "SQL=%s", sql);
    release_cursor();
    try {
        cursor_tx = std::make_unique<pqxx::transaction<pqxx::read_committed>>(engine().connection());
        engine().work_opened();
        engine().note_statement(sql);
        cursor = std::make_unique<pqxx::icursorstream>(*cursor_tx, sql, "mycursor", 10000);
        fetch_block();
    } catch (const pqxx::pqxx_exception& e) {
        release_cursor();
        pgs_raise(e.base().what());
    }
    TK_TRACE(2, "pgs_recordset::reset - END");
}

bool pgs_recordset::is_eof()
{
    TK_TRACE(1, "pgs_recordset::is_eof(%d)", end_flag ? 1 : 0);
    return end_flag;
}

void pgs_recordset::next()
{
    TK_TRACE(1, "pgs_recordset::next");
    if (!cursor || end_flag)
        return;
    ++position;
    if (position >= block.size()) {
        try {
            fetch_block();
        } catch (const pqxx::pqxx_exception& e) {
            pgs_raise(e.base().what());
        }
    }
}

udb_record* pgs_recordset::get_item()
{
    TK_TRACE(1, "pgs_recordset::get_item");
    if (end_flag || !cursor || position >= block.size())
        return nullptr;
    auto record = std::make_unique<udb_record>();
    const pqxx::row row = block[static_cast<pqxx::result::size_type>(position)];
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const t_ftd& c = *schema[i];
        const pqxx::field f = row[static_cast<pqxx::row::size_type>(i)];
        ole_variant value;
        if (!f.is_null()) {
            if (c.vartype == VT_BSTR)
                value = ole_variant::from_wstring(tk_utf8_to_unicode(f.c_str()), VT_BSTR);
            else
                value = ole_variant::from_string(f.c_str(), c.vartype == VT_BLOB ? VT_BYTE_ARRAY : c.vartype);
        }
        record->push_back(std::make_unique<udb_field>(c.name, c.size, value, c.b_not_null, c.b_autoincrement));
    }
    current = std::move(record);
    return current.get();
}
