#include "tests/support/runway_flight.h"

#include <cmath>
#include <numbers>

namespace kestrun::testing {
namespace {

constexpr double kRad = std::numbers::pi / 180;
constexpr double kMetresPerDegree = 6371008.8 * kRad;
constexpr double kMpsPerKt = 1852.0 / 3600.0;
constexpr double kMpsPerFpm = 0.3048 / 60;
constexpr double kStep = 0.001;

}  // namespace

RunwayFlight::RunwayFlight(const Runway& runway, int end, double ground_m, double x_m, double y_m,
                           double h_m, double track_deg, double kt)
    : ground_m_(ground_m), x_(x_m), y_(y_m), h_(h_m),
      track_deg_(track_deg), gs_mps_(kt * kMpsPerKt) {
    const GeoPoint& from = runway.ends[end].threshold;
    const GeoPoint& to = runway.ends[1 - end].threshold;
    lat0_ = from.latitude_deg;
    lon0_ = from.longitude_deg;
    north_per_deg_ = kMetresPerDegree;
    east_per_deg_ = kMetresPerDegree * std::cos(lat0_ * kRad);
    const double east = (to.longitude_deg - lon0_) * east_per_deg_;
    const double north = (to.latitude_deg - lat0_) * north_per_deg_;
    dir_east_ = east / std::hypot(east, north);
    dir_north_ = north / std::hypot(east, north);
    runway_heading_deg_ = std::atan2(dir_east_, dir_north_) / kRad;
    // x counts from the landing threshold; the frame from the paved end.
    displaced_m_ = runway.ends[end].displaced_m;
    x_ += displaced_m_;
    Record();
}

void RunwayFlight::Record() {
    const double along = x_;
    const double east = along * dir_east_ + y_ * dir_north_;
    const double north = along * dir_north_ - y_ * dir_east_;
    double heading = runway_heading_deg_ + track_deg_ + crab_deg_;
    heading = std::fmod(std::fmod(heading, 360) + 360, 360);
    points_.push_back({.offset = points_.size() * 80,
                       .seconds = static_cast<std::int64_t>(std::llround(next_record_)),
                       .new_stretch = points_.empty(),
                       .has_position = true,
                       .latitude_deg = lat0_ + north / north_per_deg_,
                       .longitude_deg = lon0_ + east / east_per_deg_,
                       .altitude_m = ground_m_ + h_,
                       .pitch_deg = pitch_deg_,
                       .bank_deg = bank_deg_,
                       .airspeed_kt = gs_mps_ / kMpsPerKt + headwind_kt_,
                       .heading_deg = heading});
    next_record_ += 1;
}

void RunwayFlight::Step(double dt, double kt_rate, double vs_rate, double turn_rate,
                        double gravity) {
    const double h_before = h_, x_before = x_, y_before = y_;
    gs_mps_ = std::max(0.0, gs_mps_ + kt_rate * kMpsPerKt * dt);
    vs_mps_ += (vs_rate + gravity) * dt;
    track_deg_ += turn_rate * dt;
    x_ += gs_mps_ * std::cos(track_deg_ * kRad) * dt;
    y_ += gs_mps_ * std::sin(track_deg_ * kRad) * dt;
    if (on_ground_ && vs_mps_ <= 0) {
        vs_mps_ = 0;
    } else {
        on_ground_ = false;
        h_ += vs_mps_ * dt;
        if (h_ <= 0) {
            const double f = h_before / (h_before - h_);
            touchdowns_.push_back({t_ + f * dt, Lerp(x_before, x_, f) - displaced_m_,
                                   Lerp(y_before, y_, f), -vs_mps_ / kMpsPerFpm, crab_deg_});
            h_ = 0;
            vs_mps_ = 0;
            on_ground_ = true;
        } else {
            lowest_m_ = std::min(lowest_m_, h_);
        }
    }
    t_ += dt;
    if (t_ >= next_record_ - kStep / 2) Record();
}

RunwayFlight& RunwayFlight::Fly(double seconds, double to_kt, double to_vs_fpm, double turn_deg) {
    const auto steps = static_cast<long>(std::llround(seconds / kStep));
    const double kt_rate = (to_kt - gs_mps_ / kMpsPerKt) / seconds;
    const double vs_rate = (to_vs_fpm * kMpsPerFpm - vs_mps_) / seconds;
    for (long i = 0; i < steps; ++i) Step(kStep, kt_rate, vs_rate, turn_deg / seconds, 0);
    return *this;
}

RunwayFlight& RunwayFlight::Sink(double fpm) {
    vs_mps_ = -fpm * kMpsPerFpm;
    return *this;
}

RunwayFlight& RunwayFlight::Hop(double mps) {
    vs_mps_ = mps;
    on_ground_ = false;
    while (!on_ground_) Step(kStep, 0, 0, 0, -9.81);
    return *this;
}

}  // namespace kestrun::testing
