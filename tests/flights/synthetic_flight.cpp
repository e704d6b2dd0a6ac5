#include "tests/flights/synthetic_flight.h"

#include "tests/support/test_files.h"

namespace kestrun::testing {
namespace {

constexpr double kMetresPerDegree = 6371008.8 * 3.14159265358979 / 180;

class Collect final : public FlightSink {
  public:
    void OnFlight(const DetectedFlight& flight) override { flights.push_back(flight); }
    std::vector<DetectedFlight> flights;
};

}  // namespace

SyntheticFlight& SyntheticFlight::Fly(int seconds, double to_kt, double to_alt_m) {
    const double from_kt = kt_, from_alt = alt_;
    for (int i = 1; i <= seconds; ++i) {
        const double f = static_cast<double>(i) / seconds;
        kt_ = from_kt + (to_kt - from_kt) * f;
        alt_ = from_alt + (to_alt_m - from_alt) * f;
        lat_ += kt_ * 1852.0 / 3600.0 / kMetresPerDegree;
        FlightPoint p;
        p.offset = points_.size() * 80;
        p.seconds = t_++;
        p.new_stretch = break_next_;
        break_next_ = false;
        p.has_position = true;
        p.latitude_deg = lat_;
        p.longitude_deg = 8.0;
        p.altitude_m = alt_;
        p.airspeed_kt = kt_;
        p.pitch_deg = 2;
        points_.push_back(p);
    }
    return *this;
}

SyntheticFlight& SyntheticFlight::Blank(int seconds) {
    for (int i = 0; i < seconds; ++i) {
        FlightPoint p;
        p.offset = points_.size() * 80;
        p.seconds = t_++;
        points_.push_back(p);
    }
    return *this;
}

SyntheticFlight& SyntheticFlight::Pause(int seconds) {
    t_ += seconds;
    break_next_ = true;
    return *this;
}

std::int64_t SyntheticFlight::Depart() {
    const double field = alt_;
    Rest(10).Fly(60, 10, field).Rest(5).Fly(20, 60, field);
    const std::int64_t takeoff = now();
    Fly(100, 75, field + 400).Fly(300, 100, field + 400);
    return takeoff;
}

std::int64_t SyntheticFlight::Arrive(int parked) {
    const double field = alt_ - 400;
    Fly(125, 65, field);
    const std::int64_t touchdown = now();
    Fly(20, 20, field).Fly(30, 10, field).Rest(parked);
    return touchdown;
}

std::string SyntheticFlight::Bytes() const {
    std::string bytes;
    for (const FlightPoint& p : points_) {
        const auto of_day = static_cast<int>(p.seconds % 86400);
        FlightRecord record;
        if (p.has_position) {
            record = MakeRecord({.lat = p.latitude_deg,
                                 .lon = p.longitude_deg,
                                 .alt_m = p.altitude_m,
                                 .pitch_up = p.pitch_deg,
                                 .bank_right = p.bank_deg,
                                 .kt = p.airspeed_kt});
        } else {
            record = MakeRecord({});
            record.Latitude = record.Longitude = 0;
            record.AltitudeMetres = 0;
            record.AltitudeFraction = 0;
        }
        record.Hour = static_cast<std::int16_t>(of_day / 3600);
        record.Minute = static_cast<std::int16_t>(of_day / 60 % 60);
        record.Second = static_cast<std::int16_t>(of_day % 60);
        AppendRecord(bytes, record);
    }
    return bytes;
}

std::vector<DetectedFlight> Detect(const std::vector<FlightPoint>& points) {
    Collect sink;
    FlightDetector detector(sink);
    for (const FlightPoint& p : points) detector.Add(p);
    detector.Finish();
    return sink.flights;
}

}  // namespace kestrun::testing
