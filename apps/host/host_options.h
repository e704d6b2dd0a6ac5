#pragma once
// The command line of kestrun-host.

#include <cstdint>
#include <optional>
#include <string>

#include "flightgear/flightgear_address.h"
#include "host/host_server.h"
#include "host/pattern_aircraft.h"
#include "host/replay_aircraft.h"

namespace kestrun {

struct HostOptions {
    std::uint32_t version_word = 0x32800000;  // shows as 3.280
    std::uint16_t simulator_code = 8;
    bool client_mode = false;  // listen on SIMMAIN only
    FaultMode fault = FaultMode::kNone;
    Airfield airfield = DefaultAirfield();
    double update_hz = 20;
    double hold_seconds = PatternAircraft::kDefaultHoldSeconds;
    // The pattern's or the replay's time against the host's clock.
    double speed = 1;
    // Follow FlightGear's datagrams instead of flying the pattern.
    std::optional<FlightGearAddress> flightgear;
    // Fly this recorded flight instead of the pattern.
    std::optional<ReplayChoice> replay;
};

// Parses the command line. Returns the options, or nothing when the program
// should end at once with `exit_code` (after --help, or a bad option, whose
// complaint has already been printed).
std::optional<HostOptions> ParseHostOptions(int argc, char** argv, int& exit_code);

// The version word as the recorder shows it: the top four nibbles as
// "d.ddd", each nibble added to the character '0'.
std::string VersionDigits(std::uint32_t version_word);

}  // namespace kestrun
