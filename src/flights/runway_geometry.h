#pragma once
// A runway seen in one landing direction, on a plane tangent at the end the
// aircraft comes from: positions along the centreline and across it. A
// runway is a few kilometres long, where a flat earth is good to centimetres.

#include <optional>
#include <vector>

#include "flights/runway.h"

namespace kestrun {

// Heading differences, (-180, 180].
double AngleDifference(double a_deg, double b_deg);
// The true direction of travel from `from` to `to`, [0, 360).
double TrackDegrees(const GeoPoint& from, const GeoPoint& to);

struct RunwayPlace {
    double along_m = 0;   // from the approach end of the paved surface
    double across_m = 0;  // positive right of the centreline, looking along it
};

class RunwayFrame {
  public:
    // Landing (or taking off) on runway.ends[end], towards the other end.
    RunwayFrame(const Runway& runway, int end);

    RunwayPlace PlaceOf(const GeoPoint& point) const;
    GeoPoint PointAt(const RunwayPlace& place) const;

    const Runway& runway() const { return runway_; }
    const RunwayEnd& end() const { return runway_.ends[end_]; }
    const RunwayEnd& far_end() const { return runway_.ends[1 - end_]; }
    double heading_deg() const { return heading_deg_; }
    double length_m() const { return length_m_; }
    // Along the centreline from the landing threshold (the displaced one
    // where there is one); negative short of it.
    double FromThreshold(const RunwayPlace& place) const { return place.along_m - end().displaced_m; }
    // The ground level a landing here meets when the records do not show
    // it: this end's elevation, else the airport's.
    std::optional<double> elevation_m() const;
    // On the paved surface widened by `margin_m` on every side.
    bool OnSurface(const RunwayPlace& place, double margin_m) const;

  private:
    Runway runway_;
    int end_;
    double origin_lat_, origin_lon_;
    double metres_east_per_deg_, metres_north_per_deg_;
    double east_x_, east_y_;  // the direction of travel, unit, in east/north
    double heading_deg_;
    double length_m_;
};

// The runway a touchdown at `point` with ground track `track_deg` is on: its
// surface, widened by a margin, holds the point and the track is within 30
// degrees of its direction; nearest the centreline when several qualify.
std::optional<RunwayFrame> RunwayUnder(const std::vector<Runway>& runways, const GeoPoint& point,
                                       double track_deg);

// The runway an aircraft at `point` with `track_deg` is lined up with: track
// within 30 degrees, before the far end, no further than `before_m` before
// its approach end, and within a funnel across the extended centreline that
// widens with the distance from the threshold. Nearest the centreline wins.
std::optional<RunwayFrame> RunwayAhead(const std::vector<Runway>& runways, const GeoPoint& point,
                                       double track_deg, double before_m);

}  // namespace kestrun
