#include "tk_replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::int64_t tk_replace_file_seams::fail_write_after = -1;
std::function<void(const std::string&)> tk_replace_file_seams::before_rename;

namespace {

int write_all(int fd, std::string_view data)
{
    std::size_t done = 0;
    std::size_t limit = data.size();
    const std::int64_t fail_after = tk_replace_file_seams::fail_write_after;
    if (fail_after >= 0 && static_cast<std::uint64_t>(fail_after) < limit)
        limit = static_cast<std::size_t>(fail_after);
    while (done < limit) {
        const ssize_t n = ::write(fd, data.data() + done, limit - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        done += static_cast<std::size_t>(n);
    }
    return done < data.size() ? EIO : 0;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The named entry is the file itself, not a link to it nor another file.
bool names_file(const std::string& path, const struct stat& file)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && same_file(st, file);
}

}  // namespace

tk_replace_result tk_replace_file(const std::string& target_path, std::string_view content,
                                  const tk_replace_options& options)
{
    std::string target = target_path;
    if (options.follow_link) {
        struct stat lst {};
        if (::lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            if (char* real = ::realpath(target.c_str(), nullptr)) {
                target = real;
                std::free(real);
            }
        }
    }

    // Without follow_link a link is looked at, never through.
    struct stat st {};
    const bool existed =
        (options.follow_link ? ::stat(target.c_str(), &st) : ::lstat(target.c_str(), &st)) == 0;
    if (existed && S_ISDIR(st.st_mode))
        return {EISDIR, "the name is a folder"};
    if (options.keep_mode && existed && S_ISREG(st.st_mode) && ::access(target.c_str(), W_OK) != 0)
        return {errno, "the file is read-only"};

    const std::string::size_type slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    std::string temp = (slash == std::string::npos ? std::string("./") : folder) + ".velc-XXXXXX";
    // mkostemp creates with O_CREAT|O_EXCL: an existing name, a dangling
    // link included, is never opened.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return {errno, "creating the temporary file"};

    const mode_t mode = options.keep_mode && existed && S_ISREG(st.st_mode) ? (st.st_mode & 07777) : options.mode;
    tk_replace_result failure;
    struct stat written {};
    if (::fchmod(fd, mode) != 0)
        failure = {errno, "setting the mode"};
    else if (int err = write_all(fd, content))
        failure = {err, "writing"};
    else if (::fsync(fd) != 0)
        failure = {errno, "flushing"};
    else if (::fstat(fd, &written) != 0)
        failure = {errno, "flushing"};
    if (::close(fd) != 0 && !failure.error)
        failure = {errno, "closing"};
    if (failure.error) {
        // The name is still the file made above: only its writer had it.
        ::unlink(temp.c_str());
        return failure;
    }

    if (tk_replace_file_seams::before_rename)
        tk_replace_file_seams::before_rename(temp);

    // Another name at the temporary place is not the file written: it is
    // left alone, and the target stays as it was.
    if (!names_file(temp, written))
        return {EEXIST, "the temporary file was replaced"};
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        if (names_file(temp, written))
            ::unlink(temp.c_str());
        return {err, "replacing the file"};
    }
    // The name could still have changed between the look and the rename;
    // whatever the rename put in place then is not what was written, and
    // no target beats a stranger's.
    if (!names_file(target, written)) {
        ::unlink(target.c_str());
        return {EEXIST, "the temporary file was replaced"};
    }

    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}
