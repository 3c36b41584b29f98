// Starts or stops the private PostgreSQL cluster of one test run:
//   pg_test_server start STATE_FILE   writes where the server listens
//   pg_test_server stop STATE_FILE    stops it and removes its folder
#include "pg_test_server.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pg_test_server start|stop STATE_FILE\n");
        return 2;
    }
    const std::string command = argv[1], state = argv[2];
    try {
        if (command == "start") {
            pg_test::server_info old;
            if (pg_test::load_info(state, old))
                pg_test::stop_server(old);
            pg_test::server_info info = pg_test::start_server();
            if (!pg_test::save_info(info, state)) {
                pg_test::stop_server(info);
                std::fprintf(stderr, "cannot write %s\n", state.c_str());
                return 1;
            }
            std::printf("test cluster on port %d, socket in %s\n", info.port, info.socket_dir.c_str());
            return 0;
        }
        if (command == "stop") {
            pg_test::server_info info;
            if (pg_test::load_info(state, info))
                pg_test::stop_server(info);
            std::remove(state.c_str());
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "unknown command %s\n", command.c_str());
    return 2;
}
