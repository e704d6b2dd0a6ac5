#pragma once
// Synthetic flights with known truth: a pilot's day laid down second by
// second, flying north at the airspeed (no wind), so that every takeoff,
// touchdown and stop happens at a second the test knows.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flights/flight_detector.h"

namespace kestrun::testing {

class SyntheticFlight {
  public:
    explicit SyntheticFlight(std::int64_t start_seconds = 10 * 3600, double field_m = 100)
        : t_(start_seconds), alt_(field_m) {}

    // `seconds` records, airspeed and altitude moving linearly from the
    // current values to the given ones; the last record holds them.
    SyntheticFlight& Fly(int seconds, double to_kt, double to_alt_m);
    SyntheticFlight& Rest(int seconds) {
        kt_ = 0;
        return Fly(seconds, 0, alt_);
    }
    // Records without a position, as a closed link writes them.
    SyntheticFlight& Blank(int seconds);
    // The recorder was off for `seconds`; the next record starts a stretch.
    SyntheticFlight& Pause(int seconds);

    // Taxi, hold, roll and climb to cruise from the field.
    SyntheticFlight& Depart();
    // Down at 3.2 m/s to the field, roll out, taxi in and park for `parked`
    // seconds.
    SyntheticFlight& Arrive(int parked = 40);
    // The seconds of the last record on the runway in the last Depart, and
    // of the touchdown in the last Arrive: the truth a detector must find.
    std::optional<std::int64_t> takeoff() const { return takeoff_; }
    std::optional<std::int64_t> touchdown() const { return touchdown_; }

    const std::vector<FlightPoint>& points() const { return points_; }
    std::vector<FlightPoint>& points() { return points_; }  // to spoil on purpose
    // The record file the recorder would have written, 80 bytes a point.
    std::string Bytes() const;

  private:
    std::vector<FlightPoint> points_;
    std::int64_t t_;
    double kt_ = 0;
    double alt_;
    double lat_ = 47.0;
    bool break_next_ = true;
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
