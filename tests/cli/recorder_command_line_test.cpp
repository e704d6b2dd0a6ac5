#include "cli/recorder_command_line.h"

#include <gtest/gtest.h>

namespace kestrun {
namespace {

using Action = RecorderCommandLine::Action;

// Exit statuses and the lines without a display are checked on the program.
TEST(RecorderCommandLineTest, LetsQtsOwnOptionsThroughAndRefusesTheRest) {
    const struct {
        std::vector<std::string_view> arguments;
        bool has_display;
        Action action;
        std::string problem;
    } cases[] = {
        {{}, true, Action::kRun, ""},
        {{"-platform", "offscreen", "--style", "Fusion", "-reverse"}, false, Action::kRun, ""},
        {{"-display", ":1"}, false, Action::kRun, ""},
        {{"-reverse"}, false, Action::kNoDisplay, ""},
        {{"-style"}, true, Action::kUsageError, "-style needs a value"},
        {{"-platform", "xcb", "--platform"},
         false,
         Action::kUsageError,
         "--platform needs a value"},
        {{"flight.dat"}, true, Action::kUsageError, "unexpected argument flight.dat"},
        {{"--bogus", "--help"}, true, Action::kUsageError, "unknown option --bogus"},
        {{"-style", "Fusion", "-h"}, false, Action::kHelp, ""},
    };
    for (const auto& c : cases) {
        const RecorderCommandLine read = ReadRecorderCommandLine(c.arguments, c.has_display);
        EXPECT_EQ(read.action, c.action) << c.problem;
        if (!c.problem.empty()) {
            EXPECT_EQ(read.text, "kestrun-recorder: " + c.problem + "\n" + RecorderUsage());
        }
    }
}

// Qt itself takes most of its options only as two arguments, so the joined
// form reaches it split; a display chosen so counts as one.
TEST(RecorderCommandLineTest, HandsQtItsOptionsInEitherFormAsTwoArguments) {
    const std::pair<std::vector<std::string_view>, std::vector<std::string>> cases[] = {
        {{"-platform=xcb", "-style=fusion", "-reverse"},
         {"-platform", "xcb", "-style", "fusion", "-reverse"}},
        {{"--display=:1", "-qwindowtitle", "-x", "-stylesheet=a=b.qss"},
         {"--display", ":1", "-qwindowtitle", "-x", "-stylesheet", "a=b.qss"}},
    };
    for (const auto& [arguments, qt_arguments] : cases) {
        const RecorderCommandLine read = ReadRecorderCommandLine(arguments, false);
        EXPECT_EQ(read.action, Action::kRun) << arguments[0];
        EXPECT_EQ(read.qt_arguments, qt_arguments) << arguments[0];
    }
}

}  // namespace
}  // namespace kestrun
