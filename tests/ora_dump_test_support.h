// Pieces the reader's tests share: the documents folder of the context file
// kept inside the test's home, a source that fails like a passing failure,
// a database that only stands as a table's owner, and how a value prints.
#pragma once

#include "ole_variant.h"
#include "ora_dump_file.h"
#include "ora_dump_stream.h"
#include "ora_dump_test_db.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "tk_utils.h"
#include "udb_database.h"
#include "udb_indexes.h"
#include "udb_recordset.h"
#include "udb_schema.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace ora_dump_test {

// Points the context file's documents folder at <home>/Documents, made
// here, for the scope; at its end the folder is the user's home again.
class scoped_documents_folder {
public:
    explicit scoped_documents_folder(const tk_test::temp_dir& home) : dir(home.file("Documents"))
    {
        std::filesystem::create_directories(dir);
        folder() = tk_utf8_to_wide(dir);
        ora_dump_file::documents_folder = [] { return folder(); };
    }
    ~scoped_documents_folder() { ora_dump_file::documents_folder = &tk_get_user_home_wpath; }
    scoped_documents_folder(const scoped_documents_folder&) = delete;
    scoped_documents_folder& operator=(const scoped_documents_folder&) = delete;

    // <home>/Documents.
    const std::string& path() const { return dir; }

    // Points the folder elsewhere; an empty text stands for none.
    void point_at(const std::string& other) { folder() = tk_utf8_to_wide(other); }

private:
    // The hook is a plain function pointer: the folder it gives lives here.
    static std::wstring& folder()
    {
        static std::wstring d;
        return d;
    }

    std::string dir;
};

// Raises a level-0 failure for reads reaching at or beyond an offset, like a
// conversion failure that the user may continue past.
class level0_source : public ora_dump_source {
public:
    level0_source(std::vector<std::uint8_t> bytes, std::int64_t fail_at) : inner(std::move(bytes)), fail_at(fail_at) {}
    std::int64_t size() const override { return inner.size(); }
    std::int64_t read_at(std::int64_t offset, void* buffer, std::size_t count) override
    {
        if (offset + static_cast<std::int64_t>(count) > fail_at)
            throw tk_exception("A passing failure", 0);
        return inner.read_at(offset, buffer, count);
    }

private:
    ora_dump_memory_source inner;
    std::int64_t fail_at;
};

// A value as the row tests compare it: "-" for empty and null, bytes as "x"
// and their hex digits, anything else as its text.
inline std::string show(const ole_variant& v)
{
    if (v.get_vt() == VT_EMPTY || v.get_vt() == VT_NULL)
        return "-";
    if (v.is_binary()) {
        std::string s = "x";
        char h[4];
        for (std::uint8_t b : v.get_bytes()) {
            std::snprintf(h, sizeof h, "%02X", b);
            s += h;
        }
        return s;
    }
    return v.to_string();
}

}  // namespace ora_dump_test
