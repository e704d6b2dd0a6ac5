// kestrun-replay: flies a recorded flight in FlightGear, through the generic
// protocol input kestrun-replay.xml, with FlightGear's flight model off.

#include <fmt/core.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "cli/exit_status.h"
#include "cli/number_option.h"
#include "cli/program_command_line.h"
#include "flightgear/flightgear_address.h"
#include "playback/clock_text.h"
#include "playback/flight_file.h"
#include "playback/playback_clock.h"
#include "recordfile/civil_date.h"
#include "recordfile/first_date.h"
#include "replay/replay_loop.h"
#include "replay/status_line.h"
#include "replay/udp_sender.h"
#include "text/terminal_text.h"

namespace {

using namespace kestrun;

constexpr std::array<ExitStatusMeaning, 3> kExitStatuses{{
    {kExitOk,
     "the file (or --to) was played to its end, or the replay was stopped with q or a signal"},
    {kExitFailed,
     "a file that cannot be read, holds no records or no record with a position, or a "
     "FlightGear address it cannot send to"},
    {kExitUsage,
     "usage: a refused option or value, or a --from or --to the file's clock never shows"},
}};
constexpr std::uint16_t kReplayPort = 5501;  // the host's bridge listens on 5500

void Say(const std::string& line) {
    std::fprintf(stderr, "kestrun-replay: %s\n", TerminalSafe(line).c_str());
}

// "HH:MM:SS" as a second of the day; empty for anything else.
std::optional<std::int64_t> ParseClockTime(const std::string& text) {
    int parts[3] = {};
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
    for (int i = 0; i < 3; ++i) {
        const char* first = text.data() + 3 * i;
        const auto [end, error] = std::from_chars(first, first + 2, parts[i]);
        if (error != std::errc() || end != first + 2) return std::nullopt;
    }
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

CLI::Validator Checked(bool (*valid)(const std::string&), const char* form) {
    return CLI::Validator(
        [=](std::string& text) {
            return valid(text) ? std::string() : fmt::format("not {}: {}", form, text);
        },
        form);
}

struct Options {
    std::string file;
    FlightGearAddress to{0x7F000001, kReplayPort};
    double rate_hz = 30;
    double speed = 1;
    std::optional<std::int64_t> from, to_time;
    bool loop = false;
    std::optional<CivilDate> date;
};

// Returns the options, or the exit code when the program ends at once.
std::optional<Options> ParseOptions(int argc, char** argv, int& exit_code) {
    CLI::App app{
        "Replays a Kestrun flight record file into FlightGear, which flies it with its flight "
        "model off (fgfs --fdm=null --generic=socket,in,60,127.0.0.1,5501,udp,kestrun-replay).\n"
        "Keys on a terminal: space pauses, left/right arrows seek 10 s, + and - double and "
        "halve the speed, q quits.",
        "kestrun-replay"};
    PrepareCommandLine(app, kExitStatuses);
    Options options;
    std::string address_text, from_text, to_text, date_text;
    app.add_option("FILE", options.file, "The record file")->required();
    app.add_option("--flightgear", address_text,
                   "Where FlightGear listens (default 127.0.0.1:5501; a bare port means this "
                   "machine)")
        ->option_text("[ADDRESS:]PORT");
    std::string rate_text, speed_text;
    app.add_option("--rate", rate_text, "Datagrams a second, 1 to 120 (default 30)")
        ->option_text("HZ");
    app.add_option("--speed", speed_text,
                   fmt::format("Times the recorded speed, {} to {} (default 1)",
                               PlaybackClock::kMinSpeed, PlaybackClock::kMaxSpeed))
        ->option_text("X");
    const auto clock_time = Checked(
        [](const std::string& text) { return ParseClockTime(text).has_value(); }, "HH:MM:SS");
    app.add_option("--from", from_text, "Start at this clock time of the file")
        ->option_text("HH:MM:SS")
        ->check(clock_time);
    app.add_option("--to", to_text, "End at this clock time of the file")
        ->option_text("HH:MM:SS")
        ->check(clock_time);
    app.add_flag("--loop", options.loop, "Start again after the end, until stopped");
    app.add_option("-d,--date", date_text,
                   "Local date of the first record; without it, the file's modification time "
                   "gives the date")
        ->option_text("YYYY-MM-DD")
        ->check(Checked([](const std::string& text) { return ParseCivilDate(text).has_value(); },
                        "a date of the form YYYY-MM-DD"));
    try {
        app.parse(argc, argv);
        if (!rate_text.empty()) options.rate_hz = NumberOption("--rate", rate_text, 1, 120);
        if (!speed_text.empty()) {
            options.speed = NumberOption("--speed", speed_text, PlaybackClock::kMinSpeed,
                                         PlaybackClock::kMaxSpeed);
        }
        if (!address_text.empty()) {
            FlightGearAddress to;
            if (Status status = ParseFlightGearAddress(address_text, to); !status.ok()) {
                throw CLI::ValidationError("--flightgear", status.message());
            }
            options.to = to;
        }
        if (!from_text.empty() && from_text == to_text) {
            throw CLI::ValidationError("--to", "must differ from --from");
        }
    } catch (const CLI::ParseError& error) {
        exit_code = CommandLineExit(app, error);
        return std::nullopt;
    }
    if (!from_text.empty()) options.from = ParseClockTime(from_text);
    if (!to_text.empty()) options.to_time = ParseClockTime(to_text);
    if (!date_text.empty()) options.date = ParseCivilDate(date_text);
    return options;
}

// The part of the track to play, from --from and --to; nothing after
// saying which clock time the file never shows.
std::optional<std::pair<double, double>> FindRange(const Options& options,
                                                   const FlightTrack& track) {
    const std::string span = fmt::format("the file runs from {} to {}",
                                         FormatClockTime(track.At(track.begin()).clock_seconds),
                                         FormatClockTime(track.At(track.end()).clock_seconds));
    double begin = track.begin();
    double end = track.end();
    if (options.from) {
        const auto found = track.FindClockTime(*options.from, begin);
        if (!found) {
            Say(fmt::format("--from {}: not in {} ({})", FormatClockTime(double(*options.from)),
                            options.file, span));
            return std::nullopt;
        }
        begin = *found;
    }
    if (options.to_time) {
        const auto found = track.FindClockTime(*options.to_time, begin);
        if (!found) {
            Say(fmt::format("--to {}: not in {} after the start ({})",
                            FormatClockTime(double(*options.to_time)), options.file, span));
            return std::nullopt;
        }
        end = *found;
    }
    return std::pair{begin, end};
}

int Run(const Options& options) {
    LoadedFlight flight;
    if (Status status = LoadFlight(options.file, flight); !status.ok()) {
        Say(status.message());
        return kExitFailed;
    }
    const FlightTrack& track = flight.track;
    const auto range = FindRange(options, track);
    if (!range) return kExitUsage;
    const auto [begin, end] = *range;

    std::unique_ptr<UdpSender> sender;
    if (Status status = UdpSender::Open(options.to, sender); !status.ok()) {
        Say(status.message());
        return kExitFailed;
    }

    const CivilDate date =
        options.date ? *options.date : FirstDateFromModification(flight.modified, flight.timeline);
    const double first_clock = track.At(begin).clock_seconds;
    const CivilDate start_date = date.Plus(static_cast<std::int64_t>(first_clock) / kSecondsPerDay);
    if (flight.scan.damaged_records > 0 || flight.scan.skipped_bytes > 0) {
        Say(fmt::format("{}: skipped {} damaged records and {} bytes that are not records",
                        options.file, flight.scan.damaged_records, flight.scan.skipped_bytes));
    }
    fmt::print("kestrun-replay: {}: {} {} to {} ({}), {} records, to {} {} times a second{}\n",
               TerminalSafe(options.file), FormatCivilDate(start_date), FormatClockTime(first_clock),
               FormatClockTime(track.At(end).clock_seconds), FormatPlayTime(end - begin),
               flight.scan.records, FormatEndpoint(options.to.ipv4, options.to.port),
               options.rate_hz, options.loop ? ", looping" : "");
    std::fflush(stdout);

    PlaybackClock clock(begin, end, options.speed, options.loop, SteadyNow());
    const ReplayFrames frames{track, clock, options.rate_hz, ::isatty(STDOUT_FILENO) == 1};
    Status failure;
    switch (RunReplay(frames, *sender, failure)) {
        case ReplayEnd::kPlayed:
            fmt::print("kestrun-replay: played to the end\n");
            return kExitOk;
        case ReplayEnd::kStopped:
            fmt::print("kestrun-replay: stopped at {}\n",
                       FormatClockTime(track.At(clock.At(SteadyNow())).clock_seconds));
            return kExitOk;
        case ReplayEnd::kSendFailed:
            Say(failure.message());
            return kExitFailed;
    }
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = kExitOk;
    const auto options = ParseOptions(argc, argv, exit_code);
    if (!options) return exit_code;
    return Run(*options);
}
