#pragma once
// A watch over a recording as it is made, which says when the aircraft that
// took off has landed and come to rest.

#include <cstdint>

#include "flights/flight_detector.h"
#include "record/flight_record.h"
#include "recordfile/flight_timeline.h"

namespace kestrun {

class LandingWatch final : private FlightSink {
  public:
    explicit LandingWatch(std::int64_t rest_seconds) : rest_seconds_(rest_seconds) {}

    // The next record of the recording, in the order written.
    void Add(const FlightRecord& record);
    // True once the aircraft has landed and rested for the rest seconds.
    bool Landed() const { return detector_.RestedSinceLanding() >= rest_seconds_; }

  private:
    void OnFlight(const DetectedFlight&) override {}

    std::int64_t rest_seconds_;
    FlightTimeline timeline_;
    FlightDetector detector_{*this};
    std::uint64_t offset_ = 0;
};

}  // namespace kestrun
