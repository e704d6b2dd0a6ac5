#pragma once
// Host offsets the project uses and the units a host stores them in.
// Every conversion between physical values and host words lives here, so the
// simulated host, bridges, export tools and tests agree to the last bit.

#include <cstdint>

namespace kestrun {

inline constexpr std::uint32_t kOffsetLatitude = 0x0560;          // int64
inline constexpr std::uint32_t kOffsetLongitude = 0x0568;         // int64
inline constexpr std::uint32_t kOffsetAltitudeFraction = 0x0570;  // uint32, metres / 2^32
inline constexpr std::uint32_t kOffsetAltitudeMetres = 0x0574;    // int32, whole metres
inline constexpr std::uint32_t kOffsetPitch = 0x0578;             // int32, negative nose up
inline constexpr std::uint32_t kOffsetBank = 0x057C;              // int32, negative right wing down
inline constexpr std::uint32_t kOffsetHeading = 0x0580;           // uint32, true heading
inline constexpr std::uint32_t kOffsetIndicatedAirspeed = 0x02BC;  // int32, knots * 128
inline constexpr std::uint32_t kOffsetVerticalSpeed = 0x02C8;      // int32, m/s * 256
inline constexpr std::uint32_t kOffsetHostVersion = 0x3304;        // uint32, one nibble per digit
inline constexpr std::uint32_t kOffsetSimulatorVersion = 0x3308;   // 0xFADE << 16 | simulator code
inline constexpr std::uint32_t kOffsetLibraryVersion = 0x330A;     // int16, written by clients

inline constexpr std::uint32_t kSimulatorMarker = 0xFADE;

// Latitude: degrees = v * 90 / (10001750 * 2^32), north positive.
std::int64_t LatitudeToHost(double degrees);
double LatitudeFromHost(std::int64_t v);

// Longitude: degrees = v * 360 / 2^64, east positive; wraps at +-180.
std::int64_t LongitudeToHost(double degrees);
double LongitudeFromHost(std::int64_t v);

// Altitude above mean sea level as the host's 8-byte value: whole metres in
// the high 32 bits, the fraction of a metre (metres / 2^32) in the low 32.
struct HostAltitude {
    std::uint32_t fraction = 0;
    std::int32_t metres = 0;
};
HostAltitude AltitudeToHost(double metres);
// The readers below work in double where that is exact (the exact sum or
// product rounded once), and are inline: readers of records convert
// millions of them.
inline double AltitudeFromHost(HostAltitude altitude) {
    return static_cast<double>(altitude.metres) +
           static_cast<double>(altitude.fraction) / 4294967296.0;
}
// Pilots, FlightGear and the export formats count altitudes in feet.
inline constexpr double kMetresPerFoot = 0.3048;

// Angles: degrees = v * 360 / 2^32. Host pitch is negative nose up and host
// bank negative right wing down; callers convert signs, not these helpers.
std::int32_t SignedAngleToHost(double degrees);
inline double SignedAngleFromHost(std::int32_t v) {
    return static_cast<double>(v) * 360.0 / 4294967296.0;  // below 2^41: exact
}
std::uint32_t HeadingToHost(double degrees);  // any degrees, wrapped into [0, 360)
// [0, 360)
inline double HeadingFromHost(std::uint32_t v) {
    return static_cast<double>(v) * 360.0 / 4294967296.0;  // below 2^41: exact
}

// Indicated airspeed: knots = v / 128.
std::int32_t AirspeedToHost(double knots);
inline double AirspeedFromHost(std::int32_t v) {
    return static_cast<double>(v) / 128.0;
}

// Vertical speed: metres per second = v / 256.
std::int32_t VerticalSpeedToHost(double metres_per_second);
double VerticalSpeedFromHost(std::int32_t v);

}  // namespace kestrun
