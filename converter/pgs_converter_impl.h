// The PostgreSQL side of the main converter: where the server is and who
// connects, the engine that connects, and the section "pgs settings" of a
// profile.
#pragma once

#include "pgs_engine.h"

#include <cstdint>
#include <string>

class udb_profile;

class pgs_converter_impl {
public:
    pgs_converter_impl();
    ~pgs_converter_impl();
    pgs_converter_impl(const pgs_converter_impl&) = delete;
    pgs_converter_impl& operator=(const pgs_converter_impl&) = delete;

    void set_connection(const std::string& host, const std::string& user, const std::string& password, int port);

    // Writes host, user, password, schema and port, each only when set.
    bool store_profile(udb_profile& profile);
    // Applies the non-empty keys in the order host, user, password, schema,
    // port. A port that does not read as 1 to 65535 is the level-1 failure
    // "Invalid port number"; the keys before it stay applied.
    bool load_profile(udb_profile& profile);

    // 0 names no port: the connection then takes the server's default.
    std::int32_t port = 0;
    // Kept in profiles only; tables always go to "public".
    std::wstring schema = L"public";
    // The program's one connection; its keep_case is what the case setting
    // changes.
    pgs_engine engine;
    // UTF-8. The password is held in clear, as typed.
    std::string host;
    std::string user;
    std::string password;
};

// A profile's port text read the way the C library reads a long: leading
// white space, an optional sign, then decimal digits up to the first other
// character; no digit gives 0. A value past the range of a 64-bit number
// stays past it (it saturates), so it can never wrap into a valid port.
std::int64_t pgs_read_profile_port(const std::wstring& text);
