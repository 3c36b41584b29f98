// Writes a file anew in one step: the content goes to a new file beside the
// target, made with O_CREAT|O_EXCL (so no name that another user put there,
// a symbolic link included, is ever opened), and only that file's own
// descriptor writes, sets the mode and syncs it; then it is renamed over the
// target. A reader, a crash or a full disk sees the old file or the new
// one, never a part of it. The rename replaces a link at the target and
// does not follow it.
//
// A folder that others can write to is also one where the temporary file's
// name can be changed under the writer: the file renamed must still be the
// one written, and a name that no longer is ends the replacement with the
// target absent rather than holding a stranger's file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct tk_replace_options {
    // The mode of a new file.
    mode_t mode = 0600;
    // An existing target keeps its mode, and a read-only one is not
    // replaced (EACCES): the rename would get round it.
    bool keep_mode = false;
    // A target that is a symbolic link: the file it names is replaced and
    // the link stays. Without it the link itself is replaced.
    bool follow_link = false;
};

struct tk_replace_result {
    int error = 0;               // errno, 0 when the file was replaced
    const char* step = nullptr;  // what failed, for the caller's trace
    explicit operator bool() const { return error == 0; }
};

tk_replace_result tk_replace_file(const std::string& target, std::string_view content,
                                  const tk_replace_options& options = {});

// Test seams, empty or -1 in the programs.
struct tk_replace_file_seams {
    // Writing fails (EIO) once this many bytes of the content are written.
    static std::int64_t fail_write_after;
    // Runs between the temporary file's sync and its rename, with its path.
    static std::function<void(const std::string& temp_path)> before_rename;
};
