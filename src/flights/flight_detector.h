#pragma once
// FlightDetector: finds flights in a file's records, one record at a time,
// in constant memory. Records hold no "on the ground" flag and no height
// above the ground, so ground and air are told apart from airspeed, altitude
// and how both change:
//  - On the ground, the altitude while slow (below taxi speed) is the ground
//    level. Takeoff is seen once the aircraft, having been seen rolling, is
//    at flying speed and 10 m above it; the takeoff moment is the last record
//    still on the ground. Standing still proves nothing: simulators hold an
//    aircraft still in the air while they load or pause, so one that goes
//    from standing to flying without a roll was in the air all along.
//  - In the air, a landing is seen once the airspeed falls below taxi speed
//    with the altitude steady and the ground speed below flying speed; the
//    touchdown is the first record of the final run at the level where it
//    then rolls.
//  - Coming within a few metres of a ground level already known for the
//    flight and climbing away again without slowing is a touch-and-go.
//  - The flight runs from the last stop before takeoff (a record at rest) to
//    the first stop after landing.
//  - A break in time (a paused recorder) is no landing: the flight goes on
//    if the aircraft still flies after it, and ends with an unknown landing
//    if it is then on the ground.

#include <cstdint>
#include <optional>

#include "flights/climb_window.h"
#include "flights/detected_flight.h"
#include "flights/flight_point.h"
#include "flights/recent_points.h"
#include "recordfile/track_length.h"

namespace kestrun {

class FlightSink {
  public:
    virtual ~FlightSink() = default;
    virtual void OnFlight(const DetectedFlight& flight) = 0;
};

// Where reading the same records again finds the same flights from: a record
// at rest on the ground, slow, after a roll, with no flight in progress.
struct ResumePoint {
    std::uint64_t offset = 0;
    std::int64_t seconds = 0;
};

class FlightDetector {
  public:
    explicit FlightDetector(FlightSink& sink);

    // Starts a reading again at a ResumePoint: its first record is at rest.
    void ResumeAtRest() { resume_at_rest_ = true; }

    // The next record in file order. Records without a position are ignored.
    void Add(const FlightPoint& point);
    // No more records: a flight in progress is handed over incomplete.
    void Finish();

    std::optional<ResumePoint> resume_point() const { return resume_; }
    // The flight in progress: in the air, or rolling out after its landing.
    bool Flying() const { return state_ == State::kAir; }
    bool RollingOut() const { return state_ == State::kRollout; }
    const DetectedFlight& current() const { return flight_; }
    // The ground level the flight in progress rolled on before its takeoff.
    std::optional<double> departure_level() const { return departure_level_m_; }
    // How long the aircraft has been at rest since its last landing; 0 while
    // it moves, and before it has landed.
    std::int64_t RestedSinceLanding() const;
    // The newest records with a position, this one's last.
    const RecentPoints& recent() const { return recent_; }

  private:
    enum class State { kGround, kAir, kRollout };
    enum class Trend { kNone, kClimb, kLevel, kDescent };
    // How a record moved since the one before, in the same stretch.
    struct Motion {
        std::optional<double> ground_kt;  // empty at a stretch's first record
        bool at_rest = false;
        bool steady = false;  // altitude changing less than 1 m/s
    };

    void OnGround(const FlightPoint& p, bool stretch_start, const Motion& motion);
    void InAir(const FlightPoint& p, bool stretch_start, const Motion& motion);
    void RollingOut(const FlightPoint& p, bool stretch_start, const Motion& motion);

    void BeginGroundStretch(const FlightPoint& p);
    void TakeOff();
    void StartInAir(const FlightPoint& p);
    void Land(const FlightPoint& p);
    void Track(const FlightPoint& p, bool airborne);
    void FollowTrend(const FlightPoint& p);
    // Hands the flight over, ending at `last`.
    void Emit(bool complete, const FlightPoint& last);
    std::optional<double> ClimbRate(std::int64_t from, std::int64_t to) const;
    // The climb rate over [to - window_s, to] against the trend's rate, up
    // and down: -1 below, 0 at, 1 above. Empty without two distinct times.
    using TrendRates = ClimbWindow::RateComparison;
    std::optional<TrendRates> CompareTrendRate(std::int64_t window_s, std::int64_t to) const;
    void KeepInAir(const FlightPoint& p);
    void ClearAir();
    double ShortDistanceMetres(const FlightPoint& a, const FlightPoint& b);

    FlightSink& sink_;
    State state_ = State::kGround;
    bool resume_at_rest_ = false;
    // Every record with a position; the ground stretch's and the air's are
    // the newest ground_kept_ and air_kept_ of them.
    RecentPoints recent_;
    std::optional<ResumePoint> resume_;

    // On the ground.
    FlightPoint stretch_start_;
    std::optional<FlightPoint> last_rest_;
    double ground_level_m_ = 0;
    bool rolled_ = false;  // seen rolling on the ground in this stretch
    std::int64_t roll_start_ = 0;
    std::size_t ground_kept_ = 0;
    std::optional<std::int64_t> rest_run_start_;
    bool landed_ = false;

    // In the air.
    DetectedFlight flight_;
    TrackLength track_;
    std::size_t air_kept_ = 0;
    // The climb rate's line over the last 10 seconds of the air's records,
    // and over the last 5 of them for a landing.
    ClimbWindow trend_window_;
    // cos(latitude) for ground speeds, and the latitude it was taken at.
    double cosine_at_deg_ = 1000;
    double cosine_ = 0;
    std::optional<double> departure_level_m_;
    bool touching_ = false;
    bool below_field_ = false;
    Trend trend_ = Trend::kNone;
    Trend pending_trend_ = Trend::kNone;
    std::int64_t pending_since_ = 0;
};

}  // namespace kestrun
