#include "tests/support/synthetic_flight.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "tests/support/test_files.h"

namespace kestrun::testing {
namespace {

constexpr double kRad = std::numbers::pi / 180;
constexpr double kMetresPerDegree = 6371008.8 * kRad;
constexpr double kMpsPerKt = 1852.0 / 3600.0;
constexpr double kMpsPerFpm = 0.3048 / 60;

}  // namespace

SyntheticFlight::SyntheticFlight(std::int64_t start_seconds, double field_m)
    : lat0_(47.0),
      lon0_(8.0),
      east_per_deg_(kMetresPerDegree * std::cos(47.0 * kRad)),
      ground_m_(field_m),
      t_(static_cast<double>(start_seconds) - 1),
      next_record_(t_ + 1) {}

SyntheticFlight::SyntheticFlight(const Runway& runway, int end, double ground_m, double x_m,
                                 double y_m, double h_m, double track_deg, double kt)
    : step_s_(0.001),
      solid_ground_(true),
      ground_m_(ground_m),
      t_(10 * 3600),
      next_record_(t_),
      x_(x_m),
      y_(y_m),
      h_(h_m),
      track_deg_(track_deg),
      gs_mps_(kt * kMpsPerKt) {
    const GeoPoint& from = runway.ends[end].threshold;
    const GeoPoint& to = runway.ends[1 - end].threshold;
    lat0_ = from.latitude_deg;
    lon0_ = from.longitude_deg;
    east_per_deg_ = kMetresPerDegree * std::cos(lat0_ * kRad);
    const double east = (to.longitude_deg - lon0_) * east_per_deg_;
    const double north = (to.latitude_deg - lat0_) * kMetresPerDegree;
    dir_east_ = east / std::hypot(east, north);
    dir_north_ = north / std::hypot(east, north);
    heading_deg_ = std::atan2(dir_east_, dir_north_) / kRad;
    // x counts from the landing threshold; the frame from the paved end.
    displaced_m_ = runway.ends[end].displaced_m;
    x_ += displaced_m_;
    Record();
}

void SyntheticFlight::Record() {
    const double east = x_ * dir_east_ + y_ * dir_north_;
    const double north = x_ * dir_north_ - y_ * dir_east_;
    double heading = heading_deg_ + track_deg_ + crab_deg_;
    heading = std::fmod(std::fmod(heading, 360) + 360, 360);
    points_.push_back({.offset = points_.size() * 80,
                       .seconds = static_cast<std::int64_t>(std::llround(next_record_)),
                       .new_stretch = std::exchange(break_next_, false),
                       .has_position = true,
                       .latitude_deg = lat0_ + north / kMetresPerDegree,
                       .longitude_deg = lon0_ + east / east_per_deg_,
                       .altitude_m = ground_m_ + h_,
                       .pitch_deg = pitch_deg_,
                       .bank_deg = bank_deg_,
                       .airspeed_kt = gs_mps_ / kMpsPerKt,
                       .heading_deg = heading});
    next_record_ += 1;
}

void SyntheticFlight::Step(double dt, double kt_rate, double vs_rate, double turn_rate) {
    const double h_before = h_, x_before = x_, y_before = y_;
    gs_mps_ = std::max(0.0, gs_mps_ + kt_rate * kMpsPerKt * dt);
    vs_mps_ += vs_rate * dt;
    track_deg_ += turn_rate * dt;
    x_ += gs_mps_ * std::cos(track_deg_ * kRad) * dt;
    y_ += gs_mps_ * std::sin(track_deg_ * kRad) * dt;
    if (on_ground_ && vs_mps_ <= 0) {
        vs_mps_ = 0;
    } else {
        on_ground_ = false;
        h_ += vs_mps_ * dt;
        if (solid_ground_ && h_ <= 0) {
            const double f = h_before / (h_before - h_);  // of the step, still in the air
            touchdowns_.push_back({t_ + f * dt, x_before + (x_ - x_before) * f - displaced_m_,
                                   y_before + (y_ - y_before) * f, -vs_mps_ / kMpsPerFpm,
                                   crab_deg_});
            h_ = 0;
            vs_mps_ = 0;
            on_ground_ = true;
        } else {
            lowest_m_ = std::min(lowest_m_, h_);
        }
    }
    t_ += dt;
    if (t_ >= next_record_ - step_s_ / 2) Record();
}

SyntheticFlight& SyntheticFlight::Fly(int seconds, double to_kt, double to_alt_m) {
    if (seconds <= 0) return *this;
    vs_mps_ = (to_alt_m - ground_m_ - h_) / seconds;  // steady: the ground is not met
    return Steer(seconds, to_kt, vs_mps_ / kMpsPerFpm);
}

SyntheticFlight& SyntheticFlight::Steer(double seconds, double to_kt, double to_vs_fpm,
                                        double turn_deg) {
    const auto steps = std::lround(seconds / step_s_);
    const double kt_rate = (to_kt - gs_mps_ / kMpsPerKt) / seconds;
    const double vs_rate = (to_vs_fpm * kMpsPerFpm - vs_mps_) / seconds;
    for (long i = 0; i < steps; ++i) Step(step_s_, kt_rate, vs_rate, turn_deg / seconds);
    return *this;
}

SyntheticFlight& SyntheticFlight::Rest(int seconds) {
    gs_mps_ = 0;
    return Fly(seconds, 0, ground_m_ + h_);
}

SyntheticFlight& SyntheticFlight::Sink(double fpm) {
    vs_mps_ = -fpm * kMpsPerFpm;
    return *this;
}

SyntheticFlight& SyntheticFlight::Hop(double mps) {
    vs_mps_ = mps;
    on_ground_ = false;
    while (!on_ground_) Step(step_s_, 0, -9.81, 0);  // falling freely
    return *this;
}

SyntheticFlight& SyntheticFlight::Blank(int seconds) {
    for (int i = 0; i < seconds; ++i, t_ += 1, next_record_ += 1) {
        points_.push_back({.offset = points_.size() * 80,
                           .seconds = static_cast<std::int64_t>(std::llround(next_record_))});
    }
    return *this;
}

SyntheticFlight& SyntheticFlight::Pause(int seconds) {
    t_ += seconds;
    next_record_ += seconds;
    break_next_ = true;
    return *this;
}

SyntheticFlight& SyntheticFlight::Depart() {
    const double field = ground_m_ + h_;
    Rest(10).Fly(60, 10, field).Rest(5).Fly(20, 60, field);
    takeoff_ = points_.back().seconds;
    return Fly(100, 75, field + 400).Fly(300, 100, field + 400);
}

SyntheticFlight& SyntheticFlight::Arrive(int parked) {
    const double field = ground_m_ + h_ - 400;
    Fly(125, 65, field);
    touchdown_ = points_.back().seconds;
    return Fly(20, 20, field).Fly(30, 10, field).Rest(parked);
}

std::string SyntheticFlight::Bytes() const {
    return RecordBytes(points_);
}

std::string RecordBytes(const std::vector<FlightPoint>& points) {
    std::string bytes;
    for (const FlightPoint& p : points) {
        // A point without a position is all zero, as a closed link writes it.
        // Flown's fields in order: time of day, position, pitch, bank, heading, airspeed.
        const auto day = static_cast<int>(p.seconds % 86400);
        AppendRecord(bytes, MakeRecord({day / 3600, day / 60 % 60, day % 60, p.latitude_deg,
                                        p.longitude_deg, p.altitude_m, p.pitch_deg, p.bank_deg,
                                        p.heading_deg, p.airspeed_kt}));
    }
    return bytes;
}

std::vector<DetectedFlight> Detect(const std::vector<FlightPoint>& points) {
    CollectFlights sink;
    FlightDetector detector(sink);
    for (const FlightPoint& p : points) detector.Add(p);
    detector.Finish();
    return sink.flights;
}

}  // namespace kestrun::testing
