#pragma once
// What the landing analysis makes of a flight against the runways: every
// touchdown, the takeoff, go-arounds and low passes, the final approach's
// gates and the events over the whole flight. Times are running seconds as
// the detector counts them, with a fraction where they fall between records.
// Empty optionals are values the records cannot tell (no runway known, too
// few records).

#include <optional>
#include <string>
#include <vector>

#include "flights/geo_point.h"

namespace kestrun {

struct TouchdownJudgement {
    bool final = false;  // else a touch-and-go
    double seconds = 0;  // when the wheels met the ground, between records
    GeoPoint where;
    std::string airport;  // empty when no runway was found
    std::string runway;
    // True when the ground level is where the aircraft rolled; false when
    // it is the runway's elevation from the list.
    bool rolled_level = true;
    std::optional<double> touchdown_distance_m;  // past the landing threshold
    std::optional<double> centreline_offset_m;   // positive right
    std::optional<double> crab_deg;              // heading minus track, nose right positive
    std::optional<double> touchdown_fpm;         // negative down
    double ias_kt = 0;
    double pitch_deg = 0;
    double bank_deg = 0;
    int bounces = 0;
    std::optional<double> roll_m;       // final landing: to below 30 kt over the ground
    std::optional<double> remaining_m;  // final landing: runway left past that point
};

struct TakeoffJudgement {
    std::string airport;  // empty when no runway was found
    std::string runway;
    double roll_m = 0;  // from the start of the takeoff roll to lift-off
    std::optional<double> liftoff_distance_m;  // from the runway's start
};

// A descent lined up with a runway to within 300 ft of its ground level
// that climbed away without touching.
struct GoAround {
    double seconds = 0;  // the lowest point
    std::string airport;
    std::string runway;
    bool rolled_level = false;  // the level the flight rolled on there, else the elevation
    double lowest_ft_agl = 0;
};

struct ApproachGate {
    double height_ft = 0;
    double ias_kt = 0;
    double sink_fpm = 0;  // positive down
    double bank_deg = 0;
    double glidepath_dev_deg = 0;  // against 3 degrees; positive high
    double centreline_dev_m = 0;   // positive right
};

struct ApproachJudgement {
    std::string airport;
    std::string runway;
    std::vector<ApproachGate> gates;  // the gates passed on final, highest first
    bool stable = false;
    std::vector<std::string> reasons;  // why not, when not
};

struct FlightEvent {
    double seconds = 0;  // the first second beyond the limit
    std::string kind;    // "bank", "pitch up", "pitch down", "sink"
    double peak = 0;
    double limit = 0;
    double duration_s = 0;
};

struct FlightJudgement {
    std::optional<TakeoffJudgement> takeoff;
    std::vector<TouchdownJudgement> touchdowns;  // in time order; the final one last
    std::vector<GoAround> go_arounds;
    std::optional<ApproachJudgement> approach;
    std::vector<FlightEvent> events;
};

}  // namespace kestrun
