#pragma once
// Synthetic flights with known truth, recorded once a second as the recorder
// would. The aircraft moves in a frame on the ground: along a direction from
// an origin (x, metres), across it (y, positive right) and up (height h above
// the ground level). Two kinds share the frame and every manoeuvre:
//   - a pilot's day, flying north from 47 N 8 E at the airspeed (no wind),
//     stepped a whole second at a time, so that every takeoff, touchdown and
//     stop happens at a second the test knows; the ground is not modelled,
//     the altitudes flown are the truth;
//   - a flight in a runway's own frame (x from the landing threshold),
//     stepped a millisecond at a time over a solid runway, so that a
//     touchdown falls between two records and the generator knows exactly
//     when, where, at what sink and with what crab it happened.

#include <cstdint>
#include <optional>
#include <string>
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

class SyntheticFlight {
  public:
    // A pilot's day over a field `field_m` high; the first record is at
    // `start_seconds`.
    explicit SyntheticFlight(std::int64_t start_seconds = 10 * 3600, double field_m = 100);
    // Towards runway.ends[end] at (x, y, h) over a runway `ground_m` high,
    // with track `track_deg` relative to the runway's direction and `kt` over
    // the ground; the first record, of this moment, is at 10:00:00.
    SyntheticFlight(const Runway& runway, int end, double ground_m, double x_m, double y_m,
                    double h_m, double track_deg, double kt);

    // `seconds` of flight, the airspeed and the altitude moving linearly from
    // the current values to the given ones, which the last record holds.
    SyntheticFlight& Fly(int seconds, double to_kt, double to_alt_m);
    // `seconds` of flight with the ground speed and the vertical speed
    // (positive up) changing linearly to the values given, turning through
    // `turn_deg` (positive right) at a steady rate.
    SyntheticFlight& Steer(double seconds, double to_kt, double to_vs_fpm, double turn_deg = 0);
    SyntheticFlight& Rest(int seconds);
    // Sinking at `fpm` from now on (negative climbs).
    SyntheticFlight& Sink(double fpm);
    // Leaves the ground upwards at `mps` and falls back (a bounce).
    SyntheticFlight& Hop(double mps);
    // Records without a position, as a closed link writes them.
    SyntheticFlight& Blank(int seconds);
    // The recorder was off for `seconds`; the next record starts a stretch.
    SyntheticFlight& Pause(int seconds);
    // Sets what the aircraft shows without changing its path.
    SyntheticFlight& Crab(double deg) {
        crab_deg_ = deg;
        return *this;
    }
    SyntheticFlight& Attitude(double pitch_deg, double bank_deg) {
        pitch_deg_ = pitch_deg;
        bank_deg_ = bank_deg;
        return *this;
    }

    // Taxi, hold, roll and climb to cruise from the field.
    SyntheticFlight& Depart();
    // Down at 3.2 m/s to the field, roll out, taxi in and park for `parked`
    // seconds.
    SyntheticFlight& Arrive(int parked = 40);
    // The seconds of the last record on the runway in the last Depart, and
    // of the touchdown in the last Arrive: the truth a detector must find.
    std::optional<std::int64_t> takeoff() const { return takeoff_; }
    std::optional<std::int64_t> touchdown() const { return touchdown_; }

    // Where the wheels met the solid ground of a runway flight.
    const std::vector<TouchdownTruth>& touchdowns() const { return touchdowns_; }
    double lowest_m() const { return lowest_m_; }  // in the air, above the ground
    double height_m() const { return h_; }
    double along_m() const { return x_ - displaced_m_; }  // from the landing threshold

    const std::vector<FlightPoint>& points() const { return points_; }
    std::vector<FlightPoint>& points() { return points_; }  // to spoil on purpose
    // The record file the recorder would have written, 80 bytes a point.
    std::string Bytes() const;

  private:
    // Changes the speeds (vs_rate in m/s2), moves on `dt`, meets a solid
    // ground, and records when a second is due.
    void Step(double dt, double kt_rate, double vs_rate, double turn_rate);
    void Record();

    double step_s_ = 1;  // the integration step
    bool solid_ground_ = false;
    double lat0_ = 0, lon0_ = 0, east_per_deg_ = 1;
    double dir_east_ = 0, dir_north_ = 1;  // the frame's direction, unit
    double ground_m_ = 0;
    double displaced_m_ = 0;
    double heading_deg_ = 0;  // of the frame's direction
    double t_ = 0, next_record_ = 0;
    bool break_next_ = true;
    double x_ = 0, y_ = 0, h_ = 0, track_deg_ = 0, gs_mps_ = 0, vs_mps_ = 0;
    double crab_deg_ = 0, pitch_deg_ = 2, bank_deg_ = 0;
    double lowest_m_ = 1e9;
    bool on_ground_ = false;
    std::vector<FlightPoint> points_;
    std::vector<TouchdownTruth> touchdowns_;
    std::optional<std::int64_t> takeoff_, touchdown_;
};

struct CollectFlights final : FlightSink {
    void OnFlight(const DetectedFlight& flight) override { flights.push_back(flight); }
    std::vector<DetectedFlight> flights;
};

// The record file the recorder would have written for `points`.
std::string RecordBytes(const std::vector<FlightPoint>& points);

// The flights the detector finds in `points`, fed whole.
std::vector<DetectedFlight> Detect(const std::vector<FlightPoint>& points);

}  // namespace kestrun::testing
