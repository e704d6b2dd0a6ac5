#pragma once
// FlightGear's values in the host's units: where a FlightGear datagram lands
// in the offset image, and the simulator code a FlightGear-fed host reports.

#include <cstdint>

#include "host/flightgear/flightgear_datagram.h"
#include "host/offset_image.h"

namespace kestrun {

// The low half of the 0x3308 word when the host follows FlightGear: "FG" in
// ASCII, far from the small codes other simulators report.
inline constexpr std::uint16_t kFlightGearSimulatorCode = 0x4647;

inline constexpr double kMetresPerFoot = 0.3048;

// Stores `state` into the image at the host's offsets for latitude,
// longitude, altitude, pitch, bank, heading, indicated airspeed and vertical
// speed. Signs are turned into the host's: FlightGear's pitch is positive nose
// up and its roll positive right wing down, the host's both the opposite.
// Nothing else in the image changes.
void StoreFlightGearState(const FlightGearState& state, OffsetImage& image);

// Writes 0xFADE << 16 | kFlightGearSimulatorCode at 0x3308.
void MarkFlightGearSimulator(OffsetImage& image);

}  // namespace kestrun
