#include "ora_dump_file.h"

#include "ora_dump_reader.h"
#include "tk_replace_file.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::wstring W(const std::string& s) { return tk_utf8_to_wide(s); }

std::uint64_t fnv(const std::vector<std::uint8_t>& b, std::size_t n)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= b[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

// Puts a valid checksum back after a test changed bytes of an image.
void fix_checksum(std::vector<std::uint8_t>& b)
{
    std::size_t at = b.size() - 12;
    std::uint64_t h = fnv(b, at);
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<std::uint8_t>(h >> (8 * i));
}

class context_file : public tk_test::home_fixture {
protected:
    context_file()
    {
        reader.set_log_sink([this](ora_log_kind k, const std::string& t) {
            if (k == ora_log_kind::warning)
                warnings.push_back(t);
        });
    }
    ~context_file() override
    {
        tk_replace_file_seams::fail_write_after = -1;
        tk_replace_file_seams::before_rename = nullptr;
    }

    // A dump of the given size in its own folder.
    std::string make_dump(const std::string& name, std::size_t size = 1000, const std::string& sub = "d")
    {
        fs::create_directories(home.file(sub));
        std::string p = home.file(sub + "/" + name);
        tk_test::write_file(p, std::string(size, 'x'));
        return p;
    }

    static ora_dump_file::context classic(const std::string& dump)
    {
        ora_dump_file::context c;
        c.path = W(dump);
        c.export_header = "EXPORT:V10.02.01";
        c.user_name = "SCOTT";
        c.tablespace_name = "USERS";
        table_pos& t = c.tables[L"EMP"];
        t.start_pos = 100;
        t.end_pos = 900;
        t.v_data_start_pos = {200, 500};
        t.alters = {{300, 350}};
        t.index_records = {{400, 450, true}, {460, 0, false}};
        table_pos& u = c.tables[L"\u00C4MTER"];
        u.start_pos = 900;
        u.end_pos = 1000;
        c.complete = true;
        return c;
    }

    ora_dump_test::scoped_documents_folder docs{home};
    const std::string docs_dir = docs.path();
    ora_dump_reader reader;
    std::vector<std::string> warnings;
};

TEST_F(context_file, layout_of_the_classic_part)
{
    ora_dump_file::context c;
    c.export_header = "EXPORT:V10.02.01";
    c.user_name = "SCOTT";
    c.tablespace_name = "USERS";
    table_pos& t = c.tables[L"EMP"];
    t.start_pos = 100;
    t.end_pos = 900;
    t.v_data_start_pos = {200, 500};
    t.alters = {{300, 350}};
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(ora_dump_file::build_image(c, 1000, 5, image));
    const std::uint8_t golden[] = {
        0x00, 0xF1, 0xE2, 0xE1, 0x10, 0x00, 0x45, 0x58, 0x50, 0x4F, 0x52, 0x54, 0x3A, 0x56, 0x31, 0x30, 0x2E, 0x30,
        0x32, 0x2E, 0x30, 0x31, 0x05, 0x00, 0x53, 0x43, 0x4F, 0x54, 0x54, 0x05, 0x00, 0x55, 0x53, 0x45, 0x52, 0x53,
        0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x45, 0x4D, 0x50, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x84,
        0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0xF4, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x2C, 0x01, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x5E, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    };
    const std::size_t n = sizeof golden;
    ASSERT_GT(image.size(), sizeof golden + 4);
    EXPECT_TRUE(std::equal(golden, golden + n, image.begin()));
    EXPECT_EQ(std::string(image.begin() + n, image.begin() + n + 4), "VCXT");
    EXPECT_EQ(std::string(image.end() - 4, image.end()), "VCXE");
    // The trailer length counts from its magic up to the length field.
    std::size_t len_at = image.size() - 16;
    std::uint32_t len = image[len_at] | image[len_at + 1] << 8 | image[len_at + 2] << 16 | image[len_at + 3] << 24;
    EXPECT_EQ(len, len_at - n);
    ora_dump_file::context back;
    ASSERT_TRUE(ora_dump_file::parse_image(image, back, 1000, 5, false, 0));
    EXPECT_EQ(back.tables, c.tables);
}

TEST_F(context_file, round_trips)
{
    // Classic, with index records, a non-ASCII key and an empty key.
    std::string dump = make_dump("full.dmp");
    ora_dump_file::context c = classic(dump);
    c.tables[L""].start_pos = 10;
    ASSERT_TRUE(c.stat_dump());
    ASSERT_TRUE(c.save());
    EXPECT_TRUE(fs::exists(home.file("d/full.vcx")));
    ora_dump_file::context back;
    ASSERT_TRUE(back.load_if(W(dump), false, 0));
    EXPECT_EQ(back.tables, c.tables);
    EXPECT_EQ(back.tables.at(L"EMP").index_records.size(), 2u);
    EXPECT_EQ(back.export_header, "EXPORT:V10.02.01");
    EXPECT_EQ(back.user_name, "SCOTT");
    EXPECT_EQ(back.tablespace_name, "USERS");
    EXPECT_EQ(back.path, W(dump));
    EXPECT_TRUE(back.complete);

    // Data Pump sections.
    std::string pump = make_dump("pump.dmp", 5000);
    ora_dump_file::context p;
    p.path = W(pump);
    p.format = 1;
    p.complete = true;
    p.export_header = "DATAPUMP";
    table_pos& t = p.tables[L"SCOTT.EMP"];
    t.start_pos = 1;
    t.end_pos = 4000;
    t.v_data_start_pos = {10, 2000};
    t.v_data_end_pos = {20, 2100};
    t.v_block_end_pos = {1999, 4000};
    t.str_full_name = L"SCOTT.EMP";
    t.record_base = 17;
    udb_indexes list;
    list.push_back(udb_index(L"PK_EMP", true, true, {L"EMPNO"}));
    list.push_back(udb_index(L"EMP_NAME", false, false, {L"ENAME", L"JOB"}));
    p.global_indexes[{L"SCOTT", L"EMP"}] = list;
    p.relationships.push_back(t_relationship(L"FK_DEPTNO", L"", L"EMP", L"DEPT", {L"DEPTNO"}, {L"DEPTNO"}, L""));
    p.relationships.push_back(
        t_relationship(L"FK2", L"", L"A", L"B", {L"X", L"Y"}, {L"P", L"Q"}, L"ON DELETE CASCADE"));
    ASSERT_TRUE(p.save());
    ora_dump_file::context pb;
    ASSERT_TRUE(pb.load_if(W(pump), false, 1));
    EXPECT_EQ(pb.tables, p.tables);
    ASSERT_EQ(pb.global_indexes.size(), 1u);
    const udb_indexes& got = pb.global_indexes.at({L"SCOTT", L"EMP"});
    ASSERT_EQ(got.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(got[i].name, list[i].name);
        EXPECT_EQ(got[i].b_unique, list[i].b_unique);
        EXPECT_EQ(got[i].b_primary, list[i].b_primary);
        EXPECT_EQ(got[i].columns, list[i].columns);
    }
    ASSERT_EQ(pb.relationships.size(), 2u);
    EXPECT_EQ(pb.relationships[1].fk_name, L"FK2");
    EXPECT_EQ(pb.relationships[1].fk_table, L"A");
    EXPECT_EQ(pb.relationships[1].pk_table, L"B");
    EXPECT_EQ(pb.relationships[1].rule, L"ON DELETE CASCADE");
    EXPECT_EQ(pb.relationships[1].fk_fields, (std::vector<std::wstring>{L"X", L"Y"}));
    EXPECT_EQ(pb.relationships[1].pk_fields, (std::vector<std::wstring>{L"P", L"Q"}));

    // No tables: an empty map comes back.
    std::string none = make_dump("none.dmp");
    ora_dump_file::context z;
    z.path = W(none);
    z.complete = true;
    ASSERT_TRUE(z.save());
    ora_dump_file::context zb;
    zb.tables[L"STALE"];
    ASSERT_TRUE(zb.load_if(W(none), false, 0));
    EXPECT_TRUE(zb.tables.empty());
}

TEST_F(context_file, invalid_files_lead_to_a_scan)
{
    std::string dump = make_dump("full.dmp");
    std::string vcx = home.file("d/full.vcx");
    ora_dump_file::context good = classic(dump);
    ASSERT_TRUE(good.stat_dump());
    std::vector<std::uint8_t> valid;
    ASSERT_TRUE(ora_dump_file::build_image(good, valid));

    auto load = [&](const std::vector<std::uint8_t>& bytes, bool merge = false, int format = 0) {
        tk_test::write_file(vcx, std::string(bytes.begin(), bytes.end()));
        ora_dump_file::context c;
        c.tables[L"KEEP"];
        bool ok = c.load_if(W(dump), merge, format);
        // A failed load leaves the context as it was.
        if (!ok) {
            EXPECT_EQ(c.tables.size(), 1u);
        }
        return ok;
    };
    ASSERT_TRUE(load(valid));

    // Missing.
    fs::remove(vcx);
    ora_dump_file::context c;
    EXPECT_FALSE(c.load_if(W(dump), false, 0));

    struct row {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<row> rows;
    rows.push_back({"9 bytes", std::vector<std::uint8_t>(valid.begin(), valid.begin() + 9)});
    std::vector<std::uint8_t> magic = valid;
    magic[0] = 1;
    rows.push_back({"wrong magic", magic});
    rows.push_back({"magic and three empty texts", {0x00, 0xF1, 0xE2, 0xE1, 0, 0, 0, 0, 0, 0}});
    // The layout without our trailer, as an older program wrote it.
    std::vector<std::uint8_t> old;
    {
        ora_dump_file::context o = classic(dump);
        std::vector<std::uint8_t> img;
        ora_dump_file::build_image(o, img);
        std::size_t trailer = 0;
        for (std::size_t i = 0; i + 4 <= img.size(); ++i)
            if (std::equal(img.begin() + i, img.begin() + i + 4, "VCXT"))
                trailer = i;
        old.assign(img.begin(), img.begin() + trailer);
    }
    rows.push_back({"old layout", old});
    std::vector<std::uint8_t> sum = valid;
    sum[sum.size() - 6] ^= 0x40;
    rows.push_back({"checksum", sum});
    std::vector<std::uint8_t> extra = valid;
    extra.push_back(0);
    rows.push_back({"byte after the end", extra});
    // Two entries of one key: rename the second key onto the first.
    {
        ora_dump_file::context d = classic(dump);
        d.tables.clear();
        d.tables[L"AAA"].start_pos = 1;
        d.tables[L"AAB"].start_pos = 2;
        d.dump_size = good.dump_size;
        d.dump_mtime_ns = good.dump_mtime_ns;
        std::vector<std::uint8_t> img;
        ora_dump_file::build_image(d, img);
        for (std::size_t i = 0; i + 3 <= img.size(); ++i)
            if (img[i] == 'A' && img[i + 1] == 'A' && img[i + 2] == 'B')
                img[i + 2] = 'A';
        fix_checksum(img);
        rows.push_back({"duplicate key", img});
    }
    // A position beyond the dump.
    for (int which = 0; which < 4; ++which) {
        ora_dump_file::context d = classic(dump);
        table_pos& t = d.tables[L"EMP"];
        if (which == 0)
            t.end_pos = 1001;
        else if (which == 1)
            t.v_data_start_pos.push_back(-1);
        else if (which == 2)
            t.alters.push_back({5, 5000});
        else
            t.index_records.push_back({2000, 0, false});
        std::vector<std::uint8_t> img;
        ora_dump_file::build_image(d, good.dump_size, good.dump_mtime_ns, img);
        rows.push_back({"position beyond the dump", img});
    }
    for (const row& r : rows)
        EXPECT_FALSE(load(r.bytes)) << r.what;

    // Each trailer field that does not match the dump or the setting.
    EXPECT_FALSE(load(valid, true, 0)) << "merge";
    EXPECT_FALSE(load(valid, false, 1)) << "format";
    {
        std::vector<std::uint8_t> img;
        ora_dump_file::build_image(good, good.dump_size, good.dump_mtime_ns + 1, img);
        EXPECT_FALSE(load(img)) << "time";
        ora_dump_file::build_image(good, good.dump_size + 1, good.dump_mtime_ns, img);
        EXPECT_FALSE(load(img)) << "size";
    }
    // The dump rewritten with the same size but a new time.
    ASSERT_TRUE(load(valid));
    struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, dump.c_str(), times, 0), 0);
    EXPECT_FALSE(load(valid)) << "re-export";
}

