// The bytes as a table-list file. Either the whole file becomes the table
// list or the list stays as it was; a list taken holds no more names than
// the file has lines, none longer than a line may be, and none cut at a NUL
// byte.

#include "fuzz_support.h"

#include "tk_unicode.h"
#include "udb_converter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::front(true);
    static const std::string path = fuzz::home() + "/work/tabs.txt";
    fuzz::write_file(path, data, size);
    const std::size_t lines = static_cast<std::size_t>(std::count(data, data + size, '\n')) + 1;
    fuzz::run([&] {
        udb_converter converter;
        converter.selected_tables = {L"BEFORE"};
        bool refused = true;
        try {
            converter.process_tab_file(path);
            refused = false;
        } catch (...) {
            if (converter.selected_tables != std::vector<std::wstring>{L"BEFORE"})
                fuzz::finding("a refused table list changed the list");
            throw;
        }
        if (!refused) {
            if (converter.selected_tables.size() > lines)
                fuzz::finding("more names than lines");
            if (std::find(data, data + size, 0) != data + size)
                fuzz::finding("a list with a NUL byte was taken");
            for (const std::wstring& name : converter.selected_tables) {
                if (name.find(L'\n') != std::wstring::npos)
                    fuzz::finding("a name holding a line end");
                if (name.size() > 254)
                    fuzz::finding("a name longer than a line may be");
            }
        }
    });
    return 0;
}
