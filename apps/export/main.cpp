// kestrun-export: turns flight record files into CSV, GPX, KML, IGC, an SVG
// picture or a plain summary.

#include <CLI/CLI.hpp>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/program_command_line.h"
#include "export/export_output.h"
#include "export/export_run.h"
#include "platform/posix/posix_file_system.h"
#include "text/terminal_text.h"

namespace {

using namespace kestrun;

constexpr std::array<ExitStatusMeaning, 3> kExitStatuses{{
    {kExitOk, "all went well"},
    {kExitFailed,
     "a file could not be read, held not one record, or the output could not be written (the "
     "other files are still exported); when no file held a record, nothing is written"},
    {kExitUsage, "usage: a refused option or value"},
}};

// One line for the user on standard error.
void Say(const std::string& line) {
    std::fprintf(stderr, "kestrun-export: %s\n", TerminalSafe(line).c_str());
}

// True when `output` exists and is the same file as one of `inputs`: writing
// it would destroy the flight before it is read.
bool OutputIsAnInput(const std::string& output, const std::vector<std::string>& inputs,
                     std::string& which) {
    PosixFileSystem files;
    FileFacts out, in;
    bool found = false;
    if (!files.Stat(output, out, found).ok() || !found || out.kind != FileFacts::Kind::kRegular) {
        return false;
    }
    for (const std::string& input : inputs) {
        if (files.Stat(input, in, found).ok() && found && in.device == out.device &&
            in.inode == out.inode) {
            which = input;
            return true;
        }
    }
    return false;
}

struct Options {
    std::vector<std::string> files;
    std::string format_name = "csv";
    std::string output;
    std::optional<CivilDate> date;
};

// The options, or nothing when the program ends at once with `exit_code`.
std::optional<Options> ParseOptions(int argc, char** argv, int& exit_code) {
    CLI::App app{
        "Exports flight record files of the Kestrun Digital Flight Recorder as CSV, GPX, KML, IGC, "
        "an SVG picture or a summary.",
        "kestrun-export"};
    PrepareCommandLine(app, kExitStatuses);
    Options options;
    std::string date_text;
    app.add_option("FILE", options.files, "Record files; each is one flight")->required();
    app.add_option("-f,--format", options.format_name,
                   "Output format (default csv); igc holds one flight, so takes one file")
        ->check(CLI::IsMember(ExportFormatNames()));
    app.add_option("-o,--output", options.output, "Write to PATH instead of standard output")
        ->option_text("PATH");
    app.add_option("-d,--date", date_text,
                   "Local date of the first record; without it, each file's modification time "
                   "gives the date")
        ->option_text("YYYY-MM-DD")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseCivilDate(text) ? std::string()
                                            : "not a date of the form YYYY-MM-DD: " + text;
            },
            "YYYY-MM-DD"));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        exit_code = CommandLineExit(app, error);
        return std::nullopt;
    }
    if (!date_text.empty()) options.date = ParseCivilDate(date_text);
    return options;
}

// Refuses what the parser cannot see: several files for IGC, and an output
// that is one of the inputs.
bool OptionsFit(const Options& options, ExportFormat format) {
    if (format == ExportFormat::kIgc && options.files.size() > 1) {
        Say("an IGC file holds one flight: give one record file with --format igc");
        return false;
    }
    std::string input;
    if (!options.output.empty() && OutputIsAnInput(options.output, options.files, input)) {
        Say("the output " + options.output + " is the input " + input +
            "; choose another --output");
        return false;
    }
    return true;
}

int Export(const Options& options, ExportFormat format) {
    ExportOutput sink;
    if (const Status opened = sink.Open(options.output); !opened.ok()) {
        Say(opened.message());
        return kExitFailed;
    }
    OutputBuffer& out = sink.buffer();
    const auto writer = MakeFlightFormat(format, out, options.files.size());
    ExportDriver driver(*writer, options.date);
    int result = kExitOk;
    std::uint64_t records = 0;
    writer->BeginDocument();
    for (const std::string& path : options.files) {
        FlightReport report;
        const Status status = driver.ExportFile(path, report);
        records += report.scan.records;
        if (report.exported && report.scan.records == 0) {
            // A file that is no record file at all (or an empty one) is not
            // a flight with nothing in it: an empty track would pass for one.
            Say(path + ": no flight records found");
            result = kExitFailed;
        } else if (report.exported) {
            const std::string notes = DescribeFlight(report);
            for (std::size_t at = 0; at < notes.size();) {
                const std::size_t end = notes.find('\n', at);
                Say(notes.substr(at, end - at));
                at = end + 1;
            }
        }
        if (!status.ok()) {
            Say(status.message());
            result = kExitFailed;
        }
        // A failed output (a full disk, a closed pipe) will not recover.
        if (!out.ok()) break;
    }
    if (records == 0) {
        // Nothing was exported: no document at all, and no file left behind.
        sink.Discard();
        return kExitFailed;
    }
    writer->EndDocument();
    if (const Status closed = sink.Close(); !closed.ok()) {
        Say(closed.message());
        result = kExitFailed;
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = kExitOk;
    const std::optional<Options> options = ParseOptions(argc, argv, exit_code);
    if (!options) return exit_code;
    const ExportFormat format = *ParseExportFormat(options->format_name);
    if (!OptionsFit(*options, format)) return kExitUsage;
    return Export(*options, format);
}