TEST_F(context_file, truncation_and_mutation_never_fail)
{
    ora_dump_file::context good = classic("/nowhere/full.dmp");
    good.tables[L"EMP"].v_data_end_pos = {1, 2, 3};
    good.global_indexes[{L"O", L"T"}].push_back(udb_index(L"I", true, false, {L"C"}));
    good.relationships.push_back(t_relationship(L"F", L"", L"A", L"B", {L"X"}, {L"Y"}, L""));
    std::vector<std::uint8_t> valid;
    ASSERT_TRUE(ora_dump_file::build_image(good, 1000, 7, valid));
    ora_dump_file::context c;
    ASSERT_TRUE(ora_dump_file::parse_image(valid, c, 1000, 7, false, 0));
    for (std::size_t n = 0; n < valid.size(); ++n) {
        std::vector<std::uint8_t> cut(valid.begin(), valid.begin() + n);
        ora_dump_file::context t;
        EXPECT_FALSE(ora_dump_file::parse_image(cut, t, 1000, 7, false, 0)) << n;
        EXPECT_TRUE(t.tables.empty());
    }
    // Every byte set to 0xFF, with the checksum put right, so that each
    // count field is checked on its own: no crash and no huge allocation.
    for (std::size_t i = 0; i + 12 < valid.size(); ++i) {
        std::vector<std::uint8_t> m = valid;
        if (m[i] == 0xFF)
            continue;
        m[i] = 0xFF;
        fix_checksum(m);
        ora_dump_file::context t;
        (void)ora_dump_file::parse_image(m, t, 1000, 7, false, 0);
    }
}

