#pragma once

#include <cstdint>

namespace kestrun {

// One record as the flight detector needs it, in degrees, metres and knots.
struct FlightPoint {
    std::uint64_t offset = 0;  // byte offset of the record in its file
    std::int64_t seconds = 0;  // running seconds of its time stamp
    bool new_stretch = false;  // first record after a break in time
    bool has_position = false;
    double latitude_deg = 0;
    double longitude_deg = 0;
    double altitude_m = 0;
    double pitch_deg = 0;
    double bank_deg = 0;
    double airspeed_kt = 0;
    double heading_deg = 0;  // true
};

}  // namespace kestrun
