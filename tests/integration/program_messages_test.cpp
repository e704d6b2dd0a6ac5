// What the programs say and return for bad or missing input, as a user at a
// terminal meets it: the real executables, their exit status and their words.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

// `command` for env(1), run without a display so that the window's program
// answers too.
std::vector<std::string> WithoutDisplay(std::vector<std::string> command) {
    command.insert(command.begin(), {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"});
    return command;
}

TEST(ProgramMessagesTest, BadInputIsRefusedInWordsWithTheRightStatus) {
    const std::string more = "Run with --help for more information.\n";
    const std::string seconds = "--seconds must be a whole number from 1 to 31536000\n" + more;
    // Every refusal prints nothing on standard output; usage errors end 2.
    const struct {
        std::vector<std::string> command;
        std::string err_ends;
        int status = 2;
    } cases[] = {
        {{KESTRUN_RECORD_PATH, "--seconds", "0"}, seconds},
        {{KESTRUN_RECORD_PATH, "--seconds", "1e400"}, seconds},
        {{KESTRUN_RECORD_PATH, "--seconds", " 5"}, seconds},
        {{KESTRUN_HOST_PATH, "--update-rate", "inf"},
         "--update-rate must be a number from 10 to 100\n" + more},
        {{KESTRUN_HOST_PATH, "--simulator-code", "65536"},
         "--simulator-code must be a whole number from 0 to 65535\n" + more},
        {{KESTRUN_HOST_PATH, "--start", "86,0,0"},
         "--start must be LAT,LON,ELEV[,HEADING]: a latitude from -85 to 85, a longitude from "
         "-180 to 180 and an elevation from -500 to 9000 metres\n" +
             more},
        {{KESTRUN_HOST_PATH, "--version-word", "0x123456789"},
         "--version-word must be a hexadecimal word from 0 to FFFFFFFF, such as 0x32800000\n" +
             more},
        {{KESTRUN_HOST_PATH, "--replay", "f.dat", "--speed", "100"},
         "--speed must be a number from 0.1 to 64\n" + more},
        {{KESTRUN_REPLAY_PATH, "f.dat", "--rate", "0"},
         "--rate must be a number from 1 to 120\n" + more},
        {{KESTRUN_LOGBOOK_PATH, "show", "abc"}, "ID: abc is not a valid value\n" + more},
        {{KESTRUN_LOGBOOK_PATH, "--db"}, "--db needs a value\n" + more},
        {{KESTRUN_HOST_PATH, "--loop"}, "--loop works only with --replay\n" + more},
        {{KESTRUN_HOST_PATH, "--never-answer", "--answer-zero"},
         "--never-answer cannot be given with --answer-zero\n" + more},
        // A misspelt option is named before the required one it hides.
        {{KESTRUN_RELAY_PATH, "serve", "--kee", "k"}, "unknown option: --kee\n" + more},
        {{KESTRUN_RELAY_PATH}, "a subcommand is required: serve, client or keygen\n" + more},
#ifdef KESTRUN_RECORDER_PATH
        {WithoutDisplay({"-u", "QT_QPA_PLATFORM", KESTRUN_RECORDER_PATH}),
         "kestrun-recorder: needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set; "
         "record with kestrun-record instead\n",
         1},
        {WithoutDisplay({KESTRUN_RECORDER_PATH, "--bogus"}), "  2  usage: an unknown option\n"},
        // A display named but not there: Qt's abort becomes one line.
        {{"-u", "QT_QPA_PLATFORM", "DISPLAY=:9999", KESTRUN_RECORDER_PATH},
         "kestrun-recorder: cannot open a window on this display; record with kestrun-record "
         "instead\n",
         1},
#endif
    };
    // Each runs through env(1), so that a case can set or unset variables.
    const testing::ScratchDir dir;
    const std::string out = (dir / "out").string(), err = (dir / "err").string();
    for (const auto& c : cases) {
        EXPECT_EQ(testing::RunProgram("env", c.command, out, err), c.status) << c.err_ends;
        EXPECT_EQ(testing::ReadFile(out), "");
        EXPECT_TRUE(testing::ReadFile(err).ends_with(c.err_ends)) << testing::ReadFile(err);
    }
}

// What every program answers to --version, --help and a misspelling, in the
// same words.
TEST(ProgramMessagesTest, EveryProgramAnswersVersionHelpAndUnknownsAlike) {
    const struct {
        std::string path, name;
        std::vector<std::string> statuses;  // the exit statuses --help must list
        bool has_subcommands;
    } programs[] = {
        {KESTRUN_RECORD_PATH, "kestrun-record", {"0", "2", "3", "4", "5"}, false},
        {KESTRUN_HOST_PATH, "kestrun-host", {"0", "1", "2"}, false},
        {KESTRUN_RELAY_PATH, "kestrun-relay", {"0", "1", "2"}, true},
        {KESTRUN_EXPORT_PATH, "kestrun-export", {"0", "1", "2"}, false},
        {KESTRUN_REPLAY_PATH, "kestrun-replay", {"0", "1", "2"}, false},
        {KESTRUN_LOGBOOK_PATH, "kestrun-logbook", {"0", "1", "2"}, true},
#ifdef KESTRUN_RECORDER_PATH
        {KESTRUN_RECORDER_PATH, "kestrun-recorder", {"0", "1", "2"}, false},
#endif
    };
    const testing::ScratchDir dir;
    const std::string out = (dir / "out").string(), err = (dir / "err").string();
    const auto run = [&](const std::string& path, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), path);
        return testing::RunProgram("env", WithoutDisplay(arguments), out, err);
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(run(p.path, {"--version"}), 0);
        EXPECT_EQ(testing::ReadFile(out), p.name + " " + KESTRUN_PROJECT_VERSION + "\n");

        EXPECT_EQ(run(p.path, {"--bogus"}), 2);
        EXPECT_TRUE(testing::ReadFile(err).starts_with(p.name + ": unknown option: --bogus\n"))
            << testing::ReadFile(err);
        if (p.has_subcommands) {
            EXPECT_EQ(run(p.path, {"bogus"}), 2);
            EXPECT_TRUE(testing::ReadFile(err).starts_with(p.name + ": unknown subcommand: bogus "))
                << testing::ReadFile(err);
        }

        EXPECT_EQ(run(p.path, {"--help"}), 0);
        const std::string help = testing::ReadFile(out);
        const std::size_t list = help.find("\nExit status:\n");
        ASSERT_NE(list, std::string::npos) << help;
        for (const std::string& status : p.statuses) {
            EXPECT_NE(help.find("\n  " + status + "  ", list), std::string::npos) << status;
        }
        for (const char* jargon : {"Needs:", "Excludes:", "REQUIRED", " TEXT", " INT"}) {
            EXPECT_EQ(help.find(jargon), std::string::npos) << jargon << "\n" << help;
        }
    }
}

}  // namespace
}  // namespace kestrun
