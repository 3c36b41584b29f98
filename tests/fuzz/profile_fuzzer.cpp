// The bytes as a profile, loaded into a fresh main converter; a profile
// that loads is stored again and the stored file loaded once more.

#include "fuzz_support.h"

#include "tk_unicode.h"
#include "velconv_convertor.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::front(true);
    static const std::wstring path = tk_utf8_to_wide(fuzz::home() + "/work/input.velc");
    static const std::wstring again = tk_utf8_to_wide(fuzz::home() + "/work/again.velc");
    fuzz::write_file(tk_wide_to_utf8(path), data, size);
    fuzz::run([&] {
        bool loaded = false;
        {
            velconv_convertor converter;
            loaded = converter.load_profile_file(path);
            if (loaded && !converter.save_profile_file(again))
                loaded = false;
        }
        if (loaded) {
            velconv_convertor converter;
            (void)converter.load_profile_file(again);
        }
    });
    return 0;
}
