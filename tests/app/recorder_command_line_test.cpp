#include "app/recorder_command_line.h"

#include <gtest/gtest.h>

namespace kestrun {
namespace {

using Action = RecorderCommandLine::Action;

TEST(RecorderCommandLineTest, AnswersWithoutQtAndLetsQtsOwnOptionsThrough) {
    const struct {
        std::vector<std::string_view> arguments;
        bool has_display;
        Action action;
        std::string text;
    } cases[] = {
        {{}, true, Action::kRun, ""},
        {{"-platform", "offscreen", "--style", "Fusion", "-reverse"}, false, Action::kRun, ""},
        {{"-display", ":1"}, false, Action::kRun, ""},
        {{"-reverse"},
         false,
         Action::kNoDisplay,
         "kestrun-recorder: needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set; "
         "record with kestrun-record instead\n"},
        {{"-style"},
         true,
         Action::kUsageError,
         "kestrun-recorder: -style needs a value\n" + RecorderUsage()},
        {{"flight.dat"},
         true,
         Action::kUsageError,
         "kestrun-recorder: unexpected argument flight.dat\n" + RecorderUsage()},
        {{"-platform", "xcb", "--platform"},
         false,
         Action::kUsageError,
         "kestrun-recorder: --platform needs a value\n" + RecorderUsage()},
        {{"--bogus", "--help"},
         true,
         Action::kUsageError,
         "kestrun-recorder: unknown option --bogus\n" + RecorderUsage()},
        {{"-style", "Fusion", "-v"}, false, Action::kVersion, "kestrun-recorder 1.0\n"},
    };
    for (const auto& c : cases) {
        const RecorderCommandLine read = ReadRecorderCommandLine(c.arguments, c.has_display);
        EXPECT_EQ(read.action, c.action) << c.text;
        EXPECT_EQ(read.text, c.text);
    }
    EXPECT_EQ(ReadRecorderCommandLine({"-h"}, false).text, RecorderUsage());
    EXPECT_EQ(RecorderUsage(),
              "Usage: kestrun-recorder [--help] [--version] [Qt options]\n"
              "The window of the Kestrun Digital Flight Recorder: \"Connect to FS\" links it to a\n"
              "simulator host, \"Start Recording\" writes one 80-byte record a second to the "
              "output\n"
              "file of its settings until \"Stop Recording\".\n"
              "It needs a display. Without one, record with kestrun-record (see kestrun-record "
              "--help).\n"
              "\n"
              "Options:\n"
              "  -h, --help     Show this text and exit\n"
              "  -v, --version  Show the version and exit\n"
              "Qt's own options work too, such as -platform NAME, -display DISPLAY or -style "
              "STYLE.\n");
}

}  // namespace
}  // namespace kestrun
