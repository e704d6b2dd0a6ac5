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

#include "host/aircraft_state.h"
#include "host/event_loop.h"
#include "flightgear/flightgear_feed.h"
#include "apps/host/host_options.h"
#include "host/host_server.h"
#include "host/pattern_aircraft.h"
#include "host/replay_aircraft.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/posix/runtime_directory.h"
#include "protocol/frame.h"

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

int Run(const kestrun::HostOptions& options) {
    using namespace kestrun;
    std::string runtime;
    if (Status status = PrepareRuntimeDirectory(runtime); !status.ok()) {
        fmt::print(stderr, "kestrun-host: {}\n", status.message());
        return 1;
    }
    // Recorders that were killed never deleted their atoms and blocks; left
    // there, atoms would fill the table and blocks the memory.
    RemoveLeftoverLinks(runtime);

    EventLoop loop;
    if (Status status = loop.StopOnSignals({SIGINT, SIGTERM}); !status.ok()) {
        fmt::print(stderr, "kestrun-host: {}\n", status.message());
        return 1;
    }
    // Replies go out with MSG_NOSIGNAL; this covers everything else.
    std::signal(SIGPIPE, SIG_IGN);

    OffsetImage image;
    WriteHostIdentity(options.version_word, options.simulator_code, image);
    PatternAircraft pattern(options.airfield, options.hold_seconds, options.speed);
    AircraftSource* aircraft = &pattern;
    const auto console = [](std::string_view line) {
        fmt::print("kestrun-host: {}\n", line);
        std::fflush(stdout);
    };
    std::unique_ptr<FlightGearFeed> flightgear;
    if (options.flightgear) {
        Status status;
        flightgear = FlightGearFeed::Open(*options.flightgear, console, status);
        if (!flightgear) {
            fmt::print(stderr, "kestrun-host: {}\n", status.message());
            return 1;
        }
        loop.Watch(flightgear->fd(), POLLIN,
                   [&](short) { flightgear->OnReadable(SteadySeconds(), image); });
        aircraft = flightgear.get();
    }
    std::unique_ptr<AircraftSource> replay;
    std::string flying = "flying from " + options.airfield.name;
    if (options.speed != 1) flying += fmt::format(" at x{:g}", options.speed);
    if (options.replay) {
        Status status;
        replay = OpenReplayAircraft(*options.replay, console, flying, status);
        if (!replay) {
            fmt::print(stderr, "kestrun-host: {}\n", status.message());
            return 1;
        }
        aircraft = replay.get();
    }
    aircraft->Update(SteadySeconds(), image);
    const auto period = std::chrono::nanoseconds(static_cast<long long>(1e9 / options.update_hz));
    if (Status status = loop.AddTimer(period, [&](double now) { aircraft->Update(now, image); });
        !status.ok()) {
        fmt::print(stderr, "kestrun-host: {}\n", status.message());
        return 1;
    }

    HostServer server(loop, image, runtime, options.fault, [](std::string_view line) {
        fmt::print(stderr, "kestrun-host: {}\n", line);
        std::fflush(stderr);
    });
    const auto window_class = options.client_mode ? kSimulatorWindowClass : kHostWindowClass;
    if (Status status = server.Listen(window_class); !status.ok()) {
        fmt::print(stderr, "kestrun-host: {}\n", status.message());
        return 1;
    }
    fmt::print("kestrun-host: listening on {} (version {}, simulator code {}{}), {}\n",
               server.endpoints().front(), VersionDigits(options.version_word),
               options.simulator_code, FaultName(options.fault),
               flightgear ? std::string("following FlightGear") : flying);
    std::fflush(stdout);

    if (Status status = loop.Run(); !status.ok()) {
        fmt::print(stderr, "kestrun-host: {}\n", status.message());
        return 1;
    }
    if (flightgear) fmt::print("kestrun-host: {}\n", flightgear->Summary());
    fmt::print("kestrun-host: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = 0;
    const auto options = kestrun::ParseHostOptions(argc, argv, exit_code);
    if (!options) return exit_code;
    return Run(*options);
}
