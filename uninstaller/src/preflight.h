#pragma once
// What the program settles before its application object exists: --help, and a missing display,
// on which Qt would abort while making that object. Nothing has been read at that point.
#include <optional>

namespace appinstaller {

// Exit status when there is no display to show the window on (the uninstall itself ends with 0, 1
// or 255).
inline constexpr int kExitNoDisplay = 3;

// True when Qt has something to draw on: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM set and not
// empty, or Qt's own -platform or -display option with its value among the arguments.
bool HasDisplay(int argc, const char* const* argv);

// --help (or -h) prints the usage on standard output: 0. No display: a message on standard error
// and kExitNoDisplay. Otherwise nothing, and start-up goes on.
std::optional<int> BeforeApplication(int argc, const char* const* argv);

}  // namespace appinstaller
