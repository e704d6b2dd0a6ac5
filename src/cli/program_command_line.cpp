#include "cli/program_command_line.h"

#include <fmt/core.h>

#include <memory>
#include <set>
#include <regex>
#include <string_view>
#include <vector>

#include "cli/program_version.h"

namespace kestrun {
namespace {

// "a", "a or b", "a, b or c".
std::string OrList(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
        text += names[i];
    }
    return text;
}

std::vector<std::string> OptionNames(const std::set<CLI::Option*>& options) {
    std::vector<std::string> names;
    for (const CLI::Option* option : options) names.push_back(option->get_name());
    return names;
}

// CLI11's help, with the parser's own shorthand ("TEXT", "REQUIRED",
// "Needs:", "Excludes:") said in words in each option's description.
class PlainFormatter : public CLI::Formatter {
  public:
    std::string make_option_opts(const CLI::Option* option) const override {
        if (!option->get_option_text().empty()) return " " + option->get_option_text();
        // Flags have no value, and so no type name.
        if (option->get_type_size() == 0 || option->get_type_name().empty()) return "";
        std::string value;
        if (!option->get_positional()) {
            // A choice of values shows as "{csv,gpx}"; any other value as VALUE.
            const std::string type = option->get_type_name();
            const std::size_t choices = type.find('{');
            value = " " + (choices == std::string::npos ? std::string("VALUE")
                                                         : type.substr(choices));
        }
        if (option->get_expected_max() == CLI::detail::expected_max_vector_size) value += " ...";
        return value;
    }

    std::string make_option_desc(const CLI::Option* option) const override {
        std::string text = option->get_description();
        if (option->get_required() && !option->get_positional()) text += " (required)";
        if (!option->get_needs().empty()) {
            text += " (only with " + OrList(OptionNames(option->get_needs())) + ")";
        }
        if (!option->get_excludes().empty()) {
            text += " (not with " + OrList(OptionNames(option->get_excludes())) + ")";
        }
        return text;
    }
};

// The subcommand the user reached: the deepest one parsed.
const CLI::App& ReachedCommand(const CLI::App& app) {
    const CLI::App* at = &app;
    while (!at->get_subcommands().empty()) at = at->get_subcommands().front();
    return *at;
}

std::vector<std::string> SubcommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        names.push_back(sub->get_name());
    }
    return names;
}

// The first argument nothing took, named for what it looks like.
std::string DescribeLeftOver(const CLI::App& app, const std::string& argument) {
    if (argument.size() > 1 && argument.front() == '-') return "unknown option: " + argument;
    const CLI::App& reached = ReachedCommand(app);
    const std::vector<std::string> subcommands = SubcommandNames(reached);
    if (!subcommands.empty()) {
        return fmt::format("unknown subcommand: {} (the subcommands are {})", argument,
                           OrList(subcommands));
    }
    return "unexpected argument: " + argument;
}

std::string Reworded(const CLI::App& app, const CLI::Error& error) {
    const std::string name = error.get_name();
    const std::string text = error.what();
    std::smatch match;
    if (name == "RequiredError" && text == "A subcommand is required") {
        return "a subcommand is required: " + OrList(SubcommandNames(ReachedCommand(app)));
    }
    if (name == "ExcludesError" &&
        std::regex_match(text, match, std::regex("(\\S+) excludes (\\S+)"))) {
        return fmt::format("{} cannot be given with {}", match[1].str(), match[2].str());
    }
    if (name == "RequiresError" &&
        std::regex_match(text, match, std::regex("(\\S+) requires (\\S+)"))) {
        return fmt::format("{} works only with {}", match[1].str(), match[2].str());
    }
    if (name == "ArgumentMismatch" &&
        std::regex_match(text, match, std::regex("(\\S+): \\d+ required .* missing"))) {
        return match[1].str() + " needs a value";
    }
    if (name == "ConversionError" &&
        std::regex_match(text, match, std::regex("Could not convert: (\\S+) = (.*)"))) {
        return fmt::format("{}: {} is not a valid value", match[1].str(), match[2].str());
    }
    return text;
}

}  // namespace

std::string DescribeCommandLineError(const CLI::App& app, const CLI::Error& error) {
    // Whatever else went wrong, an argument nothing took is the first thing
    // to put right: a misspelt option also makes the one meant look missing.
    const std::vector<std::string> left_over = app.remaining(true);
    if (!left_over.empty()) return DescribeLeftOver(app, left_over.front());
    return Reworded(app, error);
}

void PrepareCommandLine(CLI::App& app, std::span<const ExitStatusMeaning> exit_statuses) {
    app.formatter(std::make_shared<PlainFormatter>());
    app.set_help_flag("-h,--help", "Show this text and exit");
    app.set_version_flag("--version", fmt::format("{} {}", app.get_name(), kProgramVersion),
                         "Show the version and exit");
    app.footer(ExitStatusHelp(exit_statuses));
    app.failure_message([](const CLI::App* failed, const CLI::Error& error) {
        return fmt::format("{}: {}\nRun with --help for more information.\n",
                           failed->get_name(), DescribeCommandLineError(*failed, error));
    });
}

int CommandLineExit(CLI::App& app, const CLI::ParseError& error) {
    // Help and version are successes; every refusal is a usage error,
    // whatever number the parser would give it.
    return app.exit(error) == 0 ? kExitOk : kExitUsage;
}

}  // namespace kestrun
