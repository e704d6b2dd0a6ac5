#pragma once
// What the flight detector finds: one flight, from the stop before its
// takeoff to the stop after its landing, with its phases and the landing
// report of its final landing. Times are running seconds as the record
// timeline counts them from local midnight of the file's first day.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flights/flight_judgement.h"
#include "flights/geo_point.h"

namespace kestrun {

enum class FlightPhase {
    kTaxiOut,
    kTakeoffRoll,
    kClimb,
    kCruise,
    kDescent,
    kApproach,
    kLandingRoll,
    kTaxiIn,
};

// "taxi out", "takeoff roll", ... as a pilot reads them.
std::string_view PhaseName(FlightPhase phase);
// The phase called `name`; empty for any other text.
std::optional<FlightPhase> PhaseFromName(std::string_view name);

struct PhaseStart {
    FlightPhase phase = FlightPhase::kTaxiOut;
    std::int64_t seconds = 0;
    bool operator==(const PhaseStart&) const = default;
};

// The moment the wheels met the runway for the last time.
struct LandingReport {
    std::int64_t seconds = 0;
    GeoPoint where;
    double altitude_m = 0;  // the level it settled on
    // The sink at contact, from the records in the air before it; negative
    // is down. Empty when no record in the air leads up to it.
    std::optional<double> rate_fpm;
    double airspeed_kt = 0;
    double pitch_deg = 0;  // positive nose up
    double bank_deg = 0;   // positive right wing down
};

struct DetectedFlight {
    // The records of the flight are the bytes [begin_offset, end_offset).
    std::uint64_t begin_offset = 0;
    std::uint64_t end_offset = 0;
    std::int64_t first_seconds = 0;  // first record
    std::int64_t last_seconds = 0;   // last record
    // Empty when the records do not show it: a recording that starts in the
    // air has no takeoff, one that ends before the stop has no on-block.
    std::optional<std::int64_t> off_block;
    std::optional<std::int64_t> takeoff;
    std::optional<std::int64_t> landing;
    std::optional<std::int64_t> on_block;
    std::optional<GeoPoint> takeoff_point;
    std::optional<LandingReport> touchdown;
    int touch_and_goes = 0;
    double distance_m = 0;  // along the track while in the air
    double max_altitude_m = 0;
    double max_airspeed_kt = 0;
    std::vector<PhaseStart> phases;
    // False when the records ended while the flight went on: more records
    // appended later may complete it.
    bool complete = false;
    // The flight against the runways, when the landing analysis ran.
    FlightJudgement judgement;
    // Why no light aircraft flies this (a recording sped up by its host), in
    // plain words; empty for an ordinary flight.
    std::string implausible;
};

}  // namespace kestrun
