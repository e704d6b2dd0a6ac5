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
// form reaches it split; the rest is handed on as written.
TEST(RecorderCommandLineTest, HandsQtItsOptionsInEitherFormAsTwoArguments) {
    const struct {
        std::vector<std::string_view> arguments;
        std::vector<std::string> qt_arguments;
    } cases[] = {
        {{"-style=fusion"}, {"-style", "fusion"}},
        {{"--platform=offscreen", "-reverse"}, {"--platform", "offscreen", "-reverse"}},
        {{"-qmljsdebugger=port:3768,block", "--widgetcount"},
         {"-qmljsdebugger", "port:3768,block", "--widgetcount"}},
        {{"-stylesheet=a=b.qss", "-qwindowtitle", "-x"},
         {"-stylesheet", "a=b.qss", "-qwindowtitle", "-x"}},
        {{"-display=:1", "-session="}, {"-display", ":1", "-session", ""}},
    };
    for (const auto& c : cases) {
        const RecorderCommandLine read = ReadRecorderCommandLine(c.arguments, true);
        EXPECT_EQ(read.action, Action::kRun) << c.arguments[0];
        EXPECT_EQ(read.qt_arguments, c.qt_arguments) << c.arguments[0];
    }
    // A display chosen in the joined form counts as one.
    EXPECT_EQ(ReadRecorderCommandLine({"-platform=offscreen"}, false).action, Action::kRun);
    EXPECT_EQ(ReadRecorderCommandLine({"--display=:1"}, false).action, Action::kRun);
    EXPECT_EQ(ReadRecorderCommandLine({"-reverse=1"}, true).action, Action::kUsageError);
    EXPECT_EQ(ReadRecorderCommandLine({"-styles=fusion"}, true).action, Action::kUsageError);
}

}  // namespace
}  // namespace kestrun
