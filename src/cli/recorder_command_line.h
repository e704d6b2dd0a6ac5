#pragma once
// kestrun-recorder's command line, read before Qt starts: without a display
// Qt would abort before it could show any help, so --help, --version, usage
// errors and a missing display are answered here, without Qt.

#include <string>
#include <string_view>
#include <vector>

namespace kestrun {

inline constexpr std::string_view kRecorderVersion = "1.0";

struct RecorderCommandLine {
    enum class Action {
        kRun,         // open the window; Qt reads its own options itself
        kHelp,        // print `text` on standard output, exit 0
        kVersion,     // likewise
        kUsageError,  // print `text` on standard error, exit 2
        kNoDisplay,   // print `text` on standard error, exit 1
    };
    Action action = Action::kRun;
    std::string text;
    // With kRun: the arguments to hand Qt, in their order, each -name=value
    // of a Qt option split into -name and value.
    std::vector<std::string> qt_arguments;
};

// Reads `arguments` (without the program name). Qt's own options, such as
// -platform NAME, --style STYLE or -style=STYLE, are let through to Qt. `has_display` says
// whether the environment names a display or a Qt platform; a -platform or
// -display option counts as one too.
RecorderCommandLine ReadRecorderCommandLine(const std::vector<std::string_view>& arguments,
                                            bool has_display);

// The text of --help.
std::string RecorderUsage();

}  // namespace kestrun
