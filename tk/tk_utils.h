// The program's own path and folder.
#pragma once

#include <string>

std::string tk_get_module_path();
std::wstring tk_get_module_wpath();
// The folder of the program, with its trailing '/'.
std::string tk_get_module_dir();

// Existence tests. A folder never counts as a file. Mode 1 asks whether the
// file can be opened for reading and writing; any other mode whether it can
// be opened for reading. Only the wide form knows mode 0x1000, which creates
// the file or empties an existing one.
bool tk_is_file_exist(const std::string& name, int mode);
bool tk_is_file_exist(const std::wstring& name, int mode);
// Why the file cannot be opened for reading: 0 when it can, EISDIR for a
// folder, else the errno of the attempt (ENOENT for an empty name).
int tk_file_read_error(const std::string& name);
// True when the path names a folder, whatever its permissions.
bool tk_is_directory(const std::string& path);
// True when the folder exists and may be entered. The current directory is
// not touched, since the worker threads share it.
bool tk_is_path_exist(const std::string& directory);

// The user's home folder: $HOME, else the passwd entry's; empty when neither
// is known.
std::string tk_get_home_dir();
// The per-user configuration folder: $XDG_CONFIG_HOME when set and absolute,
// else <home>/.config; empty when no home is known.
std::string tk_get_config_dir();
// The user's documents folder: XDG_DOCUMENTS_DIR of user-dirs.dirs, else
// $HOME/Documents when it exists, else the home folder itself.
std::wstring tk_get_user_home_wpath();
