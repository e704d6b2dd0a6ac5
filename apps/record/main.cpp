// kestrun-record: the recorder without a window. Runs the window's own
// handlers on a headless window: load, connect, start, one tick a second,
// stop, disconnect, unload, printing every new status text on its own line.

#include <fmt/core.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/exit_status.h"
#include "cli/number_option.h"
#include "cli/output_pattern.h"
#include "cli/program_command_line.h"
#include "cli/record_exit_status.h"
#include "flights/landing_watch.h"
#include "link/link_result.h"
#include "logbook/airports.h"
#include "logbook/flight_rows.h"
#include "logbook/logbook_output.h"
#include "logbook/logbook_scan.h"
#include "logbook/logbook_store.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_link_platform.h"
#include "settings/settings_file.h"
#include "text/terminal_text.h"
#include "window/form1.h"
#include "window/headless_window.h"
#include "window/status_texts.h"

namespace {

using namespace kestrun;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kTickPeriod = std::chrono::milliseconds(kRecordTimerIntervalMs);
// A year of seconds: far beyond any flight, and the run's deadline stays
// well inside the steady clock's range.
constexpr std::int64_t kMaxSeconds = 31'536'000;
// How long the aircraft rests after landing before --until-landed stops.
constexpr std::int64_t kRestAfterLandingSeconds = 30;

constexpr std::array<ExitStatusMeaning, 6> kExitStatuses{{
    {kExitOk, "recorded and saved"},
    {kExitFailed, "recorded and saved, but --logbook could not put the file into the logbook"},
    {kExitUsage, "usage: a refused option or value"},
    {kExitNotConnected,
     "could not connect to a simulator host; with none found, it also says on standard error "
     "where it looked and how to start one"},
    {kExitFileError,
     "output file error: not opened (also when another recorder is writing it), a write "
     "failed, or not saved"},
    {kExitSecondsLost,
     "saved, but some seconds could not be read from the host (their records hold zeros)"},
}};

struct Options {
    std::optional<std::int64_t> seconds;
    std::string output;
    bool remember = false;
    bool append = false;
    bool discard_previous = false;
    bool until_landed = false;
    bool logbook = false;
};

// The options, or nothing when the program ends at once with `exit_code`.
std::optional<Options> ParseOptions(int argc, char** argv, int& exit_code) {
    Options options;
    CLI::App app{
        "Records a flight from a simulator host without a window: one 80-byte record a second, "
        "to the output file of the recorder's settings (or --output), until Ctrl-C, SIGTERM or "
        "--seconds.",
        "kestrun-record"};
    PrepareCommandLine(app, kExitStatuses);
    std::string seconds_text;
    app.add_option("--seconds", seconds_text,
                   fmt::format("Stop after N seconds (1 to {})", kMaxSeconds))
        ->option_text("N")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    auto* output = app.add_option("--output", options.output,
                                  "Record to PATH for this run; the settings stay as they are. "
                                  "A leading ~ is the home folder, and strftime's %Y, %m, %d, "
                                  "%H, %M, %S are the local time at the start, so that "
                                  "'~/flights/%Y-%m-%d_%H%M.dat' makes a file for each run")
                       ->option_text("PATH")
                       ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--remember", options.remember,
                 "Also keep --output in the settings, as Set Output File does, once the file "
                 "is open")
        ->needs(output);
    app.add_flag("--append", options.append, "Append to the output file instead of overwriting it");
    app.add_flag("--discard-previous", options.discard_previous,
                 "Empty the output file at the start without keeping the flight it held (by "
                 "default that flight is kept beside it, named after its last change)");
    app.add_flag("--until-landed", options.until_landed,
                 "Stop by itself once the aircraft that took off has landed and rested for 30 "
                 "seconds (or at --seconds, whichever comes first)");
    app.add_flag("--logbook", options.logbook,
                 "Once the file is saved, scan it into the logbook (as kestrun-logbook scan "
                 "does) and print the flight's landing");
    try {
        app.parse(argc, argv);
        if (!seconds_text.empty()) {
            options.seconds = WholeNumberOption("--seconds", seconds_text, 1, kMaxSeconds);
        }
    } catch (const CLI::ParseError& error) {
        exit_code = CommandLineExit(app, error);
        return std::nullopt;
    }
    return options;
}

