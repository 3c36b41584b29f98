// A path made full against the current directory and split into its parts.
// Making it full is lexical: nothing needs to exist, and no length limit
// applies. On this system the drive is always empty, the directory keeps its
// trailing '/', and the extension runs from the last dot of the last
// component (so ".bashrc" is all extension).
#pragma once

#include <string>

class tk_file_name {
public:
    // An empty path stands for the program's own path with the name emptied.
    // A relative path that cannot be made full (the current directory has
    // vanished) raises the level-1 "Bad path or busy with another process".
    explicit tk_file_name(const std::string& path);

    std::string get_full_name() const { return drive + directory + name + extension; }
    std::string get_path() const { return drive + directory; }

    std::string extension;  // with its dot
    std::string drive;
    std::string name;
    std::string directory;  // with its trailing '/'

private:
    void initialize(const std::string& path);
};

class tk_file_wname {
public:
    explicit tk_file_wname(const std::wstring& path);

    std::wstring get_full_name() const { return drive + directory + name + extension; }
    std::wstring get_path() const { return drive + directory; }

    std::wstring extension;
    std::wstring drive;
    std::wstring name;
    std::wstring directory;

private:
    void initialize(const std::wstring& path);
};
