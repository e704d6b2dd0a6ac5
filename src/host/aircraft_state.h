#pragma once
// An aircraft's state in physical units, and how a host stores it. Every
// source of flight values (the simulated aircraft, bridges) fills one of these
// and lets WriteAircraftState do the conversion, so that the signs and units
// of the host's offsets are decided in one place.

#include "host/offset_image.h"

namespace kestrun {

struct AircraftState {
    double latitude_deg = 0;        // north positive
    double longitude_deg = 0;       // east positive
    double altitude_m = 0;          // above mean sea level
    double pitch_deg = 0;           // nose up positive
    double bank_deg = 0;            // right wing down positive
    double heading_deg = 0;         // true, [0, 360)
    double airspeed_kt = 0;         // indicated
    double vertical_speed_mps = 0;  // climbing positive
};

// Writes the state into the offsets of the position, attitude, airspeed and
// vertical speed. The host stores pitch negative nose up and bank negative
// right wing down, the opposite of AircraftState.
void WriteAircraftState(const AircraftState& state, OffsetImage& image);

// Reads the state back from the image (the inverse of the above, to the
// resolution of the host's units).
AircraftState ReadAircraftState(const OffsetImage& image);

// Sets the host version word and the simulator word (0xFADE marker in the
// high half, `simulator_code` in the low half).
void WriteHostIdentity(std::uint32_t version_word, std::uint16_t simulator_code,
                       OffsetImage& image);

}  // namespace kestrun
