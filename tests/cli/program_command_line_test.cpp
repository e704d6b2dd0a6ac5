#include "cli/program_command_line.h"

#include <gtest/gtest.h>

namespace kestrun {
namespace {

// help2man turns each "  N  meaning" into an item of the manual's EXIT
// STATUS section, and the bash completion reads choices as "{a,b}" after
// an option's name: both depend on this exact layout.
TEST(ProgramCommandLineTest, HelpKeepsTheLayoutTheManualAndCompletionRead) {
    const ExitStatusMeaning statuses[] = {
        {0, "fine"},
        {2, "a meaning long enough that it has to be wrapped onto a second line, which starts "
            "under its first word"},
    };
    CLI::App app{"Test.", "prog"};
    PrepareCommandLine(app, statuses);
    std::string format;
    bool flag = false;
    auto* formatted = app.add_option("-f,--format", format, "Format")
                          ->check(CLI::IsMember({"csv", "gpx"}));
    app.add_flag("--flag", flag, "A flag")->needs(formatted);
    const std::string help = app.help();

    EXPECT_NE(help.find("\n  -f,--format {csv,gpx}"), std::string::npos) << help;
    EXPECT_NE(help.find("\n  --flag "), std::string::npos) << help;
    EXPECT_NE(help.find("A flag (only with --format)"), std::string::npos) << help;
    EXPECT_NE(help.find("\nExit status:\n  0  fine\n  2  a meaning long enough that it has to be "
                        "wrapped onto a second line, which\n     starts under its first word\n"),
              std::string::npos)
        << help;
}

}  // namespace
}  // namespace kestrun
