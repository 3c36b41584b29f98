// The per-user settings store: a key path names a small text file under the
// user's configuration folder, holding typed values by name. Every write
// replaces the file atomically with mode 0600 (it holds the server password
// in clear) inside folders of mode 0700.
//
// File layout, UTF-8 with LF line ends:
//   [Software\Fennick\Velmora-to-PostgreSQL]
//   name=dword:<decimal 0..4294967295>
//   name=sz:<text, with \\, \n and \r escaped>
// Values are written in name order. A line that does not parse counts as
// missing and is dropped at the next write; of two equal names the first
// wins.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

class tk_reg_key {
public:
    tk_reg_key() = default;
    virtual ~tk_reg_key();
    tk_reg_key(const tk_reg_key&) = delete;
    tk_reg_key& operator=(const tk_reg_key&) = delete;

    // Every operation gives 0 on success or an errno.

    // Opens the key of the path ("Software\Maker\Product" names
    // <config>/Maker/Product.conf), loading the file when it exists. Nothing
    // is written, so opening alone creates no file. On failure the key held
    // so far stays open.
    int create(const std::string& key_path);
    int close();
    bool is_open() const { return open_key.has_value(); }
    // The settings file of the open key; empty when none is open.
    std::string get_file_name() const;

    // A missing value gives ENOENT, a value of the other type EINVAL; the
    // target is changed only on success.
    int get_value(std::uint32_t& value, const std::string& name) const;
    int get_value(std::string& value, const std::string& name) const;
    int get_value(std::wstring& value, const std::wstring& name) const;

    // Each write rewrites the file; a failed write gives its errno and
    // leaves the file and the loaded values as they were.
    int set_value(std::uint32_t value, const std::string& name);
    int set_value(const std::string& text, const std::string& name);
    int set_value(const std::wstring& text, const std::wstring& name);

    // Stores or loads one value; true when done. A load changes the value
    // only on success; a bool is kept as 0 or 1 and loads true for any
    // non-zero number. Without an open key nothing is done.
    bool serialize(const std::string& name, std::uint32_t& value, bool store);
    bool serialize(const std::string& name, bool& value, bool store);
    bool serialize(const std::string& name, std::string& value, bool store);
    bool serialize(const std::wstring& name, std::wstring& value, bool store);

private:
    using value_type = std::variant<std::uint32_t, std::string>;
    using value_map = std::map<std::string, value_type>;

    struct key_state {
        std::string key_path;
        std::string folder;
        std::string file_name;
        value_map values;
    };

    int store(const std::string& name, value_type value);
    const value_type* find(const std::string& name) const;

    std::optional<key_state> open_key;
};

// The settings of one program under its key path.
class tk_serializer : public tk_reg_key {
public:
    explicit tk_serializer(const std::string& registry_path);
    ~tk_serializer() override;

    const std::string& get_registry_path() const { return registry_path; }
    // Opens (or prepares) the settings key of the path.
    int open() { return create(registry_path); }

protected:
    std::string registry_path;
};
