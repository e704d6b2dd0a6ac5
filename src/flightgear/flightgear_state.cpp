#include "flightgear/flightgear_state.h"

#include "protocol/host_units.h"

namespace kestrun {

AircraftState ToAircraftState(const FlightGearState& state) {
    AircraftState aircraft;
    aircraft.latitude_deg = state.latitude_deg;
    aircraft.longitude_deg = state.longitude_deg;
    aircraft.altitude_m = state.altitude_ft * kMetresPerFoot;
    aircraft.pitch_deg = state.pitch_deg;
    aircraft.bank_deg = state.roll_deg;
    aircraft.heading_deg = state.heading_deg;
    aircraft.airspeed_kt = state.indicated_airspeed_kt;
    aircraft.vertical_speed_mps = state.vertical_speed_fps * kMetresPerFoot;
    return aircraft;
}

}  // namespace kestrun