TEST_F(context_file, names)
{
    struct row {
        std::string dump, context;
    };
    const row rows[] = {
        {"/x/full.dmp", "/x/full.vcx"},
        {"/x/full", "/x/full.vcx"},
        {"/x/a.b/dump", "/x/a.b/dump.vcx"},
        {"/x/a.b.c", "/x/a.b.vcx"},
        {"/x/x.vcx", "/x/x.vcx.vcx"},
        {"/x/y/../x.vcx", "/x/y/../x.vcx.vcx"},
    };
    for (const row& r : rows)
        EXPECT_EQ(ora_dump_file::context_file_name(W(r.dump)), W(r.context)) << r.dump;
    std::wstring f1 = ora_dump_file::fallback_file_name(L"/x/full.dmp");
    std::wstring f2 = ora_dump_file::fallback_file_name(L"/y/full.dmp");
    EXPECT_NE(f1, f2);
    EXPECT_EQ(f1, ora_dump_file::fallback_file_name(L"/x/./full.dmp"));
    std::string s1 = tk_wide_to_utf8(f1);
    ASSERT_EQ(s1.size(), docs_dir.size() + std::string("/full.0123456789abcdef.vcx").size());
    EXPECT_EQ(s1.substr(0, docs_dir.size() + 6), docs_dir + "/full.");
    EXPECT_EQ(s1.substr(s1.size() - 4), ".vcx");
    for (char ch : s1.substr(docs_dir.size() + 6, 16))
        EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')) << s1;
}

