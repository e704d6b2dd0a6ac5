#include "cli/recorder_command_line.h"

#include <algorithm>
#include <array>

namespace kestrun {
namespace {

// Qt's application options, as QGuiApplication, QApplication and the X11
// platform plugin take them; each may also be written with two dashes.
constexpr std::array<std::string_view, 17> kQtOptionsWithValue{
    "platform",      "platformpluginpath",
    "platformtheme", "plugin",
    "qmljsdebugger", "qwindowgeometry",
    "qwindowicon",   "qwindowtitle",
    "display",       "geometry",
    "title",         "icon",
    "name",          "style",
    "stylesheet",    "session",
    "visual"};
constexpr std::array<std::string_view, 6> kQtFlags{"reverse", "widgetcount", "nograb",
                                                   "dograb",  "sync",        "testability"};

bool Contains(const auto& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

RecorderCommandLine UsageError(std::string problem) {
    return {RecorderCommandLine::Action::kUsageError,
            "kestrun-recorder: " + problem + "\n" + RecorderUsage(),
            {}};
}

}  // namespace

std::string RecorderUsage() {
    return "Usage: kestrun-recorder [--help] [--version] [Qt options]\n"
           "The window of the Kestrun Digital Flight Recorder: \"Connect to FS\" links it to a\n"
           "simulator host, \"Start Recording\" writes one 80-byte record a second to the output\n"
           "file of its settings until \"Stop Recording\".\n"
           "It needs a display. Without one, record with kestrun-record (see kestrun-record "
           "--help).\n"
           "\n"
           "Options:\n"
           "  -h, --help     Show this text and exit\n"
           "  -v, --version  Show the version and exit\n"
           "Qt's own options work too, such as -platform NAME, -display DISPLAY or -style STYLE.\n";
}

RecorderCommandLine ReadRecorderCommandLine(const std::vector<std::string_view>& arguments,
                                            bool has_display) {
    RecorderCommandLine read;
    bool display_chosen = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            return {RecorderCommandLine::Action::kHelp, RecorderUsage(), {}};
        }
        if (argument == "-v" || argument == "--version") {
            return {RecorderCommandLine::Action::kVersion,
                    "kestrun-recorder " + std::string(kRecorderVersion) + "\n",
                    {}};
        }
        if (argument.size() < 2 || argument[0] != '-') {
            return UsageError("unexpected argument " + std::string(argument));
        }
        const std::size_t dashes = argument.starts_with("--") ? 2 : 1;
        const std::size_t equals = argument.find('=');
        const std::string_view option = argument.substr(0, equals);
        const std::string_view name = option.substr(dashes);
        if (equals == std::string_view::npos && Contains(kQtFlags, name)) {
            read.qt_arguments.emplace_back(argument);
            continue;
        }
        if (!Contains(kQtOptionsWithValue, name)) {
            return UsageError("unknown option " + std::string(argument));
        }
        // Qt takes most of its options only as two arguments, so -name=value
        // is handed on split in two.
        read.qt_arguments.emplace_back(option);
        if (equals != std::string_view::npos) {
            read.qt_arguments.emplace_back(argument.substr(equals + 1));
        } else if (++i == arguments.size()) {
            return UsageError(std::string(argument) + " needs a value");
        } else {
            read.qt_arguments.emplace_back(arguments[i]);
        }
        if (name == "platform" || name == "display") display_chosen = true;
    }
    if (!has_display && !display_chosen) {
        return {RecorderCommandLine::Action::kNoDisplay,
                "kestrun-recorder: needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is "
                "set; record with kestrun-record instead\n",
                {}};
    }
    return read;
}

}  // namespace kestrun
