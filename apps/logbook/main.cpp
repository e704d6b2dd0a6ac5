// kestrun-logbook: a pilot's logbook built from record files. Scans files
// and folders for flights into an SQLite database, lists them, shows one
// with its phases and landing report, exports it, adds up the totals, and
// keeps what the pilot tells about each flight.

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/exit_status.h"
#include "cli/program_command_line.h"
#include "export/export_output.h"
#include "export/export_run.h"
#include "flights/flight_events.h"
#include "logbook/airports.h"
#include "logbook/flight_json.h"
#include "logbook/flight_rows.h"
#include "logbook/judgement_rows.h"
#include "logbook/logbook_output.h"
#include "logbook/logbook_scan.h"
#include "logbook/logbook_store.h"
#include "logbook/pilot_fields.h"
#include "logbook/runways.h"
#include "pages/page_folder.h"
#include "pages/page_html.h"
#include "platform/posix/desktop_open.h"
#include "platform/posix/posix_file_system.h"
#include "text/terminal_text.h"

namespace {

using namespace kestrun;

constexpr std::array<ExitStatusMeaning, 3> kExitStatuses{{
    {kExitOk, "all went well"},
    {kExitFailed,
     "a file or folder could not be read (the others are still scanned), the logbook was "
     "refused or could not be written, or there is no such flight"},
    {kExitUsage, "usage: a refused option or value"},
}};

void Say(const std::string& line) {
    std::fprintf(stderr, "kestrun-logbook: %s\n", TerminalSafe(line).c_str());
}

CLI::Validator DateValidator() {
    return CLI::Validator(
        [](std::string& text) {
            return ParseCivilDate(text) ? std::string()
                                        : "not a date of the form YYYY-MM-DD: " + text;
        },
        "YYYY-MM-DD");
}

TableFormat ParseTableFormat(const std::string& name) {
    return name == "csv"    ? TableFormat::kCsv
           : name == "json" ? TableFormat::kJson
                            : TableFormat::kTable;
}

// One line on a terminal that says how far a long scan has come, rewritten
// in place; nothing until the scan has taken a second.
class Progress {
  public:
    Progress() : shown_(::isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}
    void Update(std::size_t file, std::size_t files, std::uint64_t bytes) {
        if (!shown_) return;
        const auto now = Clock::now();
        if (now - start_ < std::chrono::seconds(1) ||
            now - last_ < std::chrono::milliseconds(200)) {
            return;
        }
        last_ = now;
        std::fprintf(stderr, "\rscanning file %zu of %zu, %llu MB read ", file, files,
                     static_cast<unsigned long long>(bytes >> 20));
        drawn_ = true;
    }
    void Clear() {
        if (drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

  private:
    using Clock = std::chrono::steady_clock;
    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_;
    Clock::time_point last_{};
};

// The event limits of `path` over the defaults; none given keeps them.
Status ReadLimits(const std::string& path, EventLimits& limits) {
    if (path.empty()) return Status::Ok();
    PosixFileSystem files;
    std::string text;
    bool found = false;
    Status status = files.ReadTextFile(path, text, found);
    if (status.ok() && !found) status = Status::Error("no such file");
    if (status.ok()) status = ParseEventLimits(text, limits);
    return status.ok() ? status : Status::Error("the limits " + path + ": " + status.message());
}

// Runways from `runway_list`, said in one line when they were imported.
Status ImportRunways(Database& db, const std::string& runway_list) {
    RunwayImport runway_import;
    if (runway_list.empty()) return Status::Ok();
    Status status = UpdateRunways(db, runway_list, runway_import);
    if (!status.ok() || !runway_import.imported) return status;
    std::printf("%d runways imported from %s", runway_import.runways,
                TerminalSafe(runway_list).c_str());
    if (runway_import.skipped > 0) {
        std::printf(" (%d without a position for both ends skipped)", runway_import.skipped);
    }
    std::printf("\n");
    return status;
}

int Scan(Database& db, const std::vector<std::string>& paths, const std::string& date_text,
         const std::string& airports, const std::string& runways, const std::string& limits_path) {
    int result = 0;
    const std::vector<std::string> files = FindRecordFiles(paths, [&](const std::string& problem) {
        Say(problem);
        result = kExitFailed;
    });
    std::optional<CivilDate> date;
    if (!date_text.empty()) date = ParseCivilDate(date_text);

    Progress progress;
    std::size_t at = 0;
    std::uint64_t done_bytes = 0;
    LogbookScan scan(db, date, [&](std::uint64_t bytes) {
        done_bytes = bytes;
        progress.Update(at, files.size(), bytes);
    });
    EventLimits limits;
    Status status = ReadLimits(limits_path, limits);
    scan.SetEventLimits(limits);
    if (status.ok()) status = scan.Begin();
    const std::string airport_list = airports.empty() ? InstalledAirportList() : airports;
    AirportImport airports_read;
    if (status.ok() && !airport_list.empty()) {
        status = UpdateAirports(db, airport_list, airports_read);
    }
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    // A bad list keeps the airports as they were; the record files are
    // scanned all the same.
    if (!airports_read.refused.empty()) {
        Say(airports_read.refused + "; the airports were left as they were");
        result = kExitFailed;
    }
    const bool imported = airports_read.imported;
    if (imported) std::printf("airports imported from %s\n", TerminalSafe(airport_list).c_str());
    // FlightGear's airport list holds the runways too.
    const std::string runway_list = !runways.empty()                ? runways
                                    : airport_list.ends_with(".gz") ? airport_list
                                                                    : std::string();
    if (status = ImportRunways(db, runway_list); !status.ok()) {
        Say(status.message());
        return kExitFailed;
    }

    std::size_t unchanged = 0;
    for (const std::string& file : files) {
        ++at;
        progress.Update(at, files.size(), done_bytes);
        const FileScanResult found = scan.ScanFile(file);
        if (found.outcome == FileScanResult::Outcome::kUnchanged) {
            ++unchanged;
            continue;
        }
        progress.Clear();
        if (found.outcome == FileScanResult::Outcome::kFailed) {
            Say(DescribeScan(found));
            result = kExitFailed;
        } else {
            std::printf("%s\n", TerminalSafe(DescribeScan(found)).c_str());
        }
    }
    progress.Clear();
    if (imported) status = RenameFlightAirports(db);
    if (status.ok()) status = scan.Commit();
    if (!status.ok()) {
        Say("the scan was not saved: " + status.message());
        return kExitFailed;
    }
    std::printf("%zu file%s unchanged\n", unchanged, unchanged == 1 ? "" : "s");
    std::fflush(stdout);
    return result;
}

int ExportFlight(const FlightRow& flight, const std::string& format_name,
                 const std::string& output) {
    ExportOutput sink;
    Status status = sink.Open(output);
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    const auto writer = MakeFlightFormat(*ParseExportFormat(format_name), sink.buffer(), 1);
    // The range is read as a file of its own, whose first record is the
    // flight's first.
    ExportDriver driver(*writer, CivilDate{DayOf(flight.first_time)});
    driver.SetPilotFields({flight.fields.aircraft, flight.fields.registration, flight.fields.pilot,
                           flight.fields.remarks});
    writer->BeginDocument();
    FlightReport report;
    status = driver.ExportFile(flight.file, report, static_cast<std::uint64_t>(flight.begin_offset),
                               static_cast<std::uint64_t>(flight.end_offset));
    writer->EndDocument();
    const Status closed = sink.Close();
    if (status.ok()) status = closed;
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    return 0;
}

// `html` and `open`: the logbook as web pages.
int Pages(Database& db, const std::optional<std::int64_t>& id, const std::string& output,
          bool open) {
    PosixFileSystem files;
    if (id && !open) {
        if (output.empty()) {
            Say("html ID writes one page and needs --output FILE");
            return kExitUsage;
        }
        const Status status = WriteFlightPage(db, files, *id, output);
        if (!status.ok()) Say(status.message());
        return status.ok() ? 0 : kExitFailed;
    }
    const std::filesystem::path folder = output.empty() ? DefaultPagesFolder() : output;
    PagesWritten written;
    const Status status = WritePagesFolder(db, files, folder, written);
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    const std::filesystem::path index = folder / "index.html";
    const std::filesystem::path page = id ? folder / FlightPageName(*id) : index;
    if (!open) {
        std::printf("%d flight page%s written, %d unchanged, %d removed: %s\n", written.written,
                    written.written == 1 ? "" : "s", written.unchanged, written.removed,
                    index.c_str());
        return std::fflush(stdout) == 0 ? 0 : kExitFailed;
    }
    if (id) {
        std::optional<FlightRow> flight;
        const Status found = LoadFlight(db, *id, flight);
        if (!found.ok() || !flight) {
            Say(found.ok() ? fmt::format("there is no flight {} in the logbook", *id)
                           : found.message());
            return kExitFailed;
        }
    }
    if (!HasDesktop()) {
        std::printf("%s\n", page.c_str());
        return std::fflush(stdout) == 0 ? 0 : kExitFailed;
    }
    const Status opened = OpenWithDesktop(page);
    if (!opened.ok()) {
        Say(opened.message() + "; the page is " + page.string());
        return kExitFailed;
    }
    return 0;
}

// The command line, parsed: which subcommand, and every option's value.
struct Command {
    enum class Kind { kScan, kList, kShow, kStats, kHtml, kOpen, kEdit, kSet } kind = Kind::kList;
    std::string db_path = DefaultLogbookPath();
    bool db_named = false;  // --db given: the hints repeat it
    std::vector<std::string> paths;
    std::string date_text, airports, runways, limits_path;
    std::string format_name = "table";
    std::string show_format = "table";
    FlightFilter filter;
    std::int64_t id = 0;
    std::string export_name, output;
    std::optional<std::int64_t> page_id;  // html and open: one flight's page
    std::string pages_output;
    // edit: (field, value) to set; set: the default named, and its new value.
    std::vector<std::pair<std::string, std::string>> changes;
    std::string default_name;
    std::optional<std::string> default_value;
};

// The command, or nothing when the program ends at once with `exit_code`.
std::optional<Command> ParseCommand(int argc, char** argv, int& exit_code) {
    CLI::App app{
        "A pilot's logbook from Kestrun flight record files: finds the flights in them, "
        "keeps them in a database with the pilot's own fields, and lists, shows, exports and "
        "totals them.",
        "kestrun-logbook"};
    PrepareCommandLine(app, kExitStatuses);
    app.require_subcommand(1);
    Command command;
    CLI::Option* db =
        app.add_option("--db", command.db_path,
                       "The logbook database (default $XDG_DATA_HOME/kestrun/logbook.sqlite, else "
                       "~/.local/share/kestrun/logbook.sqlite)")
            ->option_text("PATH");

    CLI::App* scan = app.add_subcommand("scan", "Find flights in record files and folders");
    scan->add_option("PATH", command.paths, "Record files, and folders searched for *.dat")
        ->required();
    scan->add_option("-d,--date", command.date_text,
                     "Local date of the first record of each new file (default: from the file's "
                     "modification time)")
        ->option_text("YYYY-MM-DD")
        ->check(DateValidator());
    scan->add_option("--airports", command.airports,
                     "Airports from a CSV file with the header ident,latitude,longitude,"
                     "elevation_ft (default: FlightGear's list when installed)")
        ->option_text("FILE");
    scan->add_option("--runways", command.runways,
                     "Runways from FlightGear's apt.dat.gz or a CSV file of runway ends with "
                     "the columns airport_ident,le_ident,le_latitude_deg,le_longitude_deg,he_ident,"
                     "he_latitude_deg,he_longitude_deg (default: the airport list when it is "
                     "FlightGear's)")
        ->option_text("FILE");
    scan->add_option("--limits", command.limits_path,
                     "Event limits, lines of NAME VALUE: bank_deg, pitch_up_deg, pitch_down_deg, "
                     "sink_fpm, sink_below_ft")
        ->option_text("FILE");

    CLI::App* list = app.add_subcommand("list", "List the flights, newest last");
    std::string from_text, to_text;
    list->add_option("-f,--format", command.format_name, "table, csv or json")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    list->add_option("--from", from_text, "Only flights on or after this date")
        ->option_text("YYYY-MM-DD")
        ->check(DateValidator());
    list->add_option("--to", to_text, "Only flights on or before this date")
        ->option_text("YYYY-MM-DD")
        ->check(DateValidator());
    list->add_option("--airport", command.filter.airport, "Only flights from or to this airport")
        ->option_text("IDENT");

    CLI::App* show = app.add_subcommand("show", "One flight: phases, landing report, export");
    show->add_option("ID", command.id, "The flight's id, as list shows it")->required();
    show->add_option("--export", command.export_name,
                     "Export the flight's records in one of kestrun-export's formats")
        ->check(CLI::IsMember(ExportFormatNames()));
    show->add_option("-o,--output", command.output,
                     "Write the export there instead of standard output")
        ->option_text("PATH");
    show->add_option("-f,--format", command.show_format, "table or json")
        ->check(CLI::IsMember({"table", "json"}));

    CLI::App* stats =
        app.add_subcommand("stats", "Totals overall, by month, by route and by aircraft");
    stats->add_option("-f,--format", command.format_name, "table, csv or json")
        ->check(CLI::IsMember({"table", "csv", "json"}));

    CLI::App* html = app.add_subcommand(
        "html", "Write the logbook as web pages (only what changed), or one flight's page");
    html->add_option("ID", command.page_id, "Only this flight's page, as one file (needs --output)");
    html->add_option("-o,--output", command.pages_output,
                     "The pages folder (default $XDG_DATA_HOME/kestrun/pages, else "
                     "~/.local/share/kestrun/pages); with ID, the page's file")
        ->option_text("PATH");
    CLI::App* open = app.add_subcommand(
        "open", "Bring the pages up to date and open the index, or a flight, in the browser");
    open->add_option("ID", command.page_id, "Open this flight's page");

    CLI::App* edit = app.add_subcommand(
        "edit", "Set a flight's aircraft, registration, pilot or remarks (an empty value clears)");
    edit->add_option("ID", command.id, "The flight's id, as list shows it")->required();
    std::array<std::string, kPilotFieldNames.size()> edited;
    std::array<CLI::Option*, kPilotFieldNames.size()> edit_options{};
    for (std::size_t i = 0; i < kPilotFieldNames.size(); ++i) {
        const std::string name(kPilotFieldNames[i]);
        edit_options[i] =
            edit->add_option("--" + name, edited[i], "The flight's " + name)->option_text("TEXT");
    }
    CLI::App* set = app.add_subcommand(
        "set",
        "Show, or set, the aircraft, registration and pilot that new flights are filed with");
    set->add_option("NAME", command.default_name, "aircraft, registration or pilot")
        ->check(CLI::IsMember({"aircraft", "registration", "pilot"}));
    CLI::Option* set_value =
        set->add_option("VALUE", command.default_value, "The new default (\"\" clears it)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        exit_code = CommandLineExit(app, error);
        return std::nullopt;
    }
    command.db_named = db->count() > 0;
    using Kind = Command::Kind;
    command.kind = scan->parsed()   ? Kind::kScan
                   : show->parsed() ? Kind::kShow
                   : list->parsed() ? Kind::kList
                   : html->parsed() ? Kind::kHtml
                   : open->parsed() ? Kind::kOpen
                   : edit->parsed() ? Kind::kEdit
                   : set->parsed()  ? Kind::kSet
                                    : Kind::kStats;
    for (std::size_t i = 0; i < kPilotFieldNames.size(); ++i) {
        if (edit_options[i]->count() > 0) {
            command.changes.emplace_back(kPilotFieldNames[i], edited[i]);
        }
    }
    if (command.kind == Kind::kEdit && command.changes.empty()) {
        Say("edit ID needs one or more of --aircraft, --registration, --pilot and --remarks");
        exit_code = kExitUsage;
        return std::nullopt;
    }
    if (set_value->count() > 0)
        command.changes.emplace_back(command.default_name, *command.default_value);
    // One line of text, as every table, CSV, JSON, XML and IGC line can carry.
    for (const auto& [name, value] : command.changes) {
        if (!IsPlainText(value)) {
            Say(fmt::format("the {} must be one line of UTF-8 text without control characters",
                            name));
            exit_code = kExitUsage;
            return std::nullopt;
        }
    }
    if (!from_text.empty()) command.filter.from_days = ParseCivilDate(from_text)->days;
    if (!to_text.empty()) command.filter.to_days = ParseCivilDate(to_text)->days;
    return command;
}

int Show(Database& db, const Command& command) {
    std::optional<FlightRow> flight;
    std::vector<PhaseRow> phases;
    FlightJudgement judgement;
    Status status = LoadFlight(db, command.id, flight);
    if (status.ok() && flight) status = LoadPhases(db, command.id, phases);
    if (status.ok() && flight) status = LoadJudgement(db, command.id, judgement);
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    if (!flight) {
        Say(fmt::format("there is no flight {} in the logbook {}", command.id, command.db_path));
        return kExitFailed;
    }
    if (!command.export_name.empty()) {
        return ExportFlight(*flight, command.export_name, command.output);
    }
    const std::string text = command.show_format == "json"
                                 ? JsonText(FlightShowJson(*flight, phases, judgement), 2) + "\n"
                                 : FormatFlight(*flight, phases, judgement);
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// The command that fills an empty logbook, with the --db it was named by.
std::string ScanHint(const Command& command) {
    std::string db;
    if (command.db_named) {
        const bool plain = command.db_path.find_first_not_of(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                               "0123456789_+-.,/:=@%") == std::string::npos;
        db = "--db " + (plain ? command.db_path : "'" + command.db_path + "'") + " ";
    }
    return "the logbook has no flights yet: kestrun-logbook " + db +
           "scan FOLDER-OR-FILE finds them in record files";
}

// `list` (the flights the filter lets through) or `stats` (totals of all).
// An empty logbook says how to fill it: in place of the table, or on
// standard error beside the CSV or JSON, which stay parseable.
int ListOrStats(Database& db, const Command& command) {
    const bool list = command.kind == Command::Kind::kList;
    std::vector<FlightRow> flights;
    const FlightFilter filter = list ? command.filter : FlightFilter{};
    bool any = true;
    Status status = LoadFlights(db, filter, flights);
    if (status.ok() && flights.empty()) status = HasFlights(db, any);
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    const TableFormat format = ParseTableFormat(command.format_name);
    std::string text;
    if (!any && format == TableFormat::kTable) {
        text = "T" + TerminalSafe(ScanHint(command)).substr(1) + "\n";  // "The logbook ..."
    } else {
        if (!any) Say(ScanHint(command));
        text = list ? FormatFlightList(flights, format) : FormatStats(flights, format);
    }
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// "aircraft C172, registration -, pilot A. Pilot, remarks -".
std::string PilotFieldsLine(const PilotFields& fields) {
    std::string line;
    for (std::size_t i = 0; i < kPilotFieldNames.size(); ++i) {
        const std::string& text = PilotField(fields, kPilotFieldNames[i]);
        line += fmt::format("{}{} {}", i == 0 ? "" : ", ", kPilotFieldNames[i],
                            text.empty() ? "-" : text);
    }
    return line;
}

int Edit(Database& db, const Command& command) {
    bool found = false;
    std::optional<FlightRow> flight;
    Status status = EditPilotFields(db, command.id, command.changes, found);
    if (status.ok() && found) status = LoadFlight(db, command.id, flight);
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    if (!found || !flight) {
        Say(fmt::format("there is no flight {} in the logbook {}", command.id, command.db_path));
        return kExitFailed;
    }
    std::printf("flight %lld: %s\n", static_cast<long long>(command.id),
                TerminalSafe(PilotFieldsLine(flight->fields)).c_str());
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// `set`: shows the defaults, or changes one.
int Set(Database& db, const Command& command) {
    Status status = Status::Ok();
    if (command.default_value) {
        status = SetPilotDefault(db, command.default_name, *command.default_value);
    }
    PilotFields defaults;
    if (status.ok()) status = LoadPilotDefaults(db, defaults);
    if (!status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    for (std::size_t i = 0; i + 1 < kPilotFieldNames.size(); ++i) {
        const std::string_view name = kPilotFieldNames[i];
        if (!command.default_name.empty() && command.default_name != name) continue;
        const std::string& text = PilotField(defaults, name);
        std::printf("%-13s %s\n", std::string(name).c_str(),
                    text.empty() ? "-" : TerminalSafe(text).c_str());
    }
    std::printf("Flights filed from now on get these; edit ID changes a flight filed before.\n");
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int Run(const Command& command) {
    Database db;
    db.SetLockWait(std::chrono::minutes(5), [&] {
        Say("waiting for another kestrun-logbook to finish with " + command.db_path);
    });
    if (Status status = OpenLogbook(command.db_path, db); !status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    switch (command.kind) {
        case Command::Kind::kScan:
            return Scan(db, command.paths, command.date_text, command.airports, command.runways,
                        command.limits_path);
        case Command::Kind::kShow:
            return Show(db, command);
        case Command::Kind::kHtml:
        case Command::Kind::kOpen:
            return Pages(db, command.page_id, command.pages_output,
                         command.kind == Command::Kind::kOpen);
        case Command::Kind::kList:
        case Command::Kind::kStats:
            return ListOrStats(db, command);
        case Command::Kind::kEdit:
            return Edit(db, command);
        case Command::Kind::kSet:
            return Set(db, command);
    }
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = kExitOk;
    const std::optional<Command> command = ParseCommand(argc, argv, exit_code);
    if (!command) return exit_code;
    return Run(*command);
}
