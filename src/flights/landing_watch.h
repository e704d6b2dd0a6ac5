#pragma once
// Reading records for the detector: the one conversion from a record and its
// place in time, and a watch over a recording as it is made, which says when
// the aircraft that took off has landed and come to rest.

#include <cstdint>

#include "flights/flight_detector.h"
#include "record/flight_record.h"
#include "recordfile/flight_timeline.h"

namespace kestrun {

// The detector's view of `record`, found at `offset`; `day_base` is added
// to the timeline's seconds.
FlightPoint PointFromRecord(const FlightRecord& record, const TimePlacement& time,
                            std::uint64_t offset, std::int64_t day_base = 0);

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