void PrintLine(const std::string& line) {
    std::fputs(kestrun::TerminalSafe(line).c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Waits until `deadline` unless SIGINT or SIGTERM arrives first (both are
// blocked, so they wait as pending signals while a tick runs). Returns true
// when a signal ended the wait. A deadline already past still takes a pending
// signal: after a tick that overran its second, as every tick does while the
// host does not answer, the next one is due at once, and the stop would
// otherwise never be seen.
bool WaitForDeadlineOrSignal(const sigset_t& stop_signals, SteadyClock::time_point deadline) {
    for (;;) {
        const auto left = std::max(SteadyClock::duration::zero(), deadline - SteadyClock::now());
        const auto left_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec timeout{};
        timeout.tv_sec = static_cast<std::time_t>(left_ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(left_ns % 1'000'000'000);
        if (::sigtimedwait(&stop_signals, nullptr, &timeout) > 0) return true;
        // EAGAIN is the time-out, EINTR another signal: look at the clock again.
        if (SteadyClock::now() >= deadline) return false;
    }
}

// Ctrl-C and SIGTERM are taken only between ticks, so a record is never cut
// short; the run then stops as the Stop button would.
sigset_t BlockStopSignals() {
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
    // A host that goes away must show as a failed exchange, not end the program.
    ::signal(SIGPIPE, SIG_IGN);
    return stop_signals;
}

// Where a recorder looks for a host, and how to start one: the status text
// alone does not tell a user at a terminal what to do next.
void ExplainNoHost(LinkPlatform& link_platform) {
    fmt::print(stderr,
               "kestrun-record: no host listens at {}\n"
               "kestrun-record: start one with {}, then run kestrun-record again\n",
               link_platform.WhereHostsListen(), kHowToStartAHost);
}

// What a run ended with, for the report.
struct RunResult {
    RecordOutcome outcome;
    long records = 0;
    std::string file_name;
};

// Connects and starts recording, saying on standard error why not. True
// when the run is recording.
bool ConnectAndStart(Form1& form, HeadlessWindow& window, PosixLinkPlatform& link_platform,
                     const Options& options, FileSystem& files, RecordOutcome& outcome) {
    form.Connect_Click();
    if (!form.Active) {
        const bool no_host =
            window.status_text() ==
            std::string(kConnectErrorPrefix) + form.general().ResultMessage(kResultNoHost);
        std::fputs("kestrun-record: could not connect to a simulator host\n", stderr);
        // A refused runtime folder was explained already, with the way past it.
        if (no_host && link_platform.RuntimeProblem().empty()) ExplainNoHost(link_platform);
        return false;
    }
    outcome.connected = true;
    form.cmdRecord_Click();
    if (!form.Recording) {
        fmt::print(stderr, "kestrun-record: could not start recording to {}\n",
                   TerminalSafe(form.FileName));
        return false;
    }
    if (!form.kept_as().empty()) {
        fmt::print(stderr, "kestrun-record: the file's previous flight is kept as {}\n",
                   TerminalSafe(files.AbsolutePath(form.kept_as()).string()));
    }
    if (!form.file_locked()) {
        fmt::print(stderr, "kestrun-record: {}\n", TerminalSafe(UnlockedFileNote(form.FileName)));
    }
    outcome.started = true;
    // Kept only now that the file is open, so that a path that cannot be
    // recorded to never becomes the window's next output file.
    if (options.remember) {
        if (Status kept = SaveOutputFileSetting(files, form.settings_path(), form.FileName);
            !kept.ok()) {
            fmt::print(stderr, "kestrun-record: {} is not kept in the settings: {}\n",
                       TerminalSafe(form.FileName), TerminalSafe(kept.message()));
        }
    }
    return true;
}

// One tick a second until --seconds, a signal, a failed write, or (with
// --until-landed) the aircraft at rest after landing. Returns the records
// written.
long RecordTicks(Form1& form, const Options& options, const sigset_t& stop_signals) {
    std::optional<LandingWatch> watch;
    if (options.until_landed) {
        watch.emplace(kRestAfterLandingSeconds);
        form.SetRecordListener([&watch](const FlightRecord& record) { watch->Add(record); });
    }
    // Absolute deadlines keep the ticks from drifting; a tick that overruns
    // its second moves the next one later instead of letting ticks bunch up.
    const auto start = SteadyClock::now();
    const SteadyClock::time_point end =
        options.seconds ? start + *options.seconds * kTickPeriod : SteadyClock::time_point::max();
    auto next_tick = start + kTickPeriod;
    long records = 0;
    while (form.Recording) {
        if (next_tick > end) break;
        if (WaitForDeadlineOrSignal(stop_signals, next_tick)) break;
        form.RecTimer_Timer();
        if (form.Recording) ++records;
        next_tick = std::max(next_tick + kTickPeriod, SteadyClock::now());
        if (watch && form.Recording && watch->Landed()) {
            PrintLine("Landed and at rest: stopping.");
            break;
        }
    }
    form.SetRecordListener(nullptr);
    return records;
}

// Load, connect, start, record, stop, unload: the window's own handlers,
// every new status text printed as it appears.
RunResult Record(const Options& options, const sigset_t& stop_signals) {
    HeadlessWindow window(/*keep_status_history=*/false);
    std::string shown = window.status_text();
    PrintLine(shown);
    window.SetStatusListener([&shown](const std::string& text) {
        if (text != shown) PrintLine(text);
        shown = text;
    });

    PosixLinkPlatform link_platform;
    PosixFileSystem files;
    PosixClock clock;
    Form1 form(window, link_platform, files, clock, DefaultSettingsPath());
    form.Form_Load();
    // For this run only: the window records to the settings' file next time.
    // A pattern is expanded once, so a run that crosses a minute keeps one file.
    if (!options.output.empty()) {
        const char* home = std::getenv("HOME");
        form.FileName = ExpandOutputPattern(
            options.output, clock.LocalCalendarTime(clock.EpochSeconds()), home ? home : "");
    }
    if (options.append) window.SetOverwriteValue(0);
    form.SetKeepPrevious(!options.discard_previous);

    RunResult result;
    if (ConnectAndStart(form, window, link_platform, options, files, result.outcome)) {
        result.records = RecordTicks(form, options, stop_signals);
        form.cmdStop_Click();
        result.outcome.saved = form.file_saved();
        result.outcome.lost_seconds = form.lost_seconds();
    }
    result.file_name = form.FileName;
    form.Form_Unload();
    return result;
}

// The last lines, and the exit status.
int Report(const RunResult& result) {
    const int status = RecordExitStatus(result.outcome);
    if (!result.outcome.started) return status;
    std::error_code ignored;
    const std::string where = std::filesystem::absolute(result.file_name, ignored).string();
    if (!result.outcome.saved) {
        fmt::print(stderr, "kestrun-record: the output file {} was not saved completely\n",
                   TerminalSafe(where));
        return status;
    }
    fmt::print("{} records saved to {}\n", result.records, TerminalSafe(where));
    std::fflush(stdout);
    if (result.outcome.lost_seconds > 0) {
        fmt::print(stderr, "kestrun-record: {} seconds could not be read from the host\n",
                   result.outcome.lost_seconds);
    }
    return status;
}

// --logbook: the saved file into the logbook, and the landing of its last
// flight on standard output. Returns the exit status.
int LogRecordedFlight(const std::string& file_name, int status) {
    PosixFileSystem files;
    const std::string path = files.AbsolutePath(file_name).string();
    Database db;
    Status done = OpenLogbook(DefaultLogbookPath(), db);
    LogbookScan scan(db, std::nullopt);
    if (done.ok()) done = scan.Begin();
    AirportImport airports;
    const std::string airport_list = InstalledAirportList();
    if (done.ok() && !airport_list.empty()) done = UpdateAirports(db, airport_list, airports);
    if (done.ok() && airports.imported) done = RenameFlightAirports(db);
    FileScanResult scanned;
    if (done.ok()) {
        scanned = scan.ScanFile(path);
        if (scanned.outcome == FileScanResult::Outcome::kFailed)
            done = Status::Error(scanned.message);
    }
    if (done.ok()) done = scan.Commit();
    std::vector<FlightRow> flights;
    if (done.ok()) done = LoadFlights(db, FlightFilter{}, flights);
    if (!done.ok()) {
        fmt::print(stderr, "kestrun-record: the flight is not in the logbook: {}\n",
                   TerminalSafe(done.message()));
        return status == kExitOk ? kExitFailed : status;
    }
    const auto last = std::find_if(flights.rbegin(), flights.rend(),
                                   [&](const FlightRow& f) { return f.file == path; });
    if (last == flights.rend()) {
        fmt::print("Logbook: no flight in {}\n", TerminalSafe(path));
    } else {
        fmt::print("Logbook: flight {}, {}\n", last->id, TerminalSafe(FormatLandingLine(*last)));
    }
    std::fflush(stdout);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = kExitOk;
    const std::optional<Options> options = ParseOptions(argc, argv, exit_code);
    if (!options) return exit_code;
    const sigset_t stop_signals = BlockStopSignals();
    const RunResult result = Record(*options, stop_signals);
    const int status = Report(result);
    if (!options->logbook || !result.outcome.saved) return status;
    return LogRecordedFlight(result.file_name, status);
}
