#pragma once
// Flights flown in a runway's own frame with known truth: along the
// centreline from the landing threshold (x, metres), across it (y, positive
// right) and height above the runway (h). The motion is integrated in steps
// of a millisecond and recorded once a second, so a touchdown falls between
// two records, and the generator knows exactly when, where, at what sink and
// with what crab it happened.

#include <cstdint>
#include <vector>

#include "flights/flight_detector.h"
#include "flights/runway.h"

namespace kestrun::testing {

struct TouchdownTruth {
    double seconds = 0;
    double x_m = 0, y_m = 0;
    double sink_fpm = 0;  // positive down
    double crab_deg = 0;
};

class RunwayFlight {
  public:
    // Flying towards runway.ends[end] at (x, y, h) with track `track_deg`
    // relative to the runway's direction, `kt` over the ground.
    RunwayFlight(const Runway& runway, int end, double ground_m, double x_m, double y_m,
                 double h_m, double track_deg, double kt);

    // `seconds` of flight with the ground speed and the vertical speed
    // (positive up) changing linearly to the values given, turning through
    // `turn_deg` (positive right) at a steady rate.
    RunwayFlight& Fly(double seconds, double to_kt, double to_vs_fpm, double turn_deg = 0);
    // Sinking at `fpm` from now on (negative climbs).
    RunwayFlight& Sink(double fpm);
    // Leaves the ground upwards at `mps` and falls back (a bounce).
    RunwayFlight& Hop(double mps);
    // Sets what the aircraft shows without changing its path.
    RunwayFlight& Crab(double deg) { crab_deg_ = deg; return *this; }
    RunwayFlight& Headwind(double kt) { headwind_kt_ = kt; return *this; }
    RunwayFlight& Attitude(double pitch_deg, double bank_deg) {
        pitch_deg_ = pitch_deg;
        bank_deg_ = bank_deg;
        return *this;
    }

    const std::vector<FlightPoint>& points() const { return points_; }
    const std::vector<TouchdownTruth>& touchdowns() const { return touchdowns_; }
    double lowest_m() const { return lowest_m_; }  // in the air, above the runway
    double height_m() const { return h_; }
    double along_m() const { return x_ - displaced_m_; }  // from the landing threshold

  private:
    void Step(double dt, double kt_rate, double vs_rate, double turn_rate, double gravity);
    void Record();
    static double Lerp(double a, double b, double f) { return a + (b - a) * f; }

    double lat0_, lon0_, east_per_deg_, north_per_deg_;
    double dir_east_, dir_north_;  // the runway's direction, unit
    double ground_m_;
    double displaced_m_ = 0;
    double runway_heading_deg_;
    double t_ = 10 * 3600;
    double next_record_ = 10 * 3600;
    double x_, y_, h_, track_deg_, gs_mps_, vs_mps_ = 0;
    double crab_deg_ = 0, headwind_kt_ = 0, pitch_deg_ = 2, bank_deg_ = 0;
    double lowest_m_ = 1e9;
    bool on_ground_ = false;
    std::vector<FlightPoint> points_;
    std::vector<TouchdownTruth> touchdowns_;
};

}  // namespace kestrun::testing
