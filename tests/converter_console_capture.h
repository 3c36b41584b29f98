// The console front end of the run's tests: its two streams go to
// temporary files, and the program's end becomes a throw.
#pragma once

#include "console_front_end.h"
#include "recording_front_end.h"

#include <cstdio>
#include <optional>
#include <string>

namespace fake {

// The console front end over temporary files, ending the program by a throw.
struct captured_files {
    FILE* out_file = std::tmpfile();
    FILE* err_file = std::tmpfile();
};

// The files are made before the front end that writes to them.
class captured_console : private captured_files, public console_front_end {
public:
    captured_console() : console_front_end(out_file, err_file) {}
    ~captured_console() override
    {
        std::fclose(out_file);
        std::fclose(err_file);
    }
    [[noreturn]] void end_program(int code) override
    {
        std::fflush(out_file);
        std::fflush(err_file);
        exit_code = code;
        throw front_end_exit{code};
    }
    bool program_ending() const override { return exit_code.has_value(); }
    std::string out() const { return read(out_file); }
    std::string err() const { return read(err_file); }

    std::optional<int> exit_code;

private:
    static std::string read(FILE* f)
    {
        std::fflush(f);
        std::rewind(f);
        std::string text;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        return text;
    }
};

}  // namespace fake
