// kestrun-host: serves the recorder's protocol from a simulated aircraft,
// from FlightGear's live state with --flightgear, or from a recorded flight
// with --replay.

#include <fmt/core.h>
#include <poll.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string_view>

#include "cli/exit_status.h"
#include "host/aircraft_state.h"
#include "host/event_loop.h"
#include "flightgear/flightgear_feed.h"
#include "apps/host/host_options.h"
#include "host/host_server.h"
#include "host/pattern_aircraft.h"
#include "host/replay_aircraft.h"
#include "platform/posix/atom_table.h"
#include "platform/posix/runtime_directory.h"
#include "protocol/frame.h"
#include "text/terminal_text.h"

namespace {

const char* FaultName(kestrun::FaultMode fault) {
    switch (fault) {
        case kestrun::FaultMode::kNone:
            return "";
        case kestrun::FaultMode::kNeverAnswer:
            return ", never answering";
        case kestrun::FaultMode::kAnswerZero:
            return ", answering 0";
        case kestrun::FaultMode::kDropConnection:
            return ", dropping every connection";
    }
    return "";
}

void Complain(std::string_view line) {
    fmt::print(stderr, "kestrun-host: {}\n", kestrun::TerminalSafe(line));
}

// Where the aircraft's state comes from: the pattern, FlightGear's datagrams
// (watched on `loop`) or a recorded flight. Null after saying why not.
struct AircraftChoice {
    kestrun::AircraftSource* aircraft = nullptr;
    std::unique_ptr<kestrun::FlightGearFeed> flightgear;
    std::unique_ptr<kestrun::AircraftSource> replay;
    std::string flying;  // what the start line says it does
};

bool ChooseAircraft(const kestrun::HostOptions& options, kestrun::EventLoop& loop,
                    kestrun::OffsetImage& image, kestrun::PatternAircraft& pattern,
                    AircraftChoice& choice) {
    using namespace kestrun;
    const auto console = [](std::string_view line) {
        fmt::print("kestrun-host: {}\n", TerminalSafe(line));
        std::fflush(stdout);
    };
    choice.aircraft = &pattern;
    choice.flying = "flying from " + options.airfield.name;
    if (options.speed != 1) choice.flying += fmt::format(" at x{:g}", options.speed);
    Status status;
    if (options.flightgear) {
        choice.flightgear = FlightGearFeed::Open(*options.flightgear, console, status);
        if (!choice.flightgear) {
            Complain(status.message());
            return false;
        }
        FlightGearFeed* feed = choice.flightgear.get();
        loop.Watch(feed->fd(), POLLIN, [feed, &image](short) {
            feed->OnReadable(SteadySeconds(), image);
        });
        choice.aircraft = feed;
        choice.flying = "following FlightGear";
    }
    if (options.replay) {
        choice.replay = OpenReplayAircraft(*options.replay, console, choice.flying, status);
        if (!choice.replay) {
            Complain(status.message());
            return false;
        }
        choice.aircraft = choice.replay.get();
    }
    return true;
}

int Run(const kestrun::HostOptions& options) {
    using namespace kestrun;
    std::string runtime;
    if (Status status = PrepareRuntimeDirectory(runtime); !status.ok()) {
        Complain(status.message());
        return kExitFailed;
    }
    // Recorders that were killed never deleted their atoms; left there, they
    // would fill the table.
    RemoveStaleAtoms(AtomDirectoryPath(runtime));

    EventLoop loop;
    if (Status status = loop.StopOnSignals({SIGINT, SIGTERM}); !status.ok()) {
        Complain(status.message());
        return kExitFailed;
    }
    // Replies go out with MSG_NOSIGNAL; this covers everything else.
    std::signal(SIGPIPE, SIG_IGN);

    OffsetImage image;
    WriteHostIdentity(options.version_word, options.simulator_code, image);
    PatternAircraft pattern(options.airfield, options.hold_seconds, options.speed);
    AircraftChoice choice;
    if (!ChooseAircraft(options, loop, image, pattern, choice)) return kExitFailed;
    AircraftSource* aircraft = choice.aircraft;
    aircraft->Update(SteadySeconds(), image);
    const auto period = std::chrono::nanoseconds(static_cast<long long>(1e9 / options.update_hz));
    if (Status status = loop.AddTimer(period, [&](double now) { aircraft->Update(now, image); });
        !status.ok()) {
        Complain(status.message());
        return kExitFailed;
    }

    HostServer server(loop, image, runtime, options.fault, [](std::string_view line) {
        Complain(line);
        std::fflush(stderr);
    });
    const auto window_class = options.client_mode ? kSimulatorWindowClass : kHostWindowClass;
    if (Status status = server.Listen(window_class); !status.ok()) {
        Complain(status.message());
        return kExitFailed;
    }
    fmt::print("kestrun-host: listening on {} (version {}, simulator code {}{}), {}\n",
               server.endpoints().front(), VersionDigits(options.version_word),
               options.simulator_code, FaultName(options.fault), TerminalSafe(choice.flying));
    std::fflush(stdout);

    if (Status status = loop.Run(); !status.ok()) {
        Complain(status.message());
        return kExitFailed;
    }
    if (choice.flightgear) fmt::print("kestrun-host: {}\n", choice.flightgear->Summary());
    fmt::print("kestrun-host: stopped\n");
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = kestrun::kExitOk;
    const auto options = kestrun::ParseHostOptions(argc, argv, exit_code);
    if (!options) return exit_code;
    return Run(*options);
}
