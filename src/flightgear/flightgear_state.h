#pragma once
// FlightGear's values as the host's aircraft state, and the simulator code a
// FlightGear-fed host reports.

#include <cstdint>

#include "host/aircraft_state.h"
#include "flightgear/flightgear_datagram.h"
#include "host/offset_image.h"

namespace kestrun {

// The low half of the 0x3308 word when the host follows FlightGear: "FG" in
// ASCII, far from the small codes other simulators report.
inline constexpr std::uint16_t kFlightGearSimulatorCode = 0x4647;

// Feet become metres; FlightGear's signs are already the aircraft state's
// (pitch positive nose up, roll positive right wing down, climb positive).
AircraftState ToAircraftState(const FlightGearState& state);

// Stores `state` at the host's offsets of position, attitude, airspeed and
// vertical speed, in the host's units and signs. Nothing else changes.
inline void StoreFlightGearState(const FlightGearState& state, OffsetImage& image) {
    WriteAircraftState(ToAircraftState(state), image);
}

}  // namespace kestrun