TEST_F(context_file, falls_back_to_the_documents_folder)
{
    std::string d1 = make_dump("full.dmp", 1000, "one");
    std::string d2 = make_dump("full.dmp", 1000, "two");
    fs::create_directory(home.file("one/full.vcx"));
    fs::create_directory(home.file("two/full.vcx"));
    ora_dump_file::context c1 = classic(d1), c2 = classic(d2);
    c2.tables[L"ONLY_IN_TWO"].start_pos = 5;
    ASSERT_TRUE(c1.save());
    ASSERT_TRUE(c2.save());
    EXPECT_TRUE(warnings.empty());
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(docs_dir))
        files.push_back(e.path().filename().string());
    EXPECT_EQ(files.size(), 2u);
    ora_dump_file::context b1, b2;
    ASSERT_TRUE(b1.load_if(W(d1), false, 0));
    ASSERT_TRUE(b2.load_if(W(d2), false, 0));
    EXPECT_EQ(b1.tables, c1.tables);
    EXPECT_EQ(b2.tables, c2.tables);
}

TEST_F(context_file, save_failures)
{
    std::string dump = make_dump("full.dmp");
    // Both places blocked: false and a warning, no failure.
    fs::create_directory(home.file("d/full.vcx"));
    fs::create_directory(tk_wide_to_utf8(ora_dump_file::fallback_file_name(W(dump))));
    ora_dump_file::context c = classic(dump);
    EXPECT_FALSE(c.save());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("full.vcx"), std::string::npos);
    // No documents folder: nothing written, and no failure.
    warnings.clear();
    docs.point_at("");
    EXPECT_FALSE(c.save());
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_FALSE(fs::exists("/full.vcx"));
    fs::remove(home.file("d/full.vcx"));
    docs.point_at(docs_dir);

    // A text above 65,535 bytes: refused with a warning.
    warnings.clear();
    ora_dump_file::context big = classic(dump);
    big.export_header = std::string(70000, 'H');
    EXPECT_FALSE(big.save());
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_FALSE(fs::exists(home.file("d/full.vcx")));

    // An incomplete scan: nothing written.
    ora_dump_file::context part = classic(dump);
    part.complete = false;
    EXPECT_FALSE(part.save());
    EXPECT_FALSE(fs::exists(home.file("d/full.vcx")));

    // A write that fails part way leaves the previous file as it was, and
    // no temporary file behind.
    ASSERT_TRUE(c.save());
    std::string before = tk_test::read_file(home.file("d/full.vcx"));
    tk_replace_file_seams::fail_write_after = 20;
    ora_dump_file::context other = classic(dump);
    other.tables[L"NEW"].start_pos = 3;
    EXPECT_FALSE(other.save());
    tk_replace_file_seams::fail_write_after = -1;
    EXPECT_EQ(tk_test::read_file(home.file("d/full.vcx")), before);
    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(home.file("d")))
        (void)e, ++entries;
    EXPECT_EQ(entries, 2u);  // the dump and its context file
}

