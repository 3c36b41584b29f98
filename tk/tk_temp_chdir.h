// Changes the current directory for a scope and changes back at its end.
// The current directory is the whole process's: use it only where no worker
// thread runs.
#pragma once

#include <string>

class tk_temp_chdir {
public:
    // An empty directory means the program's own folder.
    explicit tk_temp_chdir(const std::string& directory);
    ~tk_temp_chdir();
    tk_temp_chdir(const tk_temp_chdir&) = delete;
    tk_temp_chdir& operator=(const tk_temp_chdir&) = delete;

    // True when the change into the directory succeeded.
    bool is_changed() const { return changed; }
    const std::string& get_saved_directory() const { return saved_directory; }

private:
    void initialize(const std::string& directory);

    bool changed = false;
    std::string saved_directory;
};
