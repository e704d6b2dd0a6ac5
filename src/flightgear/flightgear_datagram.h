#pragma once
// One datagram of FlightGear's generic-protocol output, as the shipped
// protocol file kestrun.xml makes it: a single ASCII line of exactly
// kFlightGearFieldCount comma-separated numbers, ended by a newline.
//
//   field  FlightGear property                                   unit
//   0      /position/latitude-deg                                 degrees, north positive
//   1      /position/longitude-deg                                degrees, east positive
//   2      /position/altitude-ft                                  feet above mean sea level
//   3      /orientation/pitch-deg                                 degrees, positive nose up
//   4      /orientation/roll-deg                                  degrees, positive right wing down
//   5      /orientation/heading-deg                               degrees true
//   6      /instrumentation/airspeed-indicator/indicated-speed-kt knots
//   7      /velocities/vertical-speed-fps                         feet per second, positive up
//
// The parser is strict: any other shape is rejected with a reason, and the
// caller keeps its last good state.

#include <cstddef>
#include <string_view>

namespace kestrun {

inline constexpr std::size_t kFlightGearFieldCount = 8;

// The values of one datagram, in FlightGear's own units and signs.
struct FlightGearState {
    double latitude_deg = 0;
    double longitude_deg = 0;
    double altitude_ft = 0;
    double pitch_deg = 0;
    double roll_deg = 0;
    double heading_deg = 0;
    double indicated_airspeed_kt = 0;
    double vertical_speed_fps = 0;
};

// Why a datagram was not used. kAccepted is the only good verdict; the order
// is that of the checks, so a datagram gets the first reason that applies.
enum class DatagramVerdict {
    kAccepted,
    kWrongSender,   // not from the machine the bridge listens for
    kUnterminated,  // does not end in a newline
    kShort,         // fewer fields than expected
    kLong,          // more fields than expected, or longer than any good datagram
    kNotNumeric,    // a field that is empty, not a number, NaN or infinite
    kOutOfRange,    // a number outside what an aircraft can show
};
inline constexpr std::size_t kDatagramVerdictCount = 7;

// A few words for the console: "fewer than 8 fields", ...
std::string_view VerdictText(DatagramVerdict verdict);

// Parses `datagram` (the bytes as received). On kAccepted `out` holds the
// values; on any other verdict `out` is left unchanged.
DatagramVerdict ParseFlightGearDatagram(std::string_view datagram, FlightGearState& out);

}  // namespace kestrun
