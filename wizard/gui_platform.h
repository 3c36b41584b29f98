// Whether the GUI can start, found out before the application object is
// made: Qt ends the process with an abort when no platform plugin starts,
// so velconv tries the display the plugin would open first and, when none
// answers, says so and ends with 255 instead.
#pragma once

#include <optional>
#include <string>

// The text on the standard error when no platform can start.
extern const char* const no_gui_text;

// The platform for Qt's "-platform" argument, or nothing when none can
// start. QT_QPA_PLATFORM, when set, is followed: the first of its entries
// that can start (X11 and Wayland are tried, any other platform is taken
// as it is). Without it, Wayland when WAYLAND_DISPLAY names a socket that
// answers and its platform plugin is installed, else X11 when DISPLAY
// names a server that accepts the connection.
std::optional<std::string> usable_gui_platform();
