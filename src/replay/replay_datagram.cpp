#include "replay/replay_datagram.h"

#include <fmt/format.h>

#include <iterator>

namespace kestrun {

void FormatReplayDatagram(const PlaybackState& state, std::string& out) {
    const FlightSample& s = state.sample;
    out.clear();
    // The sample's signs are FlightGear's already: pitch up and right wing
    // down positive.
    fmt::format_to(std::back_inserter(out), "{},{},{},{},{},{},{}\n", s.latitude_deg,
                   s.longitude_deg, s.altitude_m / kMetresPerFoot, s.pitch_deg, s.bank_deg,
                   s.heading_deg, s.airspeed_kt);
}

}  // namespace kestrun
