#include "gui_platform.h"

#include "tk_string.h"

#include <QLibraryInfo>
#include <QString>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

const char* const no_gui_text =
    "Failed to initialize GUI library\n"
    "velconv needs a desktop session: DISPLAY or WAYLAND_DISPLAY must name a display that is running.\n";

namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The X11 plugin's own connection, made with the library it uses: a server
// that refuses the client (no authority, say) counts as unreachable too.
bool x_display_answers()
{
    if (env("DISPLAY").empty())
        return false;
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb)
        return false;
    using connect_fn = void* (*)(const char*, int*);
    using has_error_fn = int (*)(void*);
    using disconnect_fn = void (*)(void*);
    const auto connect = reinterpret_cast<connect_fn>(::dlsym(xcb, "xcb_connect"));
    const auto has_error = reinterpret_cast<has_error_fn>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<disconnect_fn>(::dlsym(xcb, "xcb_disconnect"));
    bool answers = false;
    if (connect && has_error && disconnect) {
        // Never null: a failed connection is an object in its error state.
        void* connection = connect(nullptr, nullptr);
        answers = connection && has_error(connection) == 0;
        if (connection)
            disconnect(connection);
    }
    ::dlclose(xcb);
    return answers;
}

bool wayland_plugin_installed()
{
    std::vector<std::string> folders;
    if (const std::string direct = env("QT_QPA_PLATFORM_PLUGIN_PATH"); !direct.empty())
        folders.push_back(direct);
    for (const std::string& p : tk_split_string(env("QT_PLUGIN_PATH"), ':'))
        if (!p.empty())
            folders.push_back(p + "/platforms");
    folders.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms");
    for (const std::string& folder : folders) {
        std::error_code failed;
        for (std::filesystem::directory_iterator it(folder, failed), end; !failed && it != end; it.increment(failed)) {
            if (it->path().filename().string().rfind("libqwayland", 0) == 0)
                return true;
        }
    }
    return false;
}

// The compositor's socket: WAYLAND_DISPLAY, a name in XDG_RUNTIME_DIR or a
// whole path.
bool wayland_socket_answers()
{
    const std::string name = env("WAYLAND_DISPLAY");
    if (name.empty())
        return false;
    std::string path = name;
    if (name.front() != '/') {
        const std::string runtime = env("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return false;
        path = runtime + "/" + name;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

bool wayland_answers()
{
    return wayland_plugin_installed() && wayland_socket_answers();
}

}  // namespace

std::optional<std::string> usable_gui_platform()
{
    const std::string chosen = env("QT_QPA_PLATFORM");
    if (!chosen.empty()) {
        for (const std::string& entry : tk_split_string(chosen, ';')) {
            if (entry.empty())
                continue;
            // "name:option=value,..." passes options to the plugin.
            const std::string_view name = std::string_view(entry).substr(0, entry.find(':'));
            if (name == "xcb") {
                if (x_display_answers())
                    return entry;
            } else if (name.rfind("wayland", 0) == 0) {
                if (wayland_answers())
                    return entry;
            } else {
                return entry;
            }
        }
        return std::nullopt;
    }
    // Without the Wayland plugin a Wayland session is reached through its
    // X11 server (Xwayland), as DISPLAY names it.
    if (wayland_answers())
        return std::string("wayland");
    if (x_display_answers())
        return std::string("xcb");
    return std::nullopt;
}
