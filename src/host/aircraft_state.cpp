#include "host/aircraft_state.h"

#include "protocol/host_units.h"

namespace kestrun {

void WriteAircraftState(const AircraftState& state, OffsetImage& image) {
    const HostAltitude altitude = AltitudeToHost(state.altitude_m);
    image.SetU64(kOffsetLatitude, static_cast<std::uint64_t>(LatitudeToHost(state.latitude_deg)));
    image.SetU64(kOffsetLongitude,
                 static_cast<std::uint64_t>(LongitudeToHost(state.longitude_deg)));
    image.SetU32(kOffsetAltitudeFraction, altitude.fraction);
    image.SetU32(kOffsetAltitudeMetres, static_cast<std::uint32_t>(altitude.metres));
    image.SetU32(kOffsetPitch, static_cast<std::uint32_t>(SignedAngleToHost(-state.pitch_deg)));
    image.SetU32(kOffsetBank, static_cast<std::uint32_t>(SignedAngleToHost(-state.bank_deg)));
    image.SetU32(kOffsetHeading, HeadingToHost(state.heading_deg));
    image.SetU32(kOffsetIndicatedAirspeed,
                 static_cast<std::uint32_t>(AirspeedToHost(state.airspeed_kt)));
    image.SetU32(kOffsetVerticalSpeed,
                 static_cast<std::uint32_t>(VerticalSpeedToHost(state.vertical_speed_mps)));
}

AircraftState ReadAircraftState(const OffsetImage& image) {
    const auto i32 = [&](std::uint32_t offset) {
        return static_cast<std::int32_t>(image.GetU32(offset));
    };
    AircraftState state;
    state.latitude_deg = LatitudeFromHost(static_cast<std::int64_t>(image.GetU64(kOffsetLatitude)));
    state.longitude_deg =
        LongitudeFromHost(static_cast<std::int64_t>(image.GetU64(kOffsetLongitude)));
    state.altitude_m = AltitudeFromHost(
        HostAltitude{image.GetU32(kOffsetAltitudeFraction), i32(kOffsetAltitudeMetres)});
    state.pitch_deg = -SignedAngleFromHost(i32(kOffsetPitch));
    state.bank_deg = -SignedAngleFromHost(i32(kOffsetBank));
    state.heading_deg = HeadingFromHost(image.GetU32(kOffsetHeading));
    state.airspeed_kt = AirspeedFromHost(i32(kOffsetIndicatedAirspeed));
    state.vertical_speed_mps = VerticalSpeedFromHost(i32(kOffsetVerticalSpeed));
    return state;
}

void WriteHostIdentity(std::uint32_t version_word, std::uint16_t simulator_code,
                       OffsetImage& image) {
    image.SetU32(kOffsetHostVersion, version_word);
    image.SetU32(kOffsetSimulatorVersion, (kSimulatorMarker << 16) | simulator_code);
}

}  // namespace kestrun
