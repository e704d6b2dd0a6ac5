#include "host/flightgear/flightgear_state.h"

#include "protocol/host_units.h"

namespace kestrun {

void StoreFlightGearState(const FlightGearState& state, OffsetImage& image) {
    image.SetU64(kOffsetLatitude, static_cast<std::uint64_t>(LatitudeToHost(state.latitude_deg)));
    image.SetU64(kOffsetLongitude,
                 static_cast<std::uint64_t>(LongitudeToHost(state.longitude_deg)));
    const HostAltitude altitude = AltitudeToHost(state.altitude_ft * kMetresPerFoot);
    image.SetU32(kOffsetAltitudeFraction, altitude.fraction);
    image.SetU32(kOffsetAltitudeMetres, static_cast<std::uint32_t>(altitude.metres));
    image.SetU32(kOffsetPitch, static_cast<std::uint32_t>(SignedAngleToHost(-state.pitch_deg)));
    image.SetU32(kOffsetBank, static_cast<std::uint32_t>(SignedAngleToHost(-state.roll_deg)));
    image.SetU32(kOffsetHeading, HeadingToHost(state.heading_deg));
    image.SetU32(kOffsetIndicatedAirspeed,
                 static_cast<std::uint32_t>(AirspeedToHost(state.indicated_airspeed_kt)));
    image.SetU32(
        kOffsetVerticalSpeed,
        static_cast<std::uint32_t>(VerticalSpeedToHost(state.vertical_speed_fps * kMetresPerFoot)));
}

void MarkFlightGearSimulator(OffsetImage& image) {
    image.SetU32(kOffsetSimulatorVersion, kSimulatorMarker << 16 | kFlightGearSimulatorCode);
}

}  // namespace kestrun
