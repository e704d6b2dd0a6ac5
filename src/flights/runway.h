#pragma once
// A runway as the landing analysis needs it: its two ends, its width and the
// ground level around it, and where to find the runways near a point. The
// logbook keeps them in its database; tests hand them in directly.

#include <optional>
#include <string>
#include <vector>

#include "flights/geo_point.h"

namespace kestrun {

struct RunwayEnd {
    std::string ident;       // "31", "28L"
    GeoPoint threshold;      // the end of the paved surface
    double displaced_m = 0;  // landings aim past this much of it
    std::optional<double> elevation_m;
};

struct Runway {
    std::string airport;
    double width_m = 0;
    // A landing on ends[i] runs from ends[i] towards the other end.
    RunwayEnd ends[2];
    std::optional<double> airport_elevation_m;
};

class RunwayFinder {
  public:
    virtual ~RunwayFinder() = default;
    // Every runway with some part within `reach_m` of the point.
    virtual std::vector<Runway> RunwaysNear(const GeoPoint& point, double reach_m) = 0;
};

}  // namespace kestrun
