// What the programs say and return for bad or missing input, as a user at a
// terminal meets it: the real executables, their exit status and their exact
// words.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/integration/host_process.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

struct Finished {
    int status = -1;
    std::string out, err;
};

Finished RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    const testing::ScratchDir dir;
    const std::string out = (dir / "out").string(), err = (dir / "err").string();
    const pid_t pid = testing::SpawnProgram(program, arguments, out, err);
    const int status = pid > 0 ? testing::WaitForChild(pid) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::ReadFile(out),
            testing::ReadFile(err)};
}

constexpr const char* kMoreHelp = "Run with --help for more information.\n";

TEST(ProgramMessagesTest, NumbersOutOfRangeAreRefusedInWordsAsUsageErrors) {
    const struct {
        const char* program;
        std::vector<std::string> arguments;
        std::string said;
    } cases[] = {
        {KESTRUN_RECORD_PATH,
         {"--seconds", "0"},
         "--seconds must be a whole number from 1 to 31536000\n"},
        {KESTRUN_RECORD_PATH,
         {"--seconds", "1e400"},
         "--seconds must be a whole number from 1 to 31536000\n"},
        {KESTRUN_HOST_PATH,
         {"--update-rate", "5"},
         "--update-rate must be a number from 10 to 100\n"},
        {KESTRUN_HOST_PATH,
         {"--simulator-code", "65536"},
         "--simulator-code must be a whole number from 0 to 65535\n"},
        {KESTRUN_HOST_PATH,
         {"--start", "86,0,0"},
         "--start must be LAT,LON,ELEV[,HEADING]: a latitude from -85 to 85, a longitude from "
         "-180 to 180 and an elevation from -500 to 9000 metres\n"},
        {KESTRUN_HOST_PATH,
         {"--version-word", "0x123456789"},
         "--version-word must be a hexadecimal word from 0 to FFFFFFFF, such as 0x32800000\n"},
        {KESTRUN_HOST_PATH, {"--bogus"}, "The following argument was not expected: --bogus\n"},
    };
    for (const auto& c : cases) {
        const Finished run = RunProgram(c.program, c.arguments);
        EXPECT_EQ(run.status, 2) << c.said;
        EXPECT_EQ(run.err, c.said + kMoreHelp);
    }
}

TEST(ProgramMessagesTest, TheHostSaysWhatItIs) {
    const Finished run = RunProgram(KESTRUN_HOST_PATH, {"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find("Usage:")),
              "kestrun-host: a pretend flight simulator for the Kestrun flight recorder.\n"
              "Where no simulator runs, start it and the recorder (kestrun-recorder or\n"
              "kestrun-record) records its flight: a light aircraft flying left-hand traffic\n"
              "patterns, by default from Palo Alto (KPAO), runway 31\n"
              "(threshold 37.4611, -122.1150, elevation 2 m, runway heading 323 degrees true).\n"
              "With --flightgear it passes on the flight of a running FlightGear instead,\n"
              "with --replay a flight recorded before.\n"
              "Its fault options make it misbehave on purpose, to show the recorder's errors.\n"
              "It waits in $XDG_RUNTIME_DIR/kestrun (else /tmp/kestrun-<uid>) until Ctrl-C or\n"
              "SIGTERM, which stop it and remove its socket files.\n"
              "Exit status: 0 stopped; 1 could not start (the reason is printed); 2 usage.\n");
}

#ifdef KESTRUN_RECORDER_PATH
TEST(ProgramMessagesTest, TheWindowAnswersWithoutADisplayAndNeverAborts) {
    const std::vector<std::string> no_display{
        "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", KESTRUN_RECORDER_PATH};
    const auto without_display = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), no_display.begin(), no_display.end());
        return RunProgram("env", arguments);
    };
    Finished run = without_display({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "kestrun-recorder: needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set; "
              "record with kestrun-record instead\n");
    run = without_display({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "kestrun-recorder 1.0\n");
    run = without_display({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Without one, record with kestrun-record"), std::string::npos);
    run = without_display({"--bogus"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n', 45)),
              "kestrun-recorder: unknown option --bogus\nUsage: kestrun-recorder [--help] "
              "[--version] [Qt options]");
    // A display named but not there: Qt's abort becomes one line.
    run = RunProgram("env", {"-u", "QT_QPA_PLATFORM", "DISPLAY=:9999", KESTRUN_RECORDER_PATH});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("kestrun-recorder: cannot open a window on this display; record with "
                           "kestrun-record instead\n"),
              std::string::npos)
        << run.err;
}
#endif

}  // namespace
}  // namespace kestrun
