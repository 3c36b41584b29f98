#include "pg_test_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace pg_test {
namespace {

std::string quote_conn(const std::string& v)
{
    std::string out = "'";
    for (char c : v) {
        if (c == '\'' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out + "'";
}

bool is_root() { return geteuid() == 0; }

std::string find_bindir()
{
    if (const char* env = std::getenv("PG_BINDIR"); env && *env)
        return env;
    for (const char* dir : {"/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin", "/usr/lib/postgresql/17/bin"})
        if (access((std::string(dir) + "/initdb").c_str(), X_OK) == 0)
            return dir;
    throw std::runtime_error(
        "initdb and pg_ctl of PostgreSQL 15 were not found (install the Debian package \"postgresql\", "
        "or set PG_BINDIR to their folder)");
}

// Runs a program (as the postgres user when we are root) and gives its exit
// status; its output goes to the given file, or is inherited.
int run(std::vector<std::string> args, const std::string& output_file = {})
{
    if (is_root()) {
        std::vector<std::string> prefix = {"runuser", "-u", "postgres", "--"};
        args.insert(args.begin(), prefix.begin(), prefix.end());
    }
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output_file.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

std::string tail_of(const std::string& path, std::size_t max = 4000)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string t = s.str();
    return t.size() > max ? t.substr(t.size() - max) : t;
}

void write_text(const std::string& path, const std::string& text, bool append)
{
    std::ofstream out(path, append ? std::ios::app : std::ios::trunc);
    out << text;
}

void give_to_postgres(const std::string& path)
{
    if (!is_root())
        return;
    passwd* pw = getpwnam("postgres");
    if (!pw)
        throw std::runtime_error("the tests run as root, but there is no postgres user to run the server");
    if (chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
        throw std::runtime_error("cannot hand " + path + " to the postgres user");
}

}  // namespace

std::string server_info::conninfo(const std::string& dbname) const
{
    return "host=" + quote_conn(socket_dir) + " port=" + std::to_string(port) + " user=" + quote_conn(user) +
           " dbname=" + quote_conn(dbname);
}

std::string server_info::tcp_conninfo(const std::string& dbname) const
{
    return "host=127.0.0.1 port=" + std::to_string(port) + " user=" + quote_conn(user) +
           " dbname=" + quote_conn(dbname);
}

server_info start_server()
{
    const std::string bindir = find_bindir();
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/velc_pg_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("cannot create a folder for the test cluster");
    server_info info;
    info.dir = buf.data();
    info.socket_dir = info.dir + "/sock";
    info.user = "postgres";
    const std::string data = info.dir + "/data";
    const std::string log = info.dir + "/server.log";
    mkdir(info.socket_dir.c_str(), 0700);
    give_to_postgres(info.dir);
    give_to_postgres(info.socket_dir);

    if (run({bindir + "/initdb", "-D", data, "-E", "UTF8", "--locale=C", "-A", "trust", "--no-sync", "-U",
             info.user},
            info.dir + "/initdb.log") != 0) {
        std::string t = tail_of(info.dir + "/initdb.log");
        std::filesystem::remove_all(info.dir);
        throw std::runtime_error("initdb failed\n" + t);
    }
    // The connection tests need a role refused on "postgres" and a role that
    // must give a password; everyone else is trusted.
    std::string hba;
    hba += "local postgres velc_nopostgres reject\n";
    hba += "host postgres velc_nopostgres 127.0.0.1/32 reject\n";
    hba += "local all velc_pw scram-sha-256\n";
    hba += "host all velc_pw 127.0.0.1/32 scram-sha-256\n";
    hba += "local all all trust\n";
    hba += "host all all 127.0.0.1/32 trust\n";
    hba += "host all all ::1/128 trust\n";
    write_text(data + "/pg_hba.conf", hba, false);

    for (int attempt = 0; attempt < 8; ++attempt) {
        info.port = free_port();
        if (info.port == 0)
            continue;
        std::string opts = "-p " + std::to_string(info.port) +
                           " -c listen_addresses=127.0.0.1 -c unix_socket_directories=" + info.socket_dir +
                           " -c fsync=off -c synchronous_commit=off -c full_page_writes=off" +
                           " -c max_connections=200 -c log_statement=all";
        if (run({bindir + "/pg_ctl", "-D", data, "-l", log, "-w", "-t", "60", "-o", opts, "start"}) == 0) {
            std::string psql = bindir + "/psql";
            if (run({psql, "-q", "-X", "-v", "ON_ERROR_STOP=1", "-h", info.socket_dir, "-p",
                     std::to_string(info.port), "-U", info.user, "-d", "postgres", "-c",
                     "CREATE ROLE velc_nopostgres LOGIN", "-c",
                     "CREATE DATABASE velc_nopostgres OWNER velc_nopostgres", "-c",
                     "CREATE ROLE velc_pw LOGIN PASSWORD 'p w''x'"},
                    info.dir + "/initdb.log") != 0) {
                stop_server(info);
                throw std::runtime_error("the test roles could not be created");
            }
            return info;
        }
    }
    std::string t = tail_of(log);
    std::filesystem::remove_all(info.dir);
    throw std::runtime_error("the test cluster did not start\n" + t);
}

void stop_server(const server_info& info)
{
    if (info.dir.empty())
        return;
    try {
        run({find_bindir() + "/pg_ctl", "-D", info.dir + "/data", "-m", "immediate", "-w", "stop"});
    } catch (...) {
    }
    std::error_code ec;
    std::filesystem::remove_all(info.dir, ec);
}

bool save_info(const server_info& info, const std::string& path)
{
    std::ofstream out(path, std::ios::trunc);
    out << "dir=" << info.dir << "\nsocket_dir=" << info.socket_dir << "\nport=" << info.port
        << "\nuser=" << info.user << "\n";
    return static_cast<bool>(out);
}

bool load_info(const std::string& path, server_info& info)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "dir") info.dir = v;
        else if (k == "socket_dir") info.socket_dir = v;
        else if (k == "port") info.port = std::atoi(v.c_str());
        else if (k == "user") info.user = v;
    }
    return info.port != 0 && !info.socket_dir.empty();
}

namespace {

struct own_server {
    server_info info;
    bool owned = false;
    ~own_server()
    {
        if (owned)
            stop_server(info);
    }
};

}  // namespace

const server_info& current_server()
{
    static own_server server;
    static std::once_flag once;
    std::call_once(once, [] {
        const char* state = std::getenv("VELC_PG_STATE");
        if (state && *state && load_info(state, server.info))
            return;
        server.info = start_server();
        server.owned = true;
    });
    return server.info;
}

}  // namespace pg_test
