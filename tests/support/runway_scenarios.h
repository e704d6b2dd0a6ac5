#pragma once
// The synthetic flights on real runways that the landing tests and the
// FlightGear round trip fly: straight-in landings of every kind, and a
// flight of circuits with a go-around, a low pass and a touch-and-go.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "flights/runway.h"
#include "tests/support/synthetic_flight.h"

namespace kestrun::testing {

inline constexpr double kFt = 0.3048;
// On a 3 degree path at 70 kt.
inline constexpr double kGlideFpm = 70 * 1852.0 / 3600 * 0.0524078 / kFt * 60;

inline const GeoPoint kPaloAlto{37.461, -122.115};
inline const GeoPoint kSanCarlos{37.512, -122.249};
inline const GeoPoint kSanFrancisco{37.619, -122.375};

// The runway near `near` with an end called `ident`, and which end.
std::optional<Runway> FindRunway(RunwayFinder& runways, const GeoPoint& near,
                                 const std::string& ident, int& end);

// A straight-in approach from 1200 ft on a 3 degree path at 70 kt towards
// a point 300 m past the threshold, ended by `approach` on the runway,
// then the roll to a stop.
struct StraightIn {
    const char* name;
    GeoPoint airport;
    const char* runway;
    double across_m;
    double crab_deg;
    std::function<void(SyntheticFlight&)> approach;
    bool flared;  // else a steady descent onto the runway
};
const std::vector<StraightIn>& StraightIns();
SyntheticFlight FlyStraightIn(const StraightIn& landing, const Runway& runway, int end);

// From 7 km out on `runway`: a go-around at 200 ft, a low pass at about
// 40 ft, a touch-and-go and the landing, each after a right-hand circuit
// (the first banked 50 degrees) whose final turn ends at 567 ft.
struct Circuits {
    double go_around_m = 0;  // the lowest heights of the go-around and low pass
    double low_pass_m = 0;
};
SyntheticFlight FlyCircuits(const Runway& runway, int end, Circuits& truth);

}  // namespace kestrun::testing
