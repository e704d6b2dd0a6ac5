#include "host/pattern_aircraft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "host/aircraft_state.h"
#include "protocol/host_units.h"

namespace kestrun {
namespace {

constexpr double kDt = 0.1;  // the slowest update rate a host may use
constexpr double kDegree = std::numbers::pi / 180;
constexpr double kMetresPerDegree = 10001750.0 / 90.0;
constexpr double kMps = 1852.0 / 3600.0;

// Any angle into [-180, 180], the test's own, not the aircraft's.
double Wrap180(double d) {
    return std::remainder(d, 360.0);
}

// How far `b` lies from `a`: metres north as the real part, east as the
// imaginary, so that its argument is the track.
std::complex<double> Between(const AircraftState& a, const AircraftState& b) {
    const double lat = (a.latitude_deg + b.latitude_deg) / 2 * kDegree;
    return {(b.latitude_deg - a.latitude_deg) * kMetresPerDegree,
            Wrap180(b.longitude_deg - a.longitude_deg) * kMetresPerDegree * std::cos(lat)};
}

// Flies the aircraft through the offset image at 10 Hz, as a host would, and
// checks every step against the next: the values a recorder reads must
// describe one physically possible flight, of whole patterns over and over.
// The host's own signs for pitch and bank are checked where every source's
// values are written, by the FlightGear bridge test.
void FlyAndCheck(const Airfield& field, double minutes) {
    PatternAircraft aircraft(field);
    OffsetImage image;
    double now = 1000;
    aircraft.Update(now, image);
    AircraftState previous = ReadAircraftState(image);
    const AircraftState start{field.latitude_deg, field.longitude_deg};
    int lift_offs = 0, touchdowns = 0;
    double highest = 0, farthest = 0;

    for (int step = 0; step < static_cast<int>(minutes * 600) && !::testing::Test::HasFailure();
         ++step) {
        aircraft.Update(now += kDt, image);
        const AircraftState s = ReadAircraftState(image);
        SCOPED_TRACE(::testing::Message() << "t=" << step * kDt << " s");
        const double height = s.altitude_m - field.elevation_m;
        const bool airborne = height > 1e-6,
                   was_airborne = previous.altitude_m > field.elevation_m + 1e-6;
        const double speed = s.airspeed_kt * kMps;

        // Vertical speed is the altitude's rate of change: over one step the
        // rate lies between the vertical speeds at its two ends; zero on the ground.
        const double climb = (s.altitude_m - previous.altitude_m) / kDt;
        EXPECT_GE(climb, std::min(previous.vertical_speed_mps, s.vertical_speed_mps) - 0.05);
        EXPECT_LE(climb, std::max(previous.vertical_speed_mps, s.vertical_speed_mps) + 0.05);
        EXPECT_TRUE(airborne || s.vertical_speed_mps == 0);
        ASSERT_GE(height, -0.01);

        // The ground track follows the heading at the horizontal part of the
        // airspeed (no wind).
        const std::complex<double> move = Between(previous, s);
        const double path =
            speed > 1 ? std::asin(std::clamp(s.vertical_speed_mps / speed, -1.0, 1.0)) : 0;
        EXPECT_NEAR(std::abs(move) / kDt, speed * std::cos(path), 0.4);
        if (std::abs(move) / kDt > 5) {
            EXPECT_NEAR(Wrap180(std::arg(move) / kDegree - s.heading_deg), 0, 2.0);
        }

        if (airborne && was_airborne) {
            // Coordinated turn: turn rate = g tan(bank) / v, with the nose
            // above the flight path by a positive angle of attack.
            const double rate = Wrap180(s.heading_deg - previous.heading_deg) / kDt;
            const double bank = (s.bank_deg + previous.bank_deg) / 2 * kDegree;
            EXPECT_NEAR(rate, 9.80665 * std::tan(bank) / speed / kDegree, 0.6);
            EXPECT_GT(s.pitch_deg, path / kDegree);
            EXPECT_LT(s.pitch_deg, path / kDegree + 15);
            EXPECT_LE(std::abs(s.bank_deg), 25.5);
        }
        lift_offs += airborne && !was_airborne;
        touchdowns += !airborne && was_airborne;
        highest = std::max(highest, height);
        farthest = std::max(farthest, std::abs(Between(start, s)));
        previous = s;
    }
    EXPECT_GE(lift_offs, 2);
    EXPECT_GE(touchdowns, 2);
    EXPECT_NEAR(highest, 300, 20);
    EXPECT_LT(farthest, 5000);
}

TEST(PatternAircraftTest, FliesConsistentRepeatedPatterns) {
    FlyAndCheck(DefaultAirfield(), 20);
    // Taking off north-north-east from just west of 180 degrees: every
    // climb-out crosses the date line, so the longitude wraps each circuit.
    FlyAndCheck(Airfield{"date line", -16.8, 179.999, 500, 10}, 14);
}

}  // namespace
}  // namespace kestrun
