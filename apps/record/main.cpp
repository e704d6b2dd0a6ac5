// kestrun-record: the recorder without a window. Runs the window's own
// handlers on a headless window: load, connect, start, one tick a second,
// stop, disconnect, unload, printing every new status text on its own line.

#include <fcntl.h>
#include <fmt/core.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/number_option.h"
#include "flights/landing_watch.h"
#include "link/link_result.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/posix/runtime_directory.h"
#include "protocol/frame.h"
#include "settings/settings_file.h"
#include "window/form1.h"
#include "window/headless_window.h"
#include "window/status_texts.h"

namespace {

using namespace kestrun;
using SteadyClock = std::chrono::steady_clock;

// Exit statuses, also listed in --help.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNotConnected = 3;
constexpr int kExitFileError = 4;
constexpr int kExitSampleErrors = 5;

constexpr auto kTickPeriod = std::chrono::milliseconds(kRecordTimerIntervalMs);
// A year of seconds: far beyond any flight, and the run's deadline stays
// well inside the steady clock's range.
constexpr std::int64_t kMaxSeconds = 31'536'000;

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
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

struct Options {
    std::optional<std::int64_t> seconds;
    std::string output;
    bool remember = false;
    bool append = false;
    bool until_landed = false;
};

// How long the aircraft rests after landing before --until-landed stops.
constexpr std::int64_t kRestAfterLandingSeconds = 30;

// Reads back the record just written at `offset` of the output file and
// shows it to the watch. The recorder writes each record whole with one
// write, so it is all there to read.
void WatchRecord(int fd, double offset, LandingWatch& watch) {
    std::array<std::byte, kFlightRecordSize> bytes{};
    if (fd >= 0 && offset >= 0 &&
        ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
            static_cast<ssize_t>(bytes.size())) {
        watch.Add(DecodeFlightRecord(bytes.data()));
    }
}

// Where a recorder looks for a host, and how to start one: the status text
// alone does not tell a user at a terminal what to do next.
void ExplainNoHost() {
    const std::string runtime = RuntimeDirectoryPath();
    fmt::print(stderr,
               "kestrun-record: no host listens at {} or {}\n"
               "kestrun-record: start one with kestrun-host (a simulated aircraft) or "
               "kestrun-host --flightgear (following FlightGear), then run kestrun-record again\n",
               EndpointPath(runtime, kHostWindowClass),
               EndpointPath(runtime, kSimulatorWindowClass));
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{
        "Records a flight from a simulator host without a window: one 80-byte record a second, "
        "to the output file of the recorder's settings (or --output), until Ctrl-C, SIGTERM or "
        "--seconds.\n"
        "Exit status: 0 recorded and saved; 2 usage; 3 could not connect; 4 output file "
        "error (also when another recorder is writing it); 5 saved, but some seconds could not "
        "be read from the host.",
        "kestrun-record"};
    std::string seconds_text;
    app.add_option("--seconds", seconds_text,
                   fmt::format("Stop after N seconds (1 to {})", kMaxSeconds))
        ->option_text("N")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    auto* output = app.add_option("--output", options.output,
                                  "Record to PATH for this run; the settings stay as they are")
                       ->option_text("PATH")
                       ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--remember", options.remember,
                 "Also keep --output in the settings, as Set Output File does, once the file "
                 "is open")
        ->needs(output);
    app.add_flag("--append", options.append, "Append to the output file instead of overwriting it");
    app.add_flag("--until-landed", options.until_landed,
                 "Stop by itself once the aircraft that took off has landed and rested for 30 "
                 "seconds (or at --seconds, whichever comes first)");
    try {
        app.parse(argc, argv);
        if (!seconds_text.empty()) {
            options.seconds = WholeNumberOption("--seconds", seconds_text, 1, kMaxSeconds);
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitOk : kExitUsage;
    }

    // Ctrl-C and SIGTERM are taken only between ticks, so a record is never
    // cut short; the run then stops as the Stop button would.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
    // A host that goes away must show as a failed exchange, not end the program.
    ::signal(SIGPIPE, SIG_IGN);

    HeadlessWindow window(/*keep_status_history=*/false);
    std::string shown = window.status_text();
    int sample_errors = 0;
    const auto print = [](const std::string& line) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    print(shown);
    window.SetStatusListener([&](const std::string& text) {
        if (StartsWith(text, kReadErrorPrefix) || StartsWith(text, kProcessingErrorPrefix)) {
            ++sample_errors;
        }
        if (text != shown) print(text);
        shown = text;
    });

    PosixLinkPlatform link_platform;
    PosixFileSystem files;
    PosixClock clock;
    Form1 form(window, link_platform, files, clock, DefaultSettingsPath());

    form.Form_Load();
    // For this run only: the window records to the settings' file next time.
    if (!options.output.empty()) form.FileName = options.output;
    if (options.append) window.SetOverwriteValue(0);

    form.Connect_Click();
    if (!form.Active) {
        const bool no_host =
            window.status_text() ==
            std::string(kConnectErrorPrefix) + form.general().ResultMessage(kResultNoHost);
        form.Form_Unload();
        std::fputs("kestrun-record: could not connect to a simulator host\n", stderr);
        if (no_host) ExplainNoHost();
        return kExitNotConnected;
    }
    form.cmdRecord_Click();
    if (!form.Recording) {
        form.Form_Unload();
        fmt::print(stderr, "kestrun-record: could not start recording to {}\n", form.FileName);
        return kExitFileError;
    }
    if (!window.status_note().empty()) {
        fmt::print(stderr, "kestrun-record: {}\n", window.status_note());
    }
    // Kept only now that the file is open, so that a path that cannot be
    // recorded to never becomes the window's next output file.
    if (options.remember) {
        if (Status kept = SaveOutputFileSetting(files, form.settings_path(), form.FileName);
            !kept.ok()) {
            fmt::print(stderr, "kestrun-record: {} is not kept in the settings: {}\n",
                       form.FileName, kept.message());
        }
    }

    // Absolute deadlines keep the ticks from drifting; a tick that overruns
    // its second moves the next one later instead of letting ticks bunch up.
    const auto start = SteadyClock::now();
    const SteadyClock::time_point end =
        options.seconds ? start + *options.seconds * kTickPeriod : SteadyClock::time_point::max();
    auto next_tick = start + kTickPeriod;
    long records = 0;
    std::optional<LandingWatch> watch;
    int written = -1;
    if (options.until_landed) {
        watch.emplace(kRestAfterLandingSeconds);
        written = ::open(form.FileName.c_str(), O_RDONLY | O_CLOEXEC);
    }
    while (form.Recording) {
        if (next_tick > end) break;
        if (WaitForDeadlineOrSignal(stop_signals, next_tick)) break;
        form.RecTimer_Timer();
        if (form.Recording) ++records;
        next_tick = std::max(next_tick + kTickPeriod, SteadyClock::now());
        if (watch && form.Recording) {
            // Position is 1-based and already past the record just written.
            WatchRecord(written, form.Position - 1 - static_cast<double>(kFlightRecordSize),
                        *watch);
            if (watch->Landed()) {
                print("Landed and at rest: stopping.");
                break;
            }
        }
    }
    if (written >= 0) ::close(written);

    // A run that ended by itself ended on a failed write.
    const bool write_failed = !form.Recording;
    form.cmdStop_Click();
    const bool saved = !write_failed && window.status_text() == kRecordingStoppedText;
    const std::string file_name = form.FileName;
    form.Form_Unload();

    std::error_code ignored;
    const std::filesystem::path where = std::filesystem::absolute(file_name, ignored);
    if (!saved) {
        fmt::print(stderr, "kestrun-record: the output file {} was not saved completely\n",
                   where.string());
        return kExitFileError;
    }
    fmt::print("{} records saved to {}\n", records, where.string());
    std::fflush(stdout);
    if (sample_errors > 0) {
        fmt::print(stderr, "kestrun-record: {} seconds could not be read from the host\n",
                   sample_errors);
        return kExitSampleErrors;
    }
    return kExitOk;
}