// Someone who may write in the dump's folder puts a link where the saving
// works: the file the link names is never written, and the context file
// beside the dump is whole or absent.
TEST_F(context_file, a_link_in_the_dump_folder_never_redirects_the_save)
{
    const std::string dump = make_dump("full.dmp");
    const std::string context = home.file("d/full.vcx");
    const std::string victim = home.file("victim");
    const std::string victim_bytes = "the running user's own file\n";
    const auto whole_or_absent = [&](const ora_dump_file::context& expected) {
        struct stat st {};
        if (::lstat(context.c_str(), &st) != 0)
            return;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << "the context file is not a plain file";
        ora_dump_file::context back;
        ASSERT_TRUE(back.load_if(W(dump), false, 0)) << "the context file is not whole";
        EXPECT_EQ(back.tables, expected.tables);
    };

    struct swap_case {
        const char* what;
        bool earlier_file;  // a context file from an earlier save is there
    };
    for (const swap_case& sc : {swap_case{"first save", false}, swap_case{"over an earlier save", true}}) {
        SCOPED_TRACE(sc.what);
        fs::remove(context);
        fs::remove(docs_dir + "/full.vcx");
        tk_test::write_file(victim, victim_bytes);
        const ora_dump_file::context earlier = classic(dump);
        if (sc.earlier_file) {
            ASSERT_TRUE(earlier.save());
            ASSERT_TRUE(fs::is_regular_file(context));
        }
        // Between the writing and the rename the temporary name becomes a
        // link to the victim (beside the dump, and in the documents folder
        // that the save falls back to).
        std::vector<std::string> swapped;
        tk_replace_file_seams::before_rename = [&](const std::string& temp) {
            swapped.push_back(temp);
            ASSERT_EQ(::unlink(temp.c_str()), 0);
            ASSERT_EQ(::symlink(victim.c_str(), temp.c_str()), 0);
        };
        ora_dump_file::context c = classic(dump);
        c.tables[L"LATER"].start_pos = 7;
        c.save();
        tk_replace_file_seams::before_rename = nullptr;
        ASSERT_FALSE(swapped.empty()) << "the save never reached its rename";
        EXPECT_EQ(tk_test::read_file(victim), victim_bytes);
        if (sc.earlier_file)
            whole_or_absent(earlier);
        else
            EXPECT_FALSE(fs::exists(fs::symlink_status(context)));
        for (const std::string& link : swapped)
            ::unlink(link.c_str());
    }

    // A link already at the context file's name is replaced, not followed.
    fs::remove(context);
    tk_test::write_file(victim, victim_bytes);
    ASSERT_EQ(::symlink(victim.c_str(), context.c_str()), 0);
    ora_dump_file::context c = classic(dump);
    ASSERT_TRUE(c.save());
    EXPECT_EQ(tk_test::read_file(victim), victim_bytes);
    whole_or_absent(c);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(context)));

    // A dangling link at the context file's name is not created through.
    fs::remove(context);
    fs::remove(victim);
    ASSERT_EQ(::symlink(victim.c_str(), context.c_str()), 0);
    ASSERT_TRUE(c.save());
    EXPECT_FALSE(fs::exists(fs::symlink_status(victim)));
    whole_or_absent(c);
}

TEST_F(context_file, a_dump_named_like_a_context_file_is_never_overwritten)
{
    std::string dump = make_dump("x.vcx");
    std::string before = tk_test::read_file(dump);
    ora_dump_file::context c = classic(dump);
    ASSERT_TRUE(c.save());
    EXPECT_EQ(tk_test::read_file(dump), before);
    EXPECT_TRUE(fs::exists(home.file("d/x.vcx.vcx")));
    ora_dump_file::context b;
    ASSERT_TRUE(b.load_if(W(dump), false, 0));
}

}  // namespace
