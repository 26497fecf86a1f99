#include "preflight.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace appinstaller {

namespace {

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// Qt takes its options with one dash or two.
bool IsQtOption(std::string_view arg, std::string_view name)
{
    if (arg.substr(0, 2) == "--")
        arg.remove_prefix(1);
    return arg.size() == name.size() + 1 && arg[0] == '-' && arg.substr(1) == name;
}

void PrintUsage()
{
    std::printf(
        "usage: uninstall [--help]\n"
        "\n"
        "Removes the installed desktop tool that AppConfig.xml beside this program names: the folder\n"
        "its uninstall key gives (InstallLocation), its desktop shortcuts, its application-menu folders\n"
        "and the key itself, after a confirmation in a window. Runs as root, on a graphical display.\n"
        "\n"
        "  APPINSTALLER_KEYSTORE_ROOT  folder of the key store (default %s)\n"
        "\n"
        "Exit status: 0 uninstalled, 1 some steps failed (the window names them), 255 refused or\n"
        "cancelled (nothing changed), %d no graphical display (nothing read or changed).\n",
        APPINSTALLER_KEYSTORE_ROOT, kExitNoDisplay);
}

}  // namespace

bool HasDisplay(int argc, const char* const* argv)
{
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i + 1 < argc; ++i) {
        if (IsQtOption(argv[i], "platform") || IsQtOption(argv[i], "display"))
            return true;
    }
    return false;
}

std::optional<int> BeforeApplication(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        }
    }
    if (HasDisplay(argc, argv))
        return std::nullopt;
    std::fputs("uninstall: this program is a window and needs a graphical display, but DISPLAY,\n"
               "WAYLAND_DISPLAY and QT_QPA_PLATFORM are all unset. Run it in a desktop session, or on a\n"
               "virtual display with xvfb-run. Nothing was read or changed.\n",
               stderr);
    return kExitNoDisplay;
}

}  // namespace appinstaller
