#include "tk_temp_chdir.h"

#include "tk_logger.h"
#include "tk_utils.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

bool current_directory(std::string& out)
{
    std::vector<char> buf(256);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            out = buf.data();
            return true;
        }
        if (errno != ERANGE)
            return false;
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

tk_temp_chdir::tk_temp_chdir(const std::string& directory)
{
    TK_TRACE(2, "tk_temp_chdir::ctor");
    initialize(directory.empty() ? tk_get_module_dir() : directory);
}

void tk_temp_chdir::initialize(const std::string& directory)
{
    TK_TRACE(2, "tk_temp_chdir::initialize(%s)", directory);
    if (!current_directory(saved_directory)) {
        TK_TRACE(1, "_getcwd failed");
        return;
    }
    if (::chdir(directory.c_str()) != 0) {
        TK_TRACE(1, "_chdir failed");
        return;
    }
    changed = true;
}

tk_temp_chdir::~tk_temp_chdir()
{
    TK_TRACE(2, "tk_temp_chdir::dtor");
    if (changed && ::chdir(saved_directory.c_str()) != 0)
        TK_TRACE(1, "_chdir failed");
    TK_TRACE(2, "tk_temp_chdir::dtor - at the END");
}
