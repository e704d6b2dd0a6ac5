#pragma once
// FlightAnalyzer: the flight detector, and every flight it finds judged
// against the runways: each touchdown, the takeoff, go-arounds and low
// passes, the final approach's gates, and events beyond limits.
//
// It costs little per record: each goes into a ring of the last minutes and
// past a few comparisons (the limits, the lowest point since the last
// climb). The runways are looked up, and the records in the ring examined,
// only around a takeoff, a landing, or a lowest point followed by a climb.

#include <cstdint>
#include <optional>
#include <vector>

#include "flights/flight_detector.h"
#include "flights/flight_events.h"
#include "flights/plausibility_watch.h"
#include "flights/runway.h"

namespace kestrun {

class FlightAnalyzer final : private FlightSink {
  public:
    // Without `runways` the flights are judged as far as the records alone
    // tell: touchdown rate and attitude, bounces, roll, events.
    FlightAnalyzer(FlightSink& sink, RunwayFinder* runways, const EventLimits& limits = {});

    void ResumeAtRest() { detector_.ResumeAtRest(); }
    // The next record in file order.
    void Add(const FlightPoint& point);
    // No more records.
    void Finish();
    std::optional<ResumePoint> resume_point() const { return detector_.resume_point(); }

  private:
    void OnFlight(const DetectedFlight& flight) override;
    // The records in the ring from `from` seconds on, and before them back
    // to the last one at `below_m` or higher; oldest first.
    std::vector<FlightPoint> Recent(std::int64_t from, double below_m) const;
    std::vector<Runway> RunwaysNear(const GeoPoint& point);
    void JudgeTakeoff();
    void JudgeLowPoint();
    void JudgeFinal(const DetectedFlight& flight);
    // Sink events over the descent to points[to], below the sink limit's
    // height above `ground_m`.
    void SinkEvents(const std::vector<FlightPoint>& points, std::size_t to, double ground_m);
    void EndWatches();

    FlightSink& sink_;
    RunwayFinder* runways_;
    EventLimits limits_;
    FlightDetector detector_;

    std::vector<FlightPoint> ring_;
    std::size_t ring_next_ = 0;
    std::size_t ring_count_ = 0;
    std::optional<FlightPoint> last_;

    FlightJudgement pending_;  // found since the last flight was handed on
    std::optional<std::int64_t> judged_takeoff_;
    std::optional<std::int64_t> judged_landing_;

    // The lowest point since the highest, while in the air.
    bool tracking_ = false;
    double peak_m_ = 0;
    double low_m_ = 0;
    std::int64_t low_seconds_ = 0;

    LimitWatch bank_, pitch_up_, pitch_down_, sinking_;
    PlausibilityWatch plausibility_;  // over the flight in progress
    bool departure_watch_ = false;  // low after the takeoff: sink is watched
    std::int64_t sink_judged_until_ = 0;
};

}  // namespace kestrun
