// Random-access files addressed by offset, such as the dump context file.
// Offsets, lengths and sizes are 64-bit, and every range test is safe from
// overflow, so a file over 4 GiB reads correctly and a wild offset fails.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class tk_file {
public:
    // Mode bit 0 (1) opens for writing; bits 0 and 1 together (3) create the
    // file or empty it. Without bit 0 the file must exist and be readable
    // (a folder is not), else the level-1 "Bad path or busy with another
    // process" is raised.
    tk_file(const std::string& name, int mode);
    virtual ~tk_file();
    tk_file(const tk_file&) = delete;
    tk_file& operator=(const tk_file&) = delete;

    // Reads length bytes at offset into buffer and gives buffer.
    virtual void* get_at(std::int64_t offset, void* buffer, std::int64_t length) = 0;
    virtual std::uint8_t get_char_at(std::int64_t offset) = 0;
    virtual std::uint16_t get_short_at(std::int64_t offset) = 0;
    virtual std::uint32_t get_long_at(std::int64_t offset) = 0;
    // Writes at offset; a gap past the end is filled with zero bytes.
    virtual void put_at(std::int64_t offset, const void* data, std::int64_t length) = 0;
    virtual std::int64_t get_length() = 0;

    const std::string& get_canonical_name() const { return canonical_name; }
    int get_mode() const { return mode; }

protected:
    std::FILE* stream = nullptr;
    int mode;
    std::string canonical_name;
};

class tk_stdio_file : public tk_file {
public:
    tk_stdio_file(const std::string& name, int mode);
    ~tk_stdio_file() override;

    void* get_at(std::int64_t offset, void* buffer, std::int64_t length) override;
    std::uint8_t get_char_at(std::int64_t offset) override;
    std::uint16_t get_short_at(std::int64_t offset) override;
    std::uint32_t get_long_at(std::int64_t offset) override;
    void put_at(std::int64_t offset, const void* data, std::int64_t length) override;
    std::int64_t get_length() override;

private:
    void seek(std::int64_t offset, int whence, const char* failure);
};
