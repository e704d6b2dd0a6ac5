#include "tests/support/synthetic_flight.h"

#include <utility>

#include "tests/support/test_files.h"

namespace kestrun::testing {
namespace {

constexpr double kMetresPerDegree = 6371008.8 * 3.14159265358979 / 180;

}  // namespace

SyntheticFlight& SyntheticFlight::Fly(int seconds, double to_kt, double to_alt_m) {
    const double from_kt = kt_, from_alt = alt_;
    for (int i = 1; i <= seconds; ++i) {
        const double f = static_cast<double>(i) / seconds;
        kt_ = from_kt + (to_kt - from_kt) * f;
        alt_ = from_alt + (to_alt_m - from_alt) * f;
        lat_ += kt_ * 1852.0 / 3600.0 / kMetresPerDegree;
        points_.push_back({.offset = points_.size() * 80,
                           .seconds = t_++,
                           .new_stretch = std::exchange(break_next_, false),
                           .has_position = true,
                           .latitude_deg = lat_,
                           .longitude_deg = 8.0,
                           .altitude_m = alt_,
                           .pitch_deg = 2,
                           .airspeed_kt = kt_});
    }
    return *this;
}

SyntheticFlight& SyntheticFlight::Blank(int seconds) {
    for (int i = 0; i < seconds; ++i)
        points_.push_back({.offset = points_.size() * 80, .seconds = t_++});
    return *this;
}

SyntheticFlight& SyntheticFlight::Pause(int seconds) {
    t_ += seconds;
    break_next_ = true;
    return *this;
}

SyntheticFlight& SyntheticFlight::Depart() {
    const double field = alt_;
    Rest(10).Fly(60, 10, field).Rest(5).Fly(20, 60, field);
    takeoff_ = t_ - 1;  // the last record so far
    return Fly(100, 75, field + 400).Fly(300, 100, field + 400);
}

SyntheticFlight& SyntheticFlight::Arrive(int parked) {
    const double field = alt_ - 400;
    Fly(125, 65, field);
    touchdown_ = t_ - 1;
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
        AppendRecord(
            bytes, MakeRecord({day / 3600, day / 60 % 60, day % 60, p.latitude_deg, p.longitude_deg,
                               p.altitude_m, p.pitch_deg, p.bank_deg, p.heading_deg, p.airspeed_kt}));
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
