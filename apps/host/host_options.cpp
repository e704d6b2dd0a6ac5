#include "apps/host/host_options.h"

#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#include "cli/exit_status.h"
#include "cli/number_option.h"
#include "cli/program_command_line.h"
#include "flightgear/flightgear_state.h"
#include "playback/playback_clock.h"

namespace kestrun {
namespace {

constexpr std::array<ExitStatusMeaning, 3> kExitStatuses{{
    {kExitOk, "stopped by Ctrl-C or SIGTERM"},
    {kExitFailed, "could not start; the reason is on standard error"},
    {kExitUsage, "usage: a refused option or value"},
}};

bool ParseHex(std::string_view text, std::uint32_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "LAT,LON,ELEV[,HEADING]" in degrees and metres.
bool ParseStart(std::string_view text, Airfield& airfield) {
    std::vector<double> values;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view part = text.substr(0, comma);
        double value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (error != std::errc() || end != part.data() + part.size() || !std::isfinite(value)) {
            return false;
        }
        values.push_back(value);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (values.size() < 3 || values.size() > 4) return false;
    // Near the poles the flat map of the pattern stops being one.
    if (std::abs(values[0]) > 85 || std::abs(values[1]) > 180 || values[2] < -500 ||
        values[2] > 9000) {
        return false;
    }
    airfield.name = fmt::format("{:.4f}, {:.4f}", values[0], values[1]);
    airfield.latitude_deg = values[0];
    airfield.longitude_deg = values[1];
    airfield.elevation_m = values[2];
    if (values.size() == 4) airfield.runway_heading_deg = values[3];
    return true;
}

}  // namespace

std::string VersionDigits(std::uint32_t version_word) {
    std::string digits;
    for (int shift : {28, 24, 20, 16}) {
        digits += static_cast<char>('0' + ((version_word >> shift) & 0xF));
        if (shift == 28) digits += '.';
    }
    return digits;
}

std::optional<HostOptions> ParseHostOptions(int argc, char** argv, int& exit_code) {
    HostOptions options;
    const Airfield fallback = DefaultAirfield();
    CLI::App app{
        fmt::format(
            "kestrun-host: a pretend flight simulator for the Kestrun flight recorder.\n"
            "Where no simulator runs, start it and the recorder (kestrun-recorder or\n"
            "kestrun-record) records its flight: a light aircraft flying left-hand traffic\n"
            "patterns, by default from {}\n"
            "(threshold {:.4f}, {:.4f}, elevation {:.0f} m, runway heading {:.0f} degrees "
            "true).\n"
            "With --flightgear it passes on the flight of a running FlightGear instead,\n"
            "with --replay a flight recorded before.\n"
            "Its fault options make it misbehave on purpose, to show the recorder's "
            "errors.\n"
            "It waits in $XDG_RUNTIME_DIR/kestrun (else /tmp/kestrun-<uid>) until Ctrl-C "
            "or\n"
            "SIGTERM, which stop it and remove its socket files.",
            fallback.name, fallback.latitude_deg, fallback.longitude_deg, fallback.elevation_m,
            fallback.runway_heading_deg),
        "kestrun-host"};
    PrepareCommandLine(app, kExitStatuses);

    std::string version_text;
    app.add_option("--version-word", version_text,
                   "Host version word at 0x3304, in hex (default 0x32800000, shown as 3.280)")
        ->option_text("HEX");
    std::string simulator_text;
    auto* simulator_option =
        app.add_option("--simulator-code", simulator_text,
                       "Simulator code in the low half of 0x3308, 0 to 65535 (default 8)")
            ->option_text("N");
    app.add_flag("--client-mode", options.client_mode,
                 "Listen on SIMMAIN only, as a network client would (default: HOSTMAIN)");
    bool never_answer = false;
    bool answer_zero = false;
    bool drop_connection = false;
    auto* never =
        app.add_flag("--never-answer", never_answer, "Fault: read every request and answer none");
    auto* zero = app.add_flag("--answer-zero", answer_zero, "Fault: answer every request with 0");
    auto* drop = app.add_flag("--drop-connection", drop_connection,
                              "Fault: close each connection at its first request");
    never->excludes(zero)->excludes(drop);
    zero->excludes(drop);
    std::string start_text;
    auto* start = app.add_option("--start", start_text,
                                 "Runway threshold LAT,LON,ELEV[,HEADING] in degrees and metres "
                                 "(north and east positive; heading true)")
                      ->option_text("LAT,LON,ELEV[,HDG]");
    std::string update_text;
    app.add_option("--update-rate", update_text,
                   "Aircraft updates per second, 10 to 100 (default 20)")
        ->option_text("HZ");
    std::string hold_text;
    app.add_option("--hold", hold_text,
                   "Seconds the aircraft waits at the threshold before each takeoff, 0 to 3600 "
                   "(default 5)")
        ->option_text("SECONDS");
    std::string flightgear_text;
    auto* flightgear =
        app.add_option("--flightgear", flightgear_text,
                       "Follow FlightGear's generic-protocol datagrams (protocol kestrun) from "
                       "ADDRESS on UDP PORT instead of flying the pattern (default "
                       "127.0.0.1:5500; simulator code 0x4647)")
            ->option_text("[ADDRESS:]PORT")
            ->expected(0, 1);
    flightgear->excludes(start);
    ReplayChoice replay;
    auto* replay_file =
        app.add_option("--replay", replay.path,
                       "Fly the flight recorded in FILE instead of the pattern; after its last "
                       "record the host holds the final state")
            ->option_text("FILE")
            ->excludes(flightgear)
            ->excludes(start);
    std::string speed_text;
    app.add_option("--speed", speed_text,
                   fmt::format("Fly the pattern or the replay at X times real time, {} to {} "
                               "(default 1); --hold is in the aircraft's sped-up seconds. A "
                               "recorder still records once a real second, so its records "
                               "show every speed and rate X times as high",
                               PlaybackClock::kMinSpeed, PlaybackClock::kMaxSpeed))
        ->option_text("X")
        ->excludes(flightgear);
    app.add_flag("--loop", replay.loop, "Replay the flight again from its start after its end")
        ->needs(replay_file);

    try {
        app.parse(argc, argv);
        if (!version_text.empty() && !ParseHex(version_text, options.version_word)) {
            throw CLI::ValidationError(
                "--version-word must be a hexadecimal word from 0 to FFFFFFFF, such as "
                "0x32800000");
        }
        if (!start_text.empty() && !ParseStart(start_text, options.airfield)) {
            throw CLI::ValidationError(
                "--start must be LAT,LON,ELEV[,HEADING]: a latitude from -85 to 85, a longitude "
                "from -180 to 180 and an elevation from -500 to 9000 metres");
        }
        int simulator_code = options.simulator_code;
        if (!simulator_text.empty()) {
            simulator_code =
                static_cast<int>(WholeNumberOption("--simulator-code", simulator_text, 0, 0xFFFF));
        }
        if (!hold_text.empty()) options.hold_seconds = NumberOption("--hold", hold_text, 0, 3600);
        if (!update_text.empty()) {
            options.update_hz = NumberOption("--update-rate", update_text, 10, 100);
        }
        if (!speed_text.empty()) {
            options.speed = NumberOption("--speed", speed_text, PlaybackClock::kMinSpeed,
                                         PlaybackClock::kMaxSpeed);
            replay.speed = options.speed;
        }
        if (flightgear->count() > 0) {
            FlightGearAddress address;
            if (!flightgear_text.empty()) {
                if (Status status = ParseFlightGearAddress(flightgear_text, address);
                    !status.ok()) {
                    throw CLI::ValidationError("--flightgear", status.message());
                }
            }
            options.flightgear = address;
            // The simulator code says FlightGear unless the user chose one.
            if (simulator_option->count() == 0) simulator_code = kFlightGearSimulatorCode;
        }
        options.simulator_code = static_cast<std::uint16_t>(simulator_code);
    } catch (const CLI::ParseError& error) {
        exit_code = CommandLineExit(app, error);
        return std::nullopt;
    }
    if (replay_file->count() > 0) options.replay = replay;
    if (never_answer) options.fault = FaultMode::kNeverAnswer;
    if (answer_zero) options.fault = FaultMode::kAnswerZero;
    if (drop_connection) options.fault = FaultMode::kDropConnection;
    return options;
}

}  // namespace kestrun
