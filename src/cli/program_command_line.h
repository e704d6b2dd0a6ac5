#pragma once
// What every CLI11 program's command line has in common: --version with the
// one version, --help in plain words that ends with the exit statuses, and
// refusals in plain words ("unknown option: --bogus") with exit status 2.

#include <CLI/CLI.hpp>
#include <span>
#include <string>

#include "cli/exit_status.h"

namespace kestrun {

// Call on the program's App right after making it, before any subcommand
// is added, so that subcommands inherit the help format and the refusals.
void PrepareCommandLine(CLI::App& app, std::span<const ExitStatusMeaning> exit_statuses);

// Prints what `error` calls for (help and the version on standard output,
// a refusal on standard error) and returns the exit status: kExitOk after
// --help or --version, kExitUsage for everything else.
int CommandLineExit(CLI::App& app, const CLI::ParseError& error);

// The refusal of `error` in plain words, without the program's name.
std::string DescribeCommandLineError(const CLI::App& app, const CLI::Error& error);

}  // namespace kestrun
