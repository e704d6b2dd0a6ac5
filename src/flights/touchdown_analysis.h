#pragma once
// Judging one touchdown, takeoff or approach from the records around it and
// the runways near it. Records come once a second, so the moment the wheels
// meet the ground almost always falls between two of them: it is found where
// the last airborne records, carried on, meet the ground level.

#include <cstddef>
#include <optional>
#include <vector>

#include "flights/flight_detector.h"
#include "flights/flight_judgement.h"
#include "flights/runway_geometry.h"

namespace kestrun {

// Where and how the wheels met the ground.
struct Contact {
    std::size_t airborne = 0;  // the last record in the air
    std::size_t ground = 0;    // the first on the ground
    double seconds = 0;
    GeoPoint where;
    double track_deg = 0;
    double heading_deg = 0;
    std::optional<double> sink_mps;  // at contact, positive down
    double ias_kt = 0, pitch_deg = 0, bank_deg = 0;
};

// The first contact of the landing that rolls at `ground_m` around the
// record `settled`, looking back over the low run before it (bounces
// included). Empty when the records show no descent onto that level.
std::optional<Contact> FindContact(const std::vector<FlightPoint>& points, std::size_t settled,
                                   double ground_m);

// The touchdown at `contact`, on the runway under it if any. A final
// landing also gets its roll and the runway left.
TouchdownJudgement JudgeTouchdown(const std::vector<FlightPoint>& points, const Contact& contact,
                                  double ground_m, const std::vector<Runway>& runways, bool final);

// The gates at 1000 and 500 ft above `ground_m` on the approach to `contact`.
ApproachJudgement JudgeApproach(const std::vector<FlightPoint>& points, const Contact& contact,
                                double ground_m, const RunwayFrame& frame);

// The takeoff rolling from points[roll_start] to lift-off at points[liftoff].
TakeoffJudgement JudgeTakeoff(const std::vector<FlightPoint>& points, std::size_t roll_start,
                              std::size_t liftoff, const std::vector<Runway>& runways);

// What a low point at points[lowest] between a descent and a climb was: a
// touch-and-go, a go-around or low pass, or neither (not lined up with a
// runway, or higher than 300 ft above it). `rolled_m` is the level the
// flight rolled on at its departure, when known.
struct LowPoint {
    std::optional<TouchdownJudgement> touchdown;
    std::optional<GoAround> go_around;
};
LowPoint JudgeLowPoint(const std::vector<FlightPoint>& points, std::size_t lowest,
                       const std::vector<Runway>& runways, std::optional<double> rolled_m);

}  // namespace kestrun
