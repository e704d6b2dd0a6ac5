#include "host/pattern_aircraft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "host/aircraft_state.h"
#include "protocol/host_units.h"

namespace kestrun {
namespace {

constexpr double kDt = 0.1;  // the slowest update rate a host may use
constexpr double kMetresPerDegree = 10001750.0 / 90.0;
constexpr double kMps = 1852.0 / 3600.0;

double Rad(double d) {
    return d * std::numbers::pi / 180;
}
double Deg(double r) {
    return r * 180 / std::numbers::pi;
}
double Wrap180(double d) {
    return std::remainder(d, 360.0);
}

struct Move {
    double north = 0;
    double east = 0;
};

Move Between(const AircraftState& a, const AircraftState& b) {
    const double lat = Rad((a.latitude_deg + b.latitude_deg) / 2);
    return {(b.latitude_deg - a.latitude_deg) * kMetresPerDegree,
            Wrap180(b.longitude_deg - a.longitude_deg) * kMetresPerDegree * std::cos(lat)};
}

// Flies the aircraft through the offset image at 10 Hz, as a host would, and
// checks every step against the next: the values a recorder reads must
// describe one physically possible flight.
void FlyAndCheck(const Airfield& field, double minutes) {
    PatternAircraft aircraft(field);
    OffsetImage image;
    double now = 1000;
    aircraft.Update(now, image);
    AircraftState previous = ReadAircraftState(image);
    int lift_offs = 0, touchdowns = 0;
    double highest = 0, farthest = 0;
    bool was_airborne = false;

    for (int step = 0; step < static_cast<int>(minutes * 600); ++step) {
        now += kDt;
        aircraft.Update(now, image);
        const AircraftState s = ReadAircraftState(image);
        SCOPED_TRACE(testing::Message() << "t=" << step * kDt << " s");
        const double height = s.altitude_m - field.elevation_m;
        const bool airborne = height > 1e-6;
        const double speed = s.airspeed_kt * kMps;

        // Vertical speed is the altitude's rate of change: over one step the
        // rate lies between the vertical speeds at its two ends.
        const double climb = (s.altitude_m - previous.altitude_m) / kDt;
        EXPECT_GE(climb, std::min(previous.vertical_speed_mps, s.vertical_speed_mps) - 0.05);
        EXPECT_LE(climb, std::max(previous.vertical_speed_mps, s.vertical_speed_mps) + 0.05);
        ASSERT_GE(height, -0.01);

        // The ground track follows the heading at the horizontal part of the
        // airspeed (no wind).
        const Move move = Between(previous, s);
        const double ground_speed = std::hypot(move.north, move.east) / kDt;
        const double path =
            speed > 1 ? std::asin(std::clamp(s.vertical_speed_mps / speed, -1.0, 1.0)) : 0;
        EXPECT_NEAR(ground_speed, speed * std::cos(path), 0.4);
        if (ground_speed > 5) {
            const double track = Deg(std::atan2(move.east, move.north));
            EXPECT_NEAR(Wrap180(track - s.heading_deg), 0, 2.0);
        }

        if (airborne && previous.altitude_m > field.elevation_m + 1e-6) {
            // Coordinated turn: turn rate = g tan(bank) / v.
            const double rate = Wrap180(s.heading_deg - previous.heading_deg) / kDt;
            const double bank = Rad((s.bank_deg + previous.bank_deg) / 2);
            EXPECT_NEAR(rate, Deg(9.80665 * std::tan(bank) / speed), 0.6);
            // The nose sits above the flight path by a positive angle of attack.
            EXPECT_GT(s.pitch_deg, Deg(path));
            EXPECT_LT(s.pitch_deg, Deg(path) + 15);
            EXPECT_LE(std::abs(s.bank_deg), 25.5);
        }
        EXPECT_TRUE(airborne || s.vertical_speed_mps == 0);

        if (airborne && !was_airborne) ++lift_offs;
        if (!airborne && was_airborne) ++touchdowns;
        was_airborne = airborne;
        highest = std::max(highest, height);
        const Move from_start =
            Between(AircraftState{field.latitude_deg, field.longitude_deg, 0, 0, 0, 0, 0, 0}, s);
        farthest = std::max(farthest, std::hypot(from_start.north, from_start.east));
        previous = s;
        if (testing::Test::HasFailure()) return;
    }

    // Whole patterns, over and over: up to pattern height and back down.
    EXPECT_GE(lift_offs, 2);
    EXPECT_GE(touchdowns, 2);
    EXPECT_NEAR(highest, 300, 20);
    EXPECT_LT(farthest, 5000);
}

// The host's own signs for pitch and bank are checked where every source's
// values are written, by the FlightGear link test.
TEST(PatternAircraftTest, FliesConsistentRepeatedPatterns) {
    FlyAndCheck(DefaultAirfield(), 20);
    // Taking off north-north-east from just west of 180 degrees: every
    // climb-out crosses the date line, so the longitude wraps each circuit.
    FlyAndCheck(Airfield{"date line", -16.8, 179.999, 500, 10}, 14);
}

}  // namespace
}  // namespace kestrun
