// Fakes for the conversion run: a scripted in-memory source database, and a
// destination database that logs every call of its own and of the tables it
// makes, and fails any call on a script.
#pragma once

#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_database.h"
#include "udb_recordset.h"

#include <algorithm>
#include <cwctype>
#include <functional>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fake {

// What a scripted source does at one record (numbered from 1).
enum class at_record { level0, level1, no_record, foreign, std_error, null_value };

struct table_script {
    std::wstring name;
    std::vector<std::wstring> columns = {L"ID"};
    int rows = 0;
    std::map<int, at_record> records;
    bool primary_key = true;
    // get_table raises this level-0 failure when set.
    std::string get_table_failure;
    // The source's own count, when it differs from rows.
    std::int64_t rec_count = -1;
    // The columns are NOT NULL.
    bool not_null = false;
    // Called with the record's number before the record is made.
    std::function<void(int)> on_record;
};

// One table with n rows numbered from 1.
inline table_script table(const std::wstring& name, int rows = 2, std::map<int, at_record> records = {})
{
    table_script t;
    t.name = name;
    t.rows = rows;
    t.records = std::move(records);
    return t;
}

class script_table : public udb_recordset {
public:
    explicit script_table(const table_script& s) : udb_recordset(s.name), script(s)
    {
        for (const std::wstring& c : s.columns)
            add_owned_column(std::make_unique<t_ftd>(0, c, VT_I4, s.not_null));
        if (s.primary_key && !s.columns.empty())
            add_index(udb_index(L"PK_" + s.name, true, true, {s.columns.front()}));
        rec_count = s.rec_count >= 0 ? s.rec_count : s.rows;
    }
    void append_record(udb_record&) override { throw tk_exception("a source is not written", 2); }
    void reset() override { pos = 0; }
    bool is_eof() override { return pos >= script.rows; }
    void next() override { ++pos; }
    udb_record* get_item() override
    {
        const int number = pos + 1;
        if (script.on_record)
            script.on_record(number);
        const auto it = script.records.find(number);
        if (it != script.records.end()) {
            switch (it->second) {
            case at_record::level0:
                throw tk_exception("X", 0);
            case at_record::level1:
                throw tk_exception("Y", 1);
            case at_record::no_record:
                return nullptr;
            case at_record::foreign:
                throw 42;
            case at_record::std_error:
                throw std::runtime_error("boom");
            case at_record::null_value:
                current = udb_record();
                for (const std::wstring& c : script.columns)
                    current.emplace_back(c, 0, ole_variant());
                return &current;
            }
        }
        current = udb_record();
        for (const std::wstring& c : script.columns)
            current.emplace_back(c, 0, ole_variant(number));
        return &current;
    }

private:
    table_script script;
    int pos = 0;
    udb_record current;
};

// The source: tables found by name ignoring case, as the dump finds them.
class script_source : public udb_database {
public:
    explicit script_source(std::vector<table_script> tables_) : udb_database(L"dump", 0, false), tables(std::move(tables_))
    {
        for (const table_script& t : tables)
            table_names.push_back(t.name);
    }
    ~script_source() override
    {
        if (on_destroy)
            on_destroy();
    }
    bool is_truncated() const override { return truncated; }
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t) override
    {
        const table_script* found = nullptr;
        for (const table_script& t : tables)
            if (!found && t.name == name)
                found = &t;
        for (const table_script& t : tables)
            if (!found && equal_no_case(t.name, name))
                found = &t;
        for (const table_script& t : tables) {
            if (&t == found) {
                if (!t.get_table_failure.empty())
                    throw tk_exception(t.get_table_failure, 0);
                return std::make_unique<script_table>(t);
            }
        }
        throw tk_exception("Table \"" + tk_wide_to_utf8(name) + "\" doesn't exist in the database", 1);
    }
    std::unique_ptr<udb_recordset> create_table(const std::wstring&, const udb_schema&, const udb_indexes&) override
    {
        throw tk_exception("read only", 2);
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, std::int32_t) override
    {
        throw tk_exception("read only", 2);
    }
    bool test_query(const std::wstring&) override { return false; }

    std::vector<table_script> tables;
    std::function<void()> on_destroy;
    // A source that ends before its own end.
    bool truncated = false;

private:
    static bool equal_no_case(const std::wstring& a, const std::wstring& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
    }
};

// The destination's call log, shared with the tables it makes.
struct call_log {
    std::vector<std::string> calls;
    // A call (as logged) that raises this failure instead of happening.
    std::map<std::string, tk_exception> failures;

    // Called after a call is logged, before its scripted failure.
    std::function<void(const std::string&)> on_call;

    void call(const std::string& text)
    {
        calls.push_back(text);
        if (on_call)
            on_call(text);
        const auto it = failures.find(text);
        if (it != failures.end())
            throw it->second;
    }
};

class recording_table : public udb_recordset {
public:
    recording_table(const std::wstring& name, call_log& log_) : udb_recordset(name), log(log_), tag(tk_wide_to_utf8(name)) {}
    ~recording_table() override { log.calls.push_back("release(" + tag + ")"); }
    void append_record(udb_record& record) override
    {
        std::string text = "append(" + tag;
        if (!record.empty())
            text += " #" + std::to_string(record[0].get_i4());
        log.call(text + ")");
    }
    void finish() override { log.call("finish(" + tag + ")"); }

private:
    call_log& log;
    std::string tag;
};

// The destination: table names exactly as the run gives them.
class recording_dest : public udb_database {
public:
    explicit recording_dest(call_log& log_, std::vector<std::wstring> existing = {})
        : udb_database(L"dest", 0, true), log(log_)
    {
        table_names = std::move(existing);
    }
    ~recording_dest() override
    {
        for (const auto& [source, generated] : names_map.table_names())
            log.calls.push_back("map(" + tk_wide_to_utf8(source) + "->" + tk_wide_to_utf8(generated) + ")");
        log.calls.push_back("release_db");
    }
    void create_schema(const std::wstring& name) override { log.call("create_schema(" + tk_wide_to_utf8(name) + ")"); }
    bool delete_tab(const std::wstring& name) override
    {
        log.call("delete_tab(" + tk_wide_to_utf8(name) + ")");
        return udb_database::delete_tab(name);
    }
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override
    {
        log.call("create_table(" + tk_wide_to_utf8(name) + " cols=" + std::to_string(schema.size()) +
                 " idx=" + std::to_string(indexes.size()) + ")");
        if (!is_table_exist(name))
            table_names.push_back(name);
        return std::make_unique<recording_table>(name, log);
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, std::int32_t) override
    {
        throw tk_exception("no queries", 2);
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t) override
    {
        return std::make_unique<recording_table>(name, log);
    }
    bool test_query(const std::wstring&) override { return false; }

    call_log& log;
};

// Hands the run a recording destination and logs the two calls.
class recording_provider : public velconv_dest_provider {
public:
    recording_provider(call_log& log_, std::vector<std::wstring> existing_ = {}, udb_database** made_ = nullptr)
        : log(log_), existing(std::move(existing_)), made(made_)
    {
    }
    void check_dest(velconv_convertor&) override { log.call("check_dest"); }
    bool dest_exists(velconv_convertor&) override { return dest_there; }
    std::unique_ptr<udb_database> get_dest_base(velconv_convertor&) override
    {
        log.call("get_dest_base");
        auto db = std::make_unique<recording_dest>(log, existing);
        if (made)
            *made = db.get();
        return db;
    }

    call_log& log;
    std::vector<std::wstring> existing;
    udb_database** made;
    bool dest_there = true;
};

}  // namespace fake
