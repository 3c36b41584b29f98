#include "ora_dump_writer_generations.h"

#include "ora_dump_writer.h"

#include <string>
#include <vector>

namespace ora_rows {

const generation generations[6] = {
    {"7", "EXPORT:V07.03.04", 7},        {"8.0.6", "EXPORT:V08.00.06", 8, 0, 6},
    {"8.1.7", "EXPORT:V08.01.07", 8, 1, 7}, {"9", "EXPORT:V09.02.00", 9},
    {"10", "EXPORT:V10.02.01", 10},      {"12", "EXPORT:V12.01.00", 10},
};

bytes dump_of(const generation& g)
{
    entry clob{112, 4000};
    clob.charset_id = 873;
    clob.lob_name = "CL";
    entry blob{113, 86};
    blob.lob_name = "BL";
    const std::vector<entry> entries = {{2, 22}, {1, 20}, {12, 7}, {180, 11}, {23, 10},
                                        {24, 0}, {8, 0},  {100, 4}, blob,     clob};
    bytes desc;
    bool lobs_after = false;
    if (g.gen == 7) {
        desc = ora_rows::description_gen7(entries);
    } else if (g.gen == 8) {
        ora_rows::gen8_options o;
        o.minor = g.minor;
        o.patch = g.patch;
        o.lob_count = 2;
        o.lob_items = {ora_rows::hex("01 AA BB CC"), ora_rows::hex("00 DD EE")};
        desc = ora_rows::description_gen8(entries, o);
        lobs_after = !(g.minor == 0 && g.patch == 6);
    } else {
        desc = ora_rows::description_gen9(entries, g.gen, {});
        lobs_after = true;
    }
    auto clob_text = [&](const std::wstring& t) {
        if (g.gen < 9)
            return ora_rows::text(t, 1252);
        return g.gen == 9 ? ora_rows::utf16le(t) : ora_rows::utf16be(t);
    };

    ora_rows::table_spec t;
    t.name = "T";
    t.create_sql = "CREATE TABLE \"T\" (\"N\" NUMBER(10, 2) NOT NULL ENABLE, \"S\" VARCHAR2(20), \"D\" DATE, "
                   "\"TS\" TIMESTAMP (6), \"R\" RAW(10), \"LR\" LONG RAW, \"L\" LONG, \"BF\" BINARY_FLOAT, "
                   "\"BL\" BLOB, \"CL\" CLOB)  PCTFREE 10 PCTUSED 40 LOGGING NOCOMPRESS";
    ora_rows::block_spec b;
    b.insert_sql = "INSERT INTO \"T\" (\"N\", \"S\", \"D\", \"TS\", \"R\", \"LR\", \"L\", \"BF\", \"BL\", \"CL\") "
                   "VALUES (:1, :2, :3, :4, :5, :6, :7, :8, :9, :10)";
    b.description = desc;
    const char* numbers[] = {"12.34", "-1234567890123456789012345678901234567890", "1e-130"};
    for (int i = 0; i < 3; ++i) {
        ora_rows::row r;
        r.value(ora_rows::number(numbers[i]));
        if (i == 2) {
            r.null().null().null().null();
        } else {
            r.value(ora_rows::text(L"Gr\u00FC\u00DFe", 1252));
            r.value(ora_rows::date(2020, 2, 29, 12, 0, 0));
            r.value(ora_rows::timestamp(2022, 6, 2, 8, 45, 40, 346906000, i ? 13 : 11));
            r.value(bytes{1, 2, 3});
        }
        r.chunked(bytes(30 + i, 0x44), 8, g.gen == 7);
        r.chunked(ora_rows::text(L"long text", 1252), 4, true);
        r.value(ora_rows::binary_float(i ? -0.5f : 1.5f));
        if (lobs_after) {
            r.value(bytes(20, 0x01)).value(bytes(20, 0x02)).gap();
            r.lob_fffc(bytes{9, 8, 7, 6, 5}, 2).lob_inline(clob_text(L"clob"));
        } else {
            r.value(bytes{9, 8, 7}).value(ora_rows::text(L"clob", 1252));
        }
        b.rows.push_back(r.data());
    }
    t.blocks.push_back(b);
    t.after_lines = {"CREATE UNIQUE INDEX \"T_PK\" ON \"T\" (\"N\" )  PCTFREE 10",
                     "ALTER TABLE \"T\" ADD  CONSTRAINT \"T_PK\" PRIMARY KEY (\"N\") ENABLE",
                     "ALTER TABLE \"T\" MODIFY DEFAULT",
                     "\"S\" 'O''Neil'"};

    ora_rows::table_spec u;
    u.name = "U";
    u.create_sql = "CREATE TABLE \"U\" (\"ID\" NUMBER(5, 0), \"NAME\" VARCHAR2(10))  PCTFREE 10";
    ora_rows::block_spec ub;
    ub.insert_sql = "INSERT INTO \"U\" (\"ID\", \"NAME\") VALUES (:1, :2)";
    const std::vector<entry> u_entries = {{2, 22}, {1, 10}};
    if (g.gen == 7)
        ub.description = ora_rows::description_gen7(u_entries);
    else if (g.gen == 8) {
        ora_rows::gen8_options o;
        o.minor = g.minor;
        o.patch = g.patch;
        ub.description = ora_rows::description_gen8(u_entries, o);
    } else {
        ub.description = ora_rows::description_gen9(u_entries, g.gen, {});
    }
    for (int i = 1; i <= 2; ++i)
        ub.rows.push_back(ora_rows::row().value(ora_rows::number(std::to_string(i))).value(ora_rows::text(L"u")).gap().data());
    u.blocks.push_back(ub);

    ora_dump_writer w;
    ora_dump_writer::header_fields h;
    h.header_token = g.header_token;
    if (g.gen == 7)
        h.pre_number = 0x0000B2;
    h.marker = 0x0020;
    ora_rows::write_dump(w, h, {t, u});
    return w.data();
}

}  // namespace ora_rows
